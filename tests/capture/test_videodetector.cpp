#include "capture/VideoDetector.h"
#include "platform/Tick.h"

#include <atomic>
#include <chrono>
#include <gtest/gtest.h>
#include <thread>
#include <vector>

namespace {

using capture::VideoDetector;

// A DIB-like frame: rows of Width x bytes per pixel, no padding.
struct Frame {
    int w, h, bpp;
    std::vector<uint8_t> bytes;
    Frame(int w_, int h_, int bpp_, uint8_t grey = 100)
        : w(w_), h(h_), bpp(bpp_), bytes(size_t(w_) * h_ * (bpp_ / 8)) {
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) Set(x, y, grey, grey, grey);
    }
    void Set(int x, int y, uint8_t b, uint8_t g, uint8_t r) {
        uint8_t* p = &bytes[(size_t(y) * w + x) * (bpp / 8)];
        if (bpp == 16) {
            const unsigned v = (b & 31) | (g & 31) << 5 | (r & 31) << 10;
            p[0] = v & 0xFF;
            p[1] = v >> 8;
        } else {
            p[0] = b, p[1] = g, p[2] = r;
            if (bpp == 32) p[3] = 0xEE;
        }
    }
    // Changes the pixel that grid sample (c, r) reads, step `step`.
    void SetSample(int c, int r, int step, uint8_t v) { Set(c * step, r * step, v, v, v); }
};

platform::MediaType VideoInfo(int w, int h, int bits, bool second = false) {
    platform::MediaType t;
    t.majortype = platform::MajorType::Video;
    platform::BITMAPINFOHEADER bih;
    bih.biWidth = w, bih.biHeight = h, bih.biBitCount = static_cast<uint16_t>(bits);
    if (second) {
        platform::VIDEOINFOHEADER2 v;
        v.bmiHeader = bih;
        t.SetFormat(platform::FormatType::VideoInfo2, v);
    } else {
        platform::VIDEOINFOHEADER v;
        v.bmiHeader = bih;
        t.SetFormat(platform::FormatType::VideoInfo, v);
    }
    return t;
}

class VideoDetectorTest : public ::testing::Test {
protected:
    void SetUp() override { platform::SetTickForTests(1000000); }
    void TearDown() override { platform::ClearTickForTests(); }

    void Start(std::optional<platform::MediaType> type, const std::string& entry = "") {
        det.Configure(settings, [type] { return type; }, entry, &counters);
        det.Start();
    }
    void Feed(const Frame& f, uint32_t advance = 260) {
        platform::AdvanceTickForTests(advance);
        det.VideoSampleGrabberBuffer(f.bytes.data(), f.bytes.size());
    }
    // Format check, then the warm-up (AttesaPerCalibrazioneVideo = 0).
    void ReachCalibrating(const Frame& f) {
        Start(VideoInfo(f.w, f.h, f.bpp));
        Feed(f, 0);
        Feed(f, 1);
        ASSERT_EQ(det.State, capture::Calibrating);
    }
    int AnalysedUntil(const Frame& f, uint8_t state) {
        int frames = 0;
        while (det.State != state && frames < 1000) Feed(f), ++frames;
        return frames;
    }
    void ReachMonitoring(const Frame& f) {
        ReachCalibrating(f);
        AnalysedUntil(f, capture::Monitoring);
        ASSERT_EQ(det.State, capture::Monitoring);
    }
    int Pending() { return counters.PendingCount(); }

    capture::VideoDetectorSettings settings{0, 1, 4000, 3};
    alarms::EventCounters counters;
    VideoDetector det;
};

