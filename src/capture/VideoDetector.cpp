#include "capture/VideoDetector.h"

#include "core/Globali.h"

#include "core/Numbers.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace capture {

namespace {

constexpr uint32_t kSpacingMs = 250;
constexpr uint32_t kQuickSpacingMs = 75;
constexpr uint32_t kResumeDelayMs = 3000;
constexpr uint32_t kRecalibrationDelayMs = 1000;
// No camera comes near this; beyond it the int32 ring sizes could overflow.
constexpr int64_t kMaxFrameSide = 32767;

// Ticks wrap modulo 2^32: a deadline is passed when the wrapped difference
// is positive, which holds for deadlines up to 24 days either side.
bool After(uint32_t now, uint32_t deadline) {
    return static_cast<int32_t>(now - deadline) > 0;
}

int32_t PositiveHeight(int32_t biHeight) {
    return static_cast<int32_t>(std::min<int64_t>(std::llabs(biHeight), 2147483647));
}

int RoundHalfEven(int64_t num, int64_t den) {
    const int64_t q = num / den, r = num % den;
    if (2 * r > den || (2 * r == den && (q & 1))) return static_cast<int>(q + 1);
    return static_cast<int>(q);
}

}  // namespace

VideoFrameFormat FormatFromMediaType(const platform::MediaType& type) {
    VideoFrameFormat format;
    if (type.majortype != platform::MajorType::Video) return format;
    std::optional<platform::BITMAPINFOHEADER> header;
    if (type.formattype == platform::FormatType::VideoInfo) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER>()) header = vih->bmiHeader;
    } else if (type.formattype == platform::FormatType::VideoInfo2) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER2>()) header = vih->bmiHeader;
    }
    if (!header) return format;
    format.bitsPerPixel = header->biBitCount == 15 ? 16 : header->biBitCount;
    format.width = header->biWidth;
    format.height = PositiveHeight(header->biHeight);
    return format;
}

VideoFrameFormat FormatFromEntryText(const std::string& entry) {
    VideoFrameFormat format;
    if (entry.find("24 bits") != std::string::npos)
        format.bitsPerPixel = 24;
    else if (entry.find("16 bits") != std::string::npos)
        format.bitsPerPixel = 16;
    else if (entry.find("32 bits") != std::string::npos)
        format.bitsPerPixel = 32;

    format.width = 352;
    format.height = 288;
    const size_t blank = entry.find(' ');
    const size_t x = blank == std::string::npos ? std::string::npos : entry.find('x', blank + 1);
    if (x != std::string::npos) {
        format.width = ParseInt(entry.substr(blank + 1, x - blank - 1)).value_or(352);
        const size_t comma = entry.find(',', x + 1);
        const size_t end = comma == std::string::npos ? entry.size() : comma;
        format.height = ParseInt(entry.substr(x + 1, end - x - 1)).value_or(288);
    }
    format.height = PositiveHeight(format.height);
    return format;
}

int32_t StepForWidth(int32_t width) {
    if (width < 300) return 2;
    if (width < 400) return 4;
    if (width < 700) return 6;
    if (width < 900) return 8;
    if (width < 1100) return 10;
    return width / 100;
}

VideoDetector::VideoDetector() = default;
VideoDetector::~VideoDetector() = default;

void VideoDetector::Configure(const VideoDetectorSettings& settings,
                              std::function<std::optional<platform::MediaType>()> connectedMediaType,
                              const std::string& selectedFormatEntry,
                              alarms::EventCounters* counters) {
    settings_ = settings;
    connectedMediaType_ = std::move(connectedMediaType);
    selectedFormatEntry_ = selectedFormatEntry;
    counters_ = counters;
}

VideoDetectorSettings VideoDetectorSettings::From(const TSettings& settings) {
    return {settings.AttesaPerCalibrazioneVideo, settings.NumMinMovimentiPerAvviso,
            settings.TempoMaxMovimentiPerAvviso, settings.SesnsibilitaMotionDetector};
}

