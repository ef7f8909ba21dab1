#pragma once
// What a running graph is made of. Each source runs in a pipeline of its own
// (its clock, its streaming threads, its errors), so a device that fails or
// stalls stops only its own medium. Each recording file is one more pipeline,
// fed by the sources' recording branches through app sinks; both streams
// carry times of the one system clock, so the file keeps them in step.
//
// Only the capture layer's own sources include this.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/CaptureInternal.h"

namespace platform {
namespace detail {

// The graph's first failure since Run, for Failed() / LastError(), and the
// recording files that failed, until WatchDevices takes them. Any thread.
struct FailureState {
    struct RecordingFailure {
        std::string file;
        std::string reason;
    };

    std::atomic<bool> failed{false};
    mutable std::mutex mutex;
    std::string text;
    bool firstWasRecording = false;
    std::vector<RecordingFailure> recordingFailures;  // not cleared by Reset: a file often fails while closed

    void Report(const std::string& where, const std::string& message, bool recording = false);
    void AddRecordingFailure(const std::string& file, const std::string& reason);
    std::vector<RecordingFailure> TakeRecordingFailures();
    void Reset();
    bool FirstWasRecording() const;
    std::string Text() const;
};

// Milliseconds of the steady clock: the device watch's own time.
uint64_t SteadyMs();

// A test source feeding an app source from its need-data callback.
class Feeder {
public:
    virtual ~Feeder() = default;
    // Main thread, before the pipeline goes to NULL: unblock need-data.
    virtual void PrepareStop() {}
};

// A decodebin pad waiting to be linked to the rest of its chain.
struct DynamicLink {
    GstElement* bin;     // where extra sinks for unused streams go
    GstElement* target;  // the element the first matching pad feeds
    const char* prefix;  // "video/" (images too) or "audio/"
    std::atomic<bool> linked{false};
};

struct RecordingRuntime;

// One stream of a recording file: the app source of the file's pipeline,
// fed from a source pipeline's recording branch.
struct RecordingInput {
    RecordingRuntime* recording = nullptr;
    SourceState* source = nullptr;
    GstElement* appsrc = nullptr;  // owned by the file's pipeline
    std::atomic<bool> ended{false};

    // Main thread: no more data for this stream; the file goes on without it.
    void End();
};

// One recording file: app sources -> [conversion, encoder] -> avimux -> filesink.
struct RecordingRuntime {
    std::string label;  // the file, for errors
    std::shared_ptr<FailureState> failure;
    GstPtr<GstElement> pipeline;
    GstPtr<GstBus> bus;
    GstClockTime startClock = 0;  // system clock time of the file's time zero
    std::atomic<bool> closing{false};
    std::atomic<bool> dead{false};
    std::atomic<bool> reported{false};  // the file's failure is queued for WatchDevices
    std::mutex mutex;
    std::condition_variable over;
    bool finished = false;  // the writer has written the end
    std::vector<std::unique_ptr<RecordingInput>> inputs;

    // Any thread.
    void Fail();
    void Finish();
    // A failure of this file: the graph's failure, and once per file a notice.
    void Report(const std::string& where, const std::string& message);
    // Adds a new element to the file's pipeline; null (failure reported) when it is not installed.
    GstElement* MakeElement(const char* factory);
};

struct SourceRuntime;

// What a streaming thread's app sink callback needs.
struct SinkContext {
    SourceRuntime* source = nullptr;
    GrabberState* grabber = nullptr;
    RendererState* renderer = nullptr;
    RecordingInput* input = nullptr;
};

// One source's pipeline: head -> tee -> its branches.
struct SourceRuntime {
    std::shared_ptr<SourceState> state;
    std::shared_ptr<const DeviceHandle> device;  // what this pipeline opened
    std::string label;                           // the device's name, for errors
    MajorType medium = MajorType::None;
    std::shared_ptr<FailureState> graphFailure;

    GstPtr<GstElement> pipeline;
    GstPtr<GstBus> bus;
    std::atomic<bool> delivering{true};
    // The tee carries frames still compressed as JPEG: each branch decodes
    // only the frames it keeps. Set by the head, before the branches.
    bool jpegAtTee = false;

    // This source's own health, written by its streaming threads.
    std::atomic<bool> failed{false};
    mutable std::mutex errorMutex;
    std::string error;
    std::atomic<uint64_t> lastDataMs{0};  // SteadyMs of the newest buffer, 0 before any
    uint64_t startedMs = 0;               // main thread

