// The filter graph: filters and connections recorded on the main thread,
// turned into one GStreamer pipeline at Run and torn down at Stop.
//
// Per source: head (device element, or appsrc fed from a test scene) ->
// decoding and conversion -> tee. Per connection, one branch off that tee:
// video grabber  queue -> videoconvert -> videoscale -> caps -> appsink
// video window   queue (leaky) -> videoconvert -> BGRx -> appsink (newest only)
// audio grabber  queue -> audioconvert -> audioresample -> caps -> appsink
// A recording branch hangs off the same tee, one avimux -> filesink per file:
// video  queue (leaky) -> videorate -> rate -> videoconvert -> BGR caps | encoder -> avimux
// audio  queue (leaky) -> audiorate -> audioconvert -> audioresample -> PCM caps | encoder -> avimux
// The rate elements keep the file's frame and sample counts true to the
// clock (AVI has no time stamps) when the leaky queue has to drop.

#include <gst/app/gstappsink.h>
#include <gst/app/gstappsrc.h>
#include <gst/video/video.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <map>

#include "platform/CaptureInternal.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"

namespace platform {
namespace detail {

namespace {

struct FailureState {
    std::atomic<bool> failed{false};
    mutable std::mutex mutex;
    std::string text;
    bool firstWasRecording = false;

    // Any thread. The first failure of a run is kept and printed.
    void Report(const std::string& where, const std::string& message, bool recording = false) {
        std::string line = where.empty() ? message : where + ": " + message;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        {
            std::lock_guard lock(mutex);
            if (failed) return;
            text = line;
            firstWasRecording = recording;
            failed = true;
        }
        std::fprintf(stderr, "Oculara: %s: %s\n", recording ? "recording failed" : "capture stopped", line.c_str());
    }
    void Reset() {
        std::lock_guard lock(mutex);
        failed = false;
        firstWasRecording = false;
        text.clear();
    }
    bool FirstWasRecording() const {
        std::lock_guard lock(mutex);
        return failed && firstWasRecording;
    }
    std::string Text() const {
        std::lock_guard lock(mutex);
        return text;
    }
};

struct Stream {
    PinCategory category;
    std::shared_ptr<SourceFilter> source;
    std::shared_ptr<SampleGrabber> grabber;
    std::shared_ptr<VideoWindowRenderer> renderer;
    std::shared_ptr<CompressorFilter> compressor;  // recording connections only
    std::shared_ptr<AviMuxFilter> mux;             // set for a recording connection

    bool Uses(const Filter& f) const {
        return source.get() == &f || grabber.get() == &f || renderer.get() == &f || compressor.get() == &f ||
               mux.get() == &f;
    }
};

struct FilterEntry {
    std::shared_ptr<Filter> filter;
    std::string name;
    bool byBuilder = false;
};

struct Runtime;

// A test source feeding an appsrc from its need-data callback (the appsrc's
// streaming thread).
class Feeder {
public:
    virtual ~Feeder() = default;
    // Main thread, before the pipeline goes to NULL: unblock need-data.
    virtual void PrepareStop() {}
};

struct SinkContext {
    Runtime* runtime;
    GrabberState* grabber = nullptr;
    RendererState* renderer = nullptr;
};

// A decodebin pad waiting to be linked to the rest of its chain.
struct DynamicLink {
    GstElement* bin;     // where extra sinks for unused streams go
    GstElement* target;  // the element the first matching pad feeds
    const char* prefix;  // "video/" or "audio/"
    std::atomic<bool> linked{false};
};

// One recording file of a running pipeline. Its tee pads drop what comes
// once it is closing or dead, so that neither a finished nor a failed file
// holds the sources back.
struct RecordingRuntime {
    std::string label;  // the file, for errors
    std::atomic<bool> closing{false};
    std::atomic<bool> dead{false};
    std::mutex mutex;
    std::condition_variable over;
    bool finished = false;                // the file writer has written the end
    std::vector<GstPtr<GstPad>> entries;  // each branch's first sink pad, for the end of stream

    // Any thread.
    void Fail() {
        std::lock_guard lock(mutex);
        dead = true;
        over.notify_all();
    }
    void Finish() {
        std::lock_guard lock(mutex);
        finished = true;
        over.notify_all();
    }
};

struct Runtime {
    std::shared_ptr<FailureState> failure;
    std::atomic<bool> delivering{true};
    std::vector<std::unique_ptr<SinkContext>> sinks;
    std::vector<std::unique_ptr<DynamicLink>> links;
    std::vector<SignalConnection> signals;
    std::vector<std::unique_ptr<Feeder>> feeders;
    std::vector<std::shared_ptr<SourceState>> sources;
    std::vector<std::shared_ptr<RendererState>> renderers;
    bool sourcesMarked = false;
    std::mutex labelsMutex;
    std::map<GstObject*, std::string> labels;  // elements named after their device, for errors
    std::map<GstObject*, RecordingRuntime*> recordingOf;  // the elements of each recording branch
    std::vector<std::unique_ptr<RecordingRuntime>> recordings;
    GstPtr<GstElement> pipeline;
    GstPtr<GstBus> bus;