void VideoDetector::Start() {
    run_.fetch_add(1);
    Busy.store(0);
    State.store(CheckFormat);
}

void VideoDetector::Stop() {
    State.store(Idle);
    Busy.store(0);
}

void VideoDetector::Pause() { savedState_ = State.exchange(Idle); }

void VideoDetector::Resume() {
    Stamp.store(platform::timeGetTime() + kResumeDelayMs);
    State.store(savedState_);
}

void VideoDetector::Release() {
    State.store(Idle);
    Ring.reset();
    RingBytes = 0;
    FrameBytes = 0;
    Cols = Rows = 0;
    BitsPerPixel = 0;
}

bool VideoDetector::Advance(uint8_t from, uint8_t to) {
    return State.compare_exchange_strong(from, to);
}

// Streaming thread; the grabber's lock keeps calls one at a time.
void VideoDetector::VideoSampleGrabberBuffer(const uint8_t* data, size_t length) {
    if (Busy.exchange(1)) return;
    const uint8_t state = State.load();
    const uint32_t now = platform::timeGetTime();
    switch (state) {
    case CheckFormat:
        // A refused format keeps Busy until the user has seen the message.
        if (!CheckFormatStep(now)) return;
        break;
    case WarmUp:
        if (After(now, Stamp.load(std::memory_order_relaxed)) && Advance(WarmUp, Calibrating)) {
            Current = 0;
            Stamp.store(now, std::memory_order_relaxed);
            FrameCounter.store(0, std::memory_order_relaxed);
            PixelThreshold.store(1, std::memory_order_relaxed);
        }
        break;
    case Calibrating:
    case Verifying:
    case Monitoring:
        // Frames in between the analysed ones cost one tick reading.
        if (!After(now, Stamp.load(std::memory_order_relaxed) + kSpacingMs)) break;
        if (!FrameLongEnough(data, length)) break;
        if (state == Calibrating)
            CalibratingStep(data, now);
        else if (state == Verifying)
            VerifyingStep(data, now);
        else
            MonitoringStep(data, now);
        break;
    default:
        break;
    }
    Busy.store(0);
}

bool VideoDetector::WantsFrame(uint32_t now, uint32_t leadMs) const {
    const uint32_t arrival = now + leadMs;
    switch (State.load()) {
    case CheckFormat:
        return true;
    case WarmUp:
        return After(arrival, Stamp.load(std::memory_order_relaxed));
    case Calibrating:
    case Verifying:
    case Monitoring:
        return After(arrival, Stamp.load(std::memory_order_relaxed) + kSpacingMs);
    default:
        return false;
    }
}

bool VideoDetector::CheckFormatStep(uint32_t now) {
    BitsPerPixel = 0;
    VideoFrameFormat format;
    if (connectedMediaType_) {
        try {
            if (auto type = connectedMediaType_()) format = FormatFromMediaType(*type);
        } catch (...) {
            // No media type to read: the format list entry tells instead.
        }
    }
    if (format.bitsPerPixel == 0) format = FormatFromEntryText(selectedFormatEntry_);
    if ((format.bitsPerPixel != 16 && format.bitsPerPixel != 24 && format.bitsPerPixel != 32) ||
        !Prepare(format)) {
        RefuseFormat();
        return false;
    }
    Stamp.store(now + static_cast<uint32_t>(WarmUpMs), std::memory_order_relaxed);
    Advance(CheckFormat, WarmUp);
    return true;
}

void VideoDetector::RefuseFormat() {
    BitsPerPixel = 0;
    const uint32_t run = run_.load();
    auto dismissed = [this, run] {
        if (run_.load() != run) return;  // stopped and started again meanwhile
        State.store(Idle);
        Busy.store(0);
    };
    if (onUnsupportedFormat)
        onUnsupportedFormat(dismissed);
    else
        dismissed();
}

