#include "platform/TestDevices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "support/TestSupport.h"

using platform::TestCameraScene;
using platform::TestMicrophoneScene;
using platform::TestSceneConfig;

namespace {

TestSceneConfig WithPeriod(uint32_t ms, uint32_t seed = 1) {
    TestSceneConfig c;
    c.intruderPeriodMs = ms;
    c.seed = seed;
    return c;
}

std::vector<uint8_t> Frame(TestCameraScene& scene, uint64_t ms) {
    std::vector<uint8_t> f(static_cast<size_t>(scene.Width()) * scene.Height() * 3);
    scene.Render(ms, f.data(), scene.Width() * 3);
    return f;
}

int MaxByteDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int worst = 0;
    for (size_t i = 0; i < a.size(); ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

bool Untouched(const std::vector<uint8_t>& buf) {
    return std::all_of(buf.begin(), buf.end(), [](uint8_t v) { return v == 0xA5; });
}

// The motion detector's colour distance |dB|+|dG|+|dR| of pixel `p`.
int Distance(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t p) {
    return std::abs(a[p * 3] - b[p * 3]) + std::abs(a[p * 3 + 1] - b[p * 3 + 1]) + std::abs(a[p * 3 + 2] - b[p * 3 + 2]);
}

// Pixels whose distance to the quiet frame is far beyond anything the noise
// can make.
struct Region {
    int pixels = 0, minX = 1 << 30, maxX = -1, minY = 1 << 30, maxY = -1;
    double centreX = 0;
};
Region ChangedRegion(const std::vector<uint8_t>& quiet, const std::vector<uint8_t>& f, int w, int h) {
    Region r;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (Distance(quiet, f, static_cast<size_t>(y) * w + x) <= 100) continue;
            ++r.pixels;
            r.centreX += x;
            r.minX = std::min(r.minX, x), r.maxX = std::max(r.maxX, x);
            r.minY = std::min(r.minY, y), r.maxY = std::max(r.maxY, y);
        }
    if (r.pixels) r.centreX /= r.pixels;
    return r;
}

// Magnitudes as the noise detector measures 16-bit samples.
int Peak16(const std::vector<uint8_t>& pcm, size_t begin = 0, size_t end = SIZE_MAX) {
    int peak = 0;
    end = std::min(end, pcm.size() / 2);
    for (size_t i = begin; i < end; ++i)
        peak = std::max(peak, std::abs(static_cast<int16_t>(pcm[i * 2] | pcm[i * 2 + 1] << 8)));
    return peak;
}

}  // namespace

TEST(TestSceneConfigFromEnv, WholeSecondsAtLeastOneElseThirty) {
    const struct {
        const char* text;
        uint32_t periodMs;
    } cases[] = {{"5", 5000},     {"1", 1000},     {" 7 ", 7000},  {"0", 30000},  {"-3", 30000},
                 {"abc", 30000},  {"5s", 30000},   {"2.5", 30000}, {"", 30000},   {"+4", 30000},
                 {"0012", 12000}, {"4294967", 4294967000u},  {"99999999999999999999", 4294967000u}};
    for (const auto& c : cases) {
        testsupport::ScopedEnv env("OCULARA_TEST_INTRUDER_SECONDS", std::string(c.text));
        EXPECT_EQ(platform::TestSceneConfigFromEnv().intruderPeriodMs, c.periodMs) << '"' << c.text << '"';
    }
    testsupport::ScopedEnv unset("OCULARA_TEST_INTRUDER_SECONDS", std::nullopt);
    const TestSceneConfig d = platform::TestSceneConfigFromEnv();
    EXPECT_EQ(d.intruderPeriodMs, 30000u);
    EXPECT_EQ(d.intruderVideoMs, 3000u);
    EXPECT_EQ(d.intruderSoundMs, 1000u);
}

