// The filters of a recording branch: compressors, the AVI multiplexer and
// its file writer. What they become in the pipeline is built by the graph.

#include "platform/CaptureRuntime.h"
#include "platform/MediaTypeUtil.h"

#include <cmath>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

CompressorFilter::CompressorFilter(std::string friendlyName, std::string factoryName, MajorType medium)
    : friendlyName_(std::move(friendlyName)), factoryName_(std::move(factoryName)), medium_(medium) {}
CompressorFilter::~CompressorFilter() = default;

std::shared_ptr<CompressorFilter> CreateCompressorFilter(const DeviceInfo& device) {
    InitCaptureLayer();
    const DeviceHandle* h = device.Handle.get();
    if (!h || h->kind != DeviceKind::Compressor || h->factoryName.empty()) return nullptr;
    if (h->medium != MajorType::Video && h->medium != MajorType::Audio) return nullptr;
    GstPtr<GstElementFactory> factory(gst_element_factory_find(h->factoryName.c_str()));
    if (!factory) return nullptr;
    return std::shared_ptr<CompressorFilter>(new CompressorFilter(h->name, h->factoryName, h->medium));
}

AviMuxFilter::AviMuxFilter(std::string fileName, std::shared_ptr<FileWriterFilter> writer)
    : fileName_(std::move(fileName)), writer_(std::move(writer)) {}
AviMuxFilter::~AviMuxFilter() = default;

FileWriterFilter::FileWriterFilter(std::string fileName) : fileName_(std::move(fileName)) {}
FileWriterFilter::~FileWriterFilter() = default;

}  // namespace platform

// ------------------------------------------------------------ the file's pipeline

namespace platform {
namespace detail {

void RecordingInput::End() {
    if (ended.exchange(true) || !appsrc) return;
    gst_app_src_end_of_stream(GST_APP_SRC(appsrc));
}

void RecordingRuntime::Fail() {
    std::lock_guard lock(mutex);
    dead = true;
    over.notify_all();
}

void RecordingRuntime::Finish() {
    std::lock_guard lock(mutex);
    finished = true;
    over.notify_all();
}

void RecordingRuntime::Report(const std::string& where, const std::string& message) {
    failure->Report(where, message, true);
    if (!reported.exchange(true)) failure->AddRecordingFailure(label, where == label ? message : where + ": " + message);
}

GstElement* RecordingRuntime::MakeElement(const char* factory) {
    GstElement* e = gst_element_factory_make(factory, nullptr);
    if (!e) {
        Report(label, std::string("the GStreamer element \"") + factory + "\" is not installed");
        return nullptr;
    }
    gst_bin_add(GST_BIN(pipeline.get()), e);
    return e;
}

namespace {

// A failed file that got nothing is no recording: it goes. Only a plain
// file, never a device or what a link points to.
void RemoveIfEmpty(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size == 0) ::unlink(path.c_str());
}

// Any thread that posts.
GstBusSyncReply OnRecordingBus(GstBus*, GstMessage* message, gpointer data) {
    auto* rec = static_cast<RecordingRuntime*>(data);
    if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_ERROR) {
        GstPtr<GError> error;
        GstPtr<gchar> debug;
        gst_message_parse_error(message, error.out(), debug.out());
        rec->Fail();
        rec->Report(rec->label, error ? error->message : "recording error");
    } else if (GST_MESSAGE_TYPE(message) == GST_MESSAGE_EOS) {
        rec->Finish();  // every stream has ended and the writer has the file's end
    }
    return DropBusMessage(message);
}

// What a source's recording feed hands over: uncompressed video stays RGB
// (RGB32 when the source delivers that), bottom-up as AVI wants; sound stays
// the source's PCM. Both are stored as they are when no encoder is chosen.
GstPtr<GstCaps> FeedCaps(const SourcePlan& plan) {
    if (plan.device->medium == MajorType::Video) {
        auto vf = ReadVideoFormat(*plan.format);
        auto [n, d] = FrameRate(vf->avgTimePerFrame);
        GstPtr<GstCaps> caps =
            RawVideoCaps(vf->subtype == SubType::RGB32 ? "BGRx" : "BGR", vf->width, std::abs(vf->height));
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, n, d, nullptr);
        return caps;
    }
    WAVEFORMATEX fmt = *ReadAudioFormat(*plan.format);
    if (fmt.wBitsPerSample != 8) fmt.wBitsPerSample = 16;
    return PcmCaps(fmt);
}

// Whether the encoder takes the stream once converted: the converters in
// front of it change the sample format (and, for sound, rate and channels),
// never the picture's size or rate.
bool EncoderTakes(GstElement* encoder, const GstCaps* stream, bool video) {
    GstPtr<GstCaps> convertible(gst_caps_copy(stream));
    for (guint i = 0; i < gst_caps_get_size(convertible.get()); ++i) {
        GstStructure* st = gst_caps_get_structure(convertible.get(), i);
        if (video) gst_structure_remove_fields(st, "format", "colorimetry", "chroma-site", nullptr);
        else gst_structure_remove_fields(st, "format", "rate", "channels", "channel-mask", "layout", nullptr);
    }
    GstPtr<GstPad> sink(gst_element_get_static_pad(encoder, "sink"));
    if (!sink) return false;
    GstPtr<GstCaps> accepted(gst_pad_query_caps(sink.get(), nullptr));
    return accepted && gst_caps_can_intersect(accepted.get(), convertible.get());
}

