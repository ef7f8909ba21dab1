// One source's pipeline: its head for each kind of device, the tee, the
// monitoring branches and the recording feed, its bus and its health.
//
// head (device element, or app source fed from a test scene or a file) ->
// decoding unless frames are JPEG -> tee, then per connection one branch:
// video grabber  queue -> [gate] -> [jpegdec] -> videoconvert -> videoscale -> caps -> appsink
// video window   queue (leaky) -> rate -> [jpegdec] -> videoscale -> videoconvert -> BGRx -> appsink
// audio grabber  queue -> audioconvert -> audioresample -> caps -> appsink
// recording      queue (leaky) -> rate -> [jpegdec] -> conversion -> caps -> appsink, handed to the file's pipeline
// JPEG frames decode on their own, so each branch decodes only what it
// keeps. The rate elements keep the file's frame and sample counts true to
// the clock (AVI has no time stamps) when the leaky queue has to drop.

#include <gst/video/video.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "platform/CaptureRuntime.h"
#include "platform/MediaTypeUtil.h"

namespace platform {
namespace detail {

// ------------------------------------------------------------ failures

void FailureState::Report(const std::string& where, const std::string& message, bool recording) {
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

void FailureState::AddRecordingFailure(const std::string& file, const std::string& reason) {
    std::lock_guard lock(mutex);
    recordingFailures.push_back({file, reason});
}

std::vector<FailureState::RecordingFailure> FailureState::TakeRecordingFailures() {
    std::lock_guard lock(mutex);
    return std::exchange(recordingFailures, {});
}

void FailureState::Reset() {
    std::lock_guard lock(mutex);
    failed = false;
    firstWasRecording = false;
    text.clear();
}

bool FailureState::FirstWasRecording() const {
    std::lock_guard lock(mutex);
    return failed && firstWasRecording;
}

std::string FailureState::Text() const {
    std::lock_guard lock(mutex);
    return text;
}

uint64_t SteadyMs() {
    return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now().time_since_epoch())
                        .count());
}

void SourceRuntime::Fail(const std::string& message) {
    {
        std::lock_guard lock(errorMutex);
        if (failed) return;
        error = message;
        failed = true;
    }
    delivering = false;
    graphFailure->Report(label, message);
}

std::string SourceRuntime::Error() const {
    std::lock_guard lock(errorMutex);
    return error;
}

GstElement* SourceRuntime::Make(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e) {
        Fail(std::string("the GStreamer element \"") + factory + "\" is not installed");
        return nullptr;
    }
    gst_bin_add(GST_BIN(pipeline.get()), e);
    return e;
}

// ------------------------------------------------------------ helpers

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

namespace {

// Streaming thread of a decodebin: link the first pad of the wanted medium,
// park the others in fakesinks so that they never stall the demuxer.
void OnPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* link = static_cast<DynamicLink*>(data);
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    const char* name =
        caps && gst_caps_get_size(caps.get()) ? gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)) : "";
    const bool wanted = g_str_has_prefix(name, link->prefix) ||
                        (g_str_equal(link->prefix, "video/") && g_str_has_prefix(name, "image/"));
    if (wanted && !link->linked.exchange(true)) {
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

// Any thread that posts: the bus is never popped; errors are noted here.
GstBusSyncReply OnSourceBus(GstBus*, GstMessage* message, gpointer data) {
    auto* rt = static_cast<SourceRuntime*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GstPtr<GError> error;
        GstPtr<gchar> debug;
        gst_message_parse_error(message, error.out(), debug.out());
        rt->Fail(error ? error->message : "streaming error");
    }
    return DropBusMessage(message);
}

// Streaming thread of the head: the device is alive while data comes.
GstPadProbeReturn OnSourceData(GstPad*, GstPadProbeInfo*, gpointer data) {
    static_cast<SourceRuntime*>(data)->lastDataMs = SteadyMs();
    return GST_PAD_PROBE_OK;
}

