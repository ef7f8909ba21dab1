#pragma once
// The built-in test camera and microphone: a deterministic scene that a
// newcomer (and the tests) can monitor without any hardware. A still
// picture with mild, bounded sensor noise and a quiet noise floor; every
// intruder period, counted from the source's start, an intruder crosses
// the picture for 3 seconds and makes a loud sound for 1 second.

#include <cstddef>
#include <cstdint>
#include <vector>

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

// What a running test device does when a test makes it misbehave as real
// devices do: keep quiet (a stalled driver, a vanished stream) or fail.
enum class TestDeviceFault { None, Silent, Error };
// Any thread; applies to the test camera (video) or microphone at once.
void SetTestDeviceFault(bool video, TestDeviceFault fault);
TestDeviceFault TestDeviceFaultNow(bool video);

// Bounds the detectors' calibration learns: the camera's noise moves each
// channel of each pixel by at most this much around the still picture...
inline constexpr int TestCameraNoiseBound = 3;
// ...and the quiet microphone stays within these magnitudes (16-bit samples
// around 0, unsigned 8-bit samples around 128).
inline constexpr int TestMicrophoneNoise16 = 150;
inline constexpr int TestMicrophoneNoise8 = 1;
// The intruder's sound: a two-tone call at this share of the full scale.
inline constexpr double TestMicrophoneLoudness = 0.6;

// The room is painted once here; a frame costs one pass over the picture.
// Not thread-safe: render and change the colour controls from one thread
// (or under one lock).
class TestCameraScene {
public:
    TestCameraScene(int width, int height, const TestSceneConfig& config);
    // One frame, BGR, top-down rows of `stride` bytes. The same (config,
    // size, time, colour controls) always give the same bytes. Nothing is
    // written when the size is not positive, bgr is null or stride is
    // smaller than width x 3; the padding at the end of each row is left
    // untouched.
    void Render(uint64_t msSinceStart, uint8_t* bgr, int stride);
    // Colour controls the device's settings dialog can change (0..100, 50 = neutral).
    int Brightness = 50;
    int Contrast = 50;

    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    void ApplyColourControls();
    void PaintIntruder(double progress, uint8_t* bgr, int stride, uint32_t noiseSalt) const;

    int width_, height_;
    TestSceneConfig config_;
    uint32_t noiseState_;
    std::vector<uint8_t> room_;      // the still picture, tightly packed BGR
    std::vector<uint8_t> adjusted_;  // room_ through lut_, less the noise bound
    std::vector<uint8_t> noise_;     // 0..2 x bound, read at a random offset per row
    uint8_t lut_[256];
    int appliedBrightness_ = -1, appliedContrast_ = -1;
};

class TestMicrophoneScene {
public:
    TestMicrophoneScene(int sampleRate, int channels, int bitsPerSample, const TestSceneConfig& config);
    // `frames` interleaved PCM frames starting at frame `firstFrame` since the
    // source's start: signed 16-bit little-endian or unsigned 8-bit, every
    // channel alike. Each frame depends only on its own number, so any split
    // into buffers gives the same stream. An unsupported format (rate or
    // channels below 1, bits other than 8 or 16) writes nothing.
    void Render(uint64_t firstFrame, size_t frames, uint8_t* out);
    bool Supported() const;

private:
    int rate_, channels_, bits_;
    TestSceneConfig config_;
    uint32_t noiseState_;
};

}  // namespace platform
