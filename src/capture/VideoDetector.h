#pragma once
// The motion detector. Each frame is reduced to a coarse grid of colour
// samples kept in a ring of 20; a new frame is compared with three older
// ones. Before it watches, the detector raises its per-sample threshold until
// the still scene looks quiet, then verifies it. Fed with raw frame bytes
// from any source: no GStreamer, no Qt.

#include "alarms/EventCounters.h"
#include "capture/DetectorState.h"
#include "platform/MediaType.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

struct TSettings;

namespace capture {

inline constexpr const char* kVideoFormatNotSupported =
    "Risoluzione di acquisizione video non supportata.";
inline constexpr const char* kVideoFormatNotSupportedCaption = "Attenzione";

// The settings the detector copies when it accepts a format, so a change
// takes effect at the next start of monitoring.
struct VideoDetectorSettings {
    int32_t AttesaPerCalibrazioneVideo = 3;    // seconds
    int32_t NumMinMovimentiPerAvviso = 3;      // N, bounded to 1..100
    int32_t TempoMaxMovimentiPerAvviso = 4000; // T in ms
    int32_t SesnsibilitaMotionDetector = 3;    // S

    static VideoDetectorSettings From(const TSettings& settings);
};

struct DetectionEntry {
    int32_t x = 0, y = 0;
    uint32_t time = 0;
};

// A format as the detector learns it: bits 16, 24 or 32 are accepted.
struct VideoFrameFormat {
    int32_t bitsPerPixel = 0;
    int32_t width = 0;
    int32_t height = 0;  // rows in the buffer, always positive
};
// From the grabber's connected media type: VIDEOINFOHEADER (88 bytes) or
// VIDEOINFOHEADER2 (112 bytes); 15 bits count as 16. Bits 0 when the type
// gives none.
VideoFrameFormat FormatFromMediaType(const platform::MediaType& type);
// From a format list entry such as "RGB 352x288, 24 bits": width 352 and
// height 288 when the numbers cannot be read, bits 0 when none is named.
VideoFrameFormat FormatFromEntryText(const std::string& entry);
// Sampling step for a frame width.
int32_t StepForWidth(int32_t width);

class VideoDetector {
public:
    static constexpr int32_t kCapacity = 20;
    static constexpr int32_t kDetections = 100;

    VideoDetector();
    ~VideoDetector();
    VideoDetector(const VideoDetector&) = delete;
    VideoDetector& operator=(const VideoDetector&) = delete;

    // Main thread, while the graph is stopped. The streaming thread reads
    // only these copies, never the widgets or the global settings.
    void Configure(const VideoDetectorSettings& settings,
                   std::function<std::optional<platform::MediaType>()> connectedMediaType,
                   const std::string& selectedFormatEntry, alarms::EventCounters* counters);

    // Hooks called on the streaming thread; they must not block. The first
    // calibrating frame: the main window then enables AggCalibVideo.
    std::function<void()> onCalibrationStarted;
    // A refused format: the window shows kVideoFormatNotSupported on the main
    // thread and calls `dismissed` there once the box is closed. Until then
    // frames are skipped (Busy stays 1); `dismissed` sets Idle and Busy 0,
    // and does nothing once monitoring has been stopped and started again.
    std::function<void(std::function<void()> dismissed)> onUnsupportedFormat;

    // Main thread. While the graph is rebuilt the caller keeps State = Idle
    // (a plain store, as at the first step of a stop); Start comes once the
    // graph is built and before it runs.
    void Start();  // State = CheckFormat
    void Stop();   // State = Idle, Busy = 0
    // Around rebuilding the graph for a recording: Pause keeps the state and
    // sets Idle; Resume sets Stamp = now + 3000 ms and restores the state.
    void Pause();
    void Resume();
    // Frees the frame ring; at close, after monitoring has stopped.
    void Release();

    // Streaming thread, one frame at a time (the grabber's lock serialises
    // the calls). Bounded and allocation-free except when a format is
    // accepted. A buffer shorter than Width x Height x bytes per pixel is
    // skipped.
    void VideoSampleGrabberBuffer(const uint8_t* data, size_t length);