TEST(IntruderWindows, OpenAtEachPeriodButNotAtTheStart) {
    for (uint32_t period : {5000u, 7000u, 30000u}) {
        const TestSceneConfig c = WithPeriod(period);
        for (uint64_t ms : {0ull, 1ull, 999ull, 2999ull, period - 1ull}) {
            EXPECT_FALSE(platform::IntruderVisibleAt(c, ms)) << period << " " << ms;
            EXPECT_FALSE(platform::IntruderAudibleAt(c, ms)) << period << " " << ms;
        }
        for (uint64_t k : {1ull, 2ull, 5ull, 1000ull}) {
            const uint64_t s = k * period;
            SCOPED_TRACE(testing::Message() << "period " << period << " k " << k);
            EXPECT_FALSE(platform::IntruderVisibleAt(c, s - 1));
            EXPECT_TRUE(platform::IntruderVisibleAt(c, s));
            EXPECT_TRUE(platform::IntruderVisibleAt(c, s + 2999));
            EXPECT_FALSE(platform::IntruderVisibleAt(c, s + 3000));
            EXPECT_FALSE(platform::IntruderAudibleAt(c, s - 1));
            EXPECT_TRUE(platform::IntruderAudibleAt(c, s));
            EXPECT_TRUE(platform::IntruderAudibleAt(c, s + 999));
            EXPECT_FALSE(platform::IntruderAudibleAt(c, s + 1000));
        }
    }
}

TEST(IntruderWindows, ShortPeriodsOverlapAndZeroMeansNever) {
    const TestSceneConfig c = WithPeriod(1000);
    for (uint64_t ms = 0; ms < 1000; ms += 37) EXPECT_FALSE(platform::IntruderVisibleAt(c, ms));
    for (uint64_t ms = 1000; ms < 20000; ms += 37) {
        EXPECT_TRUE(platform::IntruderVisibleAt(c, ms)) << ms;
        EXPECT_TRUE(platform::IntruderAudibleAt(c, ms)) << ms;
    }
    const TestSceneConfig never = WithPeriod(0);
    for (uint64_t ms : {0ull, 1000ull, 30000ull}) {
        EXPECT_FALSE(platform::IntruderVisibleAt(never, ms));
        EXPECT_FALSE(platform::IntruderAudibleAt(never, ms));
    }
}

TEST(TestCameraScene, QuietFramesStayWithinTheNoiseBoundAtEveryPixel) {
    const TestSceneConfig c = WithPeriod(30000);
    TestCameraScene scene(160, 120, c);
    std::vector<uint8_t> lo = Frame(scene, 0), hi = lo;
    // Times spread over hours, all outside the intruder windows.
    const uint64_t times[] = {40, 1000, 5678, 29999, 33000, 3600000 + 4000, 5 * 3600000ull + 10017, 123456789012ull + 5000};
    for (uint64_t ms : times) {
        ASSERT_FALSE(platform::IntruderVisibleAt(c, ms));
        const std::vector<uint8_t> f = Frame(scene, ms);
        for (size_t i = 0; i < f.size(); ++i) lo[i] = std::min(lo[i], f[i]), hi[i] = std::max(hi[i], f[i]);
    }
    size_t moving = 0;
    for (size_t i = 0; i < lo.size(); ++i) {
        ASSERT_LE(hi[i] - lo[i], 2 * platform::TestCameraNoiseBound) << "byte " << i;
        moving += hi[i] != lo[i];
    }
    // There is noise to calibrate on, in nearly every byte.
    EXPECT_GT(moving, lo.size() * 9 / 10);
}