    void Label(GstElement* e, const std::string& name) {
        std::lock_guard lock(labelsMutex);
        labels[GST_OBJECT(e)] = name;
    }
    void Own(GstElement* e, RecordingRuntime* rec) {
        std::lock_guard lock(labelsMutex);
        recordingOf[GST_OBJECT(e)] = rec;
    }
    // Any thread: the label, and the recording, of the element or its nearest ancestor that has one.
    std::string LabelOf(GstObject* object, RecordingRuntime** recording = nullptr) {
        GstPtr<GstElement> cur;
        GstObject* o = object;
        std::string label;
        bool labelled = false;
        std::lock_guard lock(labelsMutex);
        while (o && (!labelled || (recording && !*recording))) {
            if (auto it = labels.find(o); !labelled && it != labels.end()) {
                label = it->second;
                labelled = true;
            }
            if (auto it = recordingOf.find(o); recording && !*recording && it != recordingOf.end())
                *recording = it->second;
            GstObject* parent = gst_object_get_parent(o);
            cur.reset(parent ? GST_ELEMENT(parent) : nullptr);
            o = parent;
        }
        if (labelled) return label;
        return object ? GST_OBJECT_NAME(object) : "";
    }
};

// Any thread that posts: the pipeline's bus is never popped, so every
// message is dropped here after errors have been noted.
GstBusSyncReply OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* rt = static_cast<Runtime*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GstPtr<GError> error;
        GstPtr<gchar> debug;
        gst_message_parse_error(message, error.out(), debug.out());
        RecordingRuntime* recording = nullptr;
        std::string where = rt->LabelOf(GST_MESSAGE_SRC(message), &recording);
        // Posted before the failing element returns its error upstream: the
        // tee drops the recording's data before the error could reach the source.
        if (recording) recording->Fail();
        else rt->delivering = false;
        rt->failure->Report(where, error ? error->message : "streaming error", recording != nullptr);
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ELEMENT) {
        // A file writer's own end of stream, which the pipeline would keep to
        // itself: posted once the writer has flushed the file, or failed to.
        const GstStructure* s = gst_message_get_structure(message);
        GstMessage* inner = nullptr;
        if (s && gst_structure_has_name(s, "GstBinForwarded") &&
            gst_structure_get(s, "message", GST_TYPE_MESSAGE, &inner, nullptr) && inner) {
            GstPtr<GstMessage> forwarded(inner);
            RecordingRuntime* recording = nullptr;
            if (GST_MESSAGE_TYPE(inner) == GST_MESSAGE_EOS) rt->LabelOf(GST_MESSAGE_SRC(inner), &recording);
            if (recording) recording->Finish();
        }
    }
    return GST_BUS_DROP;
}

// Streaming thread of a source: the recording's share of its data.
GstPadProbeReturn OnRecordingData(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* rec = static_cast<RecordingRuntime*>(data);
    return rec->closing || rec->dead ? GST_PAD_PROBE_DROP : GST_PAD_PROBE_OK;
}

// Streaming thread of a grabber branch.
GstFlowReturn OnGrabberSample(GstAppSink* sink, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
    if (sample && ctx->runtime->delivering) DeliverToGrabber(*ctx->grabber, sample.get());
    return GST_FLOW_OK;
}

// Streaming thread of a window branch.
GstFlowReturn OnRendererSample(GstAppSink* sink, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
    if (sample && ctx->runtime->delivering) DeliverToRenderer(*ctx->renderer, sample.get());
    return GST_FLOW_OK;
}

// Streaming thread of a decodebin: link the first pad of the wanted medium,
// park the others in fakesinks so that they never stall the demuxer.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* link = static_cast<DynamicLink*>(data);
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    const char* name = caps && gst_caps_get_size(caps.get()) ? gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)) : "";
    if (g_str_has_prefix(name, link->prefix) && !link->linked.exchange(true)) {
        GstPtr<GstPad> sinkPad(gst_element_get_static_pad(link->target, "sink"));
        if (gst_pad_link(pad, sinkPad.get()) == GST_PAD_LINK_OK) return;
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!sink) return;
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(link->bin), sink);
    gst_element_sync_state_with_parent(sink);
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_link(pad, sinkPad.get());
}

DynamicLink* LinkDecodebin(Runtime& rt, GstElement* bin, GstElement* decodebin, GstElement* target, const char* prefix) {
    auto link = std::make_unique<DynamicLink>();
    link->bin = bin;
    link->target = target;
    link->prefix = prefix;
    DynamicLink* raw = link.get();
    rt.links.push_back(std::move(link));
    gulong id = g_signal_connect(decodebin, "pad-added", G_CALLBACK(OnPadAdded), raw);
    rt.signals.emplace_back(decodebin, id);
    return raw;
}

// ------------------------------------------------------------ test sources

constexpr int TestFps = 15;

// A live source hands each buffer over when its time comes, like a camera
// does; a leaky window branch alone would otherwise let it run ahead.
class LivePacer {
public:
    // appsrc streaming thread: waits until `lead` before running time `pts`.
    // False once Stop was called.
    bool Wait(GstAppSrc* src, GstClockTime pts, GstClockTime lead) {
        GstPtr<GstClock> clock(gst_element_get_clock(GST_ELEMENT(src)));
        if (!clock) return !stopping_;
        GstClockTime at = gst_element_get_base_time(GST_ELEMENT(src)) + (pts > lead ? pts - lead : 0);
        GstClockID id = gst_clock_new_single_shot_id(clock.get(), at);
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                gst_clock_id_unref(id);
                return false;
            }
            waiting_ = id;
        }
        GstClockReturn r = gst_clock_id_wait(id, nullptr);
        {
            std::lock_guard lock(mutex_);
            waiting_ = nullptr;
        }
        gst_clock_id_unref(id);
        return r != GST_CLOCK_UNSCHEDULED && !stopping_;
    }
    // Main thread.
    void Stop() {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (waiting_) gst_clock_id_unschedule(waiting_);
    }

private:
    std::mutex mutex_;
    GstClockID waiting_ = nullptr;
    std::atomic<bool> stopping_{false};
};

class TestCameraFeeder : public Feeder {
public:
    TestCameraFeeder(int w, int h, std::shared_ptr<SourceState> source)
        : scene_(w, h, TestSceneConfigFromEnv()), source_(std::move(source)) {
        gst_video_info_set_format(&info_, GST_VIDEO_FORMAT_BGR, guint(w), guint(h));
    }
    size_t FrameBytes() const { return GST_VIDEO_INFO_SIZE(&info_); }

    // appsrc streaming thread.
    static void NeedData(GstAppSrc* src, guint, gpointer data) {
        auto* self = static_cast<TestCameraFeeder*>(data);
        self->scene_.Brightness = self->source_->brightness;
        self->scene_.Contrast = self->source_->contrast;
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, self->FrameBytes(), nullptr);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            if (buffer) gst_buffer_unref(buffer);
            return;
        }
        const int stride = GST_VIDEO_INFO_PLANE_STRIDE(&self->info_, 0);
        if (stride != self->scene_.Width() * 3) std::memset(map.data, 0, map.size);  // the scene skips row padding
        const uint64_t n = self->frame_++;
        // The scene's clock is the stream's own: intruders come at fixed times from the start.
        self->scene_.Render(n * 1000 / TestFps, map.data, stride);
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(n, GST_SECOND, TestFps);
        GST_BUFFER_DURATION(buffer) = gst_util_uint64_scale(n + 1, GST_SECOND, TestFps) - GST_BUFFER_PTS(buffer);
        if (!self->pacer_.Wait(src, GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer))) {
            gst_buffer_unref(buffer);
            return;
        }
        gst_app_src_push_buffer(src, buffer);
    }
    void PrepareStop() override { pacer_.Stop(); }

private:
    LivePacer pacer_;
    TestCameraScene scene_;
    std::shared_ptr<SourceState> source_;
    GstVideoInfo info_{};
    uint64_t frame_ = 0;
};

class TestMicrophoneFeeder : public Feeder {
public:
    TestMicrophoneFeeder(int rate, int channels, int bits)
        : scene_(rate, channels, bits, TestSceneConfigFromEnv()),
          rate_(rate),
          frameBytes_(size_t(channels) * size_t(bits / 8)),
          blockFrames_(size_t(std::max(1, rate / 10))) {}

