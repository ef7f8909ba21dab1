// MeasureLevel over one 100 ms buffer of 16-bit stereo at 44100 Hz, the
// largest buffer the detector measures up to four times a second.
#include "capture/AudioDetector.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

void BM_MeasureLevel16Stereo100ms(benchmark::State& state) {
    constexpr size_t frames = 4410;
    std::vector<uint8_t> buffer(frames * 4);
    std::mt19937 random(1);
    for (auto& b : buffer) b = static_cast<uint8_t>(random());

    capture::AudioDetector detector;
    detector.BitsPerSample = 16;
    detector.Channels = 2;
    for (auto _ : state) {
        const capture::AudioLevel level = detector.MeasureLevel(buffer.data(), buffer.size());
        benchmark::DoNotOptimize(level);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(buffer.size()));
}
BENCHMARK(BM_MeasureLevel16Stereo100ms);

}  // namespace
