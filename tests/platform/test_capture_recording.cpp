// Recording the test devices into AVI files while the monitoring branches
// keep running, as the alarm's recording does: stop, add the multiplexer
// (and compressors), run, stop, clear, re-render the monitoring, run again.

#include <cctype>
#include <mutex>

#include "CaptureTestSupport.h"
#include "platform/GstPtr.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"

using namespace platform;
using capturetest::CaptureTest;
using capturetest::SleepMs;
using capturetest::WaitUntil;

namespace {

constexpr int Width = 320, Height = 240, Fps = 15, Rate = 22050;

struct Rig {
    FilterGraph graph;
    CaptureGraphBuilder builder{graph};
    std::shared_ptr<SourceFilter> camera = std::make_shared<SourceFilter>();
    std::shared_ptr<SourceFilter> mic = std::make_shared<SourceFilter>();
    std::shared_ptr<SampleGrabber> videoGrabber = std::make_shared<SampleGrabber>();
    std::shared_ptr<SampleGrabber> audioGrabber = std::make_shared<SampleGrabber>();
    std::shared_ptr<VideoWindowRenderer> window = std::make_shared<VideoWindowRenderer>();

    // The monitoring graph of the main window, not yet running.
    void Build() {
        graph.Activate();
        ASSERT_TRUE(camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
        ASSERT_TRUE(mic->SetDevice(capturetest::OnlyDevice(DeviceCategory::AudioInput, TestMicrophoneName)));
        ASSERT_TRUE(graph.AddFilter(camera, "Video"));
        ASSERT_TRUE(graph.AddFilter(videoGrabber, "VideoGrabber"));
        ASSERT_TRUE(graph.AddFilter(mic, "Audio"));
        ASSERT_TRUE(graph.AddFilter(audioGrabber, "AudioGrabber"));
        ASSERT_TRUE(graph.AddFilter(window, "VideoWindow"));
        const MediaType video = MakeRgbVideoType(SubType::RGB24, Width, Height);
        ASSERT_TRUE(camera->OutputPin()->SetFormat(video));
        videoGrabber->SetMediaType(video);
        const MediaType audio = MakePcmAudioType(Rate, 16, 1);
        ASSERT_TRUE(mic->OutputPin()->SetFormat(audio));
        audioGrabber->SetMediaType(audio);
        RenderMonitoring();
    }
    void RenderMonitoring() {
        ASSERT_TRUE(builder.RenderStream(PinCategory::Preview, MajorType::None, camera, videoGrabber, window));
        ASSERT_TRUE(builder.RenderStream(PinCategory::None, MajorType::None, mic, audioGrabber, nullptr));
    }
    // Samples arrive at every branch within a few seconds.
    bool Delivering() {
        const uint64_t v = videoGrabber->SampleCount(), a = audioGrabber->SampleCount(), w = window->FramesDelivered();
        return WaitUntil([&] {
            // Sound comes in half seconds.
            return videoGrabber->SampleCount() > v + 2 && audioGrabber->SampleCount() > a &&
                   window->FramesDelivered() > w + 2;
        });
    }
};

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The last compressor of the category whose name equals `name` ignoring case, as the alarm picks it.
std::shared_ptr<CompressorFilter> FindCompressor(DeviceCategory category, const std::string& name) {
    std::shared_ptr<CompressorFilter> found;
    for (const auto& d : EnumerateDevices(category))
        if (Lower(d.FriendlyName) == Lower(name)) found = CreateCompressorFilter(d);
    return found;
}

// What the file holds, read back with the demultiplexer: the caps of its
// streams, frame and byte counts, the first picture, whether the index is there.
struct AviContents {
    std::string error;
    std::string videoCaps, audioCaps;
    int width = 0, height = 0, fpsN = 0, fpsD = 0, rate = 0, channels = 0;
    uint64_t frames = 0, audioBytes = 0;
    std::vector<uint8_t> firstFrame;
    GstClockTime duration = GST_CLOCK_TIME_NONE;  // from the discoverer
    bool hasIndex = false;