    // appsrc streaming thread: ~100 ms of sound per buffer.
    static void NeedData(GstAppSrc* src, guint, gpointer data) {
        auto* self = static_cast<TestMicrophoneFeeder*>(data);
        GstBuffer* buffer = gst_buffer_new_allocate(nullptr, self->blockFrames_ * self->frameBytes_, nullptr);
        GstMapInfo map;
        if (!buffer || !gst_buffer_map(buffer, &map, GST_MAP_WRITE)) {
            if (buffer) gst_buffer_unref(buffer);
            return;
        }
        self->scene_.Render(self->next_, self->blockFrames_, map.data);
        gst_buffer_unmap(buffer, &map);
        GST_BUFFER_PTS(buffer) = gst_util_uint64_scale(self->next_, GST_SECOND, uint64_t(self->rate_));
        self->next_ += self->blockFrames_;
        GST_BUFFER_DURATION(buffer) =
            gst_util_uint64_scale(self->next_, GST_SECOND, uint64_t(self->rate_)) - GST_BUFFER_PTS(buffer);
        if (!self->pacer_.Wait(src, GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer))) {
            gst_buffer_unref(buffer);
            return;
        }
        gst_app_src_push_buffer(src, buffer);
    }
    void PrepareStop() override { pacer_.Stop(); }

private:
    LivePacer pacer_;
    TestMicrophoneScene scene_;
    int rate_;
    size_t frameBytes_;
    size_t blockFrames_;
    uint64_t next_ = 0;
};

// Plays a video file in a loop through a private decoding pipeline; the
// frames keep the file's own spacing, shifted by the loops played before.
class FileCameraFeeder : public Feeder {
public:
    FileCameraFeeder(Runtime& rt, std::string path, std::string label, int w, int h, GstClockTime frameTime)
        : rt_(rt), path_(std::move(path)), label_(std::move(label)), w_(w), h_(h), frameTime_(frameTime) {}

    ~FileCameraFeeder() override {
        Shutdown();
        if (bus_) gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    }

    bool Start(std::string& error) {
        inner_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        bus_.reset(gst_element_get_bus(inner_.get()));
        gst_bus_set_sync_handler(bus_.get(), OnInnerBus, this, nullptr);
        GstElement* src = gst_element_factory_make("filesrc", nullptr);
        GstElement* decode = gst_element_factory_make("decodebin", nullptr);
        GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
        GstElement* scale = gst_element_factory_make("videoscale", nullptr);
        GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
        GstElement* sink = gst_element_factory_make("appsink", nullptr);
        for (GstElement* e : {src, decode, convert, scale, filter, sink}) {
            if (!e) {
                for (GstElement* o : {src, decode, convert, scale, filter, sink})
                    if (o) gst_object_unref(gst_object_ref_sink(o));
                error = "a GStreamer element for video files is missing";
                return false;
            }
        }
        gst_bin_add_many(GST_BIN(inner_.get()), src, decode, convert, scale, filter, sink, nullptr);
        g_object_set(src, "location", path_.c_str(), nullptr);
        GstPtr<GstCaps> caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGR", "width", G_TYPE_INT,
                                                 w_, "height", G_TYPE_INT, h_, "pixel-aspect-ratio",
                                                 GST_TYPE_FRACTION, 1, 1, nullptr));
        g_object_set(filter, "caps", caps.get(), nullptr);
        g_object_set(sink, "sync", FALSE, "max-buffers", 4u, "drop", FALSE, "enable-last-sample", FALSE, nullptr);
        sink_ = sink;
        if (!gst_element_link(src, decode) || !gst_element_link_many(convert, scale, filter, sink, nullptr)) {
            error = "cannot build the decoder of " + path_;
            return false;
        }
        LinkDecodebin(rt_, inner_.get(), decode, convert, "video/");
        if (gst_element_set_state(inner_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            error = "cannot play " + path_;
            return false;
        }
        return true;
    }

    void PrepareStop() override { Shutdown(); }

    // appsrc streaming thread.
    static void NeedData(GstAppSrc* src, guint, gpointer data) { static_cast<FileCameraFeeder*>(data)->Feed(src); }

private:
    void Shutdown() {
        stopping_ = true;
        pacer_.Stop();
        if (inner_) gst_element_set_state(inner_.get(), GST_STATE_NULL);
    }

    void Feed(GstAppSrc* src) {
        bool sawFrameThisLoop = loopStart_ != GST_CLOCK_TIME_NONE;
        while (!stopping_ && rt_.delivering) {
            GstPtr<GstSample> sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink_), 100 * GST_MSECOND));
            if (sample) {
                GstBuffer* in = gst_sample_get_buffer(sample.get());
                if (!in) continue;
                GstClockTime pts = GST_BUFFER_PTS(in);
                if (!GST_CLOCK_TIME_IS_VALID(pts)) pts = loopStart_ == GST_CLOCK_TIME_NONE ? 0 : lastInPts_ + frameTime_;
                if (loopStart_ == GST_CLOCK_TIME_NONE) loopStart_ = pts;
                lastInPts_ = pts;
                GstClockTime out = offset_ + (pts > loopStart_ ? pts - loopStart_ : 0);
                GstClockTime duration = GST_BUFFER_DURATION_IS_VALID(in) ? GST_BUFFER_DURATION(in) : frameTime_;
                GstBuffer* buffer = gst_buffer_copy(in);
                GST_BUFFER_PTS(buffer) = out;
                GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
                GST_BUFFER_DURATION(buffer) = duration;
                end_ = std::max(end_, out + duration);
                if (!pacer_.Wait(src, out, duration)) {
                    gst_buffer_unref(buffer);
                    return;
                }
                gst_app_src_push_buffer(src, buffer);
                return;
            }
            if (!gst_app_sink_is_eos(GST_APP_SINK(sink_))) continue;
            if (!sawFrameThisLoop) {
                rt_.failure->Report(label_, path_ + " yields no frames");
                return;
            }
            offset_ = end_;
            loopStart_ = GST_CLOCK_TIME_NONE;
            sawFrameThisLoop = false;
            if (!gst_element_seek_simple(inner_.get(), GST_FORMAT_TIME,
                                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
                rt_.failure->Report(label_, "cannot rewind " + path_);
                return;
            }
        }
    }

    // Streaming threads of the decoding pipeline.
    static GstBusSyncReply OnInnerBus(GstBus*, GstMessage* message, gpointer data) {
        auto* self = static_cast<FileCameraFeeder*>(data);
        if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR && !self->stopping_) {
            GstPtr<GError> error;
            GstPtr<gchar> debug;
            gst_message_parse_error(message, error.out(), debug.out());
            self->rt_.delivering = false;
            self->rt_.failure->Report(self->label_, error ? error->message : "cannot decode " + self->path_);
        }
        return GST_BUS_DROP;
    }

    Runtime& rt_;
    LivePacer pacer_;
    std::string path_, label_;
    int w_, h_;
    GstClockTime frameTime_;
    GstPtr<GstElement> inner_;
    GstPtr<GstBus> bus_;
    GstElement* sink_ = nullptr;
    std::atomic<bool> stopping_{false};
    GstClockTime offset_ = 0, end_ = 0, loopStart_ = GST_CLOCK_TIME_NONE, lastInPts_ = 0;
};