    // Whether a frame arriving up to `leadMs` after `now` could be analysed
    // or move the state on. Every other frame costs the callback only a
    // tick, so the capture layer may drop it before converting it; the lead
    // covers the conversion, so the frame analysed is the one it would have
    // been. Any thread.
    bool WantsFrame(uint32_t now, uint32_t leadMs) const;

    // The frame ring: Capacity reduced frames of FrameBytes each.
    std::unique_ptr<uint8_t[]> Ring;
    int32_t RingBytes = 0;
    int32_t Capacity = 0;
    int32_t FrameBytes = 0;
    int32_t Current = 0;
    int32_t Step = 0;
    int32_t Cols = 0, Rows = 0;
    int32_t Width = 0, Height = 0;
    int32_t BitsPerPixel = 0;
    int32_t Interval = 0;
    // Tick of the last sampled frame, or a deadline. Written by Resume too.
    std::atomic<uint32_t> Stamp{0};
    // Written by the main thread (start, stop, pause) and by the callback;
    // read by the main thread's displays. The callback's own changes only
    // take effect when the main thread has not changed the state meanwhile.
    std::atomic<uint8_t> State{Idle};
    std::atomic<uint8_t> Busy{0};
    std::atomic<uint16_t> PixelThreshold{0};
    int32_t WarmUpMs = 0;
    int32_t CalibrationFrames = 0;
    int32_t VerificationFrames = 0;
    int32_t Sensitivity = 0;
    int32_t SensitivityLess1 = 0, SensitivityLess2 = 0;
    uint16_t VotesPrevious = 0, VotesHalf = 0, VotesOldest = 0;
    int32_t HitX = 0, HitY = 0;
    int32_t DetectionIndex = 0;
    DetectionEntry DetectionRing[kDetections];
    // Detections recorded since the format was accepted, at most 100: the
    // N-within-T rule needs N real entries, not the cleared ones.
    int32_t DetectionCount = 0;
    int32_t MinMovements = 0;
    int32_t WindowMs = 0;
    std::atomic<int32_t> FrameCounter{0};
    uint8_t Excluded[kCapacity] = {};

private:
    bool CheckFormatStep(uint32_t now);
    bool Prepare(const VideoFrameFormat& format);
    void RefuseFormat();
    bool FrameLongEnough(const uint8_t* data, size_t length) const;
    void SampleFrame(int32_t slot, const uint8_t* frame, uint32_t now);
    int32_t ColourDistance(int32_t x, int32_t y, const uint8_t* a, const uint8_t* b) const;
    bool CompareFrame(int32_t cur, uint8_t state);
    void CalibratingStep(const uint8_t* frame, uint32_t now);
    void VerifyingStep(const uint8_t* frame, uint32_t now);
    void MonitoringStep(const uint8_t* frame, uint32_t now);
    void RaiseEventIfDue();
    // A state change of the callback, unless the main thread got there first.
    bool Advance(uint8_t from, uint8_t to);

    VideoDetectorSettings settings_;
    std::function<std::optional<platform::MediaType>()> connectedMediaType_;
    std::string selectedFormatEntry_;
    alarms::EventCounters* counters_ = nullptr;
    uint8_t savedState_ = Idle;
    // Bumped by Start: a dismissal from an earlier run changes nothing.
    std::atomic<uint32_t> run_{0};
};

// The precision display of the main window (timer AggCalibVideo).
struct VideoPrecisionDisplay {
    enum Action { Nothing, Update, SwitchOff };
    Action action = Nothing;
    // Update: indicator position and label text (Calibrating only); the
    // progress bar position when FrameCounter >= 0.
    std::optional<int> indicator;
    std::optional<std::string> label;
    std::optional<int> progress;
};
// 200 - min(threshold, 200), at least 10, as a percentage of 200 rounded
// half to even.
int VideoPrecisionPercent(uint16_t pixelThreshold);
std::string VideoPrecisionLabel(int percent);  // "Precisione del dispositivo video: n %"
int CalibrationProgress(int32_t frameCounter);   // frameCounter / 20 x 50
int VerificationProgress(int32_t frameCounter);  // frameCounter / 40 x 50 + 50
VideoPrecisionDisplay AggCalibVideoStep(uint8_t state, uint16_t pixelThreshold,
                                        int32_t frameCounter);

}  // namespace capture
