// The built-in test camera and microphone and the file camera: app sources
// fed from the test scene or a private decoding pipeline, paced like live
// devices by the clock of the source's pipeline.

#include <algorithm>
#include <cstring>

#include "platform/CaptureRuntime.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"

namespace platform {
namespace detail {

namespace {

constexpr int TestFps = 15;

// A live source hands each buffer over when its time comes, like a camera
// does; a leaky window branch alone would otherwise let it run ahead.
class LivePacer {
public:
    // App source streaming thread: waits until `lead` before running time
    // `pts`. False once Stop was called.
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

// A test device made to misbehave: false when the buffer must not go out.
// A failing device says so once, then stays quiet like a dead one.
bool PassesFault(GstAppSrc* src, bool video, bool& reported) {
    switch (TestDeviceFaultNow(video)) {
    case TestDeviceFault::None:
        return true;
    case TestDeviceFault::Error:
        if (!reported) {
            reported = true;
            GST_ELEMENT_ERROR(src, RESOURCE, READ, ("The test device stopped working."), (nullptr));
        }
        return false;
    case TestDeviceFault::Silent:
        return false;
    }
    return true;
}

// Hands the buffer over when its time comes, unless the feeder stops or the
// device is made to misbehave. App source streaming thread.
void PushWhenDue(GstAppSrc* src, GstBuffer* buffer, LivePacer& pacer, bool video, bool& faultReported) {
    if (!pacer.Wait(src, GST_BUFFER_PTS(buffer), GST_BUFFER_DURATION(buffer)) ||
        !PassesFault(src, video, faultReported)) {
        gst_buffer_unref(buffer);
        return;
    }
    gst_app_src_push_buffer(src, buffer);
}

class TestCameraFeeder : public Feeder {
public:
    TestCameraFeeder(int w, int h, std::shared_ptr<SourceState> source)
        : scene_(w, h, TestSceneConfigFromEnv()), source_(std::move(source)) {
        gst_video_info_set_format(&info_, GST_VIDEO_FORMAT_BGR, guint(w), guint(h));
    }
    size_t FrameBytes() const { return GST_VIDEO_INFO_SIZE(&info_); }

    // App source streaming thread.
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
        PushWhenDue(src, buffer, self->pacer_, true, self->faultReported_);
    }
    void PrepareStop() override { pacer_.Stop(); }

private:
    LivePacer pacer_;
    TestCameraScene scene_;
    std::shared_ptr<SourceState> source_;
    GstVideoInfo info_{};
    uint64_t frame_ = 0;
    bool faultReported_ = false;
};

class TestMicrophoneFeeder : public Feeder {
public:
    TestMicrophoneFeeder(int rate, int channels, int bits)
        : scene_(rate, channels, bits, TestSceneConfigFromEnv()),
          rate_(rate),
          frameBytes_(size_t(channels) * size_t(bits / 8)),
          blockFrames_(size_t(std::max(1, rate / 10))) {}

    // App source streaming thread: ~100 ms of sound per buffer.
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
        PushWhenDue(src, buffer, self->pacer_, false, self->faultReported_);
    }
    void PrepareStop() override { pacer_.Stop(); }

private:
    LivePacer pacer_;
    TestMicrophoneScene scene_;
    int rate_;
    size_t frameBytes_;
    size_t blockFrames_;
    uint64_t next_ = 0;
    bool faultReported_ = false;
};

// The caps with a frame rate: the file's own, else one frame each `frameTime`.
GstPtr<GstCaps> WithFrameRate(GstCaps* caps, GstClockTime frameTime) {
    GstPtr<GstCaps> out(gst_caps_copy(caps));
    GstStructure* st = gst_caps_get_structure(out.get(), 0);
    int n = 0, d = 1;
    if (!gst_structure_get_fraction(st, "framerate", &n, &d) || n <= 0 || d <= 0) {
        const auto [rn, rd] = FrameRate(int64_t(frameTime / 100));
        gst_structure_set(st, "framerate", GST_TYPE_FRACTION, rn, rd, nullptr);
    }
    return out;
}

// Plays a video file in a loop through a private decoding pipeline; the
// frames keep the file's own spacing, shifted by the loops played before.
// Frames go out as the file's decoder gives them, or still as JPEG when the
// file holds JPEG frames: the branches convert, scale or decode what they keep.
class FileCameraFeeder : public Feeder {
public:
    FileCameraFeeder(SourceRuntime& rt, std::string path, GstClockTime frameTime)
        : rt_(rt), path_(std::move(path)), frameTime_(frameTime) {}

    ~FileCameraFeeder() override {
        Shutdown();
        if (bus_) gst_bus_set_sync_handler(bus_.get(), nullptr, nullptr, nullptr);
    }