void StartAppSrc(GstElement* appsrc, GstCaps* caps, guint64 maxBytes, void (*needData)(GstAppSrc*, guint, gpointer),
                 Feeder* feeder) {
    g_object_set(appsrc, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", FALSE, "max-bytes", maxBytes,
                 nullptr);
    gst_app_src_set_caps(GST_APP_SRC(appsrc), caps);
    gst_app_src_set_stream_type(GST_APP_SRC(appsrc), GST_APP_STREAM_TYPE_STREAM);
    GstAppSrcCallbacks callbacks{};
    callbacks.need_data = needData;
    gst_app_src_set_callbacks(GST_APP_SRC(appsrc), &callbacks, feeder, nullptr);
}

}  // namespace

// ------------------------------------------------------------------ graph

struct GraphImpl {
    bool active = false;
    bool running = false;
    std::vector<FilterEntry> filters;
    std::vector<Stream> streams;
    std::unique_ptr<Runtime> runtime;
    std::shared_ptr<FailureState> failure = std::make_shared<FailureState>();

    FilterEntry* Find(const Filter& f) {
        for (auto& e : filters)
            if (e.filter.get() == &f) return &e;
        return nullptr;
    }

    void ForgetStream(Stream& s) {
        if (s.grabber) {
            std::lock_guard lock(s.grabber->state_->formatMutex);
            s.grabber->state_->connected.reset();
            s.grabber->state_->inStream = false;
        }
        if (s.renderer) {
            s.renderer->Clear();
            s.renderer->state_->inStream = false;
        }
        if (s.compressor) s.compressor->inStream_ = false;
    }

    void ClearStreams() {
        for (auto& s : streams) ForgetStream(s);
        streams.clear();
    }

    bool RenderStream(PinCategory category, MajorType mediaType, const std::shared_ptr<SourceFilter>& source,
                      const std::shared_ptr<Filter>& intermediate, const std::shared_ptr<Filter>& sink);
    bool RenderRecording(const std::shared_ptr<SourceFilter>& source, const std::shared_ptr<Filter>& intermediate,
                         const std::shared_ptr<AviMuxFilter>& mux);
    std::shared_ptr<AviMuxFilter> SetOutputFileName(const std::string& path);
    void RemoveFilter(const Filter& filter);
    bool Run();
    void Stop();
    void Teardown(Runtime& rt);
    void FinishRecordings(Runtime& rt);

    // Build steps; each reports its own failure and returns null.
    std::unique_ptr<Runtime> Build(bool withRecording);
    GstElement* Make(Runtime& rt, const char* factory, const std::string& label, RecordingRuntime* rec = nullptr);
    GstElement* BuildHead(Runtime& rt, const std::shared_ptr<SourceFilter>& source);
    // The real device's element, in the pipeline and known to its filter.
    GstElement* AddDeviceSource(Runtime& rt, const DeviceHandle& dev, SourceState& st, const std::string& label);
    bool BuildBranch(Runtime& rt, const Stream& s, GstElement* tee);
    RecordingRuntime* BuildRecording(Runtime& rt, const AviMuxFilter& mux, GstElement*& avimux);
    bool BuildRecordingBranch(Runtime& rt, RecordingRuntime& rec, const Stream& s, GstElement* tee, GstElement* avimux);
};

GstElement* GraphImpl::Make(Runtime& rt, const char* factory, const std::string& label, RecordingRuntime* rec) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e) {
        failure->Report(label, std::string("the GStreamer element \"") + factory + "\" is not installed",
                        rec != nullptr);
        return nullptr;
    }
    gst_bin_add(GST_BIN(rt.pipeline.get()), e);
    if (rec) {
        rt.Label(e, label);
        rt.Own(e, rec);
    }
    return e;
}

namespace {

GstPtr<GstCaps> RawVideoCaps(const char* format, int w, int h) {
    GstCaps* caps = gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, w, "height", G_TYPE_INT, h,
                                        "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    if (format) gst_caps_set_simple(caps, "format", G_TYPE_STRING, format, nullptr);
    return GstPtr<GstCaps>(caps);
}

GstPtr<GstCaps> PcmCaps(const WAVEFORMATEX& w) {
    return GstPtr<GstCaps>(gst_caps_new_simple("audio/x-raw", "format", G_TYPE_STRING,
                                               w.wBitsPerSample == 8 ? "U8" : "S16LE", "rate", G_TYPE_INT,
                                               int(w.nSamplesPerSec), "channels", G_TYPE_INT, int(w.nChannels),
                                               "layout", G_TYPE_STRING, "interleaved", nullptr));
}

void SetCaps(GstElement* capsfilter, const GstPtr<GstCaps>& caps) { g_object_set(capsfilter, "caps", caps.get(), nullptr); }

// What the source delivers at Run, copied out under its lock.
struct SourcePlan {
    std::shared_ptr<const DeviceHandle> device;
    std::optional<MediaType> format;
    NativeChoice native;
};

SourcePlan PlanOf(SourceState& st) {
    std::lock_guard lock(st.mutex);
    SourcePlan plan;
    plan.device = st.device;
    if (auto i = st.EffectiveFormatLocked()) {
        plan.format = st.types[*i];
        if (*i < st.natives.size()) plan.native = st.natives[*i];
    }
    return plan;
}

}  // namespace

GstElement* GraphImpl::AddDeviceSource(Runtime& rt, const DeviceHandle& dev, SourceState& st,
                                       const std::string& label) {
    GstElement* src = gst_device_create_element(dev.device.get(), nullptr);
    if (!src) {
        failure->Report(label, "the device cannot be opened");
        return nullptr;
    }
    gst_bin_add(GST_BIN(rt.pipeline.get()), src);
    rt.Label(src, label);
    std::lock_guard lock(st.mutex);
    st.element = GstPtr<GstElement>::Ref(src);
    return src;
}

