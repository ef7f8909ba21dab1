#pragma once
// The built-in test camera and microphone: a deterministic scene that a
// newcomer (and the tests) can monitor without any hardware. A still
// picture with mild, bounded sensor noise and a quiet noise floor; every
// intruder period, counted from the source's start, an intruder crosses
// the picture for 3 seconds and makes a loud sound for 1 second.

#include <cstddef>
#include <cstdint>

namespace platform {

inline constexpr const char* TestCameraName = "Videocamera di prova";
inline constexpr const char* TestMicrophoneName = "Microfono di prova";
inline constexpr const char* TestFileCameraName = "File video di prova";

struct TestSceneConfig {
    uint32_t intruderPeriodMs = 30000;  // OCULARA_TEST_INTRUDER_SECONDS x 1000
    uint32_t intruderVideoMs = 3000;
    uint32_t intruderSoundMs = 1000;
    uint32_t seed = 1;
};
// OCULARA_TEST_INTRUDER_SECONDS (whole seconds, at least 1; default 30).
TestSceneConfig TestSceneConfigFromEnv();

// True while the intruder is in the picture / making its sound.
bool IntruderVisibleAt(const TestSceneConfig& c, uint64_t msSinceStart);
bool IntruderAudibleAt(const TestSceneConfig& c, uint64_t msSinceStart);

class TestCameraScene {
public:
    TestCameraScene(int width, int height, const TestSceneConfig& config);
    // One frame, BGR, top-down rows of `stride` bytes.
    void Render(uint64_t msSinceStart, uint8_t* bgr, int stride);
    // Colour controls the device's settings dialog can change (0..100, 50 = neutral).
    int Brightness = 50;
    int Contrast = 50;

private:
    int width_, height_;
    TestSceneConfig config_;
    uint32_t noiseState_;
};

class TestMicrophoneScene {
public:
    TestMicrophoneScene(int sampleRate, int channels, int bitsPerSample, const TestSceneConfig& config);
    // `frames` interleaved PCM frames starting at frame `firstFrame` since the
    // source's start: signed 16-bit little-endian or unsigned 8-bit.
    void Render(uint64_t firstFrame, size_t frames, uint8_t* out);

private:
    int rate_, channels_, bits_;
    TestSceneConfig config_;
    uint32_t noiseState_;
};

}  // namespace platform
