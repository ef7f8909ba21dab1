#pragma once
// The capture layer over GStreamer: device lists, source filters with their
// pins, sample grabbers, the preview renderer, and the filter graph with its
// capture graph builder. The graph only records filters and connections; the
// GStreamer pipelines are built from them at Run and torn down at Stop, so a
// stopped graph can be re-wired freely (the recording branch is added that way).
// Each source runs in a pipeline of its own, so one device that fails or
// stalls never stops the other medium.
//
// Recording: SetOutputFileName adds an AVI multiplexer and its file writer;
// each source rendered into the multiplexer (directly or through a
// compressor) feeds it from the same tee as its monitoring branches, on the
// one clock all sources share. Stop finishes the file (its index written)
// before tearing the pipelines down.
//
// Threads: everything is called on the main thread unless its comment says
// otherwise. Grabber callbacks run on GStreamer streaming threads.
//
// Environment: OCULARA_TEST_DEVICES=1 lists only the synthetic test devices
// (TestDevices.h); OCULARA_TEST_VIDEO_FILE=PATH adds a camera that plays PATH.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/MediaType.h"

namespace platform {

namespace detail {
struct SourceState;
struct GrabberState;
struct RendererState;
struct GraphImpl;
}  // namespace detail

// gst_init once for the process. Any thread. Every entry point below calls it.
void InitCaptureLayer();

// ---------------------------------------------------------------- devices

enum class DeviceCategory { VideoInput, AudioInput, VideoCompressor, AudioCompressor };

// What it takes to open one device (a GStreamer device, a test device, an
// encoder factory). Opaque to callers; shared so that a listing may outlive
// the next one.
class DeviceHandle;

struct DeviceInfo {
    std::string FriendlyName;
    std::shared_ptr<const DeviceHandle> Handle;
};

// The devices of a category. The order is the same on every call while the
// devices present do not change, so an index found at listing names the same
// device later. Inputs come from the GStreamer device monitor (monitors of
// outputs are skipped) or, with OCULARA_TEST_DEVICES=1, are the test devices
// only; compressors are the encoders whose output avimux accepts, by long name.
std::vector<DeviceInfo> EnumerateDevices(DeviceCategory category);

// The GStreamer element factory behind a compressor entry ("" for other entries).
std::string CompressorFactoryName(const DeviceInfo& device);

// ---------------------------------------------------------------- filters

enum class FilterKind { Source, SampleGrabber, VideoRenderer, Compressor, Multiplexer, FileWriter };

class Filter {
public:
    virtual ~Filter();
    virtual FilterKind Kind() const = 0;
};

enum class PinDirection { Input, Output };

// One pin of a source filter. A camera has one output pin; a microphone has an
// output pin and one input pin per input line. Pins taken before the filter is
// pointed at another device go dead: they list nothing and refuse changes.
class Pin {
public:
    PinDirection Direction() const;
    const std::string& Name() const;

    // Output pins (stream configuration). A camera lists, for each frame size
    // the device offers (smallest first), RGB24 (delivered by decoding or
    // conversion), then RGB32 / RGB555 when the device has them natively, then
    // the device's own types of that size (MJPG, YUY2, ...). A microphone lists
    // PCM for rates {48000, 44100, 22050, 11025, 8000} that the device takes
    // (test microphone: 44100, 22050) x bits {16, 8} x channels {2, 1}, in that
    // nesting order. Input pins list nothing.
    std::vector<MediaType> EnumMediaTypes() const;
    // Applies one of the listed types (compared with SameFormat); takes effect
    // at the next Run. False for a type that is not listed, or on an input pin.
    bool SetFormat(const MediaType& mt);
    // The applied type; nullopt until SetFormat (the first listed type is used then).
    std::optional<MediaType> GetFormat() const;

    // Input pins (the audio input mixer): whether this line records. Enabling
    // a line disables the device's other lines. Output pins: false / refused.
    bool GetEnable() const;
    bool PutEnable(bool enable);

private:
    friend class SourceFilter;
    Pin(std::shared_ptr<detail::SourceState> state, uint64_t binding, PinDirection dir, std::string name,
        int line);
    std::shared_ptr<detail::SourceState> state_;
    uint64_t binding_;
    PinDirection direction_;
    std::string name_;
    int line_;  // input line index, -1 for the output pin
};

// One of the device's own settings, as its properties dialog shows it.
struct DeviceControl {
    std::string Id;     // stable key for SetControl
    std::string Label;  // shown beside the slider
    int Min = 0;
    int Max = 100;
    int Default = 50;
    int Value = 50;
};

// A capture device in the graph (camera or microphone).
class SourceFilter : public Filter {
public:
    SourceFilter();
    ~SourceFilter() override;
    SourceFilter(const SourceFilter&) = delete;
    SourceFilter& operator=(const SourceFilter&) = delete;
    FilterKind Kind() const override { return FilterKind::Source; }