GstElement* GraphImpl::BuildHead(Runtime& rt, const std::shared_ptr<SourceFilter>& source) {
    auto& st = *source->state_;
    SourcePlan plan = PlanOf(st);
    const std::string label = plan.device ? plan.device->name : "";
    if (!plan.device) {
        failure->Report("", "a source filter has no device");
        return nullptr;
    }
    if (!plan.format) {
        failure->Report(label, "the device offers no format");
        return nullptr;
    }
    GstElement* tee = Make(rt, "tee", label);
    if (!tee) return nullptr;
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    const DeviceHandle& dev = *plan.device;
    // A test source feeds the tee directly.
    auto linkTestSource = [&](GstElement* appsrc) -> GstElement* {
        if (gst_element_link(appsrc, tee)) return tee;
        failure->Report(label, "cannot connect the test source");
        return nullptr;
    };

    if (dev.medium == MajorType::Video) {
        auto vf = ReadVideoFormat(*plan.format);
        const int w = vf ? vf->width : 0, h = vf ? std::abs(vf->height) : 0;
        if (w <= 0 || h <= 0) {
            failure->Report(label, "the chosen format has no frame size");
            return nullptr;
        }
        if (dev.kind == DeviceKind::TestCamera || dev.kind == DeviceKind::TestFileCamera) {
            GstElement* appsrc = Make(rt, "appsrc", label);
            if (!appsrc) return nullptr;
            rt.Label(appsrc, label);
            GstPtr<GstCaps> caps = RawVideoCaps("BGR", w, h);
            if (dev.kind == DeviceKind::TestCamera) {
                gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, TestFps, 1, nullptr);
                auto feeder = std::make_unique<TestCameraFeeder>(w, h, source->state_);
                StartAppSrc(appsrc, caps.get(), 2 * feeder->FrameBytes(), &TestCameraFeeder::NeedData, feeder.get());
                rt.feeders.push_back(std::move(feeder));
            } else {
                GstClockTime frameTime = vf->avgTimePerFrame > 0 ? GstClockTime(vf->avgTimePerFrame) * 100 : GST_SECOND / 25;
                if (vf->avgTimePerFrame > 0)
                    gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, int(10000000), int(vf->avgTimePerFrame),
                                        nullptr);
                auto feeder = std::make_unique<FileCameraFeeder>(rt, dev.filePath, label, w, h, frameTime);
                std::string error;
                if (!feeder->Start(error)) {
                    failure->Report(label, error);
                    rt.feeders.push_back(std::move(feeder));
                    return nullptr;
                }
                GstVideoInfo info;
                gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, guint(w), guint(h));
                StartAppSrc(appsrc, caps.get(), 2 * GST_VIDEO_INFO_SIZE(&info), &FileCameraFeeder::NeedData,
                            feeder.get());
                rt.feeders.push_back(std::move(feeder));
            }
            return linkTestSource(appsrc);
        }
        // A real camera: its own format at the chosen size, decoded, converted, sized.
        GstElement* src = AddDeviceSource(rt, dev, st, label);
        if (!src) return nullptr;
        GstElement* nativeFilter = Make(rt, "capsfilter", label);
        GstElement* convert = Make(rt, "videoconvert", label);
        GstElement* scale = Make(rt, "videoscale", label);
        GstElement* sized = Make(rt, "capsfilter", label);
        if (!nativeFilter || !convert || !scale || !sized) return nullptr;
        if (plan.native.caps) SetCaps(nativeFilter, plan.native.caps);
        SetCaps(sized, RawVideoCaps(nullptr, w, h));
        bool ok = gst_element_link(src, nativeFilter);
        if (plan.native.decoder == NativeChoice::Decoder::Jpeg) {
            GstElement* dec = Make(rt, "jpegdec", label);
            ok = ok && dec && gst_element_link_many(nativeFilter, dec, convert, nullptr);
        } else if (plan.native.decoder == NativeChoice::Decoder::Any) {
            GstElement* dec = Make(rt, "decodebin", label);
            ok = ok && dec && gst_element_link(nativeFilter, dec);
            if (ok) LinkDecodebin(rt, rt.pipeline.get(), dec, convert, "video/");
        } else {
            ok = ok && gst_element_link(nativeFilter, convert);
        }
        ok = ok && gst_element_link_many(convert, scale, sized, tee, nullptr);
        if (!ok) {
            failure->Report(label, "cannot connect the camera's format");
            return nullptr;
        }
        return tee;
    }

    auto wfx = ReadAudioFormat(*plan.format);
    if (!wfx) {
        failure->Report(label, "the chosen format is not PCM");
        return nullptr;
    }
    GstPtr<GstCaps> caps = PcmCaps(*wfx);
    if (dev.kind == DeviceKind::TestMicrophone) {
        GstElement* appsrc = Make(rt, "appsrc", label);
        if (!appsrc) return nullptr;
        rt.Label(appsrc, label);
        auto feeder =
            std::make_unique<TestMicrophoneFeeder>(int(wfx->nSamplesPerSec), int(wfx->nChannels), int(wfx->wBitsPerSample));
        StartAppSrc(appsrc, caps.get(), guint64(wfx->nAvgBytesPerSec) / 4 + 1, &TestMicrophoneFeeder::NeedData,
                    feeder.get());
        rt.feeders.push_back(std::move(feeder));
        return linkTestSource(appsrc);
    }
    GstElement* src = AddDeviceSource(rt, dev, st, label);
    if (!src) return nullptr;
    GstElement* convert = Make(rt, "audioconvert", label);
    GstElement* resample = Make(rt, "audioresample", label);
    GstElement* filter = Make(rt, "capsfilter", label);
    if (!convert || !resample || !filter) return nullptr;
    SetCaps(filter, caps);
    if (!gst_element_link_many(src, convert, resample, filter, tee, nullptr)) {
        failure->Report(label, "cannot connect the microphone's format");
        return nullptr;
    }
    return tee;
}