GstFlowReturn OnGrabberSample(GstAppSink* sink, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
    if (sample && ctx->source->delivering && !DeliverToGrabber(*ctx->grabber, sample.get())) {
        ctx->source->Fail("the camera's frames are not of the chosen size");
        return GST_FLOW_ERROR;
    }
    return GST_FLOW_OK;
}

// Streaming thread of the grabber's branch, before conversion.
GstPadProbeReturn OnGrabberFrame(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (!buffer || !ctx->source->delivering) return GST_PAD_PROBE_OK;
    return GrabberTakesFrame(*ctx->grabber, pad, buffer) ? GST_PAD_PROBE_OK : GST_PAD_PROBE_DROP;
}

GstFlowReturn OnRendererSample(GstAppSink* sink, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
    if (sample && ctx->source->delivering) DeliverToRenderer(*ctx->renderer, sample.get());
    return GST_FLOW_OK;
}

// Streaming thread of a recording feed: the sample goes to the file's
// pipeline, stamped with the file's own time on the shared clock.
GstFlowReturn OnRecordingSample(GstAppSink* sink, gpointer data) {
    auto* ctx = static_cast<SinkContext*>(data);
    GstPtr<GstSample> sample(gst_app_sink_pull_sample(sink));
    RecordingInput& in = *ctx->input;
    RecordingRuntime& rec = *in.recording;
    if (!sample || in.ended || rec.closing || rec.dead) return GST_FLOW_OK;
    GstBuffer* buffer = gst_sample_get_buffer(sample.get());
    const GstSegment* segment = gst_sample_get_segment(sample.get());
    if (!buffer || !segment || !GST_BUFFER_PTS_IS_VALID(buffer)) return GST_FLOW_OK;
    const guint64 running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, GST_BUFFER_PTS(buffer));
    if (!GST_CLOCK_TIME_IS_VALID(running)) return GST_FLOW_OK;
    const GstClockTime at = gst_element_get_base_time(ctx->source->pipeline.get()) + running;
    if (at < rec.startClock) return GST_FLOW_OK;  // older than the file
    GstBuffer* out = gst_buffer_copy(buffer);
    GST_BUFFER_PTS(out) = at - rec.startClock;
    GST_BUFFER_DTS(out) = GST_CLOCK_TIME_NONE;
    gst_app_src_push_buffer(GST_APP_SRC(in.appsrc), out);
    return GST_FLOW_OK;
}

void AddSink(SourceRuntime& rt, GstElement* sink, SinkContext ctx, GstFlowReturn (*onSample)(GstAppSink*, gpointer)) {
    auto holder = std::make_unique<SinkContext>(ctx);
    holder->source = &rt;
    GstAppSinkCallbacks callbacks{};
    callbacks.new_sample = onSample;
    gst_app_sink_set_callbacks(GST_APP_SINK(sink), &callbacks, holder.get(), nullptr);
    rt.sinks.push_back(std::move(holder));
}

// The real device's element, in the pipeline and known to its filter.
GstElement* AddDeviceSource(SourceRuntime& rt, const DeviceHandle& dev) {
    GstElement* src = gst_device_create_element(dev.device.get(), nullptr);
    if (!src) {
        rt.Fail("the device cannot be opened");
        return nullptr;
    }
    gst_bin_add(GST_BIN(rt.pipeline.get()), src);
    GObjectClass* klass = G_OBJECT_GET_CLASS(src);
    if (g_object_class_find_property(klass, "current-device") && g_object_class_find_property(klass, "device")) {
        GstPtr<gchar> wanted;
        g_object_get(src, "device", wanted.out(), nullptr);
        if (wanted) {
            rt.deviceElement = GstPtr<GstElement>::Ref(src);
            rt.wantedDevice = wanted.get();
        }
    }
    std::lock_guard lock(rt.state->mutex);
    rt.state->element = GstPtr<GstElement>::Ref(src);
    return src;
}

