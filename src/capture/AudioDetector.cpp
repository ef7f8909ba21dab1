#include "capture/AudioDetector.h"

#include "core/Globali.h"
#include "platform/Tick.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace capture {
namespace {

// num >= 0, den > 0.
int64_t RoundHalfEven(int64_t num, int64_t den) {
    int64_t q = num / den;
    const int64_t twice = 2 * (num % den);
    if (twice > den || (twice == den && (q & 1) != 0)) ++q;
    return q;
}

// Deadlines lie less than 2^31 ms ahead, so the signed difference orders
// two ticks across the wrap of the counter.
bool TickAfter(uint32_t now, uint32_t mark) {
    return static_cast<int32_t>(now - mark) > 0;
}

bool Contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

}  // namespace

AudioDetectorSettings AudioDetectorSettings::From(const TSettings& settings) {
    AudioDetectorSettings copy;
    copy.AttesaPerCalibrazioneAudio = settings.AttesaPerCalibrazioneAudio;
    copy.NumMinRumoriPerAvviso = settings.NumMinRumoriPerAvviso;
    copy.TempoMaxRumoriPerAvviso = settings.TempoMaxRumoriPerAvviso;
    copy.SesnsibilitaAudioDetector = settings.SesnsibilitaAudioDetector;
    return copy;
}

void AudioDetector::SetSettings(const AudioDetectorSettings& settings) {
    std::lock_guard<std::mutex> lock(inputsMutex_);
    inputs_.settings = settings;
}

void AudioDetector::SetConnectedMediaType(std::function<std::optional<platform::MediaType>()> query) {
    std::lock_guard<std::mutex> lock(inputsMutex_);
    inputs_.connectedMediaType = std::move(query);
}

void AudioDetector::SetSelectedFormatText(std::string text) {
    std::lock_guard<std::mutex> lock(inputsMutex_);
    inputs_.selectedFormatText = std::move(text);
}

void AudioDetector::SetEventCounters(alarms::EventCounters* counters) {
    std::lock_guard<std::mutex> lock(inputsMutex_);
    inputs_.counters = counters;
}

void AudioDetector::SetHooks(AudioDetectorHooks hooks) {
    std::lock_guard<std::mutex> lock(inputsMutex_);
    inputs_.hooks = std::move(hooks);
}

void AudioDetector::Start() {
    generation_.fetch_add(1);
    Level.store(0, std::memory_order_relaxed);
    // The graph is stopped here: no callback can be inside.
    Busy.store(0);
    State.store(CheckFormat);
}

void AudioDetector::StartLevelOnly() {
    generation_.fetch_add(1);
    Level.store(0, std::memory_order_relaxed);
    Busy.store(0);
    Stamp.store(platform::timeGetTime(), std::memory_order_relaxed);
    State.store(LevelOnlyStart);
}

void AudioDetector::Stop() {
    generation_.fetch_add(1);
    State.store(Idle);
    Busy.store(0);
}

uint8_t AudioDetector::Pause() {
    return State.exchange(Idle);
}

void AudioDetector::Resume(uint8_t state) {
    Stamp.store(platform::timeGetTime() + kResumeDelayMs, std::memory_order_relaxed);
    State.store(state);
}

AudioDetector::Progress AudioDetector::ReadProgress() const {
    return {State.load(), BandHigh.load(std::memory_order_relaxed), BandLow.load(std::memory_order_relaxed),
            BufferCounter.load(std::memory_order_relaxed)};
}

bool AudioDetector::Advance(uint8_t from, uint8_t to) {
    return State.compare_exchange_strong(from, to);
}

bool AudioDetector::Due(uint32_t now) const {
    return TickAfter(now, Stamp.load(std::memory_order_relaxed) + static_cast<uint32_t>(Interval));
}

AudioLevel AudioDetector::MeasureLevel(const uint8_t* data, size_t length) {
    return Measure(data, length, platform::timeGetTime());
}

