// The graph running the test devices: what the grabbers and the window
// receive, and how stopping and callback swaps behave while samples arrive.

#include <atomic>
#include <mutex>

#include "AllocationCounter.h"
#include "CaptureTestSupport.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"

using namespace platform;
using capturetest::CaptureTest;
using capturetest::SleepMs;
using capturetest::WaitUntil;

namespace {

struct Rig {
    FilterGraph graph;
    CaptureGraphBuilder builder{graph};
    std::shared_ptr<SourceFilter> camera = std::make_shared<SourceFilter>();
    std::shared_ptr<SourceFilter> mic = std::make_shared<SourceFilter>();
    std::shared_ptr<SampleGrabber> videoGrabber = std::make_shared<SampleGrabber>();
    std::shared_ptr<SampleGrabber> audioGrabber = std::make_shared<SampleGrabber>();
    std::shared_ptr<VideoWindowRenderer> window = std::make_shared<VideoWindowRenderer>();

    // The main window's order: activate, add the components, choose formats, connect.
    void Camera(const std::string& device, const MediaType& format, bool withWindow = false) {
        graph.Activate();
        ASSERT_TRUE(camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, device)));
        ASSERT_TRUE(graph.AddFilter(camera, "Video"));
        ASSERT_TRUE(graph.AddFilter(videoGrabber, "VideoGrabber"));
        ASSERT_TRUE(camera->OutputPin()->SetFormat(format));
        videoGrabber->SetMediaType(format);
        ASSERT_TRUE(builder.RenderStream(PinCategory::Preview, MajorType::None, camera, videoGrabber,
                                         withWindow ? window : nullptr));
    }
    void Microphone(const MediaType& format) {
        graph.Activate();
        ASSERT_TRUE(mic->SetDevice(capturetest::OnlyDevice(DeviceCategory::AudioInput, TestMicrophoneName)));
        ASSERT_TRUE(graph.AddFilter(mic, "Audio"));
        ASSERT_TRUE(graph.AddFilter(audioGrabber, "AudioGrabber"));
        for (auto& pin : mic->EnumPins()) {
            if (pin->Direction() == PinDirection::Output) {
                ASSERT_TRUE(pin->SetFormat(format));
            }
        }
        audioGrabber->SetMediaType(format);
        ASSERT_TRUE(builder.RenderStream(PinCategory::None, MajorType::None, mic, audioGrabber, nullptr));
    }
};

// Collects what a callback receives, from the streaming thread.
struct Collector {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> samples;
    std::atomic<int> calls{0};
    size_t keep = 3;

    SampleGrabber::BufferCallback Callback() {
        return [this](const uint8_t* data, size_t length) {
            std::lock_guard lock(mutex);
            if (samples.size() < keep) samples.emplace_back(data, data + length);
            ++calls;
        };
    }
};

using CaptureGraphRun = CaptureTest;

// A clip made by the installed tools in a folder of its own, the file
// camera pointed at it while this lives.
struct ClipCamera {
    ClipCamera(int w, int h, int frames, int fps, const std::string& pattern = "ball")
        : made(capturetest::MakeTestVideo(dir / "clip.avi", w, h, frames, fps, pattern)),
          env("OCULARA_TEST_VIDEO_FILE", dir / "clip.avi") {}
    testsupport::TempDir dir;
    bool made;
    testsupport::ScopedEnv env;
};