bool VideoDetector::Prepare(const VideoFrameFormat& format) {
    if (format.width < 1 || format.width > kMaxFrameSide || format.height < 1 ||
        format.height > kMaxFrameSide)
        return false;
    const int32_t step = StepForWidth(format.width);
    const int32_t cols = format.width / step, rows = format.height / step;
    if (cols < 1 || rows < 1) return false;

    Width = format.width;
    Height = format.height;
    Step = step;
    Interval = static_cast<int32_t>(kSpacingMs);
    Capacity = kCapacity;
    Ring.reset();
    Cols = cols;
    Rows = rows;
    FrameBytes = Cols * Rows * 3;
    RingBytes = FrameBytes * Capacity;
    // Plain heap memory: the ring is small (at most a few MB) and read
    // sequentially, so uncached or locked pages would buy nothing.
    Ring.reset(new (std::nothrow) uint8_t[RingBytes]());
    if (!Ring) {
        RingBytes = FrameBytes = Cols = Rows = 0;
        return false;
    }
    BitsPerPixel = format.bitsPerPixel;

    Stamp.store(0, std::memory_order_relaxed);
    Current = 0;
    PixelThreshold.store(1, std::memory_order_relaxed);
    Sensitivity = settings_.SesnsibilitaMotionDetector;
    SensitivityLess1 = Sensitivity - 1;
    SensitivityLess2 = Sensitivity - 2;
    std::fill(std::begin(DetectionRing), std::end(DetectionRing), DetectionEntry{});
    DetectionIndex = 0;
    DetectionCount = 0;
    // A record and the detection ring hold 100 items: a larger minimum would
    // never be met.
    MinMovements = std::clamp(settings_.NumMinMovimentiPerAvviso, 1, kDetections);
    WindowMs = std::max(settings_.TempoMaxMovimentiPerAvviso, 0);
    CalibrationFrames = Capacity;
    VerificationFrames = 2 * Capacity;
    WarmUpMs = std::clamp(settings_.AttesaPerCalibrazioneVideo, 0, 86400) * 1000;
    std::fill(std::begin(Excluded), std::end(Excluded), uint8_t{0});
    FrameCounter.store(0, std::memory_order_relaxed);
    VotesPrevious = VotesHalf = VotesOldest = 0;
    HitX = HitY = 0;
    return true;
}

bool VideoDetector::FrameLongEnough(const uint8_t* data, size_t length) const {
    if (!data || !Ring) return false;
    const size_t needed = static_cast<size_t>(Width) * static_cast<size_t>(Height) *
                          static_cast<size_t>(BitsPerPixel / 8);
    return length >= needed;
}

void VideoDetector::SampleFrame(int32_t slot, const uint8_t* frame, uint32_t now) {
    Excluded[slot] = 0;
    uint8_t* dst = Ring.get() + static_cast<size_t>(slot) * FrameBytes;
    const size_t bytes = static_cast<size_t>(BitsPerPixel / 8);
    const size_t rowStep = static_cast<size_t>(Width) * bytes * Step;
    const size_t colStep = bytes * Step;
    for (int32_t r = 0; r < Rows; ++r) {
        const uint8_t* src = frame + rowStep * r;
        if (bytes == 2) {
            for (int32_t c = 0; c < Cols; ++c, src += colStep, dst += 3) {
                const unsigned v = src[0] | (src[1] << 8);
                dst[0] = v & 31;
                dst[1] = (v >> 5) & 31;
                dst[2] = (v >> 10) & 31;
            }
        } else {
            for (int32_t c = 0; c < Cols; ++c, src += colStep, dst += 3) {
                dst[0] = src[0];
                dst[1] = src[1];
                dst[2] = src[2];
            }
        }
    }
    Stamp.store(now, std::memory_order_relaxed);
}

inline int32_t VideoDetector::ColourDistance(int32_t x, int32_t y, const uint8_t* a,
                                             const uint8_t* b) const {
    if (x < 0 || x >= Cols || y < 0 || y >= Rows) return 0;
    const size_t i = (static_cast<size_t>(y) * Cols + x) * 3;
    return std::abs(a[i] - b[i]) + std::abs(a[i + 1] - b[i + 1]) + std::abs(a[i + 2] - b[i + 2]);
}