bool GraphImpl::BuildBranch(Runtime& rt, const Stream& s, GstElement* tee) {
    SourcePlan plan = PlanOf(*s.source->state_);
    const std::string label = plan.device ? plan.device->name : "";
    auto addSink = [&](GstElement* sink, SinkContext ctx, bool newestOnly) {
        auto holder = std::make_unique<SinkContext>(ctx);
        GstAppSinkCallbacks callbacks{};
        callbacks.new_sample = newestOnly ? &OnRendererSample : &OnGrabberSample;
        gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, holder.get(), nullptr);
        rt.sinks.push_back(std::move(holder));
    };

    if (plan.device->medium == MajorType::Video) {
        auto sf = ReadVideoFormat(*plan.format);
        const int srcW = sf->width, srcH = std::abs(sf->height);
        if (s.grabber) {
            MediaType want = s.grabber->GetMediaType();
            SubType sub = RgbBitCount(want.subtype) ? want.subtype : SubType::RGB24;
            int w = srcW, h = srcH;
            if (auto wf = ReadVideoFormat(want); wf && wf->width > 0 && wf->height != 0) {
                w = wf->width;
                h = std::abs(wf->height);
            }
            GstElement* queue = Make(rt, "queue", label);
            GstElement* convert = Make(rt, "videoconvert", label);
            GstElement* scale = Make(rt, "videoscale", label);
            GstElement* filter = Make(rt, "capsfilter", label);
            GstElement* sink = Make(rt, "appsink", label);
            if (!queue || !convert || !scale || !filter || !sink) return false;
            g_object_set(queue, "max-size-buffers", 5u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
            GstPtr<GstCaps> caps = RawVideoCaps(GstFormatForSubType(sub), w, h);
            SetCaps(filter, caps);
            g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, "max-buffers", 2u, nullptr);
            addSink(sink, {&rt, s.grabber->state_.get(), nullptr}, false);
            if (!gst_element_link_many(tee, queue, convert, scale, filter, sink, nullptr)) {
                failure->Report(label, "cannot deliver " + DescribeMediaType(MakeRgbVideoType(sub, w, h)));
                return false;
            }
            std::lock_guard lock(s.grabber->state_->formatMutex);
            s.grabber->state_->connected = MakeRgbVideoType(sub, w, h, sf->avgTimePerFrame);
        }
        if (s.renderer) {
            GstElement* queue = Make(rt, "queue", label);
            GstElement* convert = Make(rt, "videoconvert", label);
            GstElement* filter = Make(rt, "capsfilter", label);
            GstElement* sink = Make(rt, "appsink", label);
            if (!queue || !convert || !filter || !sink) return false;
            // The picture may lag or skip, never hold the grabber back.
            g_object_set(queue, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
            gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
            GstPtr<GstCaps> caps(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr));
            SetCaps(filter, caps);
            g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, "max-buffers", 1u, "drop", TRUE, nullptr);
            addSink(sink, {&rt, nullptr, s.renderer->state_.get()}, true);
            rt.renderers.push_back(s.renderer->state_);
            if (!gst_element_link_many(tee, queue, convert, filter, sink, nullptr)) {
                failure->Report(label, "cannot connect the video window");
                return false;
            }
        }
        return true;
    }

    MediaType want = s.grabber->GetMediaType();
    auto wfx = ReadAudioFormat(want);
    if (!wfx || wfx->nSamplesPerSec == 0 || wfx->nChannels == 0) wfx = ReadAudioFormat(*plan.format);
    WAVEFORMATEX fmt = *wfx;
    if (fmt.wBitsPerSample != 8) fmt.wBitsPerSample = 16;
    GstElement* queue = Make(rt, "queue", label);
    GstElement* convert = Make(rt, "audioconvert", label);
    GstElement* resample = Make(rt, "audioresample", label);
    GstElement* filter = Make(rt, "capsfilter", label);
    GstElement* sink = Make(rt, "appsink", label);
    if (!queue || !convert || !resample || !filter || !sink) return false;
    SetCaps(filter, PcmCaps(fmt));
    g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    addSink(sink, {&rt, s.grabber->state_.get(), nullptr}, false);
    if (!gst_element_link_many(tee, queue, convert, resample, filter, sink, nullptr)) {
        failure->Report(label, "cannot deliver the chosen sound format");
        return false;
    }
    std::lock_guard lock(s.grabber->state_->formatMutex);
    s.grabber->state_->connected = MakePcmAudioType(int(fmt.nSamplesPerSec), fmt.wBitsPerSample, fmt.nChannels);
    return true;
}

namespace {

// The source's frame rate as a fraction, as cameras state it (15/1,
// 30000/1001); the file camera's 25/1 when the format does not say.
std::pair<int, int> FrameRate(int64_t avgTimePerFrame) {
    if (avgTimePerFrame <= 0) return {25, 1};
    const double fps = 10000000.0 / double(avgTimePerFrame);
    const double whole = std::round(fps);
    if (whole >= 1 && std::abs(fps - whole) < whole * 1e-4) return {int(whole), 1};
    const double ntsc = std::round(fps * 1.001);
    if (ntsc >= 1 && std::abs(fps - ntsc / 1.001) < fps * 1e-4) return {int(ntsc) * 1000, 1001};
    int n = 0, d = 1;
    gst_util_double_to_fraction(fps, &n, &d);
    if (n <= 0 || d <= 0) return {25, 1};
    return {n, d};
}

}  // namespace

RecordingRuntime* GraphImpl::BuildRecording(Runtime& rt, const AviMuxFilter& mux, GstElement*& avimux) {
    auto owned = std::make_unique<RecordingRuntime>();
    RecordingRuntime* rec = owned.get();
    rec->label = mux.FileName();
    rt.recordings.push_back(std::move(owned));
    avimux = Make(rt, "avimux", rec->label, rec);
    GstElement* writer = Make(rt, "filesink", rec->label, rec);
    if (!avimux || !writer) return nullptr;
    // The file writer must not hold the pipeline's start back until the first data.
    g_object_set(writer, "location", rec->label.c_str(), "async", FALSE, nullptr);
    if (!gst_element_link(avimux, writer)) {
        failure->Report(rec->label, "cannot connect the file writer", true);
        return nullptr;
    }
    // The writer's end of stream tells Stop that the file is complete.
    g_object_set(rt.pipeline.get(), "message-forward", TRUE, nullptr);
    return rec;
}