struct Grid { int w, h, step, cols, rows; };
class GridSizes : public VideoDetectorTest, public ::testing::WithParamInterface<Grid> {};
TEST_P(GridSizes, StepAndGridFromTheWidth) {
    const Grid g = GetParam();
    Start(VideoInfo(g.w, g.h, 24));
    det.VideoSampleGrabberBuffer(nullptr, 0);
    EXPECT_EQ(det.State, capture::WarmUp);
    EXPECT_EQ(det.Step, g.step);
    EXPECT_EQ(det.Cols, g.cols);
    EXPECT_EQ(det.Rows, g.rows);
    EXPECT_EQ(det.RingBytes, g.cols * g.rows * 3 * 20);
}
INSTANTIATE_TEST_SUITE_P(Sizes, GridSizes,
                         ::testing::Values(Grid{160, 120, 2, 80, 60}, Grid{320, 240, 4, 80, 60},
                                           Grid{352, 288, 4, 88, 72}, Grid{640, 480, 6, 106, 80},
                                           Grid{1280, 1024, 12, 106, 85}));

TEST(VideoFormat, EntryTextFallback) {
    auto f = capture::FormatFromEntryText("RGB 640x480, 32 bits");
    EXPECT_EQ(f.bitsPerPixel, 32);
    EXPECT_EQ(f.width, 640);
    EXPECT_EQ(f.height, 480);
    f = capture::FormatFromEntryText("RGB abcx240, 16 bits");
    EXPECT_EQ(f.bitsPerPixel, 16);
    EXPECT_EQ(f.width, 352);
    EXPECT_EQ(f.height, 240);
    f = capture::FormatFromEntryText("RGB 320x??, 24 bits");
    EXPECT_EQ(f.width, 320);
    EXPECT_EQ(f.height, 288);
    EXPECT_EQ(capture::FormatFromEntryText("I420 320x240, 12 bits").bitsPerPixel, 0);
    EXPECT_EQ(capture::FormatFromEntryText("").width, 352);
}

TEST(VideoFormat, MediaTypeBlocksAndTheirSizes) {
    auto f = capture::FormatFromMediaType(VideoInfo(320, -240, 15, true));
    EXPECT_EQ(f.bitsPerPixel, 16);
    EXPECT_EQ(f.height, 240);  // top-down rows still make a positive grid
    platform::MediaType odd = VideoInfo(320, 240, 24);
    odd.pbFormat.resize(87);
    EXPECT_EQ(capture::FormatFromMediaType(odd).bitsPerPixel, 0);
    odd = VideoInfo(320, 240, 24);
    odd.majortype = platform::MajorType::Audio;
    EXPECT_EQ(capture::FormatFromMediaType(odd).bitsPerPixel, 0);
}

TEST_F(VideoDetectorTest, EntryTextUsedWhenTheGrabberHasNoType) {
    Start(std::nullopt, "RGB 640x480, 32 bits");
    det.VideoSampleGrabberBuffer(nullptr, 0);
    EXPECT_EQ(det.State, capture::WarmUp);
    EXPECT_EQ(det.BitsPerPixel, 32);
    EXPECT_EQ(det.Cols, 106);
}

TEST_F(VideoDetectorTest, UnsupportedFormatStaysBusyUntilDismissed) {
    std::vector<std::function<void()>> shown;
    det.onUnsupportedFormat = [&](std::function<void()> dismissed) { shown.push_back(dismissed); };
    Start(VideoInfo(320, 240, 12));
    Frame f(320, 240, 24);
    Feed(f);
    Feed(f);
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(det.Busy, 1);
    EXPECT_EQ(det.State, capture::CheckFormat);
    shown[0]();
    EXPECT_EQ(det.Busy, 0);
    EXPECT_EQ(det.State, capture::Idle);

    // A box still open from an earlier run must not stop the next one.
    Start(VideoInfo(320, 240, 8));
    Feed(f);
    det.Stop();
    Start(VideoInfo(320, 240, 24));
    shown[1]();
    EXPECT_EQ(det.State, capture::CheckFormat);
    Feed(f);
    EXPECT_EQ(det.State, capture::WarmUp);
}

TEST_F(VideoDetectorTest, StopDuringTheFormatCheckWins) {
    det.Configure(settings, [this] { det.Stop(); return std::optional(VideoInfo(320, 240, 24)); }, "",
                  &counters);
    det.Start();
    det.VideoSampleGrabberBuffer(nullptr, 0);
    EXPECT_EQ(det.State, capture::Idle);
}

