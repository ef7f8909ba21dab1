#include "capture/AudioDetector.h"

#include "platform/Tick.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

namespace {

using capture::AudioDetector;
using Bytes = std::vector<uint8_t>;

constexpr const char* kStereo16 = "PCM 44100 Hertz, 16 Bits, Stereo";
constexpr uint32_t kBase = 5'000'000;

Bytes Pcm16(const std::vector<int16_t>& samples) {
    Bytes out;
    for (int16_t s : samples) {
        out.push_back(static_cast<uint8_t>(s & 0xff));
        out.push_back(static_cast<uint8_t>((static_cast<uint16_t>(s) >> 8) & 0xff));
    }
    return out;
}
// Every sample of `frames` stereo frames at +/-magnitude (alternating sign).
Bytes Steady16(size_t frames, int16_t magnitude) {
    std::vector<int16_t> s(frames * 2);
    for (size_t i = 0; i < s.size(); ++i) s[i] = (i % 2) ? static_cast<int16_t>(-magnitude) : magnitude;
    return Pcm16(s);
}
// Trough `low`, peak `high`, between the first and last frame.
Bytes Range16(int16_t low, int16_t high) {
    return Pcm16({0, 0, low, high, low, low, 0, 0});
}

platform::MediaType WaveType(uint16_t channels, uint16_t bits) {
    platform::WAVEFORMATEX wf;
    wf.nChannels = channels;
    wf.wBitsPerSample = bits;
    wf.nSamplesPerSec = 44100;
    platform::MediaType type;
    type.majortype = platform::MajorType::Audio;
    type.subtype = platform::SubType::PCM;
    type.SetFormat(platform::FormatType::WaveFormatEx, wf);
    return type;
}

class AudioDetectorTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::SetTickForTests(kBase);
        det.SetEventCounters(counters.get());
        det.SetSelectedFormatText(kStereo16);
        det.SetHooks({[this] { ++calibrationStarts; }, [this] { ++verifyingStarts; }, {}});
    }
    void TearDown() override { platform::ClearTickForTests(); }

    void Feed(const Bytes& b) { det.AudioSampleGrabberBuffer(b.data(), b.size()); }
    void FeedAfter(uint32_t ms, const Bytes& b) {
        platform::AdvanceTickForTests(ms);
        Feed(b);
    }
    // Format check, warm-up and the 21 calibration buffers of `quiet`.
    void Calibrate(const Bytes& quiet, capture::AudioDetectorSettings s = {}) {
        det.SetSettings(s);
        det.Start();
        Feed(quiet);
        ASSERT_EQ(det.State, capture::WarmUp);
        FeedAfter(s.AttesaPerCalibrazioneAudio * 1000 + 1, quiet);
        ASSERT_EQ(det.State, capture::Calibrating);
        for (int i = 0; i < 20; ++i) FeedAfter(251, quiet);
        ASSERT_EQ(det.State, capture::Calibrating);
        FeedAfter(251, quiet);  // the 21st
        ASSERT_EQ(det.State, capture::Verifying);
    }
    void ReachMonitoring(const Bytes& quiet, capture::AudioDetectorSettings s = {}) {
        Calibrate(quiet, s);
        for (int i = 0; i < 19; ++i) FeedAfter(251, quiet);
        ASSERT_EQ(det.State, capture::Verifying);
        FeedAfter(251, quiet);
        ASSERT_EQ(det.State, capture::Monitoring);
    }

    std::unique_ptr<alarms::EventCounters> counters = std::make_unique<alarms::EventCounters>();
    AudioDetector det;
    int calibrationStarts = 0;
    int verifyingStarts = 0;
};

void Measuring(AudioDetector& d, uint16_t bits, uint16_t channels) {
    d.BitsPerSample = bits;
    d.Channels = channels;
}