    // Main thread: builds the decoder and waits until its first frame is
    // there, so that the stream's caps are known before the branches are built.
    bool Start(std::string& error) {
        inner_.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
        bus_.reset(gst_element_get_bus(inner_.get()));
        gst_bus_set_sync_handler(bus_.get(), OnInnerBus, this, nullptr);
        GstElement* src = gst_element_factory_make("filesrc", nullptr);
        GstElement* decode = gst_element_factory_make("decodebin", nullptr);
        GstElement* sink = gst_element_factory_make("appsink", nullptr);
        for (GstElement* e : {src, decode, sink}) {
            if (!e) {
                for (GstElement* o : {src, decode, sink})
                    if (o) gst_object_unref(gst_object_ref_sink(o));
                error = "a GStreamer element for video files is missing";
                return false;
            }
        }
        gst_bin_add_many(GST_BIN(inner_.get()), src, decode, sink, nullptr);
        g_object_set(src, "location", path_.c_str(), nullptr);
        GstPtr<GstCaps> stopAt(gst_caps_from_string("video/x-raw(ANY); audio/x-raw(ANY); image/jpeg"));
        g_object_set(decode, "caps", stopAt.get(), nullptr);
        GstPtr<GstCaps> frames(gst_caps_from_string("video/x-raw; image/jpeg"));
        g_object_set(sink, "caps", frames.get(), "sync", FALSE, "max-buffers", 4u, "drop", FALSE,
                     "enable-last-sample", FALSE, nullptr);
        sink_ = sink;
        if (!gst_element_link(src, decode)) {
            error = "cannot build the decoder of " + path_;
            return false;
        }
        LinkDecodebin(rt_, inner_.get(), decode, sink, "video/");
        if (gst_element_set_state(inner_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
            gst_element_get_state(inner_.get(), nullptr, nullptr, 10 * GST_SECOND) != GST_STATE_CHANGE_SUCCESS) {
            error = "cannot play " + path_;
            return false;
        }
        GstPtr<GstPad> pad(gst_element_get_static_pad(sink, "sink"));
        caps_.reset(gst_pad_get_current_caps(pad.get()));
        if (!caps_) {
            error = path_ + " yields no frames";
            return false;
        }
        if (gst_element_set_state(inner_.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            error = "cannot play " + path_;
            return false;
        }
        return true;
    }

    // The frames' caps, as Start found them.
    GstCaps* Caps() const { return caps_.get(); }

    void PrepareStop() override { Shutdown(); }

    // App source streaming thread.
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
                GstCaps* caps = gst_sample_get_caps(sample.get());
                if (!in || !caps) continue;
                if (!gst_caps_is_equal(caps, caps_.get())) {
                    caps_ = GstPtr<GstCaps>::Ref(caps);
                    gst_app_src_set_caps(src, WithFrameRate(caps, frameTime_).get());
                }
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
                rt_.Fail(path_ + " yields no frames");
                return;
            }
            offset_ = end_;
            loopStart_ = GST_CLOCK_TIME_NONE;
            sawFrameThisLoop = false;
            if (!gst_element_seek_simple(inner_.get(), GST_FORMAT_TIME,
                                         GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT), 0)) {
                rt_.Fail("cannot rewind " + path_);
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
            self->rt_.Fail(error ? error->message : "cannot decode " + self->path_);
        }
        return DropBusMessage(message);
    }

    SourceRuntime& rt_;
    LivePacer pacer_;
    std::string path_;
    GstClockTime frameTime_;
    GstPtr<GstCaps> caps_;  // app source streaming thread, once started
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

bool BuildTestHead(SourceRuntime& rt, const SourcePlan& plan, GstElement* tee) {
    const DeviceHandle& dev = *plan.device;
    GstElement* appsrc = rt.Make("appsrc");
    if (!appsrc) return false;
    if (dev.kind == DeviceKind::TestMicrophone) {
        auto wfx = ReadAudioFormat(*plan.format);
        auto feeder = std::make_unique<TestMicrophoneFeeder>(int(wfx->nSamplesPerSec), int(wfx->nChannels),
                                                             int(wfx->wBitsPerSample));
        StartAppSrc(appsrc, PcmCaps(*wfx).get(), guint64(wfx->nAvgBytesPerSec) / 4 + 1,
                    &TestMicrophoneFeeder::NeedData, feeder.get());
        rt.feeders.push_back(std::move(feeder));
    } else {
        auto vf = ReadVideoFormat(*plan.format);
        const int w = vf->width, h = std::abs(vf->height);
        GstPtr<GstCaps> caps = RawVideoCaps("BGR", w, h);
        if (dev.kind == DeviceKind::TestCamera) {
            gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, TestFps, 1, nullptr);
            auto feeder = std::make_unique<TestCameraFeeder>(w, h, rt.state);
            StartAppSrc(appsrc, caps.get(), 2 * feeder->FrameBytes(), &TestCameraFeeder::NeedData, feeder.get());
            rt.feeders.push_back(std::move(feeder));
        } else {
            GstClockTime frameTime =
                vf->avgTimePerFrame > 0 ? GstClockTime(vf->avgTimePerFrame) * 100 : GST_SECOND / 25;
            auto feeder = std::make_unique<FileCameraFeeder>(rt, dev.filePath, frameTime);
            std::string error;
            const bool started = feeder->Start(error);
            FileCameraFeeder* file = feeder.get();
            rt.feeders.push_back(std::move(feeder));
            if (!started) {
                rt.Fail(error);
                return false;
            }
            rt.jpegAtTee = gst_structure_has_name(gst_caps_get_structure(file->Caps(), 0), "image/jpeg");
            GstVideoInfo info;
            gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, guint(w), guint(h));
            StartAppSrc(appsrc, WithFrameRate(file->Caps(), frameTime).get(), 2 * GST_VIDEO_INFO_SIZE(&info),
                        &FileCameraFeeder::NeedData, file);
        }
    }
    if (gst_element_link(appsrc, tee)) return true;
    rt.Fail("cannot connect the test source");
    return false;
}

}  // namespace detail
}  // namespace platform
