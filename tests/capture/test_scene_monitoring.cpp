// Both detectors on minutes of the built-in test scene, in virtual time: the
// camera's frames and the microphone's sound are rendered as the grabbers
// deliver them, and the tick moves with the scene's clock, so five minutes
// of monitoring take seconds.

#include "alarms/EventCounters.h"
#include "capture/AudioDetector.h"
#include "capture/FormatLists.h"
#include "capture/VideoDetector.h"
#include "core/Globali.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"
#include "platform/Tick.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

constexpr uint64_t kFiveMinutesMs = 5 * 60 * 1000;
constexpr int kCameraFps = 15;
// The capture layer hands the noise detector half a second of sound at a time.
constexpr uint64_t kAudioBufferMs = 500;
// The tick wraps two and a half minutes in, as it does after 49 days of uptime.
constexpr uint32_t kTickAtStart = 0xFFFFFFFFu - 150000;

struct Formats {
    int width, height;            // RGB24 frames
    int rate, bits, channels;     // PCM
};
// What the main window preselects for the test devices.
constexpr Formats kPreselected{352, 288, 44100, 16, 2};

std::ostream& operator<<(std::ostream& out, const Formats& f) {
    return out << f.width << "x" << f.height << ", " << f.rate << " Hz " << f.bits << " bits "
               << f.channels << " ch";
}

struct SceneEvent {
    uint8_t kind;
    uint64_t ms;  // scene time of its newest item
};

struct SceneRun {
    std::vector<SceneEvent> events;
    std::optional<uint64_t> videoMonitoringAt, audioMonitoringAt;  // scene ms
    // A detector that reached Monitoring and later left it.
    bool videoLeft = false, audioLeft = false;

    std::vector<uint64_t> Times(uint8_t kind) const {
        std::vector<uint64_t> t;
        for (const SceneEvent& e : events)
            if (e.kind == kind) t.push_back(e.ms);
        return t;
    }
};

uint64_t SceneMs(uint32_t tick) { return static_cast<uint32_t>(tick - kTickAtStart); }

// Video frame n of the test camera is rendered at scene time n x 1000 / 15 ms
// and reaches the grabber as a bottom-up BGR DIB; audio buffer k holds the
// frames of [k x 500, (k + 1) x 500) ms and is delivered once complete. The
// detectors take the main window's default settings.
SceneRun RunScene(const platform::TestSceneConfig& scene, const Formats& f, uint64_t durationMs) {
    SceneRun run;
    alarms::EventCounters counters;
    const TSettings defaults;

    const platform::MediaType videoType = platform::MakeRgbVideoType(
        platform::SubType::RGB24, f.width, f.height, 10000000 / kCameraFps);
    const auto videoSettings = capture::VideoDetectorSettings::From(defaults);
    capture::VideoDetector video;
    video.Configure(videoSettings, [videoType] { return std::optional(videoType); },
                    capture::VideoEntryText(videoType), &counters);

    const platform::MediaType audioType = platform::MakePcmAudioType(f.rate, f.bits, f.channels);
    capture::AudioDetector audio;
    audio.SetSettings(capture::AudioDetectorSettings::From(defaults));
    audio.SetConnectedMediaType([audioType] { return std::optional(audioType); });
    audio.SetSelectedFormatText(capture::AudioEntryText(audioType));
    audio.SetEventCounters(&counters);

    platform::TestCameraScene camera(f.width, f.height, scene);
    platform::TestMicrophoneScene microphone(f.rate, f.channels, f.bits, scene);
    const int rowBytes = f.width * 3;
    const uint32_t dibStride = platform::DibStride(f.width, 24);
    std::vector<uint8_t> rendered(static_cast<size_t>(rowBytes) * f.height);
    std::vector<uint8_t> dib(static_cast<size_t>(dibStride) * f.height);
    const size_t bufferFrames = static_cast<size_t>(f.rate) * kAudioBufferMs / 1000;
    std::vector<uint8_t> pcm(bufferFrames * f.channels * (f.bits / 8));

    platform::SetTickForTests(kTickAtStart);
    video.Start();
    audio.Start();

    auto follow = [](uint8_t state, std::optional<uint64_t>& reached, bool& left, uint64_t now) {
        if (state == capture::Monitoring && !reached) reached = now;
        if (state != capture::Monitoring && reached) left = true;
    };

    uint64_t frame = 0, buffer = 0;
    for (;;) {
        const uint64_t frameMs = frame * 1000 / kCameraFps;
        const uint64_t bufferEndMs = (buffer + 1) * kAudioBufferMs;
        const uint64_t now = std::min(frameMs, bufferEndMs);
        if (now >= durationMs) break;
        platform::SetTickForTests(static_cast<uint32_t>(kTickAtStart + now));
        if (frameMs <= bufferEndMs) {
            camera.Render(frameMs, rendered.data(), rowBytes);
            for (int y = 0; y < f.height; ++y)
                std::memcpy(dib.data() + static_cast<size_t>(f.height - 1 - y) * dibStride,
                            rendered.data() + static_cast<size_t>(y) * rowBytes, rowBytes);
            video.VideoSampleGrabberBuffer(dib.data(), dib.size());
            follow(video.State.load(), run.videoMonitoringAt, run.videoLeft, now);
            ++frame;
        } else {
            microphone.Render(buffer * bufferFrames, bufferFrames, pcm.data());
            audio.AudioSampleGrabberBuffer(pcm.data(), pcm.size());
            follow(audio.State.load(), run.audioMonitoringAt, run.audioLeft, now);
            ++buffer;
        }
        // The main window takes one event per tick of its timer; here every
        // event is taken as soon as it is appended, so none is lost.
        while (counters.TakeNextEvent(true)) {
            const alarms::EventRecord& e = counters.CurrentEvent();
            const uint32_t newest =
                e.TipoEvento == alarms::EventoMovimento ? e.MovementItems[0].time : e.NoiseItems[0].time;
            run.events.push_back({e.TipoEvento, SceneMs(newest)});
        }
    }
    platform::ClearTickForTests();
    return run;
}