bool GraphImpl::BuildRecordingBranch(Runtime& rt, RecordingRuntime& rec, const Stream& s, GstElement* tee,
                                     GstElement* avimux) {
    SourcePlan plan = PlanOf(*s.source->state_);
    const std::string& label = rec.label;
    const std::string encoderLabel = s.compressor ? s.compressor->FriendlyName() : label;
    const bool video = plan.device->medium == MajorType::Video;
    GstElement* queue = Make(rt, "queue", label, &rec);
    if (!queue) return false;
    // A slow disk or encoder drops frames here, never holds the detectors back.
    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(GST_SECOND), nullptr);
    gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
    std::vector<GstElement*> chain{queue};
    auto add = [&](const char* factory) {
        GstElement* e = Make(rt, factory, label, &rec);
        if (e) chain.push_back(e);
        return e;
    };
    if (video) {
        auto vf = ReadVideoFormat(*plan.format);
        auto [n, d] = FrameRate(vf->avgTimePerFrame);
        if (!add("videorate")) return false;
        GstElement* rate = add("capsfilter");
        if (!rate || !add("videoconvert")) return false;
        SetCaps(rate,
                GstPtr<GstCaps>(gst_caps_new_simple("video/x-raw", "framerate", GST_TYPE_FRACTION, n, d, nullptr)));
        if (!s.compressor) {
            GstElement* format = add("capsfilter");
            if (!format) return false;
            // Both are formats avimux stores as they are: lossless.
            const char* name = vf->subtype == SubType::RGB32 ? "BGRx" : "BGR";
            SetCaps(format,
                    GstPtr<GstCaps>(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, name, nullptr)));
        }
    } else {
        auto wfx = ReadAudioFormat(*plan.format);
        WAVEFORMATEX fmt = *wfx;
        if (fmt.wBitsPerSample != 8) fmt.wBitsPerSample = 16;
        if (!add("audiorate") || !add("audioconvert") || !add("audioresample")) return false;
        if (!s.compressor) {
            GstElement* pcm = add("capsfilter");
            if (!pcm) return false;
            SetCaps(pcm, PcmCaps(fmt));
        }
    }
    if (s.compressor) {
        GstElement* encoder = Make(rt, s.compressor->FactoryName().c_str(), encoderLabel, &rec);
        if (!encoder) return false;
        chain.push_back(encoder);
    }
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        if (!gst_element_link(chain[i], chain[i + 1])) {
            failure->Report(encoderLabel,
                            s.compressor ? "the compressor does not take this stream" : "cannot convert the stream",
                            true);
            return false;
        }
    }
    GstPtr<GstPad> muxPad(gst_element_request_pad_simple(avimux, video ? "video_%u" : "audio_%u"));
    GstPtr<GstPad> lastPad(gst_element_get_static_pad(chain.back(), "src"));
    if (!muxPad || !lastPad || gst_pad_link(lastPad.get(), muxPad.get()) != GST_PAD_LINK_OK) {
        failure->Report(encoderLabel,
                        s.compressor ? "the compressor's output cannot go into an AVI file"
                                     : "the stream cannot go into an AVI file",
                        true);
        return false;
    }
    if (!gst_element_link(tee, queue)) {
        failure->Report(label, "cannot connect the recording", true);
        return false;
    }
    GstPtr<GstPad> entry(gst_element_get_static_pad(queue, "sink"));
    GstPtr<GstPad> teePad(gst_pad_get_peer(entry.get()));
    gst_pad_add_probe(teePad.get(), GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, &OnRecordingData, &rec, nullptr);
    rec.entries.push_back(std::move(entry));
    return true;
}

std::unique_ptr<Runtime> GraphImpl::Build(bool withRecording) {
    auto rt = std::make_unique<Runtime>();
    rt->failure = failure;
    rt->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("FilterGraph"))));
    rt->bus.reset(gst_element_get_bus(rt->pipeline.get()));
    gst_bus_set_sync_handler(rt->bus.get(), OnBusMessage, rt.get(), nullptr);

    std::map<SourceState*, GstElement*> tees;
    auto teeOf = [&](const Stream& s) -> GstElement* {
        SourceState* key = s.source->state_.get();
        if (auto it = tees.find(key); it != tees.end()) return it->second;
        rt->sources.push_back(s.source->state_);
        GstElement* tee = BuildHead(*rt, s.source);
        if (tee) tees[key] = tee;
        return tee;
    };
    bool ok = true;
    for (const auto& s : streams) {
        if (s.mux) continue;
        GstElement* tee = teeOf(s);
        if (!tee || !BuildBranch(*rt, s, tee)) {
            ok = false;
            break;
        }
    }
    // Recording branches last: one multiplexer and file writer per file.
    std::map<const AviMuxFilter*, std::pair<RecordingRuntime*, GstElement*>> files;
    for (const auto& s : streams) {
        if (!ok || !withRecording) break;
        if (!s.mux) continue;
        auto& file = files[s.mux.get()];
        if (!file.first) file.first = BuildRecording(*rt, *s.mux, file.second);
        GstElement* tee = file.first ? teeOf(s) : nullptr;
        ok = tee && BuildRecordingBranch(*rt, *file.first, s, tee, file.second);
    }
    for (auto& st : rt->sources) {
        std::lock_guard lock(st->mutex);
        ++st->running;
    }
    rt->sourcesMarked = true;
    if (ok && gst_element_set_state(rt->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        failure->Report("", "the capture pipeline cannot start");
        ok = false;
    }
    if (!ok) {
        Teardown(*rt);
        return nullptr;
    }
    GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(rt->pipeline.get()), GST_DEBUG_GRAPH_SHOW_ALL, "oculara-capture");
    return rt;
}

bool GraphImpl::Run() {
    if (running) return true;
    failure->Reset();
    if (!active) {
        failure->Report("", "the graph is not active");
        return false;
    }
    if (streams.empty()) {
        running = true;
        return true;
    }
    runtime = Build(true);
    const bool ok = runtime != nullptr;
    // The recording alone failed: the detectors go on without it.
    if (!runtime && failure->FirstWasRecording()) runtime = Build(false);
    running = runtime != nullptr;
    return ok;
}

void GraphImpl::FinishRecordings(Runtime& rt) {
    if (rt.recordings.empty()) return;
    // The end of stream goes straight into each branch; the tee drops what
    // still comes, so the multiplexer sees a clean end and writes its index.
    for (auto& rec : rt.recordings) {
        if (rec->dead) continue;
        rec->closing = true;
        for (auto& entry : rec->entries) {
            if (!gst_pad_send_event(entry.get(), gst_event_new_eos())) {
                failure->Report(rec->label, "the recording cannot be finished", true);
                rec->Fail();
                break;
            }
        }
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FilterGraph::RecordingFinishMs);
    for (auto& rec : rt.recordings) {
        std::unique_lock lock(rec->mutex);
        if (!rec->over.wait_until(lock, deadline, [&] { return rec->finished || rec->dead.load(); })) {
            lock.unlock();
            failure->Report(rec->label, "the recording could not be finished in time", true);
        }
    }
}

void GraphImpl::Teardown(Runtime& rt) {
    // Callbacks first see the flag, feeders stop blocking, then NULL joins
    // every streaming thread; only then is anything they use freed.
    rt.delivering = false;
    for (auto& f : rt.feeders) f->PrepareStop();
    if (rt.pipeline) gst_element_set_state(rt.pipeline.get(), GST_STATE_NULL);
    if (rt.bus) gst_bus_set_sync_handler(rt.bus.get(), nullptr, nullptr, nullptr);
    rt.signals.clear();
    for (auto& st : rt.sources) {
        std::lock_guard lock(st->mutex);
        if (rt.sourcesMarked) --st->running;
        st->element.reset();
    }
    for (auto& r : rt.renderers) {
        std::lock_guard lock(r->mutex);
        r->MaterializeLocked();
    }
    rt.bus.reset();
    rt.pipeline.reset();
    rt.feeders.clear();
}

