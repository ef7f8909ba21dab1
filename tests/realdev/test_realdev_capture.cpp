// The capture layer on real devices as GStreamer's device monitor lists them:
// a virtual PulseAudio source and a PipeWire camera node, each served by a
// private server of this test (support/RealDevices.h). The servers' client
// environment is set in this process before the layer is first used.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Capture.h"
#include "platform/MediaTypeUtil.h"
#include "support/RealDevices.h"

using namespace std::chrono_literals;
using testsupport::PipeWireCameraMode;
using testsupport::PrivatePipeWireCamera;
using testsupport::PrivatePulse;

namespace {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (done()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return done();
}

std::vector<std::string> Names(platform::DeviceCategory category) {
    std::vector<std::string> names;
    for (const auto& d : platform::EnumerateDevices(category)) names.push_back(d.FriendlyName);
    return names;
}

std::string Joined(const std::vector<std::string>& names) {
    std::string out;
    for (const auto& n : names) out += "\"" + n + "\" ";
    return out;
}

std::optional<platform::DeviceInfo> Find(platform::DeviceCategory category, const std::string& name) {
    for (auto& d : platform::EnumerateDevices(category))
        if (d.FriendlyName == name) return d;
    return std::nullopt;
}

// No test device, no video file camera: only what the device monitor lists.
struct RealOnly {
    testsupport::ScopedEnv noTestDevices{"OCULARA_TEST_DEVICES", std::nullopt};
    testsupport::ScopedEnv noFile{"OCULARA_TEST_VIDEO_FILE", std::nullopt};
};

// The peak magnitude of S16LE samples.
int Peak(const std::vector<uint8_t>& pcm) {
    int peak = 0;
    for (size_t i = 0; i + 1 < pcm.size(); i += 2) {
        const int v = int16_t(uint16_t(pcm[i] | (pcm[i + 1] << 8)));
        peak = std::max(peak, std::abs(v));
    }
    return peak;
}

// The frame time the camera's pin lists for a subtype at a size; 0 when it is not listed.
int64_t ListedFrameTime(const std::vector<platform::MediaType>& types, platform::SubType subtype, int w, int h) {
    for (const auto& t : types) {
        auto vf = platform::ReadVideoFormat(t);
        if (t.subtype == subtype && vf && vf->width == w && vf->height == h) return vf->avgTimePerFrame;
    }
    return 0;
}

// Ten seconds of the PipeWire camera's RGB24 at w x h recorded to `path`.
void RecordTenSeconds(const platform::DeviceInfo& device, int w, int h, const std::string& path) {
    auto source = std::make_shared<platform::SourceFilter>();
    ASSERT_TRUE(source->SetDevice(device));
    ASSERT_TRUE(source->OutputPin()->SetFormat(platform::MakeRgbVideoType(platform::SubType::RGB24, w, h)));
    platform::FilterGraph graph;
    graph.Activate();
    platform::CaptureGraphBuilder builder(graph);
    auto mux = builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    ASSERT_TRUE(builder.RenderStream(platform::PinCategory::Capture, platform::MajorType::None, source, nullptr, mux));
    ASSERT_TRUE(graph.Run()) << graph.LastError();
    std::this_thread::sleep_for(10s);
    graph.Stop();
    EXPECT_FALSE(graph.Failed()) << graph.LastError();
}

// A numbered camera at 30 frames a second: about 300 frames in ten seconds,
// each one the camera's own, none a repeat.
void ExpectAbout300DistinctFrames(const std::string& path) {
    const auto avi = testsupport::ReadAviVideoFrames(path);
    ASSERT_EQ(avi.error, "");
    EXPECT_EQ(avi.rate, 30u * avi.scale);
    EXPECT_NEAR(double(avi.frames), 300.0, 30.0);
    EXPECT_GE(avi.distinct, avi.frames * 9 / 10) << avi.frames << " frames";
}

constexpr int64_t At30 = 10000000 / 30;

// `graph` runs `source` into `grabber` on the pin of `category`.
::testing::AssertionResult RunGrabbing(platform::FilterGraph& graph, platform::PinCategory category,
                                       const std::shared_ptr<platform::SourceFilter>& source,
                                       const std::shared_ptr<platform::SampleGrabber>& grabber) {
    graph.Activate();
    platform::CaptureGraphBuilder builder(graph);
    if (!builder.RenderStream(category, platform::MajorType::None, source, grabber, nullptr))
        return ::testing::AssertionFailure() << "the builder refused the connection";
    if (!graph.Run()) return ::testing::AssertionFailure() << graph.LastError();
    return ::testing::AssertionSuccess();
}

// A numbered camera of `offers` at w x h: each native type is listed at its
// own rate, RGB24 at 30, and ten seconds recorded hold about 300 distinct frames.
void ExpectListedAndRecordedAt30(int w, int h, const std::vector<PipeWireCameraMode::Offer>& offers) {
    PipeWireCameraMode mode;
    mode.width = w;
    mode.height = h;
    mode.offers = offers;
    mode.numbered = true;
    PrivatePipeWireCamera camera(mode);
    REALDEV_START(camera.Start());
    testsupport::ScopedEnvSet cameraEnv(camera.ClientEnv());

    auto device = Find(platform::DeviceCategory::VideoInput, PrivatePipeWireCamera::Description);
    ASSERT_TRUE(device) << Joined(Names(platform::DeviceCategory::VideoInput));
    platform::SourceFilter probe;
    ASSERT_TRUE(probe.SetDevice(*device));
    const auto types = probe.OutputPin()->EnumMediaTypes();
    EXPECT_EQ(ListedFrameTime(types, platform::SubType::RGB24, w, h), At30);
    for (const auto& offer : offers)
        EXPECT_EQ(ListedFrameTime(types, offer.jpeg ? platform::SubType::MJPG : platform::SubType::YUY2, w, h),
                  10000000 / offer.fps);

    testsupport::TempDir dir;
    const std::string path = dir / "OCL-camera.avi";
    RecordTenSeconds(*device, w, h, path);
    ExpectAbout300DistinctFrames(path);
}

}  // namespace