    double VideoSeconds() const { return fpsN > 0 ? double(frames) * fpsD / fpsN : 0; }
    double AudioSeconds() const { return rate > 0 ? double(audioBytes) / (2.0 * channels * rate) : 0; }
};

struct DemuxState {
    std::mutex mutex;
    AviContents* out;
    GstElement* pipeline;
};

GstPadProbeReturn CountBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* st = static_cast<DemuxState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    std::lock_guard lock(st->mutex);
    if (g_str_has_prefix(GST_PAD_NAME(pad), "video")) {
        if (st->out->frames++ == 0) {
            GstMapInfo map;
            if (gst_buffer_map(buffer, &map, GST_MAP_READ)) {
                st->out->firstFrame.assign(map.data, map.data + map.size);
                gst_buffer_unmap(buffer, &map);
            }
        }
    } else {
        st->out->audioBytes += gst_buffer_get_size(buffer);
    }
    return GST_PAD_PROBE_OK;
}

void OnDemuxPad(GstElement*, GstPad* pad, gpointer data) {
    auto* st = static_cast<DemuxState*>(data);
    GstPtr<GstCaps> caps(gst_pad_query_caps(pad, nullptr));
    {
        std::lock_guard lock(st->mutex);
        GstStructure* s = gst_caps_get_structure(caps.get(), 0);
        GstPtr<gchar> text(gst_caps_to_string(caps.get()));
        if (g_str_has_prefix(GST_PAD_NAME(pad), "video")) {
            st->out->videoCaps = text.get();
            gst_structure_get_int(s, "width", &st->out->width);
            gst_structure_get_int(s, "height", &st->out->height);
            gst_structure_get_fraction(s, "framerate", &st->out->fpsN, &st->out->fpsD);
        } else {
            st->out->audioCaps = text.get();
            gst_structure_get_int(s, "rate", &st->out->rate);
            gst_structure_get_int(s, "channels", &st->out->channels);
        }
    }
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    g_object_set(sink, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(st->pipeline), sink);
    gst_element_sync_state_with_parent(sink);
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_link(pad, sinkPad.get());
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, &CountBuffer, st, nullptr);
}

