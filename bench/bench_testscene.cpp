// The test camera renders 15 frames a second on the streaming thread, so a
// frame must cost a small share of its 66 ms.
#include "platform/TestDevices.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

void BM_CameraFrame(benchmark::State& state, uint64_t ms) {
    const int w = static_cast<int>(state.range(0)), h = static_cast<int>(state.range(1));
    platform::TestSceneConfig config;
    config.intruderPeriodMs = 10000;
    platform::TestCameraScene scene(w, h, config);
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3);
    for (auto _ : state) {
        scene.Render(ms, frame.data(), w * 3);
        benchmark::DoNotOptimize(frame.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * frame.size());
}
BENCHMARK_CAPTURE(BM_CameraFrame, quiet, 5000)->Args({640, 480})->Args({320, 240})->Args({1920, 1080});
BENCHMARK_CAPTURE(BM_CameraFrame, intruder, 11500)->Args({640, 480});

// Once per start of the source.
void BM_CameraRoom(benchmark::State& state) {
    for (auto _ : state) {
        platform::TestCameraScene scene(static_cast<int>(state.range(0)), static_cast<int>(state.range(1)), {});
        benchmark::DoNotOptimize(&scene);
    }
}
BENCHMARK(BM_CameraRoom)->Args({640, 480})->Unit(benchmark::kMillisecond);

void BM_MicrophoneBuffer(benchmark::State& state) {
    platform::TestSceneConfig config;
    config.intruderPeriodMs = 1000;  // always loud: the dearer path
    platform::TestMicrophoneScene mic(44100, 2, 16, config);
    const size_t frames = 4410;  // 100 ms
    std::vector<uint8_t> pcm(frames * 4);
    uint64_t first = 44100;
    for (auto _ : state) {
        mic.Render(first, frames, pcm.data());
        first += frames;
        benchmark::DoNotOptimize(pcm.data());
    }
}
BENCHMARK(BM_MicrophoneBuffer);

}  // namespace