TEST_F(VideoDetectorTest, WarmUpWaitsForItsDeadline) {
    settings.AttesaPerCalibrazioneVideo = 3;
    Frame f(320, 240, 24);
    Start(VideoInfo(320, 240, 24));
    Feed(f, 0);
    Feed(f, 3000);
    EXPECT_EQ(det.State, capture::WarmUp);
    Feed(f, 1);
    EXPECT_EQ(det.State, capture::Calibrating);
    EXPECT_EQ(det.PixelThreshold, 1);
}

class SampleLayouts : public VideoDetectorTest, public ::testing::WithParamInterface<int> {};
TEST_P(SampleLayouts, FirstCalibratingFrameFillsTheRingAndIsQuiet) {
    const int bpp = GetParam();
    Frame f(320, 240, bpp);
    for (int y = 0; y < 240; ++y)
        for (int x = 0; x < 320; ++x) f.Set(x, y, x % 251, y % 241, (x + 3 * y) % 199);
    int started = 0;
    det.onCalibrationStarted = [&] { ++started; };
    ReachCalibrating(f);
    Feed(f);
    EXPECT_EQ(started, 1);
    EXPECT_EQ(det.FrameCounter, 1);
    EXPECT_EQ(det.PixelThreshold, 1);
    const int mask = bpp == 16 ? 31 : 255;
    for (int s = 0; s < 20; ++s)
        for (int r : {0, 7, 59})
            for (int c : {0, 13, 79}) {
                const uint8_t* p = det.Ring.get() + s * det.FrameBytes + (r * det.Cols + c) * 3;
                const int x = c * 4, y = r * 4;
                ASSERT_EQ(p[0], (x % 251) & mask);
                ASSERT_EQ(p[1], (y % 241) & mask);
                ASSERT_EQ(p[2], ((x + 3 * y) % 199) & mask);
            }
}
INSTANTIATE_TEST_SUITE_P(Bits, SampleLayouts, ::testing::Values(16, 24, 32));

TEST_F(VideoDetectorTest, IdenticalFramesCalibrateIn21AndVerifyIn41) {
    Frame f(320, 240, 24);
    // The second run's tick wraps past 2^32 on the way.
    for (uint32_t base : {1000000u, 0xFFFFFFFFu - 3106}) {
        platform::SetTickForTests(base);
        ReachCalibrating(f);
        // Exactly 250 ms after the last sampled frame is too soon.
        Feed(f, 250);
        EXPECT_EQ(det.FrameCounter, 0);
        Feed(f, 1);
        EXPECT_EQ(det.FrameCounter, 1);
        EXPECT_EQ(AnalysedUntil(f, capture::Verifying), 20);
        EXPECT_EQ(AnalysedUntil(f, capture::Monitoring), 41);
        EXPECT_EQ(det.PixelThreshold, 1);
    }
}