TEST_F(CaptureGraphRun, TestCameraDeliversBottomUpBgrFramesAtItsOwnPace) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 352, 288));
    Collector got;
    rig.videoGrabber->SetCallback(got.Callback());
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return got.calls >= 1; }));
    const int atStart = got.calls;
    SleepMs(2000);
    const int inTwoSeconds = got.calls - atStart;
    rig.graph.Stop();

    // Paced at 15 frames a second by the clock, not as fast as the scene renders.
    EXPECT_GE(inTwoSeconds, 10);
    EXPECT_LE(inTwoSeconds, 40);

    ASSERT_FALSE(got.samples.empty());
    const auto& first = got.samples[0];
    ASSERT_EQ(first.size(), size_t(352 * 288 * 3));
    // The first frame is the scene at 0 ms, rows turned bottom-up.
    TestCameraScene scene(352, 288, TestSceneConfigFromEnv());
    std::vector<uint8_t> topDown(first.size());
    scene.Render(0, topDown.data(), 352 * 3);
    for (int row = 0; row < 288; ++row) {
        ASSERT_TRUE(std::equal(first.begin() + row * 352 * 3, first.begin() + (row + 1) * 352 * 3,
                               topDown.begin() + (287 - row) * 352 * 3))
            << "row " << row;
    }

    auto connected = rig.videoGrabber->GetConnectedMediaType();
    ASSERT_TRUE(connected);
    EXPECT_EQ(connected->majortype, MajorType::Video);
    EXPECT_EQ(connected->subtype, SubType::RGB24);
    ASSERT_EQ(connected->cbFormat(), 88u);
    auto vih = *connected->FormatAs<VIDEOINFOHEADER>();
    EXPECT_EQ(vih.bmiHeader.biWidth, 352);
    EXPECT_EQ(vih.bmiHeader.biHeight, 288);
    EXPECT_EQ(vih.bmiHeader.biBitCount, 24);

    std::vector<uint8_t> photo;
    MediaType photoType;
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(photo, &photoType));
    EXPECT_EQ(photo.size(), first.size());
    EXPECT_TRUE(SameFormat(photoType, *connected));
    EXPECT_EQ(rig.videoGrabber->SampleCount(), uint64_t(got.calls.load()));
}

TEST_F(CaptureGraphRun, GrabberTypeDecidesPixelFormatAndSize) {
    struct Case {
        SubType subtype;
        int w, h;
        size_t bytes;
        int bits;
    };
    // The camera captures 320x240; the grabber asks for its own layout.
    for (const Case& c : {Case{SubType::RGB32, 320, 240, 320 * 240 * 4, 32},
                          Case{SubType::RGB555, 320, 240, 320 * 240 * 2, 16},
                          Case{SubType::RGB24, 160, 120, 160 * 120 * 3, 24}}) {
        SCOPED_TRACE(DescribeMediaType(MakeRgbVideoType(c.subtype, c.w, c.h)));
        Rig rig;
        rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240));
        rig.videoGrabber->SetMediaType(MakeRgbVideoType(c.subtype, c.w, c.h));
        Collector got;
        rig.videoGrabber->SetCallback(got.Callback());
        ASSERT_TRUE(rig.graph.Run());
        ASSERT_TRUE(WaitUntil([&] { return got.calls >= 1; }));
        rig.graph.Stop();
        ASSERT_FALSE(got.samples.empty());
        EXPECT_EQ(got.samples[0].size(), c.bytes);
        auto vih = *rig.videoGrabber->GetConnectedMediaType()->FormatAs<VIDEOINFOHEADER>();
        EXPECT_EQ(rig.videoGrabber->GetConnectedMediaType()->subtype, c.subtype);
        EXPECT_EQ(vih.bmiHeader.biWidth, c.w);
        EXPECT_EQ(vih.bmiHeader.biHeight, c.h);
        EXPECT_EQ(vih.bmiHeader.biBitCount, c.bits);
    }
}