AviContents ReadAvi(const std::string& path) {
    AviContents out;
    if (!testsupport::PathExists(path)) {
        out.error = "no file " + path;
        return out;
    }
    out.hasIndex = testsupport::ReadFile(path).find("idx1") != std::string::npos;

    GstPtr<GError> error;
    GstPtr<GstDiscoverer> discoverer(gst_discoverer_new(5 * GST_SECOND, error.out()));
    GstPtr<gchar> uri(gst_filename_to_uri(path.c_str(), nullptr));
    if (discoverer) {
        GstPtr<GstDiscovererInfo> info(gst_discoverer_discover_uri(discoverer.get(), uri.get(), error.out()));
        if (info) out.duration = gst_discoverer_info_get_duration(info.get());
    }

    DemuxState st{{}, &out, nullptr};
    GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    st.pipeline = pipeline.get();
    GstElement* src = gst_element_factory_make("filesrc", nullptr);
    GstElement* demux = gst_element_factory_make("avidemux", nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), src, demux, nullptr);
    g_object_set(src, "location", path.c_str(), nullptr);
    gst_element_link(src, demux);
    g_signal_connect(demux, "pad-added", G_CALLBACK(OnDemuxPad), &st);
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    GstPtr<GstMessage> msg(gst_bus_timed_pop_filtered(bus.get(), 10 * GST_SECOND,
                                                      GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
    if (!msg) {
        out.error = "reading " + path + " did not end";
    } else if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
        GstPtr<GError> e;
        gst_message_parse_error(msg.get(), e.out(), nullptr);
        out.error = e ? e->message : "error";
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return out;
}

// The test camera's first frame, top-down BGR rows as the demultiplexer gives them back.
std::vector<uint8_t> FirstTestFrame() {
    TestCameraScene scene(Width, Height, TestSceneConfigFromEnv());
    std::vector<uint8_t> bgr(size_t(Width) * 3 * Height);
    scene.Render(0, bgr.data(), Width * 3);
    return bgr;
}

using CaptureRecording = CaptureTest;

TEST_F(CaptureRecording, RawVideoAndPcmRecordLosslesslyAndInStepWhileTheDetectorsKeepReceiving) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(rig.Delivering());

    rig.graph.Stop();
    const std::string path = (dir / "OCL-raw.avi");
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    EXPECT_EQ(mux->FileName(), path);
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    const uint64_t videoBefore = rig.videoGrabber->SampleCount(), audioBefore = rig.audioGrabber->SampleCount();
    SleepMs(3000);
    // About 45 frames and 6 half-second sound buffers in 3 s: the branches share the sources.
    EXPECT_GT(rig.videoGrabber->SampleCount() - videoBefore, 30u);
    EXPECT_GE(rig.audioGrabber->SampleCount() - audioBefore, 4u);
    rig.graph.Stop();
    EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();

    AviContents avi = ReadAvi(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_NE(avi.videoCaps.find("video/x-raw"), std::string::npos) << avi.videoCaps;
    EXPECT_NE(avi.videoCaps.find("BGR"), std::string::npos) << avi.videoCaps;
    EXPECT_EQ(avi.width, Width);
    EXPECT_EQ(avi.height, Height);
    EXPECT_EQ(avi.fpsN, Fps);
    EXPECT_EQ(avi.fpsD, 1);
    EXPECT_NE(avi.audioCaps.find("S16LE"), std::string::npos) << avi.audioCaps;
    EXPECT_EQ(avi.rate, Rate);
    EXPECT_EQ(avi.channels, 1);
    ASSERT_NE(avi.duration, GST_CLOCK_TIME_NONE);
    EXPECT_NEAR(double(avi.duration) / GST_SECOND, 3.0, 1.0);
    EXPECT_NEAR(avi.VideoSeconds(), 3.0, 1.0);
    // In step: AVI has no time stamps, only counts of frames and samples.
    EXPECT_NEAR(avi.VideoSeconds(), avi.AudioSeconds(), 0.3);
    // Stored losslessly and the right way up.
    EXPECT_TRUE(avi.firstFrame == FirstTestFrame());
}

TEST_F(CaptureRecording, CompressorsFoundByNameEncodeAndClearingRestoresTheMonitoringGraph) {
    auto jpeg = FindCompressor(DeviceCategory::VideoCompressor, "jpeg IMAGE encoder");
    auto alaw = FindCompressor(DeviceCategory::AudioCompressor, "a law AUDIO encoder");
    if (!jpeg || !alaw) GTEST_SKIP() << "jpegenc or alawenc is not installed";
    EXPECT_EQ(jpeg->FactoryName(), "jpegenc");
    EXPECT_EQ(jpeg->Medium(), MajorType::Video);
    EXPECT_EQ(alaw->Medium(), MajorType::Audio);

    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    rig.graph.Stop();
    const std::string path = (dir / "OCL-jpeg.avi");
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    ASSERT_TRUE(rig.graph.AddFilter(jpeg, jpeg->FriendlyName()));
    ASSERT_TRUE(rig.graph.AddFilter(alaw, alaw->FriendlyName()));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, jpeg, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, alaw, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(rig.Delivering());
    SleepMs(2500);
    rig.graph.Stop();
    EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();

    AviContents avi = ReadAvi(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_TRUE(avi.hasIndex);
    EXPECT_NE(avi.videoCaps.find("image/jpeg"), std::string::npos) << avi.videoCaps;
    EXPECT_EQ(avi.width, Width);
    EXPECT_EQ(avi.height, Height);
    EXPECT_NE(avi.audioCaps.find("audio/x-alaw"), std::string::npos) << avi.audioCaps;
    EXPECT_EQ(avi.rate, Rate);
    ASSERT_NE(avi.duration, GST_CLOCK_TIME_NONE);
    EXPECT_NEAR(double(avi.duration) / GST_SECOND, 3.0, 1.0);
    // A-law: one byte per sample, not the two AudioSeconds counts.
    EXPECT_NEAR(avi.VideoSeconds(), 2.0 * avi.AudioSeconds(), 0.3);

    // The recording's filters go, compressors included; the components stay.
    rig.graph.StopAndClear();
    EXPECT_FALSE(rig.graph.Contains(*mux));
    EXPECT_FALSE(rig.graph.Contains(*mux->Writer()));
    EXPECT_FALSE(rig.graph.Contains(*jpeg));
    EXPECT_FALSE(rig.graph.Contains(*alaw));
    EXPECT_EQ(rig.graph.Filters().size(), 5u);
    rig.RenderMonitoring();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
    // The finished file is left alone by the runs that follow.
    EXPECT_EQ(ReadAvi(path).frames, avi.frames);
}

TEST_F(CaptureRecording, AFileThatCannotBeWrittenFailsTheRecordingOnlyAndOnce) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    const std::string path = (dir / "missing/OCL-x.avi");
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    EXPECT_FALSE(rig.graph.Run());
    EXPECT_TRUE(rig.graph.Failed());
    EXPECT_NE(rig.graph.LastError().find(path), std::string::npos) << rig.graph.LastError();
    // The monitoring runs without the recording.
    EXPECT_TRUE(rig.graph.IsRunning());
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
    EXPECT_FALSE(testsupport::PathExists(path));

    rig.graph.StopAndClear();
    rig.RenderMonitoring();
    EXPECT_TRUE(rig.graph.Run());
    EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();
    rig.graph.Stop();
}

TEST_F(CaptureRecording, AnEncoderThatCannotTakeTheStreamLeavesTheMonitoringRunning) {
    // The DV encoder takes only 720x480 / 720x576 pictures at 25 or 29.97 frames a second.
    auto dv = FindCompressor(DeviceCategory::VideoCompressor, "libav DV (Digital Video) encoder");
    if (!dv) GTEST_SKIP() << "avenc_dvvideo is not installed";
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    auto mux = rig.builder.SetOutputFileName(dir / "OCL-dv.avi");
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, dv, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    EXPECT_FALSE(rig.graph.Run());
    EXPECT_TRUE(rig.graph.IsRunning());
    EXPECT_NE(rig.graph.LastError().find(dv->FriendlyName()), std::string::npos) << rig.graph.LastError();
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
}

TEST_F(CaptureRecording, AFullDiskEndsOnlyTheRecording) {
    if (!testsupport::PathExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Rig rig;
    rig.Build();
    auto mux = rig.builder.SetOutputFileName("/dev/full");
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    // The file opens; the first frame cannot be written.
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.graph.Failed(); }));
    EXPECT_NE(rig.graph.LastError().find("/dev/full"), std::string::npos) << rig.graph.LastError();
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
    EXPECT_FALSE(rig.graph.IsRunning());
}