TEST(MeasureLevel, MagnitudesPerFormatAndTheEdgeFramesAreNotRead) {
    platform::SetTickForTests(777);
    {
        AudioDetector d;
        Measuring(d, 16, 1);
        Bytes b = Pcm16({-32768, 100, -5, 32767, -32768});
        auto lv = d.MeasureLevel(b.data(), b.size());
        EXPECT_EQ(lv.peak, 32767);
        EXPECT_EQ(lv.trough, 5);
        b = Pcm16({0, -32768, 1, 0});
        EXPECT_EQ(d.MeasureLevel(b.data(), b.size()).peak, 32768);
        EXPECT_EQ(d.Stamp, 777u);
    }
    {
        AudioDetector d;
        Measuring(d, 16, 2);
        const Bytes b = Pcm16({30000, 30000, 7, -900, 30000, -30000});
        auto lv = d.MeasureLevel(b.data(), b.size());
        EXPECT_EQ(lv.peak, 900);
        EXPECT_EQ(lv.trough, 7);
    }
    {
        AudioDetector d;
        Measuring(d, 8, 1);
        const Bytes b = {255, 0, 128, 200, 0};
        auto lv = d.MeasureLevel(b.data(), b.size());
        EXPECT_EQ(lv.peak, 32768);  // |0 - 128| * 256
        EXPECT_EQ(lv.trough, 0);
        const Bytes top = {0, 255, 0};
        EXPECT_EQ(d.MeasureLevel(top.data(), top.size()).peak, 127 * 256);
    }
    {
        // Stereo 8-bit: the raw byte, so digital silence (128) reads 16384.
        AudioDetector d;
        Measuring(d, 8, 2);
        const Bytes b = {0, 255, 128, 128, 255, 255};
        auto lv = d.MeasureLevel(b.data(), b.size());
        EXPECT_EQ(lv.peak, 16384);
        EXPECT_EQ(lv.trough, 16384);
    }
    platform::ClearTickForTests();
}

TEST(MeasureLevel, NothingToReadGivesTheEmptyMeasure) {
    struct Case { uint16_t bits, channels; size_t length; } cases[] = {
        {16, 2, 8}, {16, 2, 11}, {16, 1, 5}, {8, 1, 2}, {8, 2, 5}, {16, 1, 0}};
    for (const auto& c : cases) {
        AudioDetector d;
        Measuring(d, c.bits, c.channels);
        const Bytes b(c.length, 0);
        auto lv = d.MeasureLevel(b.data(), b.size());
        EXPECT_EQ(lv.peak, 0) << c.bits << "/" << c.channels << "/" << c.length;
        EXPECT_EQ(lv.trough, 65535) << c.bits << "/" << c.channels << "/" << c.length;
    }
}

TEST_F(AudioDetectorTest, SilenceCalibratesToTheMarginForEverySensitivity) {
    const uint16_t margins[] = {655, 1311, 1966, 2621, 3277};
    for (int s = 1; s <= 5; ++s) {
        Calibrate(Steady16(64, 0), {3, 2, 2000, s});
        EXPECT_EQ(det.BandHigh, margins[s - 1]) << s;
        EXPECT_EQ(det.BandLow, 0) << s;
    }
    EXPECT_EQ(calibrationStarts, 5);
    EXPECT_EQ(verifyingStarts, 5);
}

TEST_F(AudioDetectorTest, WideningKeepsAnEdgeThatWouldLeaveTheScale) {
    Calibrate(Range16(5000, 9000));
    EXPECT_EQ(det.BandHigh, 9000 + 1311);
    EXPECT_EQ(det.BandLow, 5000 - 1311);
    Calibrate(Range16(1311, 2000));  // 1311 - 1311 is not above 0
    EXPECT_EQ(det.BandLow, 1311);
    Calibrate(Range16(1000, 2000), {3, 2, 2000, 100});  // margin of the whole scale
    EXPECT_EQ(det.BandHigh, 2000);
    EXPECT_EQ(det.BandLow, 1000);
}