TEST_F(CaptureGraphRun, TestMicrophoneDeliversPcmInTheChosenFormat) {
    for (auto [rate, bits, channels] : {std::tuple{44100, 16, 2}, std::tuple{22050, 8, 1}}) {
        SCOPED_TRACE(rate);
        Rig rig;
        rig.Microphone(MakePcmAudioType(rate, bits, channels));
        std::atomic<size_t> bytes{0};
        std::atomic<int> calls{0};
        std::atomic<bool> misaligned{false};
        const size_t frame = size_t(bits / 8 * channels);
        // Half a second per buffer, whatever the device's own period, so
        // that a detector measuring four a second hears all of the sound.
        const size_t halfSecond = size_t(rate / 2) * frame;
        rig.audioGrabber->SetCallback([&](const uint8_t*, size_t length) {
            if (length != halfSecond) misaligned = true;
            bytes += length;
            ++calls;
        });
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
        ASSERT_TRUE(WaitUntil([&] { return calls >= 3; }));
        rig.graph.Stop();
        EXPECT_FALSE(misaligned);
        auto connected = rig.audioGrabber->GetConnectedMediaType();
        ASSERT_TRUE(connected);
        ASSERT_EQ(connected->cbFormat(), 18u);
        auto wfx = *connected->FormatAs<WAVEFORMATEX>();
        EXPECT_EQ(int(wfx.nSamplesPerSec), rate);
        EXPECT_EQ(wfx.wBitsPerSample, bits);
        EXPECT_EQ(wfx.nChannels, channels);
        std::vector<uint8_t> last;
        ASSERT_TRUE(rig.audioGrabber->GetCurrentBuffer(last));
        EXPECT_EQ(last.size(), halfSecond);
    }
}

TEST_F(CaptureGraphRun, CameraAndMicrophoneRunInOneGraphAndTheWindowGetsTheNewestFrame) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240), true);
    rig.Microphone(MakePcmAudioType(44100, 16, 2));
    EXPECT_EQ(rig.window->NewestFrame(), nullptr);
    ASSERT_TRUE(rig.graph.Run());
    ASSERT_TRUE(WaitUntil([&] {
        return rig.videoGrabber->SampleCount() >= 3 && rig.audioGrabber->SampleCount() >= 3 &&
               rig.window->FramesDelivered() >= 3;
    }));
    auto frame = rig.window->NewestFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Width, 320);
    EXPECT_EQ(frame->Height, 240);
    EXPECT_EQ(frame->Stride, 320 * 4);
    EXPECT_EQ(frame->Pixels.size(), size_t(320 * 4 * 240));
    ASSERT_TRUE(WaitUntil([&] { return rig.window->NewestFrame()->Sequence > frame->Sequence; }));

    rig.graph.Stop();
    EXPECT_TRUE(rig.window->NewestFrame());  // a stopped graph keeps the last picture
    rig.graph.StopAndClear();
    EXPECT_EQ(rig.window->NewestFrame(), nullptr);
    EXPECT_FALSE(rig.videoGrabber->GetConnectedMediaType());
}

// The window is 320x240: a larger picture is scaled down in the stream, so
// painting never converts or smooths a whole frame; the grabber keeps it whole.
TEST_F(CaptureGraphRun, AFrameLargerThanTheWindowReachesItScaledDownAndTheGrabberWhole) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 640, 480), true);
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() >= 2 && rig.window->FramesDelivered() >= 2; }));
    const auto frame = rig.window->NewestFrame();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Width, 320);
    EXPECT_EQ(frame->Height, 240);
    EXPECT_EQ(frame->Pixels.size(), size_t(320 * 4 * 240));
    std::vector<uint8_t> dib;
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(dib));
    EXPECT_EQ(dib.size(), size_t(640 * 480 * 3));
    rig.graph.Stop();
}

// Runs the rig's camera until three frames passed its grabber's gate, then
// shuts the gate: `lastDelivered` is the last frame handed over, `photo`
// what a photo gets after many refused frames.
void PhotoAfterRefusedFrames(Rig& rig, std::vector<uint8_t>& lastDelivered, std::vector<uint8_t>& photo,
                             MediaType& type) {
    std::atomic<int> calls{0};
    std::atomic<bool> open{true};
    rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++calls; });
    rig.videoGrabber->SetFrameGate([&](uint32_t) { return open.load(); });
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return calls >= 3; }));
    open = false;
    SleepMs(150);  // frames already past the gate arrive
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(lastDelivered));
    const int delivered = calls;
    SleepMs(600);  // many frames, all refused
    EXPECT_EQ(calls, delivered);
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(photo, &type));
    rig.graph.Stop();
    rig.videoGrabber->SetCallback({});
    rig.videoGrabber->SetFrameGate({});
}

