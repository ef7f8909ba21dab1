// Cost of one photo on the main thread: a 640x480 camera frame to JPEG
// (alarm photo and mail attachment) and to a bitmap file.
#include "alarms/Photo.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

platform::MediaType FrameType(int bits) {
    platform::MediaType t;
    t.majortype = platform::MajorType::Video;
    using platform::SubType;
    t.subtype = bits == 24 ? SubType::RGB24 : bits == 32 ? SubType::RGB32 : SubType::RGB555;
    platform::VIDEOINFOHEADER v;
    v.bmiHeader.biWidth = 640, v.bmiHeader.biHeight = 480, v.bmiHeader.biBitCount = uint16_t(bits);
    t.SetFormat(platform::FormatType::VideoInfo, v);
    return t;
}

// Smooth gradients with a little texture, closer to a room than flat colour.
std::vector<uint8_t> Frame(int bits) {
    std::vector<uint8_t> f(size_t(640) * 480 * bits / 8);
    for (size_t i = 0; i < f.size(); ++i) f[i] = static_cast<uint8_t>((i / 7) % 200 + (i * 2654435761u >> 28));
    return f;
}

void BM_EncodeJpeg640x480(benchmark::State& state) {
    const int bits = static_cast<int>(state.range(0));
    const auto type = FrameType(bits);
    const auto frame = Frame(bits);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        alarms::EncodeJpeg(type, frame.data(), frame.size(), out);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = double(out.size());
}
BENCHMARK(BM_EncodeJpeg640x480)->Arg(24)->Arg(32)->Arg(16)->Unit(benchmark::kMillisecond);

void BM_EncodeBitmap640x480(benchmark::State& state) {
    const auto type = FrameType(24);
    const auto frame = Frame(24);
    std::vector<uint8_t> out;
    for (auto _ : state) {
        alarms::EncodeBitmapFile(type, frame.data(), frame.size(), out);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_EncodeBitmap640x480)->Unit(benchmark::kMillisecond);

}  // namespace