TEST(RealDevices, TheCaptureLayerListsTheVirtualMicrophoneAndThePipeWireCamera) {
    RealOnly realOnly;
    PrivatePulse pulse;
    REALDEV_START(pulse.Start());
    PrivatePipeWireCamera camera;
    REALDEV_START(camera.Start());
    testsupport::ScopedEnvSet pulseEnv(pulse.ClientEnv());
    testsupport::ScopedEnvSet cameraEnv(camera.ClientEnv());

    const auto audio = Names(platform::DeviceCategory::AudioInput);
    EXPECT_NE(std::find(audio.begin(), audio.end(), PrivatePulse::SourceDescription), audio.end()) << Joined(audio);
    // The null sink's monitor is an output's monitor: not a microphone.
    for (const auto& n : audio) EXPECT_EQ(n.find("Monitor of"), std::string::npos) << Joined(audio);
    const auto video = Names(platform::DeviceCategory::VideoInput);
    EXPECT_NE(std::find(video.begin(), video.end(), PrivatePipeWireCamera::Description), video.end())
        << Joined(video);

    // The camera offers its YUY2 320x240 as RGB24 (converted) and as itself.
    platform::SourceFilter source;
    auto device = Find(platform::DeviceCategory::VideoInput, PrivatePipeWireCamera::Description);
    ASSERT_TRUE(device);
    ASSERT_TRUE(source.SetDevice(*device));
    ASSERT_TRUE(source.OutputPin());
    const auto types = source.OutputPin()->EnumMediaTypes();
    ASSERT_FALSE(types.empty());
    auto first = platform::ReadVideoFormat(types.front());
    ASSERT_TRUE(first);
    EXPECT_EQ(first->subtype, platform::SubType::RGB24);
    EXPECT_EQ(first->width, PrivatePipeWireCamera::Width);
    EXPECT_EQ(first->height, PrivatePipeWireCamera::Height);
}