TEST_F(CaptureRecording, AFailedFileIsNoticedOnceEvenAfterTheGraphIsBuiltAgain) {
    if (!testsupport::PathExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    Rig rig;
    rig.Build();
    auto mux = rig.builder.SetOutputFileName("/dev/full");
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.graph.Failed(); }));
    // Closed and cleared before anyone looked: the notice waits.
    rig.graph.StopAndClear();
    rig.RenderMonitoring();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    std::vector<DeviceNotice> notices = rig.graph.WatchDevices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::RecordingFailed);
    EXPECT_EQ(notices[0].device, "/dev/full");
    EXPECT_FALSE(notices[0].detail.empty());
    EXPECT_TRUE(rig.graph.WatchDevices().empty());
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
    // A device is never taken for an empty file.
    EXPECT_TRUE(testsupport::PathExists("/dev/full"));
}

TEST_F(CaptureRecording, FiveRecordingsInARowEachFinishTheirFile) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    for (int i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        rig.graph.Stop();
        const std::string path = (dir / "OCL-" + std::to_string(i) + ".avi");
        auto mux = rig.builder.SetOutputFileName(path);
        ASSERT_TRUE(mux);
        auto jpeg = i % 2 ? FindCompressor(DeviceCategory::VideoCompressor, "JPEG image encoder") : nullptr;
        if (jpeg) {
            ASSERT_TRUE(rig.graph.AddFilter(jpeg, jpeg->FriendlyName()));
        }
        ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, jpeg, mux));
        ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
        SleepMs(400);
        rig.graph.StopAndClear();
        EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();
        EXPECT_EQ(rig.graph.Filters().size(), 5u);
        AviContents avi = ReadAvi(path);
        EXPECT_EQ(avi.error, "");
        EXPECT_TRUE(avi.hasIndex);
        EXPECT_GT(avi.frames, 0u);
        EXPECT_GT(avi.audioBytes, 0u);
        rig.RenderMonitoring();
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    }
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
}