TEST_F(AudioDetectorTest, ShortBuffersNeitherMoveTheBandNorMakeNoises) {
    const Bytes tiny(8, 0xff);
    ReachMonitoring(Range16(3000, 4000));
    for (int i = 0; i < 10; ++i) FeedAfter(251, tiny);
    EXPECT_EQ(det.BandHigh, 4000 + 1311);
    EXPECT_EQ(det.BandLow, 3000 - 1311);
    EXPECT_EQ(counters->Totals().TotalNoises, 0);
    EXPECT_EQ(det.Level, 0u);
}

TEST_F(AudioDetectorTest, BuffersCloserThanTheIntervalAreNotMeasured) {
    Calibrate(Steady16(16, 0));
    const int32_t counter = det.BufferCounter;
    const uint32_t stamp = det.Stamp;
    FeedAfter(250, Steady16(16, 30000));  // exactly 250 ms: not yet
    EXPECT_EQ(det.Stamp, stamp);
    EXPECT_EQ(det.BufferCounter, counter);
    EXPECT_EQ(det.State, capture::Verifying);
    FeedAfter(1, Steady16(16, 100));
    EXPECT_EQ(det.BufferCounter, counter + 1);
    EXPECT_EQ(det.Stamp, kBase + 3001 + 22 * 251u);
}

TEST_F(AudioDetectorTest, AFailedVerificationKeepsTheBandAndCalibratesAgain) {
    Calibrate(Steady16(16, 0));
    FeedAfter(251, Steady16(16, 2000));  // above 1311
    EXPECT_EQ(det.State, capture::Calibrating);
    EXPECT_EQ(det.BufferCounter, 0);
    EXPECT_EQ(det.BandHigh, 1311);
    FeedAfter(750, Steady16(16, 0));  // 500 ms pause, then the interval
    EXPECT_EQ(det.BufferCounter, 0);
    FeedAfter(1, Steady16(16, 500));
    EXPECT_EQ(det.BufferCounter, 1);
    for (int i = 0; i < 20; ++i) FeedAfter(251, Steady16(16, 0));
    EXPECT_EQ(det.State, capture::Verifying);
    EXPECT_EQ(det.BandHigh, 2 * 1311);  // margin added on top of the kept band
    EXPECT_EQ(det.BandLow, 0);
}

TEST_F(AudioDetectorTest, NoisesWithinTheWindowMakeAnEvent) {
    ReachMonitoring(Steady16(16, 100));
    const uint32_t first = platform::timeGetTime() + 300;
    FeedAfter(300, Steady16(16, 9000));
    EXPECT_EQ(counters->PendingCount(), 0);  // one noise of two
    FeedAfter(1900, Steady16(16, 12000));
    ASSERT_EQ(counters->PendingCount(), 1);
    ASSERT_TRUE(counters->TakeNextEvent(true));
    const alarms::EventRecord& e = counters->CurrentEvent();
    EXPECT_EQ(e.TipoEvento, alarms::EventoRumore);
    ASSERT_EQ(e.NoiseCount, 2);
    EXPECT_EQ(e.NoiseItems[0].peak, 12000);  // newest first
    EXPECT_EQ(e.NoiseItems[0].time, first + 1900);
    EXPECT_EQ(e.NoiseItems[1].peak, 9000);
    EXPECT_EQ(e.NoiseItems[1].time, first);
    EXPECT_EQ(e.NoiseItems[1].trough, 9000);

    FeedAfter(2101, Steady16(16, 9000));
    EXPECT_EQ(counters->PendingCount(), 0);
    EXPECT_EQ(counters->Totals().TotalNoises, 2);
}