TEST(TestCameraScene, TheIntruderCrossesFromLeftToRightInThreeSeconds) {
    for (auto [w, h] : {std::pair{640, 480}, std::pair{352, 288}, std::pair{160, 120}}) {
        SCOPED_TRACE(testing::Message() << w << "x" << h);
        TestCameraScene scene(w, h, WithPeriod(10000));
        const std::vector<uint8_t> quiet = Frame(scene, 9000);
        double lastCentre = -w;
        for (uint64_t ms = 10000; ms < 13000; ms += 250) {
            const Region r = ChangedRegion(quiet, Frame(scene, ms), w, h);
            SCOPED_TRACE(ms);
            ASSERT_GT(r.pixels, w * h / 300);  // half of it at the edges
            EXPECT_GT(r.centreX, lastCentre + w / 20.0);
            const int tall = r.maxY - r.minY + 1;
            EXPECT_GE(tall, h * 28 / 100);
            EXPECT_LE(tall, h * 40 / 100);
            EXPECT_LE(r.maxX - r.minX + 1, w / 4);
            lastCentre = r.centreX;
        }
        EXPECT_LT(ChangedRegion(quiet, Frame(scene, 10000), w, h).centreX, w / 6.0);
        EXPECT_GT(ChangedRegion(quiet, Frame(scene, 12999), w, h).centreX, w * 5 / 6.0);
        EXPECT_LE(MaxByteDifference(quiet, Frame(scene, 13000)), 2 * platform::TestCameraNoiseBound);
        EXPECT_LE(MaxByteDifference(quiet, Frame(scene, 9999)), 2 * platform::TestCameraNoiseBound);
    }
}

TEST(TestCameraScene, OverlappingWindowsShowOneIntruderEach) {
    const int w = 320, h = 240;
    TestCameraScene scene(w, h, WithPeriod(1000));
    const std::vector<uint8_t> quiet = Frame(scene, 500);
    const std::vector<uint8_t> f = Frame(scene, 3500);  // windows of k = 1, 2, 3 are open
    int groups = 0;
    bool inGroup = false;
    for (int x = 0; x < w; ++x) {
        bool changed = false;
        for (int y = 0; y < h && !changed; ++y) changed = Distance(quiet, f, static_cast<size_t>(y) * w + x) > 100;
        if (changed && !inGroup) ++groups;
        inGroup = changed;
    }
    EXPECT_EQ(groups, 3);
}

TEST(TestCameraScene, DeterministicForConfigSizeAndTime) {
    const TestSceneConfig c = WithPeriod(10000, 7);
    TestCameraScene a(320, 240, c), b(320, 240, c);
    for (uint64_t ms : {0ull, 4321ull, 11500ull, 4321ull}) EXPECT_EQ(Frame(a, ms), Frame(b, ms)) << ms;
    EXPECT_EQ(Frame(a, 11500), Frame(a, 11500));
    EXPECT_NE(Frame(a, 4321), Frame(a, 4322));
    TestCameraScene otherSeed(320, 240, WithPeriod(10000, 8));
    EXPECT_NE(Frame(a, 4321), Frame(otherSeed, 4321));
}

TEST(TestCameraScene, OddSizesAndStridesStayInsideTheirRows) {
    const std::pair<int, int> sizes[] = {{16, 16}, {17, 13}, {1, 1}, {33, 250}, {161, 121}, {1920, 1080}};
    for (auto [w, h] : sizes) {
        for (int pad : {0, 1, 5}) {
            SCOPED_TRACE(testing::Message() << w << "x" << h << " pad " << pad);
            TestCameraScene scene(w, h, WithPeriod(1000));
            const std::vector<uint8_t> tight = Frame(scene, 1000);  // intruder at the left edge
            const int stride = w * 3 + pad;
            for (uint64_t ms : {1000ull, 2999ull, 3999ull}) {
                std::vector<uint8_t> buf(static_cast<size_t>(stride) * h + 64, 0xA5);
                scene.Render(ms, buf.data(), stride);
                const std::vector<uint8_t> expected = Frame(scene, ms);
                for (int y = 0; y < h; ++y) {
                    const uint8_t* row = buf.data() + static_cast<size_t>(y) * stride;
                    ASSERT_TRUE(std::equal(row, row + w * 3, expected.begin() + static_cast<size_t>(y) * w * 3)) << y;
                    ASSERT_TRUE(std::all_of(row + w * 3, row + stride, [](uint8_t v) { return v == 0xA5; })) << y;
                }
                ASSERT_TRUE(std::all_of(buf.end() - 64, buf.end(), [](uint8_t v) { return v == 0xA5; }));
            }
            EXPECT_EQ(tight, Frame(scene, 1000));
        }
    }
}

