// Cost of one frame in the video streaming callback, in Monitoring.
#include "capture/VideoDetector.h"
#include "platform/Tick.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

namespace {

using capture::VideoDetector;

std::vector<uint8_t> Picture(int w, int h, uint8_t grey) {
    std::vector<uint8_t> bytes(size_t(w) * h * 3);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(grey + (i * 7) % 13);
    return bytes;
}

void Fill(std::vector<uint8_t>& f, int w, int x0, int y0, int size, uint8_t v) {
    for (int y = y0; y < y0 + size; ++y)
        for (int x = x0; x < x0 + size; ++x)
            for (int k = 0; k < 3; ++k) f[(size_t(y) * w + x) * 3 + k] = v;
}

struct Monitoring {
    alarms::EventCounters counters;
    VideoDetector det;
    std::vector<uint8_t> still;
    int w, h;

    Monitoring(int w_, int h_) : still(Picture(w_, h_, 90)), w(w_), h(h_) {
        platform::SetTickForTests(1000000);
        det.Configure({0, 3, 4000, 3},
                      [w_, h_] {
                          platform::MediaType t;
                          t.majortype = platform::MajorType::Video;
                          platform::VIDEOINFOHEADER v;
                          v.bmiHeader.biWidth = w_, v.bmiHeader.biHeight = h_, v.bmiHeader.biBitCount = 24;
                          t.SetFormat(platform::FormatType::VideoInfo, v);
                          return std::optional(t);
                      },
                      "", &counters);
        det.Start();
        for (int i = 0; i < 1000 && det.State != capture::Monitoring; ++i) Feed(still, 260);
    }
    void Feed(const std::vector<uint8_t>& f, uint32_t advance) {
        platform::AdvanceTickForTests(advance);
        det.VideoSampleGrabberBuffer(f.data(), f.size());
    }
};
void BM_QuietFrame(benchmark::State& state) {
    Monitoring m(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    if (m.det.State != capture::Monitoring) state.SkipWithError("no monitoring");
    for (auto _ : state) m.Feed(m.still, 260);
}

// An object crossing the picture: a detection on most analysed frames.
void BM_MovingObject(benchmark::State& state) {
    Monitoring m(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    const int size = m.w / 8;
    std::vector<std::vector<uint8_t>> frames;
    for (int i = 0; i < 7; ++i) {
        frames.push_back(m.still);
        Fill(frames.back(), m.w, i * size, m.h / 3, size, 250);
    }
    size_t i = 0;
    for (auto _ : state) m.Feed(frames[i++ % frames.size()], 260);
    state.counters["events"] = benchmark::Counter(m.counters.Totals().TotalMovements / 3.0,
                                                  benchmark::Counter::kAvgIterations);
}

// Scattered changes that vote too little: every changed sample costs its 16
// neighbours against all three references, and nothing ends the scan early.
void BM_ScatteredChanges(benchmark::State& state) {
    Monitoring m(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)));
    std::vector<uint8_t> scattered = m.still;
    const int step = m.det.Step;
    for (int r = 0; r < m.det.Rows; r += 3)
        for (int c = 0; c < m.det.Cols; c += 3) Fill(scattered, m.w, c * step, r * step, 1, 250);
    // Alternating with the still picture, so the ring never fills with it.
    bool odd = false;
    for (auto _ : state) m.Feed((odd = !odd) ? scattered : m.still, 260);
    state.counters["events"] = benchmark::Counter(m.counters.Totals().TotalMovements / 3.0,
                                                  benchmark::Counter::kAvgIterations);
}

// A frame within the 250 ms spacing: dropped after one tick reading.
void BM_FrameWithinSpacing(benchmark::State& state) {
    Monitoring m(640, 480);
    m.Feed(m.still, 260);
    for (auto _ : state) m.Feed(m.still, 0);
}

#define SIZES Args({320, 240})->Args({640, 480})->Args({1280, 1024})
BENCHMARK(BM_QuietFrame)->SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MovingObject)->SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_ScatteredChanges)->SIZES->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_FrameWithinSpacing);

}  // namespace
