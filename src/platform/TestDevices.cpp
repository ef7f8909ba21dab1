#include "platform/TestDevices.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace platform {

namespace {

constexpr uint32_t DefaultIntruderSeconds = 30;
// intruderPeriodMs is 32 bits wide.
constexpr uint64_t MaxIntruderSeconds = UINT32_MAX / 1000;
// Noise is read from a table at a random offset per row: one add per byte
// keeps a frame cheap at 15 frames a second.
constexpr uint32_t NoiseSpan = 1u << 16;
// Overlapping windows (a period shorter than the crossing) show several
// intruders at once; more than this many would only cost time.
constexpr int MaxIntrudersAtOnce = 8;
constexpr double Pi = 3.14159265358979323846;

uint32_t Mix32(uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

uint32_t Mix64(uint64_t x) {
    return Mix32(static_cast<uint32_t>(x) ^ Mix32(static_cast<uint32_t>(x >> 32) + 0x9e3779b9U));
}

// xorshift32 must never hold 0.
uint32_t NonZero(uint32_t x) { return x ? x : 0x6d2b79f5U; }

uint32_t XorShift(uint32_t& s) {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
}

double Hash01(uint32_t a, uint32_t b = 0, uint32_t c = 0) {
    return Mix32(a * 0x9e3779b1U ^ Mix32(b * 0x85ebca77U ^ Mix32(c + 0xc2b2ae3dU))) / 4294967296.0;
}

double Fract(double x) { return x - std::floor(x); }

uint8_t ClampByte(double v) {
    if (v <= 0) return 0;
    if (v >= 255) return 255;
    return static_cast<uint8_t>(std::lround(v));
}

struct Colour {
    double r, g, b;
};

Colour Rgb(double r, double g, double b) { return {r, g, b}; }
Colour Scale(Colour c, double f) { return {c.r * f, c.g * f, c.b * f}; }
Colour Lerp(Colour a, Colour b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

bool InBox(double u, double v, double u0, double v0, double u1, double v1) {
    return u >= u0 && u < u1 && v >= v0 && v < v1;
}

// Squared distance from (x, y) to the segment (ax, ay)-(bx, by).
double SegmentDist2(double x, double y, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((x - ax) * dx + (y - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double ex = x - (ax + t * dx), ey = y - (ay + t * dy);
    return ex * ex + ey * ey;
}

// The room, in picture fractions: u across (0 left), v down (0 top); `aspect`
// (width / height) keeps round things round. Each layer paints over the ones
// before it, back to front.
Colour RoomColour(double u, double v, double aspect, uint32_t px, uint32_t py) {
    const double grainNoise = Hash01(px, py, 17) - 0.5;
    Colour c;

    // Wall: warm plaster with faint wallpaper stripes.
    if (v < 0.62) {
        c = Lerp(Rgb(226, 214, 192), Rgb(200, 186, 160), v / 0.62);
        if (Fract(u * 30) >= 0.5) c = Scale(c, 0.975);
        c = Scale(c, 1 + grainNoise * 0.025);
        if (v < 0.035) c = Rgb(240, 237, 230);
        else if (v < 0.043) c = Rgb(200, 190, 172);
        if (v >= 0.585) c = v < 0.59 ? Rgb(190, 180, 165) : Rgb(236, 233, 225);
    } else {
        // Floor boards running away from the viewer.
        const double depth = 1.0 / (v - 0.45);
        const double across = (u - 0.5) * depth * 3.5;
        const double plank = std::floor(across);
        const double f = across - plank;
        const double along = depth * 1.6 + Hash01(static_cast<uint32_t>(plank + 1000), 3);
        const uint32_t board = static_cast<uint32_t>(std::floor(along));
        if (f < 0.04 || Fract(along) < 0.02) {
            c = Rgb(70, 45, 28);
        } else {
            const double tone = 0.88 + 0.24 * Hash01(static_cast<uint32_t>(plank + 1000), board, 5);
            const double grain = 1 + 0.05 * std::sin(f * 40 + depth * 3 + board) +
                                 0.03 * std::sin(f * 97 + board * 7) + grainNoise * 0.03;
            c = Scale(Rgb(164, 112, 70), tone * grain);
        }
        // Sunlight from the window.
        const double shift = (v - 0.66) * 0.5;
        if (v >= 0.66 && v < 0.9 && u >= 0.12 + shift && u < 0.36 + shift) c = Scale(c, 1.15);
        // Rug.
        const double ru = (u - 0.5) / 0.2, rv = (v - 0.83) / 0.075;
        const double e = ru * ru + rv * rv;
        if (e <= 1) {
            if (e > 0.75) c = Rgb(220, 205, 170);
            else if (e > 0.62) c = Rgb(110, 30, 36);
            else if (std::fabs(Fract(u * 20) - 0.5) + std::fabs(Fract(v * 40) - 0.5) < 0.22)
                c = Rgb(200, 150, 60);
            else c = Rgb(150, 40, 48);
            c = Scale(c, 1 + grainNoise * 0.06);
        }
        // The table's shadow.
        const double su = (u - 0.555) / 0.17, sv = (v - 0.79) / 0.022;
        if (su * su + sv * sv <= 1) c = Scale(c, 0.7);
    }

    // Window with sky, a cloud and hills.
    if (InBox(u, v, 0.07, 0.09, 0.33, 0.46)) {
        const bool frame = u < 0.082 || u >= 0.318 || v < 0.106 || v >= 0.444 ||
                           std::fabs(u - 0.2) < 0.006 || std::fabs(v - 0.27) < 0.008;
        if (frame) {
            c = Rgb(238, 238, 234);
        } else {
            c = Lerp(Rgb(120, 165, 225), Rgb(205, 225, 240), (v - 0.09) / 0.31);
            const double cx1 = (u - 0.13) * aspect / 0.035, cy1 = (v - 0.165) / 0.028;
            const double cx2 = (u - 0.16) * aspect / 0.045, cy2 = (v - 0.155) / 0.032;
            if (cx1 * cx1 + cy1 * cy1 <= 1 || cx2 * cx2 + cy2 * cy2 <= 1) c = Rgb(245, 245, 248);
            const double horizon = 0.37 + 0.025 * std::sin(u * 40) + 0.01 * std::sin(u * 97);
            if (v > horizon) c = Scale(Rgb(80, 135, 70), 1.1 - (v - horizon) * 3 + grainNoise * 0.1);
            // A little shade where the glass meets the frame.
            if (u < 0.086 || v < 0.11 || std::fabs(u - 0.2) < 0.009 || std::fabs(v - 0.27) < 0.011)
                c = Scale(c, 0.9);
        }
    }
    if (InBox(u, v, 0.06, 0.46, 0.34, 0.475)) c = Rgb(240, 240, 236);
    if (InBox(u, v, 0.06, 0.475, 0.34, 0.485)) c = Scale(c, 0.85);

    // Curtains and their rod.
    for (double u0 : {0.03, 0.31}) {
        if (InBox(u, v, u0, 0.056, u0 + 0.06, 0.57)) {
            const double fold = 0.5 + 0.5 * std::sin(2 * Pi * (u - u0) / 0.015);
            c = Scale(Rgb(125, 150, 135), (0.8 + 0.2 * fold) * (v > 0.555 ? 0.85 : 1.0));
        }
    }
    if (InBox(u, v, 0.025, 0.048, 0.375, 0.056)) c = Rgb(60, 60, 64);

    // A framed sunset.
    if (InBox(u, v, 0.444, 0.141, 0.584, 0.314)) c = Scale(c, 0.85);  // its shadow
    if (InBox(u, v, 0.44, 0.13, 0.58, 0.31)) {
        if (!InBox(u, v, 0.448, 0.141, 0.572, 0.299)) {
            c = Rgb(92, 62, 38);
        } else if (!InBox(u, v, 0.46, 0.157, 0.56, 0.283)) {
            c = Rgb(235, 228, 210);
        } else if (v < 0.235) {
            c = Lerp(Rgb(110, 70, 130), Rgb(245, 150, 70), (v - 0.157) / 0.078);
            const double sx = (u - 0.51) * aspect / 0.02, sy = (v - 0.225) / 0.02;
            if (sx * sx + sy * sy <= 1) c = Rgb(252, 220, 120);
        } else {
            c = Scale(Rgb(40, 80, 130), 0.9 + 0.2 * (0.5 + 0.5 * std::sin(v * 400 + u * 30)));
        }
    }

    // Light switch.
    if (InBox(u, v, 0.395, 0.29, 0.41, 0.315)) c = InBox(u, v, 0.4, 0.297, 0.405, 0.308) ? Rgb(215, 215, 210) : Rgb(244, 243, 240);

    // Bookshelf.
    if (InBox(u, v, 0.74, 0.10, 0.95, 0.60)) {
        const Colour wood = Scale(Rgb(130, 92, 58), 1 + grainNoise * 0.05);
        const double boards[] = {0.10, 0.22, 0.34, 0.46, 0.585};
        c = Rgb(95, 66, 42);
        bool inBoard = u < 0.752 || u >= 0.938;
        int shelf = -1;
        for (int i = 0; i < 5; ++i) {
            if (v >= boards[i] && v < boards[i] + (i == 4 ? 0.015 : 0.012)) inBoard = true;
            if (i < 4 && v >= boards[i] + 0.012 && v < boards[i + 1]) shelf = i;
        }
        if (inBoard) {
            c = wood;
        } else if (shelf >= 0) {
            const double top = boards[shelf] + 0.012, bottom = boards[shelf + 1];
            const double pos = (u - 0.752) / 0.011;
            const uint32_t book = static_cast<uint32_t>(pos);
            const double h = Hash01(book, shelf, 11);
            const double height = 0.6 + 0.35 * Hash01(book, shelf, 12);
            if (h >= 0.08 && v >= bottom - (bottom - top) * height) {
                static const Colour palette[] = {Rgb(150, 30, 35), Rgb(30, 70, 130),  Rgb(40, 110, 60),
                                                 Rgb(200, 170, 60), Rgb(90, 50, 110), Rgb(220, 215, 200),
                                                 Rgb(160, 90, 40),  Rgb(45, 45, 50)};
                c = Scale(palette[static_cast<int>(h * 8) & 7], 0.85 + 0.3 * Hash01(book, shelf, 13));
                const double bookTop = bottom - (bottom - top) * height;
                if (std::fabs(v - (bookTop + (bottom - bookTop) * 0.2)) < 0.004) c = Rgb(210, 180, 90);
                if (Fract(pos) < 0.1) c = Scale(c, 0.6);
            }
        }
    }

    // Table, with a vase of flowers.
    if (InBox(u, v, 0.40, 0.535, 0.70, 0.545)) c = Rgb(150, 105, 68);
    if (InBox(u, v, 0.40, 0.545, 0.70, 0.575)) c = Scale(Rgb(112, 74, 46), v > 0.568 ? 0.8 : 1.0);
    if ((InBox(u, v, 0.445, 0.575, 0.46, 0.72) || InBox(u, v, 0.64, 0.575, 0.655, 0.72))) c = Rgb(80, 52, 32);
    if ((InBox(u, v, 0.415, 0.575, 0.433, 0.79) || InBox(u, v, 0.667, 0.575, 0.685, 0.79)))
        c = Scale(Rgb(112, 74, 46), 1 + grainNoise * 0.05);
    const double X = u * aspect, vaseX = 0.53 * aspect;
    const double stems[3][2] = {{0.51, 0.42}, {0.53, 0.405}, {0.552, 0.425}};
    const Colour blossoms[3] = {Rgb(220, 40, 50), Rgb(250, 215, 60), Rgb(245, 240, 245)};
    for (int i = 0; i < 3; ++i) {
        const double bx = stems[i][0] * aspect, by = stems[i][1];
        if (v < 0.47 && SegmentDist2(X, v, vaseX, 0.47, bx, by) < 0.0025 * 0.0025) c = Rgb(50, 110, 45);
        if ((X - bx) * (X - bx) + (v - by) * (v - by) < 0.011 * 0.011) c = blossoms[i];
    }
    const double vx = (X - vaseX) / 0.022, vy = (v - 0.51) / 0.027;
    if ((vx * vx + vy * vy <= 1 && v < 0.535) || (std::fabs(X - vaseX) < 0.008 && v >= 0.47 && v < 0.49)) {
        c = Rgb(60, 95, 160);
        if (vx > -0.6 && vx < -0.3 && vy < 0.2) c = Rgb(150, 180, 225);
    }

    // Lenses darken towards the corners.
    const double du = u - 0.5, dv = v - 0.5;
    return Scale(c, 1 - 0.24 * (du * du + dv * dv));
}

}  // namespace

TestSceneConfig TestSceneConfigFromEnv() {
    TestSceneConfig c;
    uint64_t seconds = DefaultIntruderSeconds;
    if (const char* raw = std::getenv("OCULARA_TEST_INTRUDER_SECONDS")) {
        std::string_view text(raw);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
        const bool digits = !text.empty() && std::all_of(text.begin(), text.end(), [](char ch) {
            return ch >= '0' && ch <= '9';
        });
        if (digits) {
            uint64_t value = 0;
            for (char ch : text) value = std::min<uint64_t>(value * 10 + (ch - '0'), MaxIntruderSeconds + 1);
            if (value >= 1) seconds = std::min(value, MaxIntruderSeconds);
        }
    }
    c.intruderPeriodMs = static_cast<uint32_t>(seconds * 1000);
    return c;
}

namespace {
// Windows [k P, k P + duration) for k >= 1: the latest one that has begun is
// the last to end, so it alone decides.
bool InWindow(uint32_t periodMs, uint32_t durationMs, uint64_t ms) {
    if (periodMs == 0) return false;
    const uint64_t k = ms / periodMs;
    return k >= 1 && ms - k * periodMs < durationMs;
}
}  // namespace

bool IntruderVisibleAt(const TestSceneConfig& c, uint64_t msSinceStart) {
    return InWindow(c.intruderPeriodMs, c.intruderVideoMs, msSinceStart);
}

bool IntruderAudibleAt(const TestSceneConfig& c, uint64_t msSinceStart) {
    return InWindow(c.intruderPeriodMs, c.intruderSoundMs, msSinceStart);
}

// ---------------------------------------------------------------- camera

TestCameraScene::TestCameraScene(int width, int height, const TestSceneConfig& config)
    : width_(std::max(width, 0)), height_(std::max(height, 0)), config_(config),
      noiseState_(NonZero(Mix32(config.seed ^ 0xa511e9b3U))) {
    if (width_ == 0 || height_ == 0) width_ = height_ = 0;
    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    room_.resize(rowBytes * height_);
    adjusted_.resize(room_.size());
    noise_.resize(NoiseSpan + rowBytes);

    const double aspect = height_ ? static_cast<double>(width_) / height_ : 1.0;
    for (int y = 0; y < height_; ++y) {
        const double v = (y + 0.5) / height_;
        uint8_t* row = room_.data() + y * rowBytes;
        for (int x = 0; x < width_; ++x) {
            const Colour c = RoomColour((x + 0.5) / width_, v, aspect, x, y);
            row[x * 3 + 0] = ClampByte(c.b);
            row[x * 3 + 1] = ClampByte(c.g);
            row[x * 3 + 2] = ClampByte(c.r);
        }
    }

    uint32_t s = noiseState_;
    for (uint8_t& n : noise_) n = static_cast<uint8_t>((XorShift(s) >> 8) % (2 * TestCameraNoiseBound + 1));
    ApplyColourControls();
}

void TestCameraScene::ApplyColourControls() {
    const int b = std::clamp(Brightness, 0, 100), k = std::clamp(Contrast, 0, 100);
    if (b == appliedBrightness_ && k == appliedContrast_) return;
    const double gain = k / 50.0, offset = (b - 50) * 2.55;
    // The noise is added around these levels, so keep them far enough from
    // black and white for it never to be clipped.
    for (int i = 0; i < 256; ++i)
        lut_[i] = std::clamp<uint8_t>(ClampByte((i - 128) * gain + 128 + offset), TestCameraNoiseBound,
                                      255 - TestCameraNoiseBound);
    for (size_t i = 0; i < room_.size(); ++i) adjusted_[i] = lut_[room_[i]] - TestCameraNoiseBound;
    appliedBrightness_ = b;
    appliedContrast_ = k;
}

void TestCameraScene::Render(uint64_t msSinceStart, uint8_t* bgr, int stride) {
    if (width_ == 0 || !bgr || stride < width_ * 3) return;
    ApplyColourControls();

    const size_t rowBytes = static_cast<size_t>(width_) * 3;
    uint32_t s = NonZero(Mix64(msSinceStart) ^ noiseState_);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* __restrict src = adjusted_.data() + y * rowBytes;
        const uint8_t* __restrict noise = noise_.data() + (XorShift(s) & (NoiseSpan - 1));
        uint8_t* __restrict dst = bgr + static_cast<size_t>(y) * stride;
        // Bytes of adjusted_ are 0..255 - 2 x bound and noise bytes
        // 0..2 x bound: their sums never carry, so eight add at once.
        size_t i = 0;
        for (; i + 8 <= rowBytes; i += 8) {
            uint64_t a, b;
            std::memcpy(&a, src + i, 8);
            std::memcpy(&b, noise + i, 8);
            a += b;
            std::memcpy(dst + i, &a, 8);
        }
        for (; i < rowBytes; ++i) dst[i] = static_cast<uint8_t>(src[i] + noise[i]);
    }

    const uint32_t period = config_.intruderPeriodMs, duration = config_.intruderVideoMs;
    if (period == 0 || duration == 0) return;
    // Oldest first, so that a later intruder walks in front of an earlier one.
    const uint64_t k = msSinceStart / period;
    for (int back = MaxIntrudersAtOnce - 1; back >= 0; --back) {
        if (k < static_cast<uint64_t>(back) + 1) continue;
        const uint64_t start = (k - back) * period;
        if (msSinceStart - start >= duration) continue;
        PaintIntruder(static_cast<double>(msSinceStart - start) / duration, bgr, stride, XorShift(s));
    }
}

// A dark walking figure a third of the picture high, facing right; its
// centre crosses from the left edge (progress 0) to the right edge (1).
void TestCameraScene::PaintIntruder(double progress, uint8_t* bgr, int stride, uint32_t noiseSalt) const {
    const double size = std::max(height_ / 3.0, 3.0);
    const double feet = height_ * 0.84, top = feet - size;
    const double centre = progress * width_;
    const double swing = std::sin(progress * 2 * Pi * 3.5);  // three and a half strides
    enum { None, Head, Coat, Trousers, Far };
    static const uint8_t colours[][3] = {{0, 0, 0}, {48, 55, 70}, {60, 45, 38}, {40, 34, 30}, {30, 27, 25}};  // BGR

    auto part = [&](double lx, double ly) {
        auto limb = [&](double ax, double ay, double bx, double by, double r) {
            if (ly < std::min(ay, by) - r || ly > std::max(ay, by) + r) return false;
            if (lx < std::min(ax, bx) - r || lx > std::max(ax, bx) + r) return false;
            return SegmentDist2(lx, ly, ax, ay, bx, by) <= r * r;
        };
        if (limb(0, 0.21, 0.13 * swing, 0.5, 0.035)) return Coat;  // near arm
        const double hx = (lx - 0.012) / 0.055, hy = (ly - 0.075) / 0.07;
        if (hx * hx + hy * hy <= 1) return Head;
        if (std::fabs(lx) <= 0.028 && ly >= 0.12 && ly <= 0.18) return Head;
        if (ly >= 0.16 && ly <= 0.54 && std::fabs(lx) <= 0.105 - (ly - 0.16) * 0.06) return Coat;
        if (limb(-0.07, 0.2, 0.07, 0.2, 0.045)) return Coat;
        const double nearFoot = -0.15 * swing, farFoot = 0.15 * swing;
        if (limb(0, 0.53, nearFoot, 0.97, 0.05) || limb(nearFoot, 0.975, nearFoot + 0.07, 0.975, 0.028))
            return Trousers;
        if (limb(0, 0.21, -0.13 * swing, 0.5, 0.033)) return Far;
        if (limb(0, 0.53, farFoot, 0.97, 0.048) || limb(farFoot, 0.975, farFoot + 0.07, 0.975, 0.026))
            return Far;
        return None;
    };

    const int x0 = std::max(0, static_cast<int>(std::floor(centre - 0.3 * size)));
    const int x1 = std::min(width_, static_cast<int>(std::ceil(centre + 0.3 * size)) + 1);
    const int y0 = std::max(0, static_cast<int>(std::floor(top)));
    const int y1 = std::min(height_, static_cast<int>(std::ceil(feet + 0.05 * size)) + 1);
    for (int y = y0; y < y1; ++y) {
        const double ly = (y + 0.5 - top) / size;
        uint8_t* row = bgr + static_cast<size_t>(y) * stride;
        const uint8_t* noise = noise_.data() + ((noiseSalt + y * 7919u) & (NoiseSpan - 1));
        for (int x = x0; x < x1; ++x) {
            const int p = part((x + 0.5 - centre) / size, ly);
            if (p == None) continue;
            for (int ch = 0; ch < 3; ++ch)
                row[x * 3 + ch] = static_cast<uint8_t>(lut_[colours[p][ch]] - TestCameraNoiseBound + noise[x * 3 + ch]);
        }
    }
}

// ---------------------------------------------------------------- microphone

TestMicrophoneScene::TestMicrophoneScene(int sampleRate, int channels, int bitsPerSample,
                                         const TestSceneConfig& config)
    : rate_(sampleRate), channels_(channels), bits_(bitsPerSample), config_(config),
      noiseState_(Mix32(config.seed ^ 0x3c6ef372U)) {}

bool TestMicrophoneScene::Supported() const {
    return rate_ > 0 && channels_ > 0 && (bits_ == 8 || bits_ == 16);
}

void TestMicrophoneScene::Render(uint64_t firstFrame, size_t frames, uint8_t* out) {
    if (!Supported() || !out) return;
    const uint32_t period = config_.intruderPeriodMs;
    const double soundSeconds = config_.intruderSoundMs / 1000.0;
    const double amplitude = TestMicrophoneLoudness * 32767;
    const size_t bytesPerFrame = static_cast<size_t>(channels_) * (bits_ / 8);

    for (size_t i = 0; i < frames; ++i) {
        const uint64_t frame = firstFrame + i;
        const uint64_t ms = frame * 1000 / rate_;
        double tone = 0;
        if (IntruderAudibleAt(config_, ms)) {
            const uint64_t startMs = ms / period * period;
            const double t = static_cast<double>(frame) / rate_ - startMs / 1000.0;
            // 800 and 1200 Hz by turns every quarter second: both complete a
            // whole number of cycles per turn, so the phase never jumps.
            const double turn = std::floor(t / 0.25);
            const double hz = static_cast<int64_t>(turn) % 2 == 0 ? 800 : 1200;
            const double ramp = std::clamp(std::min(t, soundSeconds - t) / 0.005, 0.0, 1.0);
            tone = amplitude * ramp * std::sin(2 * Pi * hz * (t - turn * 0.25));
        }
        const uint32_t h = Mix32(static_cast<uint32_t>(frame) ^ Mix32(static_cast<uint32_t>(frame >> 32) ^ noiseState_));
        uint8_t* p = out + i * bytesPerFrame;
        if (bits_ == 16) {
            const int noise = static_cast<int>(h % (2 * TestMicrophoneNoise16 + 1)) - TestMicrophoneNoise16;
            const int v = std::clamp(static_cast<int>(std::lround(tone)) + noise, -32768, 32767);
            const uint16_t u = static_cast<uint16_t>(v);
            for (int c = 0; c < channels_; ++c) {
                p[c * 2] = static_cast<uint8_t>(u & 0xff);
                p[c * 2 + 1] = static_cast<uint8_t>(u >> 8);
            }
        } else {
            const int noise = static_cast<int>(h % (2 * TestMicrophoneNoise8 + 1)) - TestMicrophoneNoise8;
            const uint8_t v = static_cast<uint8_t>(std::clamp(128 + static_cast<int>(std::lround(tone / 256)) + noise, 0, 255));
            std::memset(p, v, channels_);
        }
    }
}

namespace {
std::atomic<int> videoFault{0}, audioFault{0};
}  // namespace

void SetTestDeviceFault(bool video, TestDeviceFault fault) { (video ? videoFault : audioFault) = int(fault); }
TestDeviceFault TestDeviceFaultNow(bool video) { return TestDeviceFault((video ? videoFault : audioFault).load()); }

}  // namespace platform