AudioLevel AudioDetector::Measure(const uint8_t* data, size_t length, uint32_t now) {
    // The first and the last frame are never read.
    uint32_t peak = 0;
    uint32_t trough = 65535;
    const size_t channels = Channels == 2 ? 2 : 1;
    if (data != nullptr && (BitsPerSample == 16 || BitsPerSample == 8)) {
        const size_t bytesPerSample = BitsPerSample / 8;
        const size_t frames = length / (bytesPerSample * channels);
        if (frames >= 3) {
            const size_t begin = channels;
            const size_t end = (frames - 1) * channels;
            if (BitsPerSample == 16) {
                for (size_t i = begin; i < end; ++i) {
                    const uint8_t* p = data + 2 * i;
                    const int32_t sample = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
                    const uint32_t v = static_cast<uint32_t>(sample < 0 ? -sample : sample);
                    peak = std::max(peak, v);
                    trough = std::min(trough, v);
                }
            } else if (channels == 1) {
                for (size_t i = begin; i < end; ++i) {
                    const int32_t centred = static_cast<int32_t>(data[i]) - 128;
                    const uint32_t v = static_cast<uint32_t>(centred < 0 ? -centred : centred) * 256;
                    peak = std::max(peak, v);
                    trough = std::min(trough, v);
                }
            } else {
                // Stereo 8-bit takes the raw byte, not its distance from 128:
                // the calibrated band absorbs the offset.
                for (size_t i = begin; i < end; ++i) {
                    const uint32_t v = static_cast<uint32_t>(data[i]) * 128;
                    peak = std::max(peak, v);
                    trough = std::min(trough, v);
                }
            }
        }
    }
    Stamp.store(now, std::memory_order_relaxed);
    return {static_cast<uint16_t>(peak), static_cast<uint16_t>(trough)};
}

void AudioDetector::AudioSampleGrabberBuffer(const uint8_t* data, size_t length) {
    uint8_t free = 0;
    if (!Busy.compare_exchange_strong(free, 1)) return;
    const uint32_t now = platform::timeGetTime();
    bool release = true;
    const uint8_t state = State.load();
    switch (state) {
        case CheckFormat:
        case LevelOnlyStart:
            release = CheckFormatAndPrepare(state, now);
            break;
        case WarmUp:
            if (TickAfter(now, Stamp.load(std::memory_order_relaxed))) {
                Stamp.store(now, std::memory_order_relaxed);
                BufferCounter.store(0, std::memory_order_relaxed);
                Advance(WarmUp, Calibrating);
            }
            break;
        case Calibrating:
            if (Due(now)) Calibrate(data, length, now);
            break;
        case Verifying:
            if (Due(now)) Verify(data, length, now);
            break;
        case Monitoring:
            // The alarm sound would be heard as a noise: neither measured nor shown.
            if (Due(now) && !SoundAlarmPlaying.load(std::memory_order_relaxed)) Monitor(data, length, now);
            break;
        case LevelOnly:
            if (Due(now)) Level.store(Measure(data, length, now).peak, std::memory_order_relaxed);
            break;
        default:
            break;
    }
    if (release) Busy.store(0);
}

