#pragma once
// The noise detector: measures each PCM buffer of the audio grabber, learns
// a band of peak and trough magnitudes, and reports suspicious noises to the
// event queue. Plain C++; fed with bytes and a tick, so any source of PCM
// buffers can drive it.

#include "alarms/EventCounters.h"
#include "capture/DetectorState.h"
#include "platform/MediaType.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

struct TSettings;

namespace capture {

inline constexpr const char* kAudioFormatNotSupportedText = "Risoluzione di acquisizione audio non supportata.";
inline constexpr const char* kAudioFormatNotSupportedCaption = "Attenzione";

// The four settings the detector reads, copied when a format is accepted.
struct AudioDetectorSettings {
    int32_t AttesaPerCalibrazioneAudio = 3;  // seconds
    int32_t NumMinRumoriPerAvviso = 2;
    int32_t TempoMaxRumoriPerAvviso = 2000;  // milliseconds
    int32_t SesnsibilitaAudioDetector = 2;   // 1..5

    static AudioDetectorSettings From(const TSettings& settings);
};

struct AudioLevel {
    uint16_t peak = 0;
    uint16_t trough = 65535;
};

// Called on the streaming thread with the grabber lock held: they must
// return at once (queue the work to the main thread).
struct AudioDetectorHooks {
    std::function<void()> onCalibrationStarted;  // enable AggCalibAudio
    std::function<void()> onVerifyingStarted;    // ProgressBar2 = 50
    // Show the unsupported-format box; call `dismissed` on the main thread
    // once it is closed. Buffers are skipped (Busy = 1) until then.
    std::function<void(std::function<void()> dismissed)> onUnsupportedFormat;
};

class AudioDetector {
public:
    static constexpr int kRingSize = alarms::kMaxEventItems;
    static constexpr int32_t kResumeDelayMs = 500;

    // Main thread, while the graph does not run. The streaming thread takes
    // a copy of all of them at the next format check.
    void SetSettings(const AudioDetectorSettings& settings);
    void SetConnectedMediaType(std::function<std::optional<platform::MediaType>()> query);
    void SetSelectedFormatText(std::string text);  // the cb_RisoluzioniAudio entry
    void SetEventCounters(alarms::EventCounters* counters);
    void SetHooks(AudioDetectorHooks hooks);

    // Main thread. Start and StartLevelOnly also zero the meter level.
    void Start();           // State = CheckFormat
    void StartLevelOnly();  // Stamp = now, State = LevelOnlyStart (preview)
    void Stop();            // State = Idle, Busy = 0
    // Around a rebuild of the graph: Pause returns the state to restore;
    // Resume puts the next measurement no sooner than 750 ms away.
    uint8_t Pause();
    void Resume(uint8_t state);

    // Streaming thread; holds the audio grabber's lock.
    void AudioSampleGrabberBuffer(const uint8_t* data, size_t length);
    // Peak and trough magnitudes in the accepted format; sets Stamp = now.
    AudioLevel MeasureLevel(const uint8_t* data, size_t length);

    // The snapshot that AggCalibAudioTimer needs; any thread.
    struct Progress {
        uint8_t state;
        uint16_t bandHigh;
        uint16_t bandLow;
        int32_t bufferCounter;
    };
    Progress ReadProgress() const;

    // Fields read by the main thread are atomics (relaxed, except State and
    // Busy); the plain ones belong to the streaming thread.
    std::atomic<uint8_t> State{Idle};
    std::atomic<uint8_t> Busy{0};
    uint16_t BitsPerSample = 0;
    uint16_t Channels = 0;
    std::atomic<uint32_t> Stamp{0};
    std::atomic<uint16_t> BandHigh{0};
    std::atomic<uint16_t> BandLow{0};
    int32_t Interval = 0;
    std::atomic<int32_t> BufferCounter{0};
    int32_t MarginHundredths = 0;
    int32_t WarmUpMs = 0;
    int32_t CalibrationBuffers = 0;
    int32_t VerificationBuffers = 0;
    int32_t DetectionIndex = 0;
    alarms::NoiseItem DetectionRing[kRingSize];
    int32_t MinNoises = 0;  // held to 1..kRingSize: a record carries at most 100 noises
    int32_t WindowMs = 0;

    // The level VolTimer shows: the peak of the last measured buffer.
    std::atomic<uint32_t> Level{0};
    // Mirrors FermaAllarmeSonoro_Timer's Enabled; set by the main window.
    std::atomic<bool> SoundAlarmPlaying{false};

private:
    struct Inputs {
        AudioDetectorSettings settings;
        std::function<std::optional<platform::MediaType>()> connectedMediaType;
        std::string selectedFormatText;
        alarms::EventCounters* counters = nullptr;
        AudioDetectorHooks hooks;
    };

    AudioLevel Measure(const uint8_t* data, size_t length, uint32_t now);
    // false: the format was refused and Busy stays with the pending box.
    bool CheckFormatAndPrepare(uint8_t state, uint32_t now);
    void Calibrate(const uint8_t* data, size_t length, uint32_t now);
    void Verify(const uint8_t* data, size_t length, uint32_t now);
    void Monitor(const uint8_t* data, size_t length, uint32_t now);
    bool Due(uint32_t now) const;
    // The callback never overrides a state the main thread set meanwhile.
    bool Advance(uint8_t from, uint8_t to);

    mutable std::mutex inputsMutex_;
    Inputs inputs_;  // guarded by inputsMutex_
    Inputs run_;     // streaming thread's copy
    int32_t noisesRecorded_ = 0;  // ring entries filled since the format check, up to kRingSize
    // Start and Stop outdate a pending unsupported-format box.
    std::atomic<uint32_t> generation_{0};
};

// AggCalibAudioTimer's arithmetic.
// (BandHigh - BandLow) modulo 65536, at most 32768.
uint16_t AudioBandSpread(uint16_t bandHigh, uint16_t bandLow);
// 32768 - spread, at least 320.
int32_t AudioPrecision(uint16_t bandHigh, uint16_t bandLow);
// MioIndicatore2's position: precision / 32768 * 100, ties to even.
int AudioPrecisionPercent(uint16_t bandHigh, uint16_t bandLow);
std::string AudioPrecisionLabel(int percent);  // lb_pa's text
// ProgressBar2 in Calibrating (0..50) and Verifying (50..100); nothing in
// other states or while the counter is negative.
std::optional<int> AudioProgressPosition(uint8_t state, int32_t bufferCounter);

struct AudioPrecisionView {
    enum class Action {
        None,    // other states: leave the display as it is
        Update,  // Calibrating/Verifying: show the display if hidden, then apply
        Close,   // Monitoring/Idle: disable, hide, ProgressBar2 = 0, stop the timer
    };
    Action action = Action::None;
    std::optional<int> indicator;  // MioIndicatore2 position, with `label`
    std::string label;
    std::optional<int> progress;  // ProgressBar2 position
};
AudioPrecisionView ComposeAudioPrecision(const AudioDetector::Progress& progress);

}  // namespace capture