bool GraphImpl::RenderStream(PinCategory category, MajorType mediaType, const std::shared_ptr<SourceFilter>& source,
                             const std::shared_ptr<Filter>& intermediate, const std::shared_ptr<Filter>& sink) {
    if (!active || running || !source || !source->HasDevice()) return false;
    const MajorType medium = source->Medium();
    if (mediaType != MajorType::None && mediaType != medium) return false;
    if (sink && sink->Kind() == FilterKind::Multiplexer) {
        if (!RenderRecording(source, intermediate, std::static_pointer_cast<AviMuxFilter>(sink))) return false;
        streams.back().category = category;
        return true;
    }
    std::shared_ptr<SampleGrabber> grabber;
    if (intermediate) {
        if (intermediate->Kind() != FilterKind::SampleGrabber) return false;
        grabber = std::static_pointer_cast<SampleGrabber>(intermediate);
    }
    std::shared_ptr<VideoWindowRenderer> window;
    if (sink) {
        if (sink->Kind() != FilterKind::VideoRenderer || medium != MajorType::Video) return false;
        window = std::static_pointer_cast<VideoWindowRenderer>(sink);
        if (window->state_->inStream) return false;
    }
    if (medium == MajorType::Audio && !grabber) return false;
    if (medium == MajorType::Video && !grabber && !window) return false;
    if (grabber) {
        if (grabber->state_->inStream) return false;
        MajorType wanted = grabber->GetMediaType().majortype;
        if (wanted != MajorType::None && wanted != medium) return false;
    }
    for (const std::shared_ptr<Filter>& f : {std::static_pointer_cast<Filter>(source), intermediate, sink}) {
        if (f && !Find(*f)) filters.push_back({f, "", true});
    }
    if (grabber) grabber->state_->inStream = true;
    if (window) window->state_->inStream = true;
    streams.push_back({category, source, grabber, window, nullptr, nullptr});
    return true;
}

bool GraphImpl::RenderRecording(const std::shared_ptr<SourceFilter>& source,
                                const std::shared_ptr<Filter>& intermediate,
                                const std::shared_ptr<AviMuxFilter>& mux) {
    const MajorType medium = source->Medium();
    if (!Find(*mux) || !mux->Writer() || !Find(*mux->Writer())) return false;
    std::shared_ptr<CompressorFilter> compressor;
    if (intermediate) {
        if (intermediate->Kind() != FilterKind::Compressor) return false;
        compressor = std::static_pointer_cast<CompressorFilter>(intermediate);
        if (compressor->Medium() != medium || compressor->inStream_) return false;
    }
    for (const auto& s : streams)
        if (s.mux == mux && s.source->Medium() == medium) return false;
    for (const std::shared_ptr<Filter>& f : {std::static_pointer_cast<Filter>(source), intermediate}) {
        if (f && !Find(*f)) filters.push_back({f, "", true});
    }
    if (compressor) compressor->inStream_ = true;
    streams.push_back({PinCategory::None, source, nullptr, nullptr, compressor, mux});
    return true;
}

std::shared_ptr<AviMuxFilter> GraphImpl::SetOutputFileName(const std::string& path) {
    if (!active || running || path.empty()) return nullptr;
    auto writer = std::shared_ptr<FileWriterFilter>(new FileWriterFilter(path));
    auto mux = std::shared_ptr<AviMuxFilter>(new AviMuxFilter(path, writer));
    filters.push_back({mux, "AVI Mux", true});
    filters.push_back({writer, path, true});
    return mux;
}

void GraphImpl::RemoveFilter(const Filter& filter) {
    Stop();
    // A multiplexer and its file writer are one filter pair.
    std::vector<const Filter*> gone{&filter};
    for (const auto& e : filters) {
        if (e.filter->Kind() != FilterKind::Multiplexer) continue;
        const auto& mux = static_cast<const AviMuxFilter&>(*e.filter);
        if (&mux == &filter && mux.Writer()) gone.push_back(mux.Writer().get());
        if (mux.Writer().get() == &filter) gone.push_back(&mux);
    }
    auto isGone = [&](const Filter& f) { return std::find(gone.begin(), gone.end(), &f) != gone.end(); };
    for (auto it = streams.begin(); it != streams.end();) {
        bool uses = false;
        for (const Filter* f : gone) uses = uses || it->Uses(*f);
        if (uses) {
            ForgetStream(*it);
            it = streams.erase(it);
        } else {
            ++it;
        }
    }
    std::erase_if(filters, [&](const FilterEntry& e) { return isGone(*e.filter); });
}

void GraphImpl::Stop() {
    if (runtime) {
        FinishRecordings(*runtime);
        Teardown(*runtime);
        runtime.reset();
    }
    running = false;
}

}  // namespace detail

// ---------------------------------------------------------- FilterGraph

FilterGraph::FilterGraph() : impl_(std::make_unique<detail::GraphImpl>()) { InitCaptureLayer(); }

FilterGraph::~FilterGraph() { Deactivate(); }

void FilterGraph::Activate() { impl_->active = true; }

void FilterGraph::Deactivate() {
    impl_->Stop();
    impl_->ClearStreams();
    impl_->filters.clear();
    impl_->active = false;
}

bool FilterGraph::IsActive() const { return impl_->active; }

bool FilterGraph::AddFilter(std::shared_ptr<Filter> filter, const std::string& name) {
    if (!filter || !impl_->active || impl_->running || impl_->Find(*filter)) return false;
    impl_->filters.push_back({std::move(filter), name, false});
    return true;
}

bool FilterGraph::RemoveFilter(const Filter& filter) {
    if (!impl_->Find(filter)) return false;
    impl_->RemoveFilter(filter);
    return true;
}

bool FilterGraph::Contains(const Filter& filter) const { return impl_->Find(filter) != nullptr; }

std::vector<std::shared_ptr<Filter>> FilterGraph::Filters() const {
    std::vector<std::shared_ptr<Filter>> out;
    for (const auto& e : impl_->filters) out.push_back(e.filter);
    return out;
}

bool FilterGraph::Run() { return impl_->Run(); }
void FilterGraph::Stop() { impl_->Stop(); }
bool FilterGraph::IsRunning() const { return impl_->running; }

void FilterGraph::StopAndClear() {
    impl_->Stop();
    impl_->ClearStreams();
    std::erase_if(impl_->filters, [](const detail::FilterEntry& e) {
        return e.byBuilder || e.filter->Kind() == FilterKind::Compressor;
    });
}

bool FilterGraph::Failed() const { return impl_->failure->failed; }
std::string FilterGraph::LastError() const { return impl_->failure->Text(); }

// --------------------------------------------------- CaptureGraphBuilder

bool CaptureGraphBuilder::RenderStream(PinCategory category, MajorType mediaType,
                                       const std::shared_ptr<SourceFilter>& source,
                                       const std::shared_ptr<Filter>& intermediate,
                                       const std::shared_ptr<Filter>& sink) {
    return graph_.impl_->RenderStream(category, mediaType, source, intermediate, sink);
}

std::shared_ptr<AviMuxFilter> CaptureGraphBuilder::SetOutputFileName(const std::string& path) {
    return graph_.impl_->SetOutputFileName(path);
}

}  // namespace platform