TEST(RealDevices, AGrabberOnTheRealMicrophoneReceivesPcmAndHearsTheBursts) {
    RealOnly realOnly;
    PrivatePulse pulse;
    REALDEV_START(pulse.Start());
    testsupport::ScopedEnvSet pulseEnv(pulse.ClientEnv());

    auto device = Find(platform::DeviceCategory::AudioInput, PrivatePulse::SourceDescription);
    ASSERT_TRUE(device) << Joined(Names(platform::DeviceCategory::AudioInput));
    auto source = std::make_shared<platform::SourceFilter>();
    ASSERT_TRUE(source->SetDevice(*device));
    const platform::MediaType pcm = platform::MakePcmAudioType(44100, 16, 1);
    ASSERT_TRUE(source->OutputPin()->SetFormat(pcm));
    auto grabber = std::make_shared<platform::SampleGrabber>();
    grabber->SetMediaType(pcm);
    std::mutex mutex;
    std::vector<uint8_t> heard;
    std::atomic<size_t> bytes{0};
    size_t smallest = SIZE_MAX, largest = 0;  // under mutex
    grabber->SetCallback([&](const uint8_t* data, size_t length) {
        std::lock_guard lock(mutex);
        heard.insert(heard.end(), data, data + length);
        bytes += length;
        smallest = std::min(smallest, length);
        largest = std::max(largest, length);
    });

    platform::FilterGraph graph;
    ASSERT_TRUE(RunGrabbing(graph, platform::PinCategory::None, source, grabber));

    // A second of sound arrives.
    EXPECT_TRUE(WaitUntil([&] { return bytes.load() >= 44100 * 2; }, 10s))
        << bytes.load() << " bytes; " << graph.LastError();
    auto connected = grabber->GetConnectedMediaType();
    ASSERT_TRUE(connected);
    auto wfx = platform::ReadAudioFormat(*connected);
    ASSERT_TRUE(wfx);
    EXPECT_EQ(wfx->nSamplesPerSec, 44100u);
    EXPECT_EQ(wfx->wBitsPerSample, 16);
    EXPECT_EQ(wfx->nChannels, 1);
    {
        // Quiet so far: the feeder's noise floor.
        std::lock_guard lock(mutex);
        EXPECT_LT(Peak(heard), 3 * PrivatePulse::QuietAmplitude);
        heard.clear();
    }
    pulse.Burst(500ms);
    EXPECT_TRUE(WaitUntil(
        [&] {
            std::lock_guard lock(mutex);
            return Peak(heard) > PrivatePulse::LoudAmplitude / 2;
        },
        5s));
    EXPECT_FALSE(graph.Failed()) << graph.LastError();
    graph.Stop();
    grabber->SetCallback(nullptr);
    // PulseAudio's own 10 ms period never reaches the grabber: half a second does.
    std::lock_guard lock(mutex);
    EXPECT_EQ(smallest, size_t(44100 / 2 * 2));
    EXPECT_EQ(largest, size_t(44100 / 2 * 2));
}

TEST(RealDevices, AGrabberOnTheRealCameraReceivesRgb24DibFramesOfTheChosenSize) {
    RealOnly realOnly;
    PrivatePipeWireCamera camera;
    REALDEV_START(camera.Start());
    testsupport::ScopedEnvSet cameraEnv(camera.ClientEnv());

    auto device = Find(platform::DeviceCategory::VideoInput, PrivatePipeWireCamera::Description);
    ASSERT_TRUE(device) << Joined(Names(platform::DeviceCategory::VideoInput));
    auto source = std::make_shared<platform::SourceFilter>();
    ASSERT_TRUE(source->SetDevice(*device));
    const platform::MediaType rgb =
        platform::MakeRgbVideoType(platform::SubType::RGB24, PrivatePipeWireCamera::Width, PrivatePipeWireCamera::Height);
    ASSERT_TRUE(source->OutputPin()->SetFormat(rgb));
    auto grabber = std::make_shared<platform::SampleGrabber>();
    grabber->SetMediaType(rgb);

    platform::FilterGraph graph;
    ASSERT_TRUE(RunGrabbing(graph, platform::PinCategory::Preview, source, grabber));

    // Two seconds of frames at 15 a second.
    EXPECT_TRUE(WaitUntil([&] { return grabber->SampleCount() >= 20; }, 15s))
        << grabber->SampleCount() << " frames; " << graph.LastError() << "\n"
        << camera.Logs();
    auto connected = grabber->GetConnectedMediaType();
    ASSERT_TRUE(connected);
    auto vf = platform::ReadVideoFormat(*connected);
    ASSERT_TRUE(vf);
    EXPECT_EQ(vf->subtype, platform::SubType::RGB24);
    EXPECT_EQ(vf->width, 320);
    EXPECT_EQ(vf->height, 240);  // positive: bottom-up
    std::vector<uint8_t> frame;
    ASSERT_TRUE(grabber->GetCurrentBuffer(frame));
    ASSERT_EQ(frame.size(), size_t(320 * 240 * 3));
    // The scene's bright window is at the top left, its dark cupboard at the
    // bottom right: in a bottom-up DIB the window's rows come last.
    auto grey = [&](int x, int yTopDown) {
        const size_t row = size_t(239 - yTopDown);
        const uint8_t* p = frame.data() + row * 320 * 3 + size_t(x) * 3;
        return (int(p[0]) + p[1] + p[2]) / 3;
    };
    EXPECT_GT(grey(60, 70), 180);
    EXPECT_LT(grey(255, 190), 90);
    EXPECT_FALSE(graph.Failed()) << graph.LastError();
    graph.Stop();
}