// Frames the gate refuses are never converted or handed over, yet a photo
// still gets the newest frame: converted when asked, the right way up, at
// the grabber's own size.
TEST_F(CaptureGraphRun, RefusedFramesAreNotConvertedYetAPhotoGetsTheNewest) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240));
    rig.videoGrabber->SetMediaType(MakeRgbVideoType(SubType::RGB24, 160, 120));
    std::vector<uint8_t> lastDelivered, photo;
    MediaType type;
    PhotoAfterRefusedFrames(rig, lastDelivered, photo, type);
    ASSERT_EQ(photo.size(), size_t(160 * 120 * 3));
    EXPECT_EQ(type.subtype, SubType::RGB24);
    // Newer than the last frame converted (the sensor noise moves on), and
    // the same scene laid out the same way: a flipped or swapped picture
    // would differ everywhere.
    ASSERT_EQ(lastDelivered.size(), photo.size());
    EXPECT_NE(photo, lastDelivered);
    const size_t row = 160 * 3;
    double difference = 0, upsideDown = 0;
    for (size_t i = 0; i < photo.size(); ++i) {
        const size_t mirrored = (119 - i / row) * row + i % row;
        difference += std::abs(int(photo[i]) - int(lastDelivered[i]));
        upsideDown += std::abs(int(photo[i]) - int(lastDelivered[mirrored]));
    }
    EXPECT_LT(difference / double(photo.size()), 12.0);
    EXPECT_GT(upsideDown, 3 * difference) << "the test scene must tell up from down";
}

// The same for a camera whose frames come as JPEG: the refused frame is
// kept compressed and decoded only for the photo.
TEST_F(CaptureGraphRun, APhotoFromAJpegCameraGetsTheNewestFrameDecodedWhenAsked) {
    ClipCamera clip(320, 240, 90, 30);  // a ball moving for three seconds
    ASSERT_TRUE(clip.made);
    Rig rig;
    rig.Camera(TestFileCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240));
    std::vector<uint8_t> lastDelivered, photo;
    MediaType type;
    PhotoAfterRefusedFrames(rig, lastDelivered, photo, type);
    ASSERT_EQ(photo.size(), size_t(320 * 240 * 3));
    ASSERT_EQ(lastDelivered.size(), photo.size());
    EXPECT_NE(photo, lastDelivered);  // the ball moved on
    double difference = 0;
    for (size_t i = 0; i < photo.size(); ++i) difference += std::abs(int(photo[i]) - int(lastDelivered[i]));
    EXPECT_LT(difference / double(photo.size()), 12.0);  // the same picture around the ball
}

// A JPEG frame is asked about twice: before it waits for its time, with
// the way ahead of it, and once there, with only its decoding ahead. A
// frame the detector would pass over on arrival is never decoded.
TEST_F(CaptureGraphRun, AJpegFrameTheDetectorPassesOverOnArrivalIsNeverDecoded) {
    ClipCamera clip(320, 240, 30, 30);
    ASSERT_TRUE(clip.made);
    Rig rig;
    rig.Camera(TestFileCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240));
    std::atomic<int> calls{0}, asked{0};
    std::atomic<uint32_t> wantsFrom{20};  // below: the question on arrival, nothing decoded yet
    rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++calls; });
    rig.videoGrabber->SetFrameGate([&](uint32_t leadMs) {
        ++asked;
        return leadMs >= wantsFrom;
    });
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return asked >= 20; }));
    EXPECT_EQ(calls, 0);
    wantsFrom = 0;
    EXPECT_TRUE(WaitUntil([&] { return calls >= 3; }));
    rig.graph.Stop();
}