    // Points the filter at a video or audio input device; forgets the applied
    // format and the pins handed out before. Refused while its graph runs.
    bool SetDevice(const DeviceInfo& device);
    bool HasDevice() const;
    std::string FriendlyName() const;
    // Video for a camera, Audio for a microphone, None before SetDevice.
    MajorType Medium() const;

    // Output pin first, then the input lines (microphones). Empty when unbound.
    std::vector<std::shared_ptr<Pin>> EnumPins() const;
    std::shared_ptr<Pin> OutputPin() const;

    // The device's own settings: colour balance channels of the running
    // source (real cameras only report them while the graph runs), the test
    // camera's brightness and contrast at any time. SetControl applies live.
    std::vector<DeviceControl> GetControls() const;
    bool SetControl(const std::string& id, int value);

private:
    friend struct detail::GraphImpl;
    std::shared_ptr<detail::SourceState> state_;
};

// Hands every sample of its stream to a callback and keeps a copy of the last.
// Video arrives as a Windows DIB: BGR byte order, bottom-up rows padded to
// 4 bytes; audio as interleaved PCM (S16LE or U8).
class SampleGrabber : public Filter {
public:
    using BufferCallback = std::function<void(const uint8_t* data, size_t length)>;

    SampleGrabber();
    ~SampleGrabber() override;
    SampleGrabber(const SampleGrabber&) = delete;
    SampleGrabber& operator=(const SampleGrabber&) = delete;
    FilterKind Kind() const override { return FilterKind::SampleGrabber; }

    // The type the grabber accepts. Video: RGB24 / RGB32 / RGB555 / RGB565;
    // with a format block its size is delivered (scaled when the source
    // differs), without one the source's size. Audio: PCM; a block fixes rate,
    // bits and channels, none takes the source's. Takes effect at the next Run.
    void SetMediaType(const MediaType& mt);
    MediaType GetMediaType() const;

    // The negotiated type with its VIDEOINFOHEADER / WAVEFORMATEX block, from
    // the connection made at Run (nullopt before the first Run). Any thread,
    // the callback included; never waits for the callback.
    std::optional<MediaType> GetConnectedMediaType() const;

    // Any thread except the callback itself. Swapped under the grabber's lock,
    // so when it returns no call of the previous callback is running and none
    // will start. An empty function detaches.
    void SetCallback(BufferCallback callback);

    // Video: asked on the streaming thread before a frame is converted,
    // with how long a frame has lately taken from there to the callback. A
    // frame it refuses is neither converted nor handed to the callback, yet
    // stays the newest frame for GetCurrentBuffer. Empty takes every frame
    // (the default). Swapped like the callback.
    using FrameGate = std::function<bool(uint32_t leadMs)>;
    void SetFrameGate(FrameGate gate);

    // Sample buffering (on by default): keep the last sample.
    void SetBufferSamples(bool on);
    // The newest sample and its type, converted now if the gate let it pass
    // unconverted; false when there is none (nothing converted yet). Any thread.
    bool GetCurrentBuffer(std::vector<uint8_t>& bytes, MediaType* type = nullptr) const;

    // Samples delivered since construction. Any thread.
    uint64_t SampleCount() const;

private:
    friend struct detail::GraphImpl;
    std::shared_ptr<detail::GrabberState> state_;
};

// The newest preview frame: BGRx bytes (QImage::Format_RGB32 on little-endian),
// top-down rows of Stride bytes.
struct VideoFrame {
    int Width = 0;
    int Height = 0;
    int Stride = 0;
    std::vector<uint8_t> Pixels;
    uint64_t Sequence = 0;  // grows by one per delivered frame
};

// The video window's renderer: keeps only the newest frame, drops the rest.
// VideoWindowWidget (gui/) polls it.
class VideoWindowRenderer : public Filter {
public:
    VideoWindowRenderer();
    ~VideoWindowRenderer() override;
    VideoWindowRenderer(const VideoWindowRenderer&) = delete;
    VideoWindowRenderer& operator=(const VideoWindowRenderer&) = delete;
    FilterKind Kind() const override { return FilterKind::VideoRenderer; }