struct Scene {
    int bpp, offset;
    std::vector<int> thresholds;  // while disturbed
    int quiet, lowered;           // threshold once quiet, after a disturbed verification
};
class EquidistantScenes : public VideoDetectorTest, public ::testing::WithParamInterface<Scene> {};
TEST_P(EquidistantScenes, ThresholdRisesUntilTheSceneIsQuiet) {
    const Scene sc = GetParam();
    const int o = sc.offset, grey = sc.bpp == 16 ? 15 : 100;
    // Six frames that all differ pairwise by 2 x offset in every sample.
    const int offsets[6][3] = {{o, 0, 0}, {-o, 0, 0}, {0, o, 0}, {0, -o, 0}, {0, 0, o}, {0, 0, -o}};
    std::vector<Frame> cycle;
    for (auto& d : offsets) {
        cycle.emplace_back(320, 240, sc.bpp);
        for (int y = 0; y < 240; ++y)
            for (int x = 0; x < 320; ++x) cycle.back().Set(x, y, grey + d[0], grey + d[1], grey + d[2]);
    }
    ReachCalibrating(cycle[0]);
    Feed(cycle[0]);
    std::vector<int> seen;
    for (size_t i = 1; i <= sc.thresholds.size(); ++i) {
        seen.push_back(det.PixelThreshold);
        Feed(cycle[i % 6]);
        // A fully changed neighbourhood against the previous frame ends the
        // scan: the half ring was compared up to grid row 1 only.
        if (i == 1) {
            EXPECT_EQ(det.VotesHalf, 13);
        }
    }
    EXPECT_EQ(seen, sc.thresholds);
    EXPECT_EQ(det.PixelThreshold, sc.quiet);
    EXPECT_EQ(det.FrameCounter, 1);
    for (int i = 1; i <= 5; ++i) Feed(cycle[(sc.thresholds.size() + i) % 6]);
    EXPECT_EQ(det.FrameCounter, 6);
    EXPECT_EQ(det.PixelThreshold, sc.quiet);

    // A movement while verifying sends the detector back with a lower threshold.
    AnalysedUntil(cycle[0], capture::Verifying);
    Frame moved = cycle[0];
    for (int y = 0; y < 40; ++y)
        for (int x = 0; x < 40; ++x) moved.Set(x + 100, y + 100, 0, 0, 0);
    int started = 0;
    det.onCalibrationStarted = [&] { ++started; };
    Feed(moved);
    EXPECT_EQ(det.State, capture::Calibrating);
    EXPECT_EQ(det.PixelThreshold, sc.lowered);
    EXPECT_EQ(det.FrameCounter, 0);
    Feed(cycle[0], 1250);  // a second's pause first
    EXPECT_EQ(started, 0);
    Feed(cycle[0], 1);
    EXPECT_EQ(started, 1);  // the ring is refilled
}
INSTANTIATE_TEST_SUITE_P(
    Bits, EquidistantScenes,
    ::testing::Values(Scene{24, 15, {1, 4, 7, 10, 13, 16, 19, 22, 25, 28}, 31, 1},
                      Scene{32, 15, {1, 4, 7, 10, 13, 16, 19, 22, 25, 28}, 31, 1},
                      Scene{16, 2, {1, 2, 3}, 4, 2}));

TEST_F(VideoDetectorTest, PreviousAtSMinus2DisturbsWithAChangeInAnOlderFrame) {
    Frame base(320, 240, 24), one = base, three = base;
    one.SetSample(12, 10, 4, 250);
    for (int c : {10, 11, 12}) three.SetSample(c, 10, 4, 250);
    ReachCalibrating(base);
    Feed(base);
    Feed(one);    // a lone sample: no votes
    Feed(three);  // 1 vote against the previous frame, 2 against the older ones
    EXPECT_EQ(det.PixelThreshold, 4);
    EXPECT_EQ(det.FrameCounter, 2);
    Feed(three);  // 0 against the previous: 2 against the older ones is quiet
    EXPECT_EQ(det.PixelThreshold, 4);
    EXPECT_EQ(det.FrameCounter, 3);
}

class Monitored : public VideoDetectorTest {
protected:
    void SetUp() override {
        VideoDetectorTest::SetUp();
        ReachMonitoring(base);
    }
    Frame Block(int c0, int r0, int size) const {
        Frame f = base;
        for (int r = r0; r < r0 + size; ++r)
            for (int c = c0; c < c0 + size; ++c) f.SetSample(c, r, 4, 250);
        return f;
    }
    Frame base{320, 240, 24};
};

TEST_F(Monitored, DetectionIsAnEventAndExcludesItsSlot) {
    const int slot = det.Current;
    Feed(Block(30, 20, 5));
    EXPECT_EQ(det.HitX, 30);
    EXPECT_EQ(det.HitY, 20);
    EXPECT_EQ(det.Excluded[slot], 1);
    ASSERT_EQ(Pending(), 1);
    ASSERT_TRUE(counters.TakeNextEvent(true));
    EXPECT_EQ(counters.CurrentEvent().MovementCount, 1);
    EXPECT_EQ(counters.CurrentEvent().MovementItems[0].x, 30);
    EXPECT_EQ(counters.CurrentEvent().MovementItems[0].time, platform::timeGetTime());
    // Previous, half and oldest of the next 19 frames: the excluded slot is none of them.
    for (int i = 0; i < 19; ++i) Feed(base);
    EXPECT_EQ(Pending(), 0);
    EXPECT_EQ(det.Excluded[slot], 1);
    Feed(base);
    EXPECT_EQ(det.Excluded[slot], 0);
}