// A day of frames must not mean a day of allocations: once the stream runs,
// the grabber and the window reuse their buffers and the frame's type.
TEST_F(CaptureGraphRun, RunningFramesAllocateNothingInTheGrabberOrTheWindow) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 320, 240), true);
    std::atomic<int> calls{0};
    rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++calls; });
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    // What the main window does: poll the newest picture, keep it until the next.
    std::shared_ptr<const VideoFrame> shown;
    auto pollUntil = [&](int frames) {
        const int until = calls + frames;
        while (calls < until) {
            if (auto newest = rig.window->NewestFrame(); newest && newest != shown) shown = std::move(newest);
            SleepMs(20);
        }
    };
    pollUntil(10);
    const uint64_t windowBefore = rig.window->FramesDelivered();
    uint64_t allocations = 0;
    {
        testsupport::AllocationCounter counter;
        pollUntil(30);
        allocations = counter.Count();
    }
    const uint64_t windowFrames = rig.window->FramesDelivered() - windowBefore;
    rig.graph.Stop();
    EXPECT_GE(windowFrames, 10u);
    // Not one per frame (30 grabbed, over 10 shown); a stray one is not the rule.
    EXPECT_LT(allocations, 5u) << allocations << " allocations over 30 frames";
}

TEST_F(CaptureGraphRun, WindowFramesAreTopDownWhereGrabberFramesAreBottomUp) {
    ClipCamera clip(160, 120, 5, 10, "smpte");  // a still picture
    ASSERT_TRUE(clip.made);
    Rig rig;
    rig.Camera(TestFileCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120), true);
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() > 0 && rig.window->NewestFrame(); }));
    rig.graph.Stop();
    std::vector<uint8_t> dib;
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(dib));
    auto frame = rig.window->NewestFrame();
    ASSERT_EQ(dib.size(), size_t(160 * 120 * 3));
    for (int y : {0, 60, 119}) {
        const uint8_t* windowRow = frame->Pixels.data() + size_t(y) * size_t(frame->Stride);
        const uint8_t* dibRow = dib.data() + size_t(119 - y) * 160 * 3;
        for (int x = 0; x < 160; ++x)
            ASSERT_TRUE(std::equal(dibRow + x * 3, dibRow + x * 3 + 3, windowRow + x * 4)) << "x " << x << " y " << y;
    }
    // The picture is not symmetric, so the comparison above says which way up it is.
    EXPECT_FALSE(std::equal(dib.begin(), dib.begin() + 160 * 3, dib.end() - 160 * 3));
}

TEST_F(CaptureGraphRun, PreviewWithoutGrabberFeedsOnlyTheWindow) {
    Rig rig;
    rig.graph.Activate();
    ASSERT_TRUE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    ASSERT_TRUE(rig.graph.AddFilter(rig.camera, "Video"));
    ASSERT_TRUE(rig.graph.AddFilter(rig.window, "VideoWindow"));
    ASSERT_TRUE(rig.camera->OutputPin()->SetFormat(MakeRgbVideoType(SubType::RGB24, 160, 120)));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Preview, MajorType::Video, rig.camera, nullptr, rig.window));
    ASSERT_TRUE(rig.graph.Run());
    ASSERT_TRUE(WaitUntil([&] { return rig.window->NewestFrame() != nullptr; }));
    EXPECT_EQ(rig.window->NewestFrame()->Width, 160);
    rig.graph.Stop();
    EXPECT_EQ(rig.videoGrabber->SampleCount(), 0u);
}

TEST_F(CaptureGraphRun, CallbackSwappedAndDetachedWhileRunningIsSafe) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120));
    rig.Microphone(MakePcmAudioType(22050, 16, 1));
    std::atomic<int> a{0}, b{0};
    ASSERT_TRUE(rig.graph.Run());
    for (int i = 0; i < 60; ++i) {
        rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++a; });
        rig.audioGrabber->SetCallback([&](const uint8_t*, size_t) { ++b; });
        SleepMs(5);
        rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++b; });
        rig.audioGrabber->SetCallback({});
        SleepMs(5);
    }
    ASSERT_TRUE(WaitUntil([&] { return a + b > 0; }));
    rig.videoGrabber->SetCallback({});
    rig.audioGrabber->SetCallback({});
    // Once detached, no call is running and none starts.
    const int frozen = a + b;
    const uint64_t samples = rig.videoGrabber->SampleCount();
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() >= samples + 3; }));
    EXPECT_EQ(a + b, frozen);
    rig.graph.Stop();
}