    // Any thread: nullptr while there is no picture (never run, or its
    // stream was cleared). A stopped graph leaves the last frame in place.
    std::shared_ptr<const VideoFrame> NewestFrame() const;
    // Any thread: frames received since construction.
    uint64_t FramesDelivered() const;
    void Clear();
    // Called, on a streaming thread or the clearing one, whenever
    // NewestFrame would answer something new; it must only post a note to
    // its own thread. Replacing it waits for a call in progress. Any thread.
    using FrameNotice = std::function<void()>;
    void SetFrameNotice(FrameNotice notice);

private:
    friend struct detail::GraphImpl;
    std::shared_ptr<detail::RendererState> state_;
};

// An encoder of a compressor category, put between a source and the
// multiplexer. Raw frames and sound are converted to what it takes.
class CompressorFilter : public Filter {
public:
    ~CompressorFilter() override;
    CompressorFilter(const CompressorFilter&) = delete;
    CompressorFilter& operator=(const CompressorFilter&) = delete;
    FilterKind Kind() const override { return FilterKind::Compressor; }

    const std::string& FriendlyName() const { return friendlyName_; }
    // The GStreamer element factory that encodes.
    const std::string& FactoryName() const { return factoryName_; }
    // Video or Audio: the sources it can be rendered from.
    MajorType Medium() const { return medium_; }

private:
    friend struct detail::GraphImpl;
    friend std::shared_ptr<CompressorFilter> CreateCompressorFilter(const DeviceInfo& device);
    CompressorFilter(std::string friendlyName, std::string factoryName, MajorType medium);
    std::string friendlyName_;
    std::string factoryName_;
    MajorType medium_;
    bool inStream_ = false;  // ends one connection already (main thread)
};

// The filter of a compressor entry of EnumerateDevices; nullptr for other
// entries and for an encoder that is no longer installed.
std::shared_ptr<CompressorFilter> CreateCompressorFilter(const DeviceInfo& device);

class FileWriterFilter;

// The AVI multiplexer that CaptureGraphBuilder::SetOutputFileName adds: at
// most one video and one audio stream, interleaved into its writer's file.
// Uncompressed video is stored as RGB24 (RGB32 when the source delivers
// that), bottom-up as AVI wants; uncompressed sound as the source's PCM.
class AviMuxFilter : public Filter {
public:
    ~AviMuxFilter() override;
    AviMuxFilter(const AviMuxFilter&) = delete;
    AviMuxFilter& operator=(const AviMuxFilter&) = delete;
    FilterKind Kind() const override { return FilterKind::Multiplexer; }

    const std::string& FileName() const { return fileName_; }
    const std::shared_ptr<FileWriterFilter>& Writer() const { return writer_; }

private:
    friend struct detail::GraphImpl;
    AviMuxFilter(std::string fileName, std::shared_ptr<FileWriterFilter> writer);
    std::string fileName_;
    std::shared_ptr<FileWriterFilter> writer_;
};

// Writes the multiplexer's output; created, and removed, with it.
class FileWriterFilter : public Filter {
public:
    ~FileWriterFilter() override;
    FileWriterFilter(const FileWriterFilter&) = delete;
    FileWriterFilter& operator=(const FileWriterFilter&) = delete;
    FilterKind Kind() const override { return FilterKind::FileWriter; }

    const std::string& FileName() const { return fileName_; }

private:
    friend struct detail::GraphImpl;
    explicit FileWriterFilter(std::string fileName);
    std::string fileName_;
};

// ---------------------------------------------------------------- graph

enum class PinCategory { None, Preview, Capture };

// A source of the running graph that stopped watching, or came back; or a
// recording file that could not be written.
struct DeviceNotice {
    // RecordingFailed: `device` is the file, `detail` why; the medium is None.
    enum class Kind { Lost, Restored, RecordingFailed };
    // Lost: the device failed, sent nothing for FilterGraph::SilentMs, or the
    // sound server moved its stream to a device nobody chose.
    enum class Cause { None, Failed, Silent, Moved };
    Kind kind = Kind::Lost;
    Cause cause = Cause::None;
    MajorType medium = MajorType::None;
    std::string device;  // the device's friendly name
    std::string detail;  // what the device or the watch said, in GStreamer's words
};

class FilterGraph {
public:
    FilterGraph();
    ~FilterGraph();  // stops and deactivates
    FilterGraph(const FilterGraph&) = delete;
    FilterGraph& operator=(const FilterGraph&) = delete;