TEST_F(Monitored, HalfRingHitReanalysesAfter75ms) {
    Feed(Block(30, 20, 5));          // hit against the previous frame
    const int current = det.Current;
    Feed(base, 250);
    EXPECT_EQ(det.Current, current);  // spacing kept: 250 ms is too soon
    Feed(Block(30, 20, 5), 1);       // previous excluded, hit against the half ring
    EXPECT_GT(det.VotesHalf, 3);
    Feed(base, 75);
    EXPECT_EQ(det.Current, current + 1);
    Feed(base, 1);
    EXPECT_EQ(det.Current, current + 2);
}

// The capture layer drops what the gate refuses before converting it: a
// refused frame must be one the detector would have passed over, at every
// spacing, the quick 75 ms one after a half-ring hit included.
TEST_F(Monitored, FramesTheGateRefusesWouldNotHaveBeenAnalysed) {
    const Frame moved = Block(30, 20, 5);
    const uint32_t gaps[] = {66, 67, 66, 10, 250, 1, 75, 33};
    int refused = 0, analysed = 0;
    for (int i = 0; i < 400; ++i) {
        platform::AdvanceTickForTests(gaps[i % 8]);
        const bool wanted = det.WantsFrame(platform::timeGetTime(), 0);
        const int current = det.Current;
        const uint8_t state = det.State;
        const Frame& f = (i / 20) % 3 == 1 ? moved : base;
        det.VideoSampleGrabberBuffer(f.bytes.data(), f.bytes.size());
        const bool changed = det.Current != current || det.State != state;
        if (!wanted) {
            ++refused;
            EXPECT_FALSE(changed) << "frame " << i;
        }
        analysed += changed;
    }
    EXPECT_GT(refused, 200);
    EXPECT_GT(analysed, 50);
    // A lead lets a frame through that early, never later.
    const uint32_t due = det.Stamp.load() + 250;
    EXPECT_FALSE(det.WantsFrame(due - 40, 39));
    EXPECT_TRUE(det.WantsFrame(due - 40, 41));
}

TEST_F(VideoDetectorTest, OnlyAWorkingDetectorWantsFrames) {
    Frame f(320, 240, 24);
    const uint32_t now = platform::timeGetTime();
    EXPECT_FALSE(det.WantsFrame(now, 1000));  // idle
    Start(VideoInfo(320, 240, 24));
    EXPECT_TRUE(det.WantsFrame(now, 0));  // the format check takes the first
    settings.AttesaPerCalibrazioneVideo = 3;
    Start(VideoInfo(320, 240, 24));
    Feed(f, 0);
    ASSERT_EQ(det.State, capture::WarmUp);
    EXPECT_FALSE(det.WantsFrame(platform::timeGetTime() + 2999, 0));
    EXPECT_TRUE(det.WantsFrame(platform::timeGetTime() + 3001, 0));
    det.Pause();
    EXPECT_FALSE(det.WantsFrame(platform::timeGetTime() + 100000, 0));
}

TEST_F(Monitored, BorderSamplesHaveFewerVotes) {
    Frame all(320, 240, 24, 200);
    // Whole picture changed: corner 6 votes, its neighbour 8, the next 10.
    for (int s : {5, 6, 8}) {
        settings.SesnsibilitaMotionDetector = s;
        ReachMonitoring(base);
        Feed(all);
        EXPECT_EQ(det.HitX, s == 5 ? 0 : s == 6 ? 1 : 2) << "S=" << s;
        EXPECT_EQ(det.HitY, 0);
    }
}