// The detectors calibrate within the first minute of the scene; the rest is
// monitoring.
constexpr uint64_t kCalibratedWithinMs = 60000;

class QuietScene : public ::testing::TestWithParam<Formats> {};

TEST_P(QuietScene, BothDetectorsMonitorFiveMinutesWithoutAnEvent) {
    platform::TestSceneConfig quiet;
    quiet.intruderPeriodMs = 3600 * 1000;  // the first intruder would come after an hour
    const SceneRun run = RunScene(quiet, GetParam(), kFiveMinutesMs);

    ASSERT_TRUE(run.videoMonitoringAt.has_value());
    ASSERT_TRUE(run.audioMonitoringAt.has_value());
    EXPECT_LT(*run.videoMonitoringAt, kCalibratedWithinMs);
    EXPECT_LT(*run.audioMonitoringAt, kCalibratedWithinMs);
    EXPECT_FALSE(run.videoLeft);
    EXPECT_FALSE(run.audioLeft);
    EXPECT_TRUE(run.Times(alarms::EventoMovimento).empty()) << run.Times(alarms::EventoMovimento).front();
    EXPECT_TRUE(run.Times(alarms::EventoRumore).empty()) << run.Times(alarms::EventoRumore).front();
    ::testing::Test::RecordProperty("videoMonitoringMs", std::to_string(*run.videoMonitoringAt));
    ::testing::Test::RecordProperty("audioMonitoringMs", std::to_string(*run.audioMonitoringAt));
}

// The harness must be able to fail the test above: with an intruder every
// minute, each one becomes a movement event and a noise event, and nothing
// else does.
TEST_P(QuietScene, EveryIntruderOfTheSameSceneIsReported) {
    platform::TestSceneConfig scene;
    scene.intruderPeriodMs = 60000;
    const SceneRun run = RunScene(scene, GetParam(), kFiveMinutesMs);

    ASSERT_TRUE(run.videoMonitoringAt.has_value());
    ASSERT_TRUE(run.audioMonitoringAt.has_value());
    ASSERT_LT(*run.videoMonitoringAt, scene.intruderPeriodMs);
    ASSERT_LT(*run.audioMonitoringAt, scene.intruderPeriodMs);
    EXPECT_FALSE(run.videoLeft);
    EXPECT_FALSE(run.audioLeft);

    // A noise is stamped when its buffer is measured, up to one buffer after
    // the sound.
    auto during = [](uint64_t ms, uint64_t start, uint64_t length, uint64_t late) {
        return ms >= start && ms < start + length + late;
    };
    int intruders = 0;
    for (uint64_t start = scene.intruderPeriodMs; start + scene.intruderVideoMs <= kFiveMinutesMs;
         start += scene.intruderPeriodMs, ++intruders) {
        const auto moves = run.Times(alarms::EventoMovimento), noises = run.Times(alarms::EventoRumore);
        EXPECT_TRUE(std::any_of(moves.begin(), moves.end(),
                                [&](uint64_t ms) { return during(ms, start, scene.intruderVideoMs, 0); }))
            << "no movement for the intruder at " << start << " ms";
        EXPECT_TRUE(std::any_of(noises.begin(), noises.end(), [&](uint64_t ms) {
            return during(ms, start, scene.intruderSoundMs, kAudioBufferMs + 1);
        })) << "no noise for the intruder at " << start << " ms";
    }
    EXPECT_EQ(intruders, 4);
    for (const SceneEvent& e : run.events) {
        const uint64_t start = e.ms / scene.intruderPeriodMs * scene.intruderPeriodMs;
        if (e.kind == alarms::EventoMovimento)
            EXPECT_TRUE(during(e.ms, start, scene.intruderVideoMs, 0)) << "movement at " << e.ms << " ms";
        else
            EXPECT_TRUE(during(e.ms, start, scene.intruderSoundMs, kAudioBufferMs + 1))
                << "noise at " << e.ms << " ms";
    }
}

// The preselected formats, the smallest frames with the coarsest sound, and
// the largest frames with 8-bit stereo (measured on the raw bytes).
INSTANTIATE_TEST_SUITE_P(Devices, QuietScene,
                         ::testing::Values(kPreselected, Formats{160, 120, 22050, 8, 1},
                                           Formats{640, 480, 44100, 8, 2}));

}  // namespace