TEST_F(AudioDetectorTest, TheIntervalAndTheWindowHoldAcrossTheTickWrap) {
    platform::SetTickForTests(0xFFFFFFFFu - 9000);  // the wrap falls inside the verifying pass
    ReachMonitoring(Steady16(16, 100));
    EXPECT_LT(platform::timeGetTime(), 10000u);

    platform::SetTickForTests(0xFFFFFFFFu - 14000);
    ReachMonitoring(Steady16(16, 100));
    ASSERT_GT(platform::timeGetTime(), 0xFFFFF000u);
    FeedAfter(251, Steady16(16, 9000));
    Feed(Steady16(16, 9000));  // same tick: skipped
    FeedAfter(1900, Steady16(16, 9000));  // after the wrap
    EXPECT_EQ(counters->Totals().TotalNoises, 2);
}

TEST_F(AudioDetectorTest, TheZeroedRingIsNoEarlierNoiseAfterTheWrap) {
    platform::SetTickForTests(0xFFFFFFFFu - 12000);
    ReachMonitoring(Steady16(16, 100));
    ASSERT_LT(platform::timeGetTime(), 1700u);
    FeedAfter(251, Steady16(16, 9000));
    EXPECT_EQ(counters->Totals().TotalNoises, 0);
}

TEST_F(AudioDetectorTest, MinimumAboveTheRingIsHeldToAHundred) {
    ReachMonitoring(Steady16(16, 100), {3, 150, 60000, 2});
    EXPECT_EQ(det.MinNoises, 100);
    for (int i = 0; i < 99; ++i) FeedAfter(251, Steady16(16, 9000));
    EXPECT_EQ(counters->PendingCount(), 0);
    FeedAfter(251, Steady16(16, 9000));
    ASSERT_TRUE(counters->TakeNextEvent(true));
    EXPECT_EQ(counters->CurrentEvent().NoiseCount, 100);
}

TEST_F(AudioDetectorTest, NothingIsMeasuredWhileTheAlarmSounds) {
    ReachMonitoring(Steady16(16, 100), {3, 1, 2000, 2});
    const uint32_t level = det.Level;
    const uint32_t stamp = det.Stamp;
    det.SoundAlarmPlaying = true;
    for (int i = 0; i < 5; ++i) FeedAfter(300, Steady16(16, 30000));
    EXPECT_EQ(det.Level, level);
    EXPECT_EQ(det.Stamp, stamp);
    det.SoundAlarmPlaying = false;
    FeedAfter(300, Steady16(16, 30000));
    EXPECT_EQ(det.Level, 30000u);
    EXPECT_EQ(counters->Totals().TotalNoises, 1);  // N = 1: every noise is an event
}

TEST_F(AudioDetectorTest, UnsupportedFormatWaitsForTheBoxToBeDismissed) {
    for (const auto& type : {WaveType(2, 24), WaveType(4, 16)}) {
        std::vector<std::function<void()>> shown;
        det.SetHooks({{}, {}, [&](std::function<void()> dismissed) { shown.push_back(dismissed); }});
        det.SetConnectedMediaType([type] { return type; });
        det.Start();
        Feed(Steady16(16, 0));
        FeedAfter(5000, Steady16(16, 0));
        ASSERT_EQ(shown.size(), 1u);
        EXPECT_EQ(det.Busy, 1);
        EXPECT_EQ(det.State, capture::CheckFormat);
        shown[0]();
        EXPECT_EQ(det.State, capture::Idle);
        EXPECT_EQ(det.Busy, 0);
    }
    // A box closed after a new start leaves the new run alone.
    std::function<void()> late;
    det.SetHooks({{}, {}, [&](std::function<void()> dismissed) { late = dismissed; }});
    det.Start();
    Feed(Steady16(16, 0));
    det.Stop();
    det.SetConnectedMediaType({});
    det.Start();
    late();
    Feed(Steady16(16, 0));
    EXPECT_EQ(det.State, capture::WarmUp);
}