// Descriptors open in this process: a pipeline that is never freed keeps
// its bus's wakeup sockets.
size_t OpenDescriptors() {
    size_t n = 0;
    if (GDir* dir = g_dir_open("/proc/self/fd", 0, nullptr)) {
        while (g_dir_read_name(dir)) ++n;
        g_dir_close(dir);
    }
    return n;
}

// GStreamer's own threads let go of a stopped pipeline a little after the
// stop: the fewest descriptors seen over a second of the running graph.
size_t SettledDescriptors() {
    size_t fewest = OpenDescriptors();
    WaitUntil([&] {
        fewest = std::min(fewest, OpenDescriptors());
        return false;
    }, 1000);
    return fewest;
}

// No more descriptors than `bound` once the stopped pipelines are gone. A
// running branch may swap its buffer pool (each pool holds a wakeup pair)
// and free the old one only when its last buffer comes back: one pair more
// is allowed, never one per recording.
bool DescriptorsComeBackTo(size_t bound) {
    constexpr size_t OnePool = 2;
    return WaitUntil([&] { return OpenDescriptors() <= bound + OnePool; });
}

// As the alarm records: stop, add the file, run, stop and clear, put the
// monitoring back and run again.
void RecordOnce(Rig& rig, const std::string& path) {
    rig.graph.Stop();
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    SleepMs(200);
    rig.graph.StopAndClear();
    EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();
    rig.RenderMonitoring();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
}

TEST_F(CaptureRecording, ManyRecordingsLeaveNoDescriptorOpen) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    // The first recording loads what every later one shares.
    RecordOnce(rig, dir / "OCL-0.avi");
    const size_t afterFirst = SettledDescriptors();
    for (int i = 1; i < 20; ++i) {
        SCOPED_TRACE(i);
        RecordOnce(rig, dir / ("OCL-" + std::to_string(i) + ".avi"));
        if (HasFatalFailure()) return;
    }
    EXPECT_TRUE(DescriptorsComeBackTo(afterFirst)) << OpenDescriptors() << " open, " << afterFirst << " before";
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
    EXPECT_EQ(ReadAvi(dir / "OCL-19.avi").error, "");
}

TEST_F(CaptureRecording, RebuildingTheMonitoringLeavesNoDescriptorOpen) {
    Rig rig;
    rig.Build();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    rig.graph.Stop();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    const size_t afterFirst = SettledDescriptors();
    // Plain stop and run, and stop, clear and build again.
    for (int i = 0; i < 10; ++i) {
        rig.graph.Stop();
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
        rig.graph.StopAndClear();
        rig.RenderMonitoring();
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    }
    EXPECT_TRUE(DescriptorsComeBackTo(afterFirst)) << OpenDescriptors() << " open, " << afterFirst << " before";
    // A microphone lost and found again, a few times over.
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        SetTestDeviceFault(false, TestDeviceFault::Error);
        ASSERT_TRUE(WaitUntil([&] { return !rig.graph.WatchDevices().empty(); }));
        SetTestDeviceFault(false, TestDeviceFault::None);
        ASSERT_TRUE(WaitUntil([&] { return !rig.graph.WatchDevices().empty(); }, 3 * FilterGraph::RetryMs));
    }
    EXPECT_TRUE(DescriptorsComeBackTo(afterFirst)) << OpenDescriptors() << " open, " << afterFirst << " before";
    EXPECT_TRUE(rig.Delivering());
    rig.graph.Stop();
}

TEST_F(CaptureRecording, AStopRightAfterTheStartStillEndsInTime) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    const std::string path = (dir / "OCL-short.avi");
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    rig.graph.Stop();
    // Nothing may have reached the file yet; what did is indexed.
    EXPECT_TRUE(testsupport::PathExists(path));
    AviContents avi = ReadAvi(path);
    if (avi.frames > 0) {
        EXPECT_TRUE(avi.hasIndex);
    }
    rig.graph.StopAndClear();
    rig.RenderMonitoring();
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    EXPECT_TRUE(rig.Delivering());
}