TEST_F(Monitored, LeastSensitiveNeedsSevenChangedNeighbours) {
    settings.SesnsibilitaMotionDetector = 6;
    ReachMonitoring(base);
    // A sample with both steps changed in three directions: six votes.
    Frame six = base;
    for (auto [c, r] : {std::pair{10, 10}, {11, 10}, {12, 10}, {9, 10}, {8, 10}, {10, 11}, {10, 12}})
        six.SetSample(c, r, 4, 250);
    Feed(six);
    EXPECT_EQ(Pending(), 0);
    EXPECT_EQ(det.VotesPrevious, 6);
    Frame seven = six;
    seven.SetSample(10, 9, 4, 250);
    Feed(base);
    Feed(seven);
    EXPECT_EQ(Pending(), 1);
    EXPECT_EQ(det.HitX, 10);
    EXPECT_EQ(det.HitY, 10);
}

TEST_F(Monitored, ThreeWithinFourSecondsAndTheFourthWithTheSecond) {
    settings.NumMinMovimentiPerAvviso = 3;
    ReachMonitoring(base);
    const Frame moved = Block(30, 20, 5);
    auto detectAfter = [&](uint32_t ms) {
        for (; ms > 500; ms -= 260) Feed(base);
        Feed(moved, ms);
    };
    const uint32_t t0 = platform::timeGetTime() + 260;
    detectAfter(260);
    detectAfter(1500);
    EXPECT_EQ(Pending(), 0);
    detectAfter(1500);  // 3000 ms after the first
    ASSERT_EQ(Pending(), 1);
    ASSERT_TRUE(counters.TakeNextEvent(true));
    const alarms::EventRecord& e = counters.CurrentEvent();
    EXPECT_EQ(e.MovementCount, 3);
    EXPECT_EQ(e.MovementItems[0].time, t0 + 3000);  // newest first
    EXPECT_EQ(e.MovementItems[2].time, t0);
    detectAfter(2000);  // 3500 after the second
    EXPECT_EQ(Pending(), 1);
    detectAfter(2600);  // 4600 after the third
    EXPECT_EQ(Pending(), 1);
    EXPECT_EQ(counters.Totals().TotalMovements, 6);
}

TEST_F(Monitored, MinimumAbove100IsHeldTo100) {
    settings.NumMinMovimentiPerAvviso = 999;
    settings.TempoMaxMovimentiPerAvviso = 2000000000;
    ReachMonitoring(base);
    EXPECT_EQ(det.MinMovements, 100);
    // The cleared ring entries (time 0) are no detections: 99 make no event.
    for (int i = 0; i < 99; ++i) Feed(Block(30, 20, 5)), Feed(base);
    EXPECT_EQ(Pending(), 0);
    Feed(Block(30, 20, 5));
    ASSERT_EQ(Pending(), 1);
    EXPECT_EQ(counters.Totals().TotalMovements, 100);
}

TEST_F(Monitored, ShortOrMissingBufferIsSkipped) {
    const int current = det.Current;
    std::vector<uint8_t> half(320 * 240 * 3 / 2, 250);
    platform::AdvanceTickForTests(300);
    det.VideoSampleGrabberBuffer(half.data(), half.size());
    det.VideoSampleGrabberBuffer(nullptr, 320 * 240 * 3);
    EXPECT_EQ(det.Current, current);
    EXPECT_EQ(det.Busy, 0);
    Feed(base, 0);  // the stamp was left alone: a whole frame still goes in
    EXPECT_EQ(det.Current, current + 1);
}

TEST_F(Monitored, PauseAndResumeDelayTheNextFrame) {
    det.Pause();
    EXPECT_EQ(det.State, capture::Idle);
    const int current = det.Current;
    Feed(base);
    det.Resume();
    EXPECT_EQ(det.State, capture::Monitoring);
    Feed(base, 3250);
    EXPECT_EQ(det.Current, current);
    Feed(base, 1);
    EXPECT_EQ(det.Current, current + 1);
    det.Stop();
    EXPECT_EQ(det.State, capture::Idle);
}

TEST_F(VideoDetectorTest, TopDownFramesCalibrate) {
    Frame f(320, 240, 24);
    Start(VideoInfo(320, -240, 24));
    Feed(f, 0);
    EXPECT_EQ(det.Rows, 60);
    Feed(f, 1);
    EXPECT_EQ(AnalysedUntil(f, capture::Verifying), 21);
}