TEST_F(AudioDetectorTest, FormatComesFromTheMediaTypeElseFromTheEntryText) {
    det.SetConnectedMediaType([] { return WaveType(1, 8); });
    det.Start();
    Feed({});
    EXPECT_EQ(det.BitsPerSample, 8);
    EXPECT_EQ(det.Channels, 1);

    auto notAudio = WaveType(1, 8);
    notAudio.majortype = platform::MajorType::Video;
    auto shortBlock = WaveType(1, 8);
    shortBlock.pbFormat.resize(14);
    for (const auto& type : {notAudio, shortBlock}) {
        det.SetConnectedMediaType([type] { return type; });
        det.Start();
        Feed({});
        EXPECT_EQ(det.BitsPerSample, 16);
        EXPECT_EQ(det.Channels, 2);
    }
    det.SetConnectedMediaType({});
    det.SetSelectedFormatText("PCM 22050 Hertz, 8 Bits, Mono");
    det.Start();
    Feed({});
    EXPECT_EQ(det.BitsPerSample, 8);
    EXPECT_EQ(det.Channels, 1);
    det.SetSelectedFormatText("PCM 96000 Hertz, 24 Bits, Stereo");
    det.SetHooks({});
    det.Start();
    Feed({});
    EXPECT_EQ(det.State, capture::Idle);  // refused without a box to wait for
    EXPECT_EQ(det.Busy, 0);
}

TEST_F(AudioDetectorTest, PreviewOnlyFeedsTheLevel) {
    det.StartLevelOnly();
    Feed(Steady16(16, 0));
    EXPECT_EQ(det.State, capture::LevelOnly);
    FeedAfter(3000, Steady16(16, 25000));  // waits out the calibration delay
    EXPECT_EQ(det.Level, 0u);
    FeedAfter(252, Steady16(16, 25000));
    EXPECT_EQ(det.Level, 25000u);
    for (int i = 0; i < 30; ++i) FeedAfter(251, Steady16(16, static_cast<int16_t>(i * 1000)));
    EXPECT_EQ(det.State, capture::LevelOnly);
    EXPECT_EQ(det.BandHigh, 0);
    EXPECT_EQ(det.BandLow, 65535);
    EXPECT_EQ(counters->Totals().TotalNoises, 0);
    EXPECT_EQ(calibrationStarts, 0);
}

TEST_F(AudioDetectorTest, ResumePutsTheNextMeasurementAtLeast750msAway) {
    ReachMonitoring(Steady16(16, 100));
    const uint8_t saved = det.Pause();
    EXPECT_EQ(det.State, capture::Idle);
    FeedAfter(5000, Steady16(16, 9000));
    det.Resume(saved);
    EXPECT_EQ(det.State, capture::Monitoring);
    FeedAfter(750, Steady16(16, 9000));
    EXPECT_EQ(det.Level, 100u);
    FeedAfter(1, Steady16(16, 9000));
    EXPECT_EQ(det.Level, 9000u);
}

TEST(AudioDetectorStress, OddLengthsNeverReadPastTheEnd) {
    std::mt19937 random(7);
    for (uint16_t bits : {8, 16}) {
        for (uint16_t channels : {1, 2}) {
            AudioDetector d;
        Measuring(d, bits, channels);
            for (size_t length = 0; length <= 40; ++length) {
                // Exactly `length` bytes on the heap, so a read beyond them trips ASan.
                std::unique_ptr<uint8_t[]> buffer(new uint8_t[length == 0 ? 1 : length]);
                for (int round = 0; round < 50; ++round) {
                    for (size_t i = 0; i < length; ++i) buffer[i] = static_cast<uint8_t>(random());
                    const auto lv = d.MeasureLevel(length ? buffer.get() : nullptr, length);
                    EXPECT_LE(lv.peak, 32768);
                    const size_t frames = length / (bits / 8 * channels);
                    EXPECT_EQ(lv.trough == 65535, frames < 3) << bits << "/" << channels << "/" << length;
                }
            }
        }
    }
}