TEST_F(CaptureGraphRun, StopReturnsOnlyAfterTheLastCallbackEnded) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120));
    std::atomic<bool> inside{false};
    std::atomic<int> calls{0};
    rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) {
        inside = true;
        SleepMs(120);  // a slow detector
        ++calls;
        inside = false;
    });
    ASSERT_TRUE(rig.graph.Run());
    ASSERT_TRUE(WaitUntil([&] { return inside.load(); }));
    rig.graph.Stop();
    EXPECT_FALSE(inside);
    const int afterStop = calls;
    SleepMs(200);
    EXPECT_EQ(calls, afterStop);
    EXPECT_FALSE(rig.graph.IsRunning());
}

TEST_F(CaptureGraphRun, TwentyStartsAndStopsInARow) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120));
    rig.Microphone(MakePcmAudioType(22050, 16, 2));
    std::atomic<int> frames{0};
    rig.videoGrabber->SetCallback([&](const uint8_t*, size_t) { ++frames; });
    for (int i = 0; i < 20; ++i) {
        SCOPED_TRACE(i);
        const int before = frames;
        const uint64_t audioBefore = rig.audioGrabber->SampleCount();
        ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
        ASSERT_TRUE(WaitUntil([&] { return frames > before && rig.audioGrabber->SampleCount() > audioBefore; }));
        rig.graph.Stop();
    }
    // The builder's connections survive a stop; clearing removes them.
    rig.graph.StopAndClear();
    ASSERT_TRUE(rig.graph.Run());
    const int idle = frames;
    SleepMs(200);
    EXPECT_EQ(frames, idle);
    rig.graph.Stop();
    EXPECT_TRUE(rig.graph.Contains(*rig.camera));  // added by the caller, kept
}

TEST_F(CaptureGraphRun, FileCameraLoopsTheClipInRealTime) {
    ClipCamera clip(176, 144, 10, 20);  // half a second
    ASSERT_TRUE(clip.made);
    Rig rig;
    rig.Camera(TestFileCameraName, MakeRgbVideoType(SubType::RGB24, 176, 144));
    Collector got;
    got.keep = 12;
    rig.videoGrabber->SetCallback(got.Callback());
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return got.calls >= 1; }));
    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(WaitUntil([&] { return got.calls >= 25; }, 4000)) << got.calls;  // past two loops
    const auto elapsed = std::chrono::steady_clock::now() - start;
    rig.graph.Stop();
    // 24 frame times of 50 ms: played at the file's pace, not as fast as it decodes.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 1000);
    EXPECT_FALSE(rig.graph.Failed()) << rig.graph.LastError();
    ASSERT_EQ(got.samples.size(), 12u);
    EXPECT_EQ(got.samples[0].size(), size_t(DibStride(176, 24) * 144));
    // The 11th frame is the first frame again.
    EXPECT_EQ(got.samples[10], got.samples[0]);
    EXPECT_NE(got.samples[1], got.samples[0]);
}

TEST_F(CaptureGraphRun, FailuresAreReportedNotCrashed) {
    testsupport::TempDir dir;
    const std::string junk = dir / "junk.avi";
    testsupport::WriteFile(junk, std::string(4096, '\x5a'));
    testsupport::ScopedEnv file("OCULARA_TEST_VIDEO_FILE", junk);
    Rig rig;
    rig.graph.Activate();
    ASSERT_TRUE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestFileCameraName)));
    ASSERT_TRUE(rig.builder.RenderStream(PinCategory::Preview, MajorType::None, rig.camera, rig.videoGrabber, nullptr));
    EXPECT_FALSE(rig.graph.Run());
    EXPECT_TRUE(rig.graph.Failed());
    EXPECT_FALSE(rig.graph.LastError().empty());
    ASSERT_EQ(rig.graph.WatchDevices().size(), 1u);
    rig.graph.Stop();
    // The file is replaced by a real clip: the next run works and clears the failure.
    ASSERT_TRUE(capturetest::MakeTestVideo(junk, 160, 120, 5, 10));
    ASSERT_TRUE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestFileCameraName)));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    EXPECT_FALSE(rig.graph.Failed());
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() > 0; }));
    rig.graph.Stop();
}