bool BuildCameraHead(SourceRuntime& rt, const SourcePlan& plan, int w, int h, GstElement* tee) {
    GstElement* src = AddDeviceSource(rt, *plan.device);
    GstElement* nativeFilter = src ? rt.Make("capsfilter") : nullptr;
    if (!nativeFilter) return false;
    if (plan.native.caps) SetCaps(nativeFilter, plan.native.caps);
    bool ok = gst_element_link(src, nativeFilter);
    if (plan.native.decoder == NativeChoice::Decoder::Jpeg) {
        // The native size is the entry's: nothing to convert before the branches.
        rt.jpegAtTee = true;
        ok = ok && gst_element_link(nativeFilter, tee);
    } else {
        GstElement* convert = rt.Make("videoconvert");
        GstElement* scale = rt.Make("videoscale");
        GstElement* sized = rt.Make("capsfilter");
        if (!convert || !scale || !sized) return false;
        SetCaps(sized, RawVideoCaps(nullptr, w, h));
        if (plan.native.decoder == NativeChoice::Decoder::Any) {
            GstElement* dec = rt.Make("decodebin");
            ok = ok && dec && gst_element_link(nativeFilter, dec);
            if (ok) LinkDecodebin(rt, rt.pipeline.get(), dec, convert, "video/");
        } else {
            ok = ok && gst_element_link(nativeFilter, convert);
        }
        ok = ok && gst_element_link_many(convert, scale, sized, tee, nullptr);
    }
    if (!ok) rt.Fail("cannot connect the camera's format");
    return ok;
}

bool BuildMicrophoneHead(SourceRuntime& rt, const SourcePlan& plan, const WAVEFORMATEX& wfx, GstElement* tee) {
    GstElement* src = AddDeviceSource(rt, *plan.device);
    if (!src) return false;
    GstElement* convert = rt.Make("audioconvert");
    GstElement* resample = rt.Make("audioresample");
    GstElement* filter = rt.Make("capsfilter");
    if (!convert || !resample || !filter) return false;
    SetCaps(filter, PcmCaps(wfx));
    if (gst_element_link_many(src, convert, resample, filter, tee, nullptr)) return true;
    rt.Fail("cannot connect the microphone's format");
    return false;
}

}  // namespace

void LinkDecodebin(SourceRuntime& rt, GstElement* bin, GstElement* decodebin, GstElement* target, const char* prefix) {
    auto link = std::make_unique<DynamicLink>();
    link->bin = bin;
    link->target = target;
    link->prefix = prefix;
    DynamicLink* raw = link.get();
    rt.links.push_back(std::move(link));
    gulong id = g_signal_connect(decodebin, "pad-added", G_CALLBACK(OnPadAdded), raw);
    rt.signals.emplace_back(decodebin, id);
}

GstElement* BuildHead(SourceRuntime& rt, const SourcePlan& plan) {
    if (!plan.format) {
        rt.Fail("the device offers no format");
        return nullptr;
    }
    GstElement* tee = rt.Make("tee");
    if (!tee) return nullptr;
    g_object_set(tee, "allow-not-linked", TRUE, nullptr);
    GstPtr<GstPad> teeSink(gst_element_get_static_pad(tee, "sink"));
    gst_pad_add_probe(teeSink.get(), GST_PAD_PROBE_TYPE_BUFFER, &OnSourceData, &rt, nullptr);
    const DeviceHandle& dev = *plan.device;
    if (dev.medium == MajorType::Video) {
        auto vf = ReadVideoFormat(*plan.format);
        const int w = vf ? vf->width : 0, h = vf ? std::abs(vf->height) : 0;
        if (w <= 0 || h <= 0) {
            rt.Fail("the chosen format has no frame size");
            return nullptr;
        }
        const bool test = dev.kind == DeviceKind::TestCamera || dev.kind == DeviceKind::TestFileCamera;
        return (test ? BuildTestHead(rt, plan, tee) : BuildCameraHead(rt, plan, w, h, tee)) ? tee : nullptr;
    }
    auto wfx = ReadAudioFormat(*plan.format);
    if (!wfx) {
        rt.Fail("the chosen format is not PCM");
        return nullptr;
    }
    const bool test = dev.kind == DeviceKind::TestMicrophone;
    return (test ? BuildTestHead(rt, plan, tee) : BuildMicrophoneHead(rt, plan, *wfx, tee)) ? tee : nullptr;
}