bool AudioDetector::CheckFormatAndPrepare(uint8_t state, uint32_t now) {
    {
        std::lock_guard<std::mutex> lock(inputsMutex_);
        run_ = inputs_;
    }
    BitsPerSample = 0;
    uint16_t channels = 0;
    if (run_.connectedMediaType) {
        const std::optional<platform::MediaType> type = run_.connectedMediaType();
        // A block too short to hold wBitsPerSample counts as no block.
        constexpr size_t needed = offsetof(platform::WAVEFORMATEX, wBitsPerSample) + sizeof(uint16_t);
        if (type && type->majortype == platform::MajorType::Audio &&
            type->formattype == platform::FormatType::WaveFormatEx && type->cbFormat() >= needed) {
            std::memcpy(&channels, type->pbFormat.data() + offsetof(platform::WAVEFORMATEX, nChannels),
                        sizeof channels);
            std::memcpy(&BitsPerSample, type->pbFormat.data() + offsetof(platform::WAVEFORMATEX, wBitsPerSample),
                        sizeof BitsPerSample);
        }
    }
    if (BitsPerSample == 0) {
        const std::string& entry = run_.selectedFormatText;
        if (Contains(entry, "8 Bits,"))
            BitsPerSample = 8;
        else if (Contains(entry, "16 Bits,"))
            BitsPerSample = 16;
        channels = Contains(entry, "Stereo") ? 2 : 1;
    }
    Channels = channels;

    if (Channels == 0 || Channels > 2 || (BitsPerSample != 8 && BitsPerSample != 16)) {
        if (!run_.hooks.onUnsupportedFormat) {
            Advance(state, Idle);
            return true;
        }
        // The box is shown on the main thread; until it is closed this
        // detector stays busy and skips every buffer.
        const uint32_t generation = generation_.load();
        run_.hooks.onUnsupportedFormat([this, generation] {
            if (generation_.load() != generation) return;  // stopped or restarted meanwhile
            State.store(Idle);
            Busy.store(0);
        });
        return false;
    }

    const AudioDetectorSettings& s = run_.settings;
    Interval = 250;
    MarginHundredths = std::clamp(s.SesnsibilitaAudioDetector, 0, 10000) * 100;
    CalibrationBuffers = 20;
    VerificationBuffers = 20;
    WarmUpMs = static_cast<int32_t>(
        std::clamp<int64_t>(static_cast<int64_t>(s.AttesaPerCalibrazioneAudio) * 1000, 0, int64_t{1} << 30));
    std::fill(std::begin(DetectionRing), std::end(DetectionRing), alarms::NoiseItem{});
    DetectionIndex = 0;
    noisesRecorded_ = 0;
    MinNoises = std::clamp(s.NumMinRumoriPerAvviso, 1, kRingSize);
    WindowMs = s.TempoMaxRumoriPerAvviso;
    BufferCounter.store(0, std::memory_order_relaxed);
    BandHigh.store(0, std::memory_order_relaxed);
    BandLow.store(65535, std::memory_order_relaxed);
    Stamp.store(now + static_cast<uint32_t>(WarmUpMs), std::memory_order_relaxed);
    Advance(state, state == CheckFormat ? WarmUp : LevelOnly);
    return true;
}

void AudioDetector::Calibrate(const uint8_t* data, size_t length, uint32_t now) {
    const int32_t counter = BufferCounter.load(std::memory_order_relaxed);
    if (counter == 0 && run_.hooks.onCalibrationStarted) run_.hooks.onCalibrationStarted();
    const AudioLevel level = Measure(data, length, now);
    Level.store(level.peak, std::memory_order_relaxed);
    const uint16_t high = std::max(BandHigh.load(std::memory_order_relaxed), level.peak);
    const uint16_t low = std::min(BandLow.load(std::memory_order_relaxed), level.trough);
    if (counter + 1 <= CalibrationBuffers) {
        BandHigh.store(high, std::memory_order_relaxed);
        BandLow.store(low, std::memory_order_relaxed);
        BufferCounter.store(counter + 1, std::memory_order_relaxed);
        return;
    }
    // The 21st buffer: widen by the margin where the edge stays inside the
    // scale, then verify. Counter and band are final before the state
    // changes, so the display never sees a verifying pass at 21.
    const int64_t margin = std::min<int64_t>(RoundHalfEven(int64_t{MarginHundredths} * 65535, 10000), 65535);
    const uint16_t wideHigh = high + margin < 65535 ? static_cast<uint16_t>(high + margin) : high;
    const uint16_t wideLow = low - margin > 0 ? static_cast<uint16_t>(low - margin) : low;
    BandHigh.store(wideHigh, std::memory_order_relaxed);
    BandLow.store(wideLow, std::memory_order_relaxed);
    BufferCounter.store(0, std::memory_order_relaxed);
    if (Advance(Calibrating, Verifying) && run_.hooks.onVerifyingStarted) run_.hooks.onVerifyingStarted();
}