// For the ThreadSanitizer build too: the display reads while frames arrive,
// and a stop made meanwhile is never undone by the callback.
TEST(VideoDetectorThreads, DisplayReadsAndStopWhileFramesArrive) {
    platform::SetTickForTests(1000000);
    alarms::EventCounters counters;
    VideoDetector det;
    det.Configure({0, 1, 4000, 3}, [] { return std::optional(VideoInfo(160, 120, 24)); }, "", &counters);
    det.Start();
    std::atomic<bool> stop{false};
    std::thread streaming([&] {
        Frame f(160, 120, 24);
        while (!stop.load()) {
            platform::AdvanceTickForTests(260);
            det.VideoSampleGrabberBuffer(f.bytes.data(), f.bytes.size());
        }
    });
    // Read the display until verification is well under way; the stream may
    // also race past it into Monitoring between two reads.
    bool calibrated = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!calibrated && std::chrono::steady_clock::now() < deadline) {
        const uint8_t state = det.State.load(std::memory_order_relaxed);
        const auto d = capture::AggCalibVideoStep(state, det.PixelThreshold.load(std::memory_order_relaxed),
                                                  det.FrameCounter.load(std::memory_order_relaxed));
        calibrated = (d.action == capture::VideoPrecisionDisplay::Update && d.progress > 60) ||
                     state == capture::Monitoring;
        std::this_thread::yield();
    }
    EXPECT_TRUE(calibrated);
    det.Stop();
    stop = true;
    streaming.join();
    platform::ClearTickForTests();
    EXPECT_EQ(det.State, capture::Idle);
}

TEST(VideoPrecision, PercentRoundsHalfToEven) {
    EXPECT_EQ(capture::VideoPrecisionPercent(1), 100);  // 99.5
    EXPECT_EQ(capture::VideoPrecisionPercent(3), 98);   // 98.5
    EXPECT_EQ(capture::VideoPrecisionPercent(101), 50); // 49.5
    EXPECT_EQ(capture::VideoPrecisionPercent(100), 50);
    EXPECT_EQ(capture::VideoPrecisionPercent(195), 5);  // at least 10 of 200
    EXPECT_EQ(capture::VideoPrecisionPercent(1000), 5);
    EXPECT_EQ(capture::VideoPrecisionLabel(98), "Precisione del dispositivo video: 98 %");
    EXPECT_EQ(capture::CalibrationProgress(1), 2);   // 2.5
    EXPECT_EQ(capture::CalibrationProgress(3), 8);   // 7.5
    EXPECT_EQ(capture::CalibrationProgress(21), 52);
    EXPECT_EQ(capture::VerificationProgress(2), 52);  // 2.5 + 50
    EXPECT_EQ(capture::VerificationProgress(6), 58);
    EXPECT_EQ(capture::VerificationProgress(40), 100);
}

TEST(VideoPrecision, DisplayFollowsTheState) {
    auto d = capture::AggCalibVideoStep(capture::Calibrating, 3, -1);
    EXPECT_EQ(d.action, capture::VideoPrecisionDisplay::Update);
    EXPECT_EQ(d.indicator, 98);
    EXPECT_EQ(d.label, "Precisione del dispositivo video: 98 %");
    EXPECT_FALSE(d.progress);
    d = capture::AggCalibVideoStep(capture::Verifying, 3, 4);
    EXPECT_FALSE(d.label);
    EXPECT_EQ(d.progress, 55);
    EXPECT_EQ(capture::AggCalibVideoStep(capture::Monitoring, 3, 4).action,
              capture::VideoPrecisionDisplay::SwitchOff);
    using Display = capture::VideoPrecisionDisplay;
    EXPECT_EQ(capture::AggCalibVideoStep(capture::Idle, 3, 4).action, Display::SwitchOff);
    EXPECT_EQ(capture::AggCalibVideoStep(capture::WarmUp, 3, 4).action, Display::Nothing);
}

}  // namespace