namespace {

// The branch's own decoder, when the tee carries JPEG. False (failure
// reported) when it is needed and missing.
bool AddDecoder(SourceRuntime& rt, std::vector<GstElement*>& chain) {
    if (!rt.jpegAtTee) return true;
    GstElement* dec = rt.Make("jpegdec");
    if (!dec) return false;
    chain.push_back(dec);
    return true;
}

bool LinkChain(GstElement* tee, const std::vector<GstElement*>& chain) {
    bool ok = gst_element_link(tee, chain.front());
    for (size_t i = 0; ok && i + 1 < chain.size(); ++i) ok = gst_element_link(chain[i], chain[i + 1]);
    return ok;
}

}  // namespace

bool BuildGrabberBranch(SourceRuntime& rt, const SourcePlan& plan, GrabberState& grabber, const MediaType& want,
                        GstElement* tee) {
    grabber.ResetStream();
    grabber.jpegPixels.reset();
    const bool video = rt.medium == MajorType::Video;
    GstPtr<GstCaps> caps;
    MediaType connected;
    if (video) {
        auto sf = ReadVideoFormat(*plan.format);
        SubType sub = RgbBitCount(want.subtype) ? want.subtype : SubType::RGB24;
        int w = sf->width, h = std::abs(sf->height);
        if (auto wf = ReadVideoFormat(want); wf && wf->width > 0 && wf->height != 0) {
            w = wf->width;
            h = std::abs(wf->height);
        }
        caps = RawVideoCaps(GstFormatForSubType(sub), w, h);
        connected = MakeRgbVideoType(sub, w, h, sf->avgTimePerFrame);
        // A JPEG frame of the wanted size decodes straight into the DIB.
        if (rt.jpegAtTee && (sub == SubType::RGB24 || sub == SubType::RGB32) && w == sf->width &&
            h == std::abs(sf->height))
            grabber.jpegPixels = sub == SubType::RGB24 ? JpegDecoder::Pixels::Bgr : JpegDecoder::Pixels::Bgrx;
    } else {
        auto wfx = ReadAudioFormat(want);
        if (!wfx || wfx->nSamplesPerSec == 0 || wfx->nChannels == 0) wfx = ReadAudioFormat(*plan.format);
        WAVEFORMATEX fmt = *wfx;
        if (fmt.wBitsPerSample != 8) fmt.wBitsPerSample = 16;
        caps = PcmCaps(fmt);
        connected = MakePcmAudioType(int(fmt.nSamplesPerSec), fmt.wBitsPerSample, fmt.nChannels);
    }
    GstElement* queue = rt.Make("queue");
    std::vector<GstElement*> chain{queue};
    if (!queue) return false;
    if (!grabber.jpegPixels) {
        if (video && !AddDecoder(rt, chain)) return false;
        GstElement* convert = rt.Make(video ? "videoconvert" : "audioconvert");
        GstElement* scale = rt.Make(video ? "videoscale" : "audioresample");
        GstElement* filter = rt.Make("capsfilter");
        if (!convert || !scale || !filter) return false;
        SetCaps(filter, caps);
        chain.insert(chain.end(), {convert, scale, filter});
    }
    GstElement* sink = rt.Make("appsink");
    if (!sink) return false;
    chain.push_back(sink);
    if (video) {
        g_object_set(queue, "max-size-buffers", 5u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
        g_object_set(sink, "max-buffers", 2u, nullptr);
    }
    g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, nullptr);
    AddSink(rt, sink, {nullptr, &grabber, nullptr, nullptr}, &OnGrabberSample);
    if (video) {
        // Frames the detector will not look at are never converted.
        GstPtr<GstPad> pad(gst_element_get_static_pad(queue, "src"));
        gst_pad_add_probe(pad.get(), GST_PAD_PROBE_TYPE_BUFFER, OnGrabberFrame, rt.sinks.back().get(), nullptr);
    }
    if (!LinkChain(tee, chain)) {
        rt.Fail("cannot deliver " + DescribeMediaType(connected));
        return false;
    }
    std::lock_guard lock(grabber.formatMutex);
    grabber.connected = connected;
    return true;
}