TEST(TestCameraScene, RefusesWhatItCannotFill) {
    TestCameraScene scene(32, 16, TestSceneConfig{});
    std::vector<uint8_t> buf(32 * 16 * 3, 0xA5);
    scene.Render(0, buf.data(), 32 * 3 - 1);  // stride shorter than a row
    EXPECT_TRUE(Untouched(buf));
    scene.Render(0, nullptr, 32 * 3);
    for (auto [w, h] : {std::pair{0, 10}, std::pair{-5, 10}, std::pair{10, -1}}) {
        TestCameraScene empty(w, h, TestSceneConfig{});
        empty.Render(0, buf.data(), 96);
        EXPECT_TRUE(Untouched(buf));
    }
}

TEST(TestCameraScene, BrightnessAndContrastAdjustTheOutput) {
    TestCameraScene scene(160, 120, TestSceneConfig{});
    auto stats = [&](double& mean, double& spread) {
        const std::vector<uint8_t> f = Frame(scene, 500);
        double sum = 0, sq = 0;
        for (uint8_t v : f) sum += v, sq += double(v) * v;
        mean = sum / f.size();
        spread = sq / f.size() - mean * mean;
    };
    const std::vector<uint8_t> neutral = Frame(scene, 500);
    double mean0, spread0, mean, spread;
    stats(mean0, spread0);

    scene.Brightness = 80;
    stats(mean, spread);
    EXPECT_GT(mean, mean0 + 40);
    scene.Brightness = 20;
    stats(mean, spread);
    EXPECT_LT(mean, mean0 - 40);
    scene.Brightness = 50;
    scene.Contrast = 90;
    stats(mean, spread);
    EXPECT_GT(spread, spread0 * 1.8);
    scene.Contrast = 0;  // a flat grey picture, only the noise left
    const std::vector<uint8_t> flat = Frame(scene, 500);
    EXPECT_TRUE(std::all_of(flat.begin(), flat.end(), [](uint8_t v) { return std::abs(v - 128) <= 3; }));
    scene.Contrast = 50;
    EXPECT_EQ(Frame(scene, 500), neutral);

    // Out of range values act as the nearest limit.
    scene.Brightness = 250;
    const std::vector<uint8_t> over = Frame(scene, 500);
    scene.Brightness = 100;
    EXPECT_EQ(Frame(scene, 500), over);
}

TEST(TestMicrophoneScene, QuietFloorAndLoudTwoToneAt16Bits) {
    for (int rate : {22050, 44100}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " ch");
            const TestSceneConfig c = WithPeriod(5000);
            TestMicrophoneScene mic(rate, channels, 16, c);
            const size_t frames = static_cast<size_t>(rate) * 7;  // the first 7 s
            std::vector<uint8_t> pcm(frames * channels * 2);
            mic.Render(0, frames, pcm.data());
            auto sample = [&](size_t frame, int ch) {
                return static_cast<int16_t>(pcm[(frame * channels + ch) * 2] | pcm[(frame * channels + ch) * 2 + 1] << 8);
            };
            if (channels == 2) {
                for (size_t f = 0; f < frames; ++f) ASSERT_EQ(sample(f, 0), sample(f, 1)) << f;
            }

            auto peak = [&](size_t fromMs, size_t toMs) {
                return Peak16(pcm, fromMs * rate / 1000 * channels, toMs * rate / 1000 * channels);
            };
            EXPECT_LE(peak(0, 5000), platform::TestMicrophoneNoise16);
            EXPECT_GT(peak(0, 5000), platform::TestMicrophoneNoise16 * 9 / 10);
            EXPECT_LE(peak(6000, 7000), platform::TestMicrophoneNoise16);
            // Loud from start to end, in every quarter of a second the detector may measure.
            for (size_t ms = 5000; ms < 6000; ms += 125) {
                EXPECT_GE(peak(ms + 5, ms + 125), 32767 / 2) << ms;
                EXPECT_LE(peak(ms, ms + 125), 32767 * 0.6 + platform::TestMicrophoneNoise16 + 1) << ms;
            }
            // Two tones by turns: about 800 Hz in the first quarter second, 1200 Hz in the next.
            auto crossings = [&](size_t fromMs) {
                int n = 0;
                for (size_t f = (fromMs + 10) * rate / 1000; f < (fromMs + 240) * rate / 1000; ++f)
                    n += (sample(f - 1, 0) < 0) != (sample(f, 0) < 0);
                return n;
            };
            EXPECT_NEAR(crossings(5000), 800 * 2 * 0.23, 12);
            EXPECT_NEAR(crossings(5250), 1200 * 2 * 0.23, 12);
            EXPECT_NEAR(crossings(5500), 800 * 2 * 0.23, 12);
        }
    }
}