    // An active graph holds filters; Deactivate stops it and drops every
    // filter and connection ("release the whole graph").
    void Activate();
    void Deactivate();
    bool IsActive() const;

    // False when inactive, running, already holding the filter, or null.
    bool AddFilter(std::shared_ptr<Filter> filter, const std::string& name);
    // Drops the filter and every connection through it; stops the graph
    // first. A multiplexer and its file writer go together.
    bool RemoveFilter(const Filter& filter);
    bool Contains(const Filter& filter) const;
    std::vector<std::shared_ptr<Filter>> Filters() const;

    // Builds the pipelines from the connections and starts streaming: one
    // per source, one per recording file. False when any part cannot be
    // built or started (Failed() and LastError() say why); the rest runs
    // without it and IsRunning() is true: a source that could not start is
    // watched and retried (WatchDevices), a recording that could not start
    // is left out. A graph without connections runs trivially.
    bool Run();
    // Returns once streaming has stopped: no grabber callback runs after it.
    // A recording is finished first: its streams end, and the multiplexer
    // writes the index, within RecordingFinishMs; a file that could not be
    // finished by then is reported as a failure.
    void Stop();
    bool IsRunning() const;
    // Stop, then drop the connections, the filters the builder added and the
    // compressors (they serve recording connections only); the sources,
    // grabbers and renderers added with AddFilter stay.
    void StopAndClear();

    // Any thread. The first failure since Run: a device busy or unplugged,
    // a missing element, a stream that cannot be negotiated (that source
    // stops delivering; the others go on), or a failure of the recording
    // (disk full, encoder error), which ends only the recording. The graph
    // stays "running" until Stop. Cleared by the next Run.
    bool Failed() const;
    std::string LastError() const;

    static constexpr int RecordingFinishMs = 5000;

    // Main thread, about once a second while running. Each source runs on
    // its own: one that fails, delivers nothing for SilentMs or is moved by
    // the sound server to another device is stopped (its share of a
    // recording ends there) and reported Lost once, while the others go on.
    // A lost source is tried again every RetryMs, only while a device of its
    // name is listed (so nothing but the chosen device is ever opened), and
    // reported Restored once it delivers again. A source that cannot start
    // at Run is reported Lost at the first call. Every recording file that
    // failed (at its start, while written or while closed) is reported once,
    // even when the graph was stopped and run again since.
    std::vector<DeviceNotice> WatchDevices();
    static constexpr int SilentMs = 5000;
    static constexpr int RetryMs = 3000;

private:
    friend class CaptureGraphBuilder;
    std::unique_ptr<detail::GraphImpl> impl_;
};

// Connects filters of one graph, inserting the decoders, converters and
// scalers each connection needs.
class CaptureGraphBuilder {
public:
    explicit CaptureGraphBuilder(FilterGraph& graph) : graph_(graph) {}

    // source -> [intermediate] -> [sink]. `mediaType` None means any; else it
    // must match the source's medium. The pin category is not examined (a
    // source has one output pin). Two shapes:
    // - monitoring: the intermediate is a SampleGrabber or null, the sink a
    //   VideoWindowRenderer or null. Video needs a grabber or a renderer;
    //   audio needs a grabber and no renderer (the grabber ends the branch).
    // - recording: the sink is an AviMuxFilter of this graph, the
    //   intermediate a CompressorFilter of the source's medium or null
    //   (uncompressed). One video and one audio stream per multiplexer.
    // A filter not yet in the graph is added and counts as added by the
    // builder. False (nothing changed) while the graph runs, when it is
    // inactive, or when the filters do not fit together. One source may feed
    // several connections; a grabber, renderer or compressor ends only one.
    bool RenderStream(PinCategory category, MajorType mediaType, const std::shared_ptr<SourceFilter>& source,
                      const std::shared_ptr<Filter>& intermediate, const std::shared_ptr<Filter>& sink);

    // Adds an AVI multiplexer writing to `path` and its file writer to the
    // graph and returns the multiplexer, for RenderStream. The file is
    // created (replacing one of that name) at Run. nullptr while the graph
    // runs, when it is inactive, or for an empty path.
    std::shared_ptr<AviMuxFilter> SetOutputFileName(const std::string& path);

private:
    FilterGraph& graph_;
};

}  // namespace platform