// Frames past the window's rate are never converted.
constexpr int kPreviewFps = 10;

bool BuildRendererBranch(SourceRuntime& rt, const SourcePlan& plan, const std::shared_ptr<RendererState>& renderer,
                         GstElement* tee) {
    GstElement* queue = rt.Make("queue");
    GstElement* rate = rt.Make("videorate");
    GstElement* sink = rt.Make("appsink");
    if (!queue || !rate || !sink) return false;
    // The picture may lag or skip, never hold the grabber back.
    g_object_set(queue, "max-size-buffers", 2u, "max-size-bytes", 0u, "max-size-time", guint64(0), nullptr);
    gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
    g_object_set(rate, "drop-only", TRUE, "max-rate", kPreviewFps, nullptr);
    g_object_set(sink, "sync", TRUE, "enable-last-sample", FALSE, "max-buffers", 1u, "drop", TRUE, nullptr);
    std::vector<GstElement*> chain{queue, rate};
    // JPEG frames are decoded small, and only when the window shows one.
    if (!rt.jpegAtTee) {
        GstElement* scale = rt.Make("videoscale");
        GstElement* size = rt.Make("capsfilter");
        GstElement* convert = rt.Make("videoconvert");
        GstElement* filter = rt.Make("capsfilter");
        if (!scale || !size || !convert || !filter) return false;
        const auto source = ReadVideoFormat(*plan.format);
        const bool larger = source && (source->width > kPreviewWidth || std::abs(source->height) > kPreviewHeight);
        SetCaps(size, larger ? GstPtr<GstCaps>(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, kPreviewWidth,
                                                                    "height", G_TYPE_INT, kPreviewHeight, nullptr))
                             : GstPtr<GstCaps>(gst_caps_new_empty_simple("video/x-raw")));
        SetCaps(filter, GstPtr<GstCaps>(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "BGRx", nullptr)));
        chain.insert(chain.end(), {scale, size, convert, filter});
    }
    chain.push_back(sink);
    AddSink(rt, sink, {nullptr, nullptr, renderer.get(), nullptr}, &OnRendererSample);
    rt.renderers.push_back(renderer);
    if (LinkChain(tee, chain)) return true;
    rt.Fail("cannot connect the video window");
    return false;
}

bool BuildRecordingFeed(SourceRuntime& rt, RecordingInput& input, GstElement* tee) {
    GstElement* queue = rt.Make("queue");
    if (!queue) return false;
    // A slow disk or encoder drops here, never holds the detectors back.
    g_object_set(queue, "max-size-buffers", 0u, "max-size-bytes", 0u, "max-size-time", guint64(GST_SECOND), nullptr);
    gst_util_set_object_arg(G_OBJECT(queue), "leaky", "downstream");
    const bool video = rt.medium == MajorType::Video;
    std::vector<GstElement*> chain{queue};
    auto add = [&](std::initializer_list<const char*> factories) {
        for (const char* factory : factories) {
            GstElement* e = rt.Make(factory);
            if (!e) return false;
            chain.push_back(e);
        }
        return true;
    };
    if (!(video ? add({"videorate"}) && AddDecoder(rt, chain) && add({"videoconvert", "videoscale", "capsfilter"})
                : add({"audiorate", "audioconvert", "audioresample", "capsfilter"})))
        return false;
    GstPtr<GstCaps> caps(gst_app_src_get_caps(GST_APP_SRC(input.appsrc)));
    SetCaps(chain.back(), caps);
    GstElement* sink = rt.Make("appsink");
    if (!sink) return false;
    chain.push_back(sink);
    g_object_set(sink, "sync", FALSE, "enable-last-sample", FALSE, nullptr);
    AddSink(rt, sink, {nullptr, nullptr, nullptr, &input}, &OnRecordingSample);
    if (!LinkChain(tee, chain)) {
        input.recording->Report(input.recording->label, "cannot convert the stream");
        input.End();
        return false;
    }
    rt.inputs.push_back(&input);
    return true;
}