TEST_F(CaptureRecording, TheBuilderConnectsOnlyRecordingsThatFit) {
    Rig rig;
    rig.Build();
    FilterGraph other;
    other.Activate();
    CaptureGraphBuilder otherBuilder(other);
    auto foreign = otherBuilder.SetOutputFileName("/nonexistent/other.avi");
    ASSERT_TRUE(foreign);
    EXPECT_FALSE(CaptureGraphBuilder(rig.graph).SetOutputFileName(""));

    auto mux = rig.builder.SetOutputFileName("/nonexistent/unused.avi");
    ASSERT_TRUE(mux);
    EXPECT_TRUE(rig.graph.Contains(*mux));
    EXPECT_TRUE(rig.graph.Contains(*mux->Writer()));
    EXPECT_EQ(mux->Writer()->FileName(), "/nonexistent/unused.avi");
    auto jpeg = FindCompressor(DeviceCategory::VideoCompressor, "JPEG image encoder");
    auto alaw = FindCompressor(DeviceCategory::AudioCompressor, "A Law audio encoder");
    if (!jpeg || !alaw) GTEST_SKIP() << "jpegenc or alawenc is not installed";
    auto grabber = std::make_shared<SampleGrabber>();

    // Not a multiplexer of this graph; a compressor of the other medium, or
    // before a renderer; a grabber before the multiplexer; the wrong medium asked.
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, foreign));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, alaw, mux));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, jpeg, nullptr));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Preview, MajorType::None, rig.camera, jpeg,
                                          std::make_shared<VideoWindowRenderer>()));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, grabber, mux));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::Audio, rig.camera, nullptr, mux));
    EXPECT_FALSE(rig.graph.Contains(*jpeg));
    EXPECT_FALSE(rig.graph.Contains(*grabber));

    // One stream per medium; a compressor serves one connection.
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::Video, rig.camera, jpeg, mux));
    EXPECT_TRUE(rig.graph.Contains(*jpeg));
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    auto mux2 = rig.builder.SetOutputFileName("/nonexistent/unused2.avi");
    EXPECT_FALSE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, jpeg, mux2));
    EXPECT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, alaw, mux));

    // The multiplexer and its writer go together, with the connections into them.
    ASSERT_TRUE(rig.graph.RemoveFilter(*mux->Writer()));
    EXPECT_FALSE(rig.graph.Contains(*mux));
    EXPECT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, jpeg, mux2));
    EXPECT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, alaw, mux2));

    // Not while running.
    ASSERT_TRUE(rig.graph.RemoveFilter(*mux2));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    EXPECT_FALSE(rig.builder.SetOutputFileName("/nonexistent/unused3.avi"));
    rig.graph.Stop();

    DeviceInfo camera = capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName);
    EXPECT_FALSE(CreateCompressorFilter(camera));
    EXPECT_FALSE(CreateCompressorFilter(DeviceInfo{}));
}

}  // namespace

TEST_F(CaptureRecording, AMicrophoneLostDuringARecordingEndsItsStreamAndTheFileGoesOnWithThePicture) {
    testsupport::TempDir dir;
    Rig rig;
    rig.Build();
    const std::string path = (dir / "OCL-lost.avi");
    auto mux = rig.builder.SetOutputFileName(path);
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Capture, MajorType::None, rig.camera, nullptr, mux));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, mux));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    SleepMs(1500);
    SetTestDeviceFault(false, TestDeviceFault::Error);
    std::vector<DeviceNotice> notices;
    const bool lost = WaitUntil([&] {
        notices = rig.graph.WatchDevices();
        return !notices.empty();
    });
    SetTestDeviceFault(false, TestDeviceFault::None);
    ASSERT_TRUE(lost);
    EXPECT_EQ(notices[0].medium, MajorType::Audio);
    SleepMs(2000);
    rig.graph.Stop();

    AviContents avi = ReadAvi(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_TRUE(avi.hasIndex);
    // The picture runs to the end; the sound stops where the microphone did.
    EXPECT_NEAR(avi.VideoSeconds(), 3.5, 1.0);
    EXPECT_NEAR(avi.AudioSeconds(), 1.5, 0.8);
}