bool VideoDetector::CompareFrame(int32_t cur, uint8_t state) {
    VotesPrevious = VotesHalf = VotesOldest = 0;
    const int32_t refSlots[3] = {cur == 0 ? kCapacity - 1 : cur - 1, (cur + 10) % kCapacity,
                                 (cur + 1) % kCapacity};
    uint16_t* fields[3] = {&VotesPrevious, &VotesHalf, &VotesOldest};
    const uint8_t* a = Ring.get() + static_cast<size_t>(cur) * FrameBytes;
    const int32_t threshold = PixelThreshold.load(std::memory_order_relaxed);
    const bool monitoring = state == Monitoring;

    for (int32_t y = 0; y < Rows; ++y) {
        for (int32_t x = 0; x < Cols; ++x) {
            for (int k = 0; k < 3; ++k) {
                if (!Excluded[refSlots[k]]) {
                    const uint8_t* b = Ring.get() + static_cast<size_t>(refSlots[k]) * FrameBytes;
                    uint16_t votes = 0;
                    if (ColourDistance(x, y, a, b) > threshold) {
                        for (int dy = -1; dy <= 1; ++dy)
                            for (int dx = -1; dx <= 1; ++dx) {
                                if (dx == 0 && dy == 0) continue;
                                votes += ColourDistance(x + dx, y + dy, a, b) > threshold;
                                votes += ColourDistance(x + 2 * dx, y + 2 * dy, a, b) > threshold;
                            }
                    }
                    *fields[k] = std::max(*fields[k], votes);
                }
                if (*fields[k] > Sensitivity && monitoring) {
                    HitX = x;
                    HitY = y;
                    return true;
                }
                // A fully changed neighbourhood says enough for a calibration.
                if (k == 0 && VotesPrevious >= 16) return true;
            }
        }
    }
    return false;
}

void VideoDetector::CalibratingStep(const uint8_t* frame, uint32_t now) {
    int32_t counter = FrameCounter.load(std::memory_order_relaxed);
    if (counter == 0) {
        // A fresh pass starts from a ring of this frame only.
        SampleFrame(0, frame, now);
        for (int32_t s = 1; s < kCapacity; ++s) {
            std::memcpy(Ring.get() + static_cast<size_t>(s) * FrameBytes, Ring.get(), FrameBytes);
            Excluded[s] = 0;
        }
        if (onCalibrationStarted) onCalibrationStarted();
    }
    SampleFrame(Current, frame, now);
    (void)CompareFrame(Current, Calibrating);

    const int32_t s1 = SensitivityLess1, s2 = SensitivityLess2;
    const bool disturbed = VotesPrevious > s2 || VotesHalf > s1 || VotesOldest > s1 ||
                           (VotesPrevious == s2 && (VotesHalf > s2 || VotesOldest > s2));
    if (disturbed) {
        const int step = BitsPerPixel == 16 ? 1 : 3;
        const int threshold = PixelThreshold.load(std::memory_order_relaxed) + step;
        PixelThreshold.store(static_cast<uint16_t>(threshold), std::memory_order_relaxed);
    } else {
        FrameCounter.store(++counter, std::memory_order_relaxed);
    }
    Current = (Current + 1) % kCapacity;
    if (counter > CalibrationFrames && Advance(Calibrating, Verifying))
        FrameCounter.store(0, std::memory_order_relaxed);
}

void VideoDetector::VerifyingStep(const uint8_t* frame, uint32_t now) {
    SampleFrame(Current, frame, now);
    (void)CompareFrame(Current, Verifying);

    int32_t counter = FrameCounter.load(std::memory_order_relaxed);
    bool stillVerifying = true;
    const int32_t s1 = SensitivityLess1;
    if (VotesPrevious > s1 || VotesHalf > s1 || VotesOldest > s1) {
        if (!Advance(Verifying, Calibrating)) return;  // stopped or paused meanwhile
        const int32_t threshold = PixelThreshold.load(std::memory_order_relaxed);
        if (BitsPerPixel == 16) {
            if (threshold > 3) PixelThreshold.store(static_cast<uint16_t>(threshold - 2));
        } else if (threshold > 30) {
            PixelThreshold.store(static_cast<uint16_t>(threshold - 30));
        }
        stillVerifying = false;
        // -1 + 1 = 0 below: the calibration refills the whole ring.
        counter = -1;
        Stamp.store(now + kRecalibrationDelayMs, std::memory_order_relaxed);
    }
    FrameCounter.store(++counter, std::memory_order_relaxed);
    Current = (Current + 1) % kCapacity;
    if (stillVerifying && counter > VerificationFrames) Advance(Verifying, Monitoring);
}