TEST_F(CaptureGraphRun, BuilderRefusesConnectionsThatCannotWork) {
    Rig rig;
    EXPECT_FALSE(rig.graph.AddFilter(rig.camera, "Video"));  // inactive
    rig.graph.Activate();
    ASSERT_TRUE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    ASSERT_TRUE(rig.mic->SetDevice(capturetest::OnlyDevice(DeviceCategory::AudioInput, TestMicrophoneName)));
    auto& b = rig.builder;
    EXPECT_FALSE(b.RenderStream(PinCategory::Preview, MajorType::None, rig.camera, nullptr, nullptr));
    EXPECT_FALSE(b.RenderStream(PinCategory::Preview, MajorType::Audio, rig.camera, rig.videoGrabber, nullptr));
    EXPECT_FALSE(b.RenderStream(PinCategory::None, MajorType::None, rig.mic, rig.audioGrabber, rig.window));
    EXPECT_FALSE(b.RenderStream(PinCategory::None, MajorType::None, rig.mic, nullptr, nullptr));
    EXPECT_FALSE(b.RenderStream(PinCategory::Preview, MajorType::None, std::make_shared<SourceFilter>(),
                                rig.videoGrabber, nullptr));
    rig.audioGrabber->SetMediaType(MakePcmAudioType(44100, 16, 2));
    EXPECT_FALSE(b.RenderStream(PinCategory::Preview, MajorType::None, rig.camera, rig.audioGrabber, nullptr));
    EXPECT_TRUE(rig.graph.Filters().empty());

    ASSERT_TRUE(b.RenderStream(PinCategory::Preview, MajorType::Video, rig.camera, rig.videoGrabber, nullptr));
    EXPECT_FALSE(b.RenderStream(PinCategory::Preview, MajorType::Video, rig.camera, rig.videoGrabber, nullptr));
    EXPECT_EQ(rig.graph.Filters().size(), 2u);  // added on the way, by the builder
    ASSERT_TRUE(rig.graph.Run());
    EXPECT_FALSE(b.RenderStream(PinCategory::None, MajorType::None, rig.mic, rig.audioGrabber, nullptr));
    EXPECT_FALSE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    rig.graph.StopAndClear();
    EXPECT_TRUE(rig.graph.Filters().empty());
    EXPECT_TRUE(rig.camera->SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));

    // Removing a filter drops its connections.
    ASSERT_TRUE(b.RenderStream(PinCategory::Preview, MajorType::Video, rig.camera, rig.videoGrabber, nullptr));
    ASSERT_TRUE(rig.graph.RemoveFilter(*rig.videoGrabber));
    ASSERT_TRUE(rig.graph.Run());
    SleepMs(200);
    EXPECT_EQ(rig.videoGrabber->SampleCount(), 0u);
    rig.graph.Deactivate();
    EXPECT_FALSE(rig.graph.IsActive());
    EXPECT_TRUE(rig.graph.Filters().empty());
}

TEST_F(CaptureGraphRun, TestCameraControlsChangeThePictureLive) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120));
    auto controls = rig.camera->GetControls();
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].Value, 50);
    EXPECT_FALSE(rig.camera->SetControl("hue", 10));
    ASSERT_TRUE(rig.graph.Run());
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() >= 2; }));
    std::vector<uint8_t> before, after;
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(before));
    ASSERT_TRUE(rig.camera->SetControl(controls[0].Id, 100));
    const uint64_t seen = rig.videoGrabber->SampleCount();
    // Frames already rendered and queued come first.
    ASSERT_TRUE(WaitUntil([&] { return rig.videoGrabber->SampleCount() >= seen + 5; }));
    ASSERT_TRUE(rig.videoGrabber->GetCurrentBuffer(after));
    rig.graph.Stop();
    EXPECT_EQ(rig.camera->GetControls()[0].Value, 100);
    long sumBefore = 0, sumAfter = 0;
    for (uint8_t v : before) sumBefore += v;
    for (uint8_t v : after) sumAfter += v;
    EXPECT_GT(sumAfter, sumBefore);
}

}  // namespace