TEST(TestMicrophoneScene, EightBitsSitAroundTheCentre) {
    for (int channels : {1, 2}) {
        TestMicrophoneScene mic(22050, channels, 8, WithPeriod(2000));
        const size_t frames = 22050 * 4;
        std::vector<uint8_t> pcm(frames * channels);
        mic.Render(0, frames, pcm.data());
        const size_t quietEnd = 22050 * 2 * channels, loudEnd = 22050 * 3 * channels;
        long sum = 0;
        for (size_t i = 0; i < quietEnd; ++i) {
            ASSERT_LE(std::abs(pcm[i] - 128), platform::TestMicrophoneNoise8) << i;
            sum += pcm[i];
        }
        EXPECT_NEAR(double(sum) / quietEnd, 128.0, 0.05);
        int loudest = 0;
        for (size_t i = quietEnd; i < loudEnd; ++i) loudest = std::max(loudest, std::abs(pcm[i] - 128));
        EXPECT_GE(loudest * 256, 32768 / 2);
        EXPECT_LE(loudest, 78);
        for (size_t i = loudEnd; i < pcm.size(); ++i) ASSERT_LE(std::abs(pcm[i] - 128), platform::TestMicrophoneNoise8);
        if (channels == 2) {
            for (size_t f = 0; f < frames; ++f) ASSERT_EQ(pcm[f * 2], pcm[f * 2 + 1]);
        }
    }
}

TEST(TestMicrophoneScene, SameStreamWhateverTheBufferSplit) {
    const TestSceneConfig c = WithPeriod(1000, 3);
    TestMicrophoneScene mic(44100, 2, 16, c), twin(44100, 2, 16, c);
    const size_t frames = 44100 * 3 / 2;
    std::vector<uint8_t> whole(frames * 4), pieces(frames * 4, 0);
    mic.Render(40000, frames, whole.data());
    const size_t sizes[] = {1, 333, 4410, 17, 65536};
    size_t done = 0;
    for (size_t i = 0; done < frames; ++i) {
        const size_t n = std::min(sizes[i % 5], frames - done);
        twin.Render(40000 + done, n, pieces.data() + done * 4);
        done += n;
    }
    ASSERT_EQ(done, frames);
    EXPECT_EQ(whole, pieces);
    TestMicrophoneScene otherSeed(44100, 2, 16, WithPeriod(1000, 4));
    std::vector<uint8_t> other(frames * 4);
    otherSeed.Render(40000, frames, other.data());
    EXPECT_NE(whole, other);
}

TEST(TestMicrophoneScene, UnsupportedFormatsWriteNothing) {
    const std::tuple<int, int, int> formats[] = {{44100, 1, 24}, {44100, 0, 16}, {0, 1, 16}, {-1, 2, 8}, {22050, 1, 0}};
    for (auto [rate, channels, bits] : formats) {
        TestMicrophoneScene mic(rate, channels, bits, TestSceneConfig{});
        EXPECT_FALSE(mic.Supported());
        std::vector<uint8_t> buf(256, 0xA5);
        mic.Render(0, 32, buf.data());
        EXPECT_TRUE(Untouched(buf));
    }
    EXPECT_TRUE(TestMicrophoneScene(22050, 2, 8, TestSceneConfig{}).Supported());
    TestMicrophoneScene(22050, 2, 8, TestSceneConfig{}).Render(0, 0, nullptr);
}