bool AddStream(RecordingRuntime& rec, GstElement* avimux, const RecordingStreamPlan& s) {
    const bool video = s.plan.device->medium == MajorType::Video;
    GstElement* appsrc = rec.MakeElement("appsrc");
    if (!appsrc) return false;
    GstPtr<GstCaps> caps = FeedCaps(s.plan);
    g_object_set(appsrc, "is-live", TRUE, "format", GST_FORMAT_TIME, "do-timestamp", FALSE, "max-bytes", guint64(0),
                 "max-time", guint64(3 * GST_SECOND), nullptr);
    gst_util_set_object_arg(G_OBJECT(appsrc), "leaky-type", "upstream");
    gst_app_src_set_caps(GST_APP_SRC(appsrc), caps.get());
    gst_app_src_set_stream_type(GST_APP_SRC(appsrc), GST_APP_STREAM_TYPE_STREAM);
    std::vector<GstElement*> chain{appsrc};
    if (!s.encoderFactory.empty()) {
        for (const char* f : video ? std::vector<const char*>{"videoconvert"}
                                   : std::vector<const char*>{"audioconvert", "audioresample"}) {
            GstElement* e = rec.MakeElement(f);
            if (!e) return false;
            chain.push_back(e);
        }
        GstElement* encoder = gst_element_factory_make(s.encoderFactory.c_str(), nullptr);
        if (!encoder) {
            rec.Report(s.encoderLabel, "the compressor is not installed");
            return false;
        }
        gst_bin_add(GST_BIN(rec.pipeline.get()), encoder);
        chain.push_back(encoder);
        if (!EncoderTakes(encoder, caps.get(), video)) {
            rec.Report(s.encoderLabel, "the compressor does not take this stream");
            return false;
        }
    }
    const std::string& who = s.encoderFactory.empty() ? rec.label : s.encoderLabel;
    for (size_t i = 0; i + 1 < chain.size(); ++i) {
        if (!gst_element_link(chain[i], chain[i + 1])) {
            rec.Report(who, "the compressor does not take this stream");
            return false;
        }
    }
    GstPtr<GstPad> muxPad(gst_element_request_pad_simple(avimux, video ? "video_%u" : "audio_%u"));
    GstPtr<GstPad> lastPad(gst_element_get_static_pad(chain.back(), "src"));
    if (!muxPad || !lastPad || gst_pad_link(lastPad.get(), muxPad.get()) != GST_PAD_LINK_OK) {
        rec.Report(who, s.encoderFactory.empty() ? "the stream cannot go into an AVI file"
                                                 : "the compressor's output cannot go into an AVI file");
        return false;
    }
    auto input = std::make_unique<RecordingInput>();
    input->recording = &rec;
    input->source = s.source;
    input->appsrc = appsrc;
    rec.inputs.push_back(std::move(input));
    return true;
}

}  // namespace

std::unique_ptr<RecordingRuntime> StartRecordingFile(const std::string& path,
                                                      const std::vector<RecordingStreamPlan>& streams,
                                                      const std::shared_ptr<FailureState>& failure) {
    auto rec = std::make_unique<RecordingRuntime>();
    rec->label = path;
    rec->failure = failure;
    rec->pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("recording"))));
    GstPtr<GstClock> clock(gst_system_clock_obtain());
    gst_pipeline_use_clock(GST_PIPELINE(rec->pipeline.get()), clock.get());
    rec->bus.reset(gst_element_get_bus(rec->pipeline.get()));
    gst_bus_set_sync_handler(rec->bus.get(), OnRecordingBus, rec.get(), nullptr);
    GstElement* avimux = rec->MakeElement("avimux");
    GstElement* writer = rec->MakeElement("filesink");
    bool ok = avimux && writer;
    if (ok) {
        // The writer must not hold the start back until the first data.
        g_object_set(writer, "location", path.c_str(), "async", FALSE, "sync", FALSE, nullptr);
        ok = gst_element_link(avimux, writer);
        if (!ok) rec->Report(path, "cannot connect the file writer");
    }
    for (const auto& s : streams) ok = ok && AddStream(*rec, avimux, s);
    rec->startClock = gst_clock_get_time(clock.get());
    if (ok && gst_element_set_state(rec->pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        rec->Report(path, "the file cannot be written");
        ok = false;
    }
    if (!ok || rec->dead) {
        StopRecordingFile(*rec);
        return nullptr;
    }
    return rec;
}

void FinishRecordingFile(RecordingRuntime& rec, int timeoutMs) {
    if (rec.dead) return;
    rec.closing = true;
    for (auto& in : rec.inputs) in->End();
    std::unique_lock lock(rec.mutex);
    if (!rec.over.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return rec.finished || rec.dead.load(); })) {
        lock.unlock();
        rec.Report(rec.label, "the recording could not be finished in time");
    }
}

void StopRecordingFile(RecordingRuntime& rec) {
    rec.closing = true;
    if (rec.pipeline) gst_element_set_state(rec.pipeline.get(), GST_STATE_NULL);
    if (rec.bus) gst_bus_set_sync_handler(rec.bus.get(), nullptr, nullptr, nullptr);
    rec.bus.reset();
    rec.pipeline.reset();
    if (rec.reported) RemoveIfEmpty(rec.label);
}

}  // namespace detail
}  // namespace platform