TEST(AudioDetectorThreads, TheMainThreadReadsWhileTheStreamRuns) {
    AudioDetector d;
    d.SetSelectedFormatText(kStereo16);
    d.SetSettings({0, 2, 2000, 2});
    platform::SetTickForTests(kBase);
    d.Start();
    std::atomic<bool> done{false}, reading{false};
    std::thread stream([&] {
        while (!reading) std::this_thread::yield();  // overlap with the reader, however the threads are scheduled
        const Bytes b = Steady16(32, 200);
        for (int i = 0; i < 2000; ++i) {
            platform::AdvanceTickForTests(300);
            d.AudioSampleGrabberBuffer(b.data(), b.size());
        }
        done = true;
    });
    int reads = 0;
    reading = true;
    do {
        const auto view = capture::ComposeAudioPrecision(d.ReadProgress());
        if (view.progress) {
            EXPECT_LE(*view.progress, 100);
        }
        EXPECT_LE(d.Level.load(), 200u);
        ++reads;
    } while (!done);
    stream.join();
    EXPECT_EQ(d.State, capture::Monitoring);
    d.Stop();
    platform::ClearTickForTests();
    EXPECT_GT(reads, 0);
}

TEST(AudioPrecisionDisplay, SpreadPrecisionAndRounding) {
    EXPECT_EQ(capture::AudioBandSpread(1311, 0), 1311);
    EXPECT_EQ(capture::AudioBandSpread(0, 65535), 1);  // before the first buffer
    EXPECT_EQ(capture::AudioBandSpread(40000, 0), 32768);
    EXPECT_EQ(capture::AudioPrecision(32768, 0), 320);
    EXPECT_EQ(capture::AudioPrecisionPercent(32768, 0), 1);
    EXPECT_EQ(capture::AudioPrecisionPercent(0, 0), 100);
    EXPECT_EQ(capture::AudioPrecisionPercent(1311, 0), 96);  // 95.999...
    EXPECT_EQ(capture::AudioPrecisionPercent(32768 - 4096, 0), 12);   // 12.5
    EXPECT_EQ(capture::AudioPrecisionPercent(32768 - 12288, 0), 38);  // 37.5
    // 1/20 * 50 = 2.5, 3/20 * 50 = 7.5
    EXPECT_EQ(capture::AudioProgressPosition(capture::Calibrating, 1), 2);
    EXPECT_EQ(capture::AudioProgressPosition(capture::Calibrating, 3), 8);
    EXPECT_EQ(capture::AudioProgressPosition(capture::Verifying, 20), 100);
    EXPECT_EQ(capture::AudioProgressPosition(capture::Verifying, -1), std::nullopt);
    EXPECT_EQ(capture::AudioProgressPosition(capture::Monitoring, 5), std::nullopt);
    EXPECT_EQ(capture::AudioPrecisionLabel(96), "Precisione del dispositivo audio: 96 %");
}

TEST(AudioPrecisionDisplay, WhatEachStateShows) {
    using Action = capture::AudioPrecisionView::Action;
    auto cal = capture::ComposeAudioPrecision({capture::Calibrating, 1311, 0, 10});
    EXPECT_EQ(cal.action, Action::Update);
    EXPECT_EQ(cal.indicator, 96);
    EXPECT_EQ(cal.label, "Precisione del dispositivo audio: 96 %");
    EXPECT_EQ(cal.progress, 25);
    auto ver = capture::ComposeAudioPrecision({capture::Verifying, 1311, 0, 10});
    EXPECT_EQ(ver.action, Action::Update);
    EXPECT_FALSE(ver.indicator);
    EXPECT_EQ(ver.progress, 75);
    EXPECT_EQ(capture::ComposeAudioPrecision({capture::Idle, 0, 0, 0}).action, Action::Close);
    EXPECT_EQ(capture::ComposeAudioPrecision({capture::Monitoring, 0, 0, 0}).action, Action::Close);
    EXPECT_EQ(capture::ComposeAudioPrecision({capture::WarmUp, 0, 0, 0}).action, Action::None);
}

}  // namespace
