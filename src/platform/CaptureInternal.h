#pragma once
// Shared state behind the public capture classes. Only the capture layer's
// own sources include this.

#include <gst/video/video.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Capture.h"
#include "platform/GstPtr.h"
#include "platform/JpegDecoder.h"
#include "platform/MediaType.h"

namespace platform {

enum class DeviceKind { Real, TestCamera, TestMicrophone, TestFileCamera, Compressor };

class DeviceHandle {
public:
    DeviceKind kind = DeviceKind::Real;
    MajorType medium = MajorType::None;
    std::string name;
    std::string key;              // Real: tells apart devices of one name, across listings
    std::string provider;         // Real: the device provider factory that listed it
    GstPtr<GstDevice> device;     // Real
    std::string filePath;         // TestFileCamera
    std::string factoryName;      // Compressor
};

// The device as listed now: the same one (same name and key) first, else
// the first of its name; null when it is not listed. A server may bring a
// device back as a new object, and an object from before cannot be opened.
std::shared_ptr<const DeviceHandle> ListedNow(const DeviceHandle& device);

namespace detail {

// What a listed video type asks of the device at Run.
struct NativeChoice {
    GstPtr<GstCaps> caps;  // the device's own output at that size; null for test devices
    enum class Decoder { None, Jpeg, Any } decoder = Decoder::None;
};

// The video types a camera with these caps offers, in listing order, and
// what each asks of it (parallel).
void CameraTypesFromCaps(GstCaps* caps, std::vector<MediaType>& types, std::vector<NativeChoice>& natives);

struct InputLine {
    std::string name;
    bool enabled = false;
};

struct SourceState {
    mutable std::mutex mutex;
    std::shared_ptr<const DeviceHandle> device;
    uint64_t binding = 0;  // grows at every SetDevice: pins of older bindings are dead
    bool typesKnown = false;
    std::vector<MediaType> types;
    std::vector<NativeChoice> natives;  // parallel to types (video)
    std::optional<size_t> formatIndex;
    std::vector<InputLine> lines;
    int running = 0;  // running graphs using this source
    bool lost = false;  // main thread: reported lost by the running graph, not yet back

    // The source element of the running graph, for its colour balance.
    GstPtr<GstElement> element;

    // Test camera settings, read by the feeding thread.
    std::atomic<int> brightness{50};
    std::atomic<int> contrast{50};

    // Fills types/natives/lines once per binding. Caller holds mutex.
    void EnsureTypesLocked();
    // The applied type or the first listed one. Caller holds mutex.
    std::optional<size_t> EffectiveFormatLocked();
};

struct GrabberState {
    // The grabber's own lock: held while the callback runs and while it is swapped.
    std::mutex callbackMutex;
    SampleGrabber::BufferCallback callback;
    SampleGrabber::FrameGate gate;
    // Streaming thread: when the last frame passed the gate, and how long
    // frames lately took from there to the callback (conversion, the sink's
    // wait for its time), decaying slowly.
    uint32_t passedAtMs = 0;
    bool passedPending = false;
    uint32_t leadMs = 0;
    // Streaming thread: how long a JPEG frame lately took to decode, decaying slowly.
    uint32_t decodeMs = 0;

    mutable std::mutex formatMutex;
    MediaType mediaType;
    std::optional<MediaType> connected;

    mutable std::mutex sampleMutex;
    std::vector<uint8_t> last;
    MediaType lastType;
    bool haveLast = false;
    bool lastTypeStale = true;  // the stream's type changed since lastType was set
    GstVideoInfo lastInfo{};    // the layout `last` was converted to
    // The newest frame, when the gate let it pass unconverted (raw or
    // still compressed), and its caps.
    GstPtr<GstBuffer> newestRaw;
    GstPtr<GstCaps> newestRawCaps;

    std::atomic<bool> bufferSamples{true};
    std::atomic<uint64_t> count{0};
    bool inStream = false;  // ends one connection already (main thread)

    // Streaming thread only (and the main thread before the stream starts).
    GstPtr<GstCaps> streamCaps;
    std::vector<uint8_t> pending;  // sound not yet handed over
    size_t chunkBytes = 0;         // half a second of the stream's sound
    void ResetStream() {
        streamCaps.reset();
        pending.clear();
    }
    MediaType streamType;  // learned once per caps, so no frame builds its own
    GstVideoInfo videoInfo{};
    bool streamIsVideo = false;
    int streamBits = 0;
    std::vector<uint8_t> work;
    // Set when the branch is built: JPEG frames come whole and are decoded
    // here, straight into the delivered layout.
    std::optional<JpegDecoder::Pixels> jpegPixels;
    JpegDecoder jpeg;
};

// The video window shows at most this size: a larger frame is scaled down
// before it is converted, or decoded small when it comes as JPEG.
constexpr int kPreviewWidth = 320, kPreviewHeight = 240;

struct RendererState {
    mutable std::mutex mutex;
    GstPtr<GstSample> sample;  // newest, not yet turned into a frame
    std::shared_ptr<VideoFrame> frame;
    // The frame before, reused once its readers let go of it.
    std::shared_ptr<VideoFrame> spare;
    uint64_t sequence = 0;
    std::atomic<uint64_t> delivered{0};
    bool inStream = false;
    JpegDecoder jpeg;  // for frames that come as JPEG, decoded only when shown
    VideoWindowRenderer::FrameNotice notice;

    // Turns a pending sample into `frame`. Caller holds mutex.
    void MaterializeLocked();
};

// Streaming thread of the grabber's branch: one sample to the grabber.
// False when a frame is of another size than the connected type.
bool DeliverToGrabber(GrabberState& grabber, GstSample* sample);
// Streaming thread of the grabber's branch, before conversion: false when
// the gate refuses the frame, which is then kept unconverted as the newest.
bool GrabberTakesFrame(GrabberState& grabber, GstPad* pad, GstBuffer* buffer);
// A frame with caps `from`, raw or JPEG, as a DIB of layout `to` (the grabber's). Any thread.
bool ConvertToDib(GstBuffer* frame, GstCaps* from, const GstVideoInfo& to, std::vector<uint8_t>& out);
// Streaming thread of the window branch: the newest frame for the renderer.
void DeliverToRenderer(RendererState& renderer, GstSample* sample);

// GStreamer video format name for an RGB subtype ("BGR", "BGRx", "RGB15", "RGB16"), nullptr otherwise.
const char* GstFormatForSubType(SubType subtype);
// The MediaType that fixed raw caps stand for (video RGB or audio PCM); nullopt otherwise.
std::optional<MediaType> MediaTypeFromCaps(const GstCaps* caps);

// Frame size and rate of a video file, learnt once per file version.
struct FileVideoInfo {
    bool ok = false;
    int width = 0;
    int height = 0;
    int fpsN = 0;
    int fpsD = 1;
    std::string error;
};
FileVideoInfo DiscoverVideoFile(const std::string& path);

}  // namespace detail
}  // namespace platform