// ------------------------------------------------------------ lifecycle

std::unique_ptr<SourceRuntime> StartSource(const std::shared_ptr<SourceState>& state,
                                           const std::vector<BranchPlan>& branches,
                                           const std::shared_ptr<FailureState>& failure) {
    auto rt = std::make_unique<SourceRuntime>();
    rt->state = state;
    rt->graphFailure = failure;
    SourcePlan plan = PlanOf(*state);
    if (!plan.device) {
        failure->Report("", "a source filter has no device");
        return nullptr;
    }
    rt->device = plan.device;
    rt->label = plan.device->name;
    rt->medium = plan.device->medium;
    rt->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(rt->label.c_str()))));
    // One clock for every source, so that a recording holds their streams
    // in step and a stalled sound device cannot freeze the camera's time.
    GstPtr<GstClock> clock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(rt->pipeline.get()), clock.get());
    rt->bus.reset(gst_element_get_bus(rt->pipeline.get()));
    gst_bus_set_sync_handler(rt->bus.get(), OnSourceBus, rt.get(), nullptr);
    rt->startedMs = SteadyMs();

    GstElement* tee = BuildHead(*rt, plan);
    bool ok = tee != nullptr;
    for (const BranchPlan& b : branches) {
        if (!ok) break;
        if (b.grabber) ok = BuildGrabberBranch(*rt, plan, *b.grabber, b.grabberType, tee);
        if (ok && b.renderer) ok = BuildRendererBranch(*rt, plan, b.renderer, tee);
        // A recording that cannot take this stream ends without it; the source goes on.
        if (ok && b.input) BuildRecordingFeed(*rt, *b.input, tee);
    }
    if (ok && gst_element_set_state(rt->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        rt->Fail("the device cannot start");
        ok = false;
    }
    if (!ok) StopSource(*rt);
    else GST_DEBUG_BIN_TO_DOT_FILE(GST_BIN(rt->pipeline.get()), GST_DEBUG_GRAPH_SHOW_ALL, "oculara-capture");
    return rt;
}

void StopSource(SourceRuntime& rt) {
    // Callbacks first see the flag, feeders stop blocking, then NULL joins
    // every streaming thread; only then is anything they use freed.
    rt.delivering = false;
    for (RecordingInput* in : rt.inputs) in->End();
    rt.inputs.clear();
    for (auto& f : rt.feeders) f->PrepareStop();
    if (rt.pipeline) gst_element_set_state(rt.pipeline.get(), GST_STATE_NULL);
    if (rt.bus) gst_bus_set_sync_handler(rt.bus.get(), nullptr, nullptr, nullptr);
    rt.signals.clear();
    {
        std::lock_guard lock(rt.state->mutex);
        rt.state->element.reset();
    }
    for (auto& r : rt.renderers) {
        std::lock_guard lock(r->mutex);
        r->MaterializeLocked();
    }
    rt.deviceElement.reset();
    rt.bus.reset();
    rt.pipeline.reset();
    rt.feeders.clear();
}

LossCause CheckSource(const SourceRuntime& rt, uint64_t nowMs, uint64_t silentMs) {
    if (rt.failed) return LossCause::Failed;
    if (rt.deviceElement) {
        GstPtr<gchar> current;
        g_object_get(rt.deviceElement.get(), "current-device", current.out(), nullptr);
        if (current && *current.get() && rt.wantedDevice != current.get()) return LossCause::Moved;
    }
    const uint64_t last = std::max<uint64_t>(rt.lastDataMs.load(), rt.startedMs);
    return nowMs > last + silentMs ? LossCause::Silent : LossCause::None;
}

}  // namespace detail
}  // namespace platform