// What the capture layer's device lists show when the servers lose their
// devices and get them back (the bench's Kill / Restart too).
TEST(RealDevices, DevicesLeaveTheListWhenTheirServersDieAndComeBackWithThem) {
    RealOnly realOnly;
    PrivatePulse pulse;
    REALDEV_START(pulse.Start());
    PrivatePipeWireCamera camera;
    REALDEV_START(camera.Start());
    testsupport::ScopedEnvSet pulseEnv(pulse.ClientEnv());
    testsupport::ScopedEnvSet cameraEnv(camera.ClientEnv());
    auto listed = [](platform::DeviceCategory category, const char* name) { return Find(category, name).has_value(); };
    using platform::DeviceCategory;

    pulse.Kill();
    EXPECT_FALSE(listed(DeviceCategory::AudioInput, PrivatePulse::SourceDescription));
    REALDEV_START(pulse.Restart());
    EXPECT_TRUE(listed(DeviceCategory::AudioInput, PrivatePulse::SourceDescription));

    // Only the virtual source unloaded: the sink's monitor stays, and it is no microphone.
    ASSERT_TRUE(pulse.UnloadVirtualSource());
    EXPECT_TRUE(Names(DeviceCategory::AudioInput).empty()) << Joined(Names(DeviceCategory::AudioInput));
    ASSERT_TRUE(pulse.LoadVirtualSource());
    EXPECT_TRUE(listed(DeviceCategory::AudioInput, PrivatePulse::SourceDescription));

    camera.KillProvider();
    EXPECT_TRUE(WaitUntil([&] { return !listed(DeviceCategory::VideoInput, PrivatePipeWireCamera::Description); }, 5s));
    REALDEV_START(camera.RestartProvider());
    EXPECT_TRUE(listed(DeviceCategory::VideoInput, PrivatePipeWireCamera::Description));

    camera.KillPipeWire();
    EXPECT_TRUE(WaitUntil([&] { return !listed(DeviceCategory::VideoInput, PrivatePipeWireCamera::Description); }, 5s));
}

TEST(RealDevices, AJpegPipeWireCameraIsListedAtItsRateAndTenSecondsHoldAbout300DistinctFrames) {
    RealOnly realOnly;
    ExpectListedAndRecordedAt30(640, 480, {{true, 30}});
}

TEST(RealDevices, ACameraOfferingYuy2At10AndJpegAt30ListsAndRecordsItsSizeAt30) {
    RealOnly realOnly;
    ExpectListedAndRecordedAt30(1280, 720, {{false, 10}, {true, 30}});
}

TEST(RealDevices, TheYuy2OfACameraOfferingYuy2AndJpegIsWhatTheCameraSendsWhenChosenOnThePin) {
    RealOnly realOnly;
    PipeWireCameraMode mode;
    mode.width = 1280;
    mode.height = 720;
    mode.offers = {{false, 10}, {true, 30}};
    PrivatePipeWireCamera camera(mode);
    REALDEV_START(camera.Start());
    testsupport::ScopedEnvSet cameraEnv(camera.ClientEnv());

    auto device = Find(platform::DeviceCategory::VideoInput, PrivatePipeWireCamera::Description);
    ASSERT_TRUE(device) << Joined(Names(platform::DeviceCategory::VideoInput));
    auto source = std::make_shared<platform::SourceFilter>();
    ASSERT_TRUE(source->SetDevice(*device));
    std::optional<platform::MediaType> yuy2;
    for (const auto& t : source->OutputPin()->EnumMediaTypes())
        if (t.subtype == platform::SubType::YUY2) yuy2 = t;
    ASSERT_TRUE(yuy2);
    ASSERT_TRUE(source->OutputPin()->SetFormat(*yuy2));
    auto grabber = std::make_shared<platform::SampleGrabber>();
    grabber->SetMediaType(platform::MakeRgbVideoType(platform::SubType::RGB24, 0, 0));

    platform::FilterGraph graph;
    ASSERT_TRUE(RunGrabbing(graph, platform::PinCategory::Preview, source, grabber));
    EXPECT_TRUE(WaitUntil([&] { return grabber->SampleCount() >= 3; }, 15s))
        << grabber->SampleCount() << " frames; " << graph.LastError() << "\n"
        << camera.Logs();
    // The node says which of its formats the consumer took.
    EXPECT_NE(camera.Logs().find("negotiated YUY2 1280x720 at 10 fps"), std::string::npos) << camera.Logs();
    std::vector<uint8_t> frame;
    ASSERT_TRUE(grabber->GetCurrentBuffer(frame));
    ASSERT_EQ(frame.size(), size_t(1280 * 720 * 3));
    const uint8_t* window = frame.data() + size_t(719 - 70) * 1280 * 3 + 60 * 3;  // bottom-up
    EXPECT_GT((int(window[0]) + window[1] + window[2]) / 3, 180);
    EXPECT_FALSE(graph.Failed()) << graph.LastError();
    graph.Stop();
}