void VideoDetector::MonitoringStep(const uint8_t* frame, uint32_t now) {
    SampleFrame(Current, frame, now);
    if (CompareFrame(Current, Monitoring)) {
        // A frame with a movement is no reference for the frames after it.
        Excluded[Current] = 1;
        DetectionRing[DetectionIndex] = {HitX, HitY, Stamp.load(std::memory_order_relaxed)};
        if (DetectionCount < kDetections) ++DetectionCount;
        RaiseEventIfDue();
        // Moved against the half-ring frame: look again soon.
        if (VotesHalf > Sensitivity)
            Stamp.store(now - kSpacingMs + kQuickSpacingMs, std::memory_order_relaxed);
        DetectionIndex = (DetectionIndex + 1) % kDetections;
    }
    Current = (Current + 1) % kCapacity;
}

// The N-within-T rule over the detection ring; the entries stay for the
// next detections (an event does not consume them).
void VideoDetector::RaiseEventIfDue() {
    const int32_t n = MinMovements;
    bool event = n < 2;
    if (!event && DetectionCount >= n) {
        const int32_t first = ((DetectionIndex - n + 1) % kDetections + kDetections) % kDetections;
        const uint32_t span = DetectionRing[DetectionIndex].time - DetectionRing[first].time;
        event = span <= static_cast<uint32_t>(WindowMs);
    }
    if (!event || !counters_) return;
    alarms::MovementItem items[kDetections];
    int32_t index = DetectionIndex;
    for (int32_t i = 0; i < n; ++i) {
        const DetectionEntry& d = DetectionRing[index];
        items[i] = {d.x, d.y, d.time};
        index = index == 0 ? kDetections - 1 : index - 1;
    }
    counters_->AppendEvent(alarms::EventoMovimento, items, n);
}

int VideoPrecisionPercent(uint16_t pixelThreshold) {
    const int precision = std::max(200 - std::min<int>(pixelThreshold, 200), 10);
    return RoundHalfEven(static_cast<int64_t>(precision) * 100, 200);
}

std::string VideoPrecisionLabel(int percent) {
    return "Precisione del dispositivo video: " + std::to_string(percent) + " %";
}

int CalibrationProgress(int32_t frameCounter) {
    return RoundHalfEven(static_cast<int64_t>(std::max(frameCounter, 0)) * 50, 20);
}

int VerificationProgress(int32_t frameCounter) {
    return RoundHalfEven(static_cast<int64_t>(std::max(frameCounter, 0)) * 50, 40) + 50;
}

VideoPrecisionDisplay AggCalibVideoStep(uint8_t state, uint16_t pixelThreshold,
                                        int32_t frameCounter) {
    VideoPrecisionDisplay display;
    switch (state) {
    case Calibrating:
        display.action = VideoPrecisionDisplay::Update;
        display.indicator = VideoPrecisionPercent(pixelThreshold);
        display.label = VideoPrecisionLabel(*display.indicator);
        if (frameCounter >= 0) display.progress = CalibrationProgress(frameCounter);
        break;
    case Verifying:
        display.action = VideoPrecisionDisplay::Update;
        if (frameCounter >= 0) display.progress = VerificationProgress(frameCounter);
        break;
    case Monitoring:
    case Idle:
        display.action = VideoPrecisionDisplay::SwitchOff;
        break;
    default:
        break;
    }
    return display;
}

}  // namespace capture
