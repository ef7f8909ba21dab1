// Writes the test camera's scene as raw BGR frames to standard output, so a
// script can encode the same footage for the program and for another
// detector. The same arguments always give the same bytes.
// Usage: scene_frames WIDTH HEIGHT FPS SECONDS [INTRUDER_PERIOD_SECONDS=15]
#include "platform/TestDevices.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

bool PositiveArg(const char* text, long max, long& out) {
    char* end = nullptr;
    out = std::strtol(text, &end, 10);
    return end != text && *end == '\0' && out > 0 && out <= max;
}

}  // namespace

int main(int argc, char** argv) {
    long w = 0, h = 0, fps = 0, seconds = 0, period = 15;
    if ((argc != 5 && argc != 6) || !PositiveArg(argv[1], 7680, w) || !PositiveArg(argv[2], 4320, h) ||
        !PositiveArg(argv[3], 240, fps) || !PositiveArg(argv[4], 3600, seconds) ||
        (argc == 6 && !PositiveArg(argv[5], 3600, period))) {
        std::fprintf(stderr, "usage: %s WIDTH HEIGHT FPS SECONDS [INTRUDER_PERIOD_SECONDS]\n", argv[0]);
        return 2;
    }
    platform::TestSceneConfig config;
    config.intruderPeriodMs = static_cast<uint32_t>(period * 1000);
    platform::TestCameraScene scene(static_cast<int>(w), static_cast<int>(h), config);
    std::vector<uint8_t> frame(static_cast<size_t>(w) * h * 3);
    const long frames = fps * seconds;
    for (long i = 0; i < frames; ++i) {
        // Whole milliseconds from the frame number, so no rounding drifts.
        scene.Render(static_cast<uint64_t>(i) * 1000 / fps, frame.data(), static_cast<int>(w * 3));
        if (std::fwrite(frame.data(), 1, frame.size(), stdout) != frame.size()) return 1;
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