    // A sound server may move a stream to a device nobody chose: the
    // element reports where it records ("current-device") against "device".
    GstPtr<GstElement> deviceElement;
    std::string wantedDevice;

    std::vector<std::unique_ptr<SinkContext>> sinks;
    std::vector<std::unique_ptr<DynamicLink>> links;
    std::vector<SignalConnection> signals;
    std::vector<std::unique_ptr<Feeder>> feeders;
    std::vector<std::shared_ptr<RendererState>> renderers;
    std::vector<RecordingInput*> inputs;  // recording streams fed from here

    // Any thread.
    void Fail(const std::string& message);
    std::string Error() const;

    // Adds a new element to the pipeline; reports a missing one.
    GstElement* Make(const char* factory);
};

// Why a source stopped watching.
enum class LossCause { None, Failed, Silent, Moved };

}  // namespace detail
}  // namespace platform

namespace platform {
namespace detail {

// What a source delivers at Run, copied out under its lock.
struct SourcePlan {
    std::shared_ptr<const DeviceHandle> device;
    std::optional<MediaType> format;
    NativeChoice native;
};
SourcePlan PlanOf(SourceState& st);

GstPtr<GstCaps> RawVideoCaps(const char* format, int w, int h);
GstPtr<GstCaps> PcmCaps(const WAVEFORMATEX& w);
void SetCaps(GstElement* capsfilter, const GstPtr<GstCaps>& caps);
// The source's frame rate as a fraction, as cameras state it.
std::pair<int, int> FrameRate(int64_t avgTimePerFrame);

// Streaming thread of a decodebin: links the first pad of its medium.
void LinkDecodebin(SourceRuntime& rt, GstElement* bin, GstElement* decodebin, GstElement* target, const char* prefix);

// The test camera, test microphone or file camera feeding `tee`; false (failure reported) when it cannot.
bool BuildTestHead(SourceRuntime& rt, const SourcePlan& plan, GstElement* tee);
// The head of the source's pipeline up to its tee; null (failure reported) when it cannot be built.
GstElement* BuildHead(SourceRuntime& rt, const SourcePlan& plan);
// Monitoring branches off the tee. False (failure reported) when they cannot be built.
bool BuildGrabberBranch(SourceRuntime& rt, const SourcePlan& plan, GrabberState& grabber, const MediaType& wanted,
                        GstElement* tee);
bool BuildRendererBranch(SourceRuntime& rt, const SourcePlan& plan, const std::shared_ptr<RendererState>& renderer,
                         GstElement* tee);
// The source's share of a recording file: converted to what the file's input takes, handed over by an app sink.
bool BuildRecordingFeed(SourceRuntime& rt, RecordingInput& input, GstElement* tee);

// A recording file's pipeline with one input per stream; started. Null (failure reported) when it cannot be.
struct RecordingStreamPlan {
    SourceState* source;
    SourcePlan plan;
    std::string encoderFactory;  // "" = uncompressed
    std::string encoderLabel;
};
std::unique_ptr<RecordingRuntime> StartRecordingFile(const std::string& path,
                                                      const std::vector<RecordingStreamPlan>& streams,
                                                      const std::shared_ptr<FailureState>& failure);
// Main thread: ends every stream and waits for the file's index, within `timeoutMs`.
void FinishRecordingFile(RecordingRuntime& rec, int timeoutMs);
void StopRecordingFile(RecordingRuntime& rec);

// Main thread. Builds and starts the source's pipeline with the given
// branches; null when it fails to build (failure reported), otherwise the
// runtime, which may still fail while it starts.
struct BranchPlan {
    std::shared_ptr<GrabberState> grabber;
    MediaType grabberType;  // what the grabber asks for
    std::shared_ptr<RendererState> renderer;
    RecordingInput* input = nullptr;
};
std::unique_ptr<SourceRuntime> StartSource(const std::shared_ptr<SourceState>& state, const std::vector<BranchPlan>& branches,
                                           const std::shared_ptr<FailureState>& failure);
// Main thread: stops the pipeline (every streaming thread joined) and releases it.
void StopSource(SourceRuntime& rt);
// Main thread: whether the running source has stopped watching, and why.
LossCause CheckSource(const SourceRuntime& rt, uint64_t nowMs, uint64_t silentMs);

}  // namespace detail
}  // namespace platform