void AudioDetector::Verify(const uint8_t* data, size_t length, uint32_t now) {
    const AudioLevel level = Measure(data, length, now);
    Level.store(level.peak, std::memory_order_relaxed);
    if (level.peak > BandHigh.load(std::memory_order_relaxed) || level.trough < BandLow.load(std::memory_order_relaxed)) {
        // Back to calibration with the band kept: the next 21 buffers widen it
        // again. Counter -1, then the pass's own +1.
        BufferCounter.store(0, std::memory_order_relaxed);
        Stamp.store(now + 500, std::memory_order_relaxed);
        Advance(Verifying, Calibrating);
        return;
    }
    const int32_t counter = BufferCounter.load(std::memory_order_relaxed) + 1;
    BufferCounter.store(counter, std::memory_order_relaxed);
    if (counter >= VerificationBuffers) Advance(Verifying, Monitoring);
}

void AudioDetector::Monitor(const uint8_t* data, size_t length, uint32_t now) {
    const AudioLevel level = Measure(data, length, now);
    Level.store(level.peak, std::memory_order_relaxed);
    if (level.peak <= BandHigh.load(std::memory_order_relaxed) && level.trough >= BandLow.load(std::memory_order_relaxed))
        return;

    DetectionRing[DetectionIndex] = {level.peak, level.trough, Stamp.load(std::memory_order_relaxed)};
    noisesRecorded_ = std::min(noisesRecorded_ + 1, kRingSize);
    const int32_t n = MinNoises;
    const int32_t first = ((DetectionIndex - n + 1) % kRingSize + kRingSize) % kRingSize;
    // The ring starts zeroed: until n noises are in it, a zero time would
    // pass for a recent noise whenever the tick is small (after a wrap).
    const uint32_t span = DetectionRing[DetectionIndex].time - DetectionRing[first].time;
    const bool event = n < 2 || (noisesRecorded_ >= n && int64_t{span} <= int64_t{WindowMs});
    if (event && run_.counters != nullptr) {
        alarms::NoiseItem items[kRingSize];
        for (int32_t k = 0; k < n; ++k) items[k] = DetectionRing[(DetectionIndex - k + kRingSize) % kRingSize];
        run_.counters->AppendEvent(alarms::EventoRumore, items, n);
    }
    DetectionIndex = (DetectionIndex + 1) % kRingSize;
}

uint16_t AudioBandSpread(uint16_t bandHigh, uint16_t bandLow) {
    const uint16_t spread = static_cast<uint16_t>(bandHigh - bandLow);
    return std::min<uint16_t>(spread, 32768);
}

int32_t AudioPrecision(uint16_t bandHigh, uint16_t bandLow) {
    return std::max<int32_t>(32768 - AudioBandSpread(bandHigh, bandLow), 320);
}

int AudioPrecisionPercent(uint16_t bandHigh, uint16_t bandLow) {
    return static_cast<int>(RoundHalfEven(int64_t{AudioPrecision(bandHigh, bandLow)} * 100, 32768));
}

std::string AudioPrecisionLabel(int percent) {
    return "Precisione del dispositivo audio: " + std::to_string(percent) + " %";
}

std::optional<int> AudioProgressPosition(uint8_t state, int32_t bufferCounter) {
    if (bufferCounter < 0 || (state != Calibrating && state != Verifying)) return std::nullopt;
    // The main thread may pair a fresh counter with a stale state.
    const int pass = static_cast<int>(std::min<int64_t>(RoundHalfEven(int64_t{bufferCounter} * 50, 20), 50));
    return state == Verifying ? pass + 50 : pass;
}

AudioPrecisionView ComposeAudioPrecision(const AudioDetector::Progress& progress) {
    AudioPrecisionView view;
    switch (progress.state) {
        case Calibrating: {
            view.action = AudioPrecisionView::Action::Update;
            const int percent = AudioPrecisionPercent(progress.bandHigh, progress.bandLow);
            view.indicator = percent;
            view.label = AudioPrecisionLabel(percent);
            view.progress = AudioProgressPosition(progress.state, progress.bufferCounter);
            break;
        }
        case Verifying:
            view.action = AudioPrecisionView::Action::Update;
            view.progress = AudioProgressPosition(progress.state, progress.bufferCounter);
            break;
        case Monitoring:
        case Idle:
            view.action = AudioPrecisionView::Action::Close;
            break;
        default:
            break;
    }
    return view;
}

}  // namespace capture