namespace {

// A test device made to misbehave for one test, whatever its outcome.
struct Fault {
    bool video;
    Fault(bool v, TestDeviceFault f) : video(v) { SetTestDeviceFault(video, f); }
    ~Fault() { SetTestDeviceFault(video, TestDeviceFault::None); }
    void Clear() { SetTestDeviceFault(video, TestDeviceFault::None); }
};

// Watches once a second, as the main window does, until a notice comes.
std::vector<DeviceNotice> WatchUntilNotice(FilterGraph& graph, int limitMs) {
    std::vector<DeviceNotice> notices;
    WaitUntil([&] {
        notices = graph.WatchDevices();
        if (notices.empty()) SleepMs(250);
        return !notices.empty();
    }, limitMs);
    return notices;
}

}  // namespace

TEST_F(CaptureGraphRun, AMicrophoneThatFallsSilentIsLostAloneAndComesBackWhenItDeliversAgain) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120));
    rig.Microphone(MakePcmAudioType(22050, 16, 1));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.audioGrabber->SampleCount() >= 1 && rig.videoGrabber->SampleCount() >= 1; }));
    EXPECT_TRUE(rig.graph.WatchDevices().empty());

    Fault fault(false, TestDeviceFault::Silent);
    const uint64_t framesAtSilence = rig.videoGrabber->SampleCount();
    auto notices = WatchUntilNotice(rig.graph, FilterGraph::SilentMs + 3000);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Lost);
    EXPECT_EQ(notices[0].cause, DeviceNotice::Cause::Silent);
    EXPECT_EQ(notices[0].medium, MajorType::Audio);
    EXPECT_EQ(notices[0].device, TestMicrophoneName);
    // The camera's own clock and thread kept it going: about 15 frames a second.
    EXPECT_GT(rig.videoGrabber->SampleCount(), framesAtSilence + 45);
    EXPECT_FALSE(rig.graph.Failed());  // silence is no error of the graph

    // Retried while quiet: no second report.
    const uint64_t soundAtLoss = rig.audioGrabber->SampleCount();
    SleepMs(FilterGraph::RetryMs + 500);
    EXPECT_TRUE(rig.graph.WatchDevices().empty());

    fault.Clear();
    notices = WatchUntilNotice(rig.graph, 2 * FilterGraph::RetryMs + 3000);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Restored);
    EXPECT_EQ(notices[0].medium, MajorType::Audio);
    ASSERT_TRUE(WaitUntil([&] { return rig.audioGrabber->SampleCount() > soundAtLoss + 1; }));
    rig.graph.Stop();
    EXPECT_FALSE(rig.graph.IsRunning());
}

TEST_F(CaptureGraphRun, AFailingCameraIsLostAtOnceItsPictureGoesAndTheMicrophoneGoesOn) {
    Rig rig;
    rig.Camera(TestCameraName, MakeRgbVideoType(SubType::RGB24, 160, 120), true);
    rig.Microphone(MakePcmAudioType(22050, 8, 1));
    ASSERT_TRUE(rig.graph.Run()) << rig.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return rig.audioGrabber->SampleCount() >= 1 && rig.window->NewestFrame(); }));

    Fault fault(true, TestDeviceFault::Error);
    auto notices = WatchUntilNotice(rig.graph, 3000);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Lost);
    EXPECT_EQ(notices[0].cause, DeviceNotice::Cause::Failed);
    EXPECT_EQ(notices[0].device, TestCameraName);
    EXPECT_NE(rig.graph.LastError().find(TestCameraName), std::string::npos) << rig.graph.LastError();
    EXPECT_EQ(rig.window->NewestFrame(), nullptr);  // no frozen picture pretending to be live
    const uint64_t sound = rig.audioGrabber->SampleCount();
    EXPECT_TRUE(WaitUntil([&] { return rig.audioGrabber->SampleCount() >= sound + 2; }));

    fault.Clear();
    notices = WatchUntilNotice(rig.graph, 2 * FilterGraph::RetryMs + 3000);
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Restored);
    EXPECT_TRUE(WaitUntil([&] { return rig.window->NewestFrame() != nullptr; }));
    rig.graph.Stop();
}
