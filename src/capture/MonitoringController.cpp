#include "capture/MonitoringController.h"

#include "core/Globali.h"
#include "platform/DateTime.h"
#include "platform/Tick.h"
#include "platform/UniqueFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <strings.h>
#include <unistd.h>

namespace capture {

namespace {


int StoredOrFirst(const std::vector<DeviceEntry>& devices, const std::string& stored) {
    if (devices.empty()) return -1;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].name == stored) return static_cast<int>(i);
    return 0;
}

// The last compressor of the category whose name matches, ignoring case.
std::shared_ptr<platform::CompressorFilter> FindCompressor(platform::DeviceCategory category, const std::string& name) {
    std::shared_ptr<platform::CompressorFilter> found;
    for (const platform::DeviceInfo& device : platform::EnumerateDevices(category))
        if (strcasecmp(device.FriendlyName.c_str(), name.c_str()) == 0)
            if (auto filter = platform::CreateCompressorFilter(device)) found = filter;
    return found;
}

}  // namespace

MonitoringController::MonitoringController(TSettings& settings) : settings_(settings) {
    c_.audioDetector.SetEventCounters(&c_.EventCounters);
}

// The streaming threads call into the detectors until the graph has
// stopped, so it stops while they are all still there.
MonitoringController::~MonitoringController() {
    DetachDetectors();
    StopGraph();
}

bool MonitoringController::ValidVideoDevice(int device) const {
    return device >= 0 && device < static_cast<int>(c_.VideoDevices.size());
}

bool MonitoringController::ValidAudioDevice(int device) const {
    return device >= 0 && device < static_cast<int>(c_.AudioDevices.size());
}

const std::vector<DeviceEntry>& MonitoringController::RefreshVideoDevices() {
    c_.VideoDeviceInfos = platform::EnumerateDevices(platform::DeviceCategory::VideoInput);
    c_.VideoDevices = DeviceEntries(c_.VideoDeviceInfos);
    return c_.VideoDevices;
}

const std::vector<DeviceEntry>& MonitoringController::RefreshAudioDevices() {
    c_.AudioDeviceInfos = platform::EnumerateDevices(platform::DeviceCategory::AudioInput);
    c_.AudioDevices = DeviceEntries(c_.AudioDeviceInfos);
    return c_.AudioDevices;
}

int MonitoringController::PreselectedVideoDevice() const {
    return StoredOrFirst(c_.VideoDevices, settings_.dispositivo_video);
}

int MonitoringController::PreselectedAudioDevice() const {
    return StoredOrFirst(c_.AudioDevices, settings_.dispositivo_audio);
}

std::optional<FormatList> MonitoringController::SelectVideoDevice(int device) {
    if (!ValidVideoDevice(device)) return std::nullopt;
    settings_.dispositivo_video = c_.VideoDevices[device].name;
    c_.VideoFormats.clear();

    c_.VideoSourceFilter->SetDevice(c_.VideoDeviceInfos[c_.VideoDevices[device].index]);
    c_.ActivateGraph();
    const auto pin = c_.VideoSourceFilter->OutputPin();
    c_.VideoMediaTypes = pin ? pin->EnumMediaTypes() : std::vector<platform::MediaType>{};
    FormatList formats = BuildVideoFormatList(c_.VideoMediaTypes);
    c_.FilterGraph.Deactivate();

    ApplyStoredChoice(formats, settings_.risoluzione_video);
    c_.VideoFormats = formats.entries;
    return formats;
}

std::optional<AudioDeviceOffer> MonitoringController::SelectAudioDevice(int device) {
    if (!ValidAudioDevice(device)) return std::nullopt;
    settings_.dispositivo_audio = c_.AudioDevices[device].name;
    c_.AudioFormats.clear();

    c_.AudioSourceFilter->SetDevice(c_.AudioDeviceInfos[c_.AudioDevices[device].index]);
    c_.ActivateGraph();
    // The last output pin's types are listed; the input pins are the lines.
    AudioDeviceOffer offer;
    int enabledLine = -1;
    for (const auto& pin : c_.AudioSourceFilter->EnumPins()) {
        if (pin->Direction() == platform::PinDirection::Output) {
            c_.AudioMediaTypes = pin->EnumMediaTypes();
            continue;
        }
        offer.lines.push_back(pin->Name());
        if (pin->GetEnable()) enabledLine = static_cast<int>(offer.lines.size()) - 1;
    }
    offer.formats = BuildAudioFormatList(c_.AudioMediaTypes);
    ApplyStoredChoice(offer.formats, settings_.risoluzione_audio);
    c_.AudioFormats = offer.formats.entries;
    c_.FilterGraph.Deactivate();

    offer.line = ChooseEntry(offer.lines, settings_.periferica_audio, enabledLine);
    return offer;
}

// Copied while the graph is stopped, so the streaming threads never read
// the settings record or the window.
void MonitoringController::ConfigureDetectors(const CaptureChoice& choice) {
    const VideoDetectorSettings video = VideoDetectorSettings::From(settings_);
    auto videoGrabber = c_.VideoSampleGrabber;
    c_.videoDetector.Configure(
        video, [videoGrabber] { return videoGrabber->GetConnectedMediaType(); }, choice.videoFormatText,
        &c_.EventCounters);

    auto audioGrabber = c_.AudioSampleGrabber;
    c_.audioDetector.SetSettings(AudioDetectorSettings::From(settings_));
    c_.audioDetector.SetConnectedMediaType([audioGrabber] { return audioGrabber->GetConnectedMediaType(); });
    c_.audioDetector.SetSelectedFormatText(choice.audioFormatText);
}

void MonitoringController::BuildCaptureGraph(bool video, bool audio, GraphMode mode, const CaptureChoice& choice) {
    const bool monitoring = mode == GraphMode::Monitoring;
    const int videoDevice = choice.videoDevice;
    const int audioDevice = choice.audioDevice;
    if (video && ValidVideoDevice(videoDevice)) {
        if (monitoring) {
            VideoDetector* detector = &c_.videoDetector;
            c_.VideoSampleGrabber->SetCallback(
                [detector](const uint8_t* data, size_t length) { detector->VideoSampleGrabberBuffer(data, length); });
            c_.VideoSampleGrabber->SetFrameGate(
                [detector](uint32_t leadMs) { return detector->WantsFrame(platform::timeGetTime(), leadMs); });
        }
        c_.FilterGraph.Deactivate();
        c_.VideoSourceFilter->SetDevice(c_.VideoDeviceInfos[c_.VideoDevices[videoDevice].index]);
        c_.ActivateGraph();
        const auto pin = c_.VideoSourceFilter->OutputPin();
        if (pin) c_.VideoMediaTypes = pin->EnumMediaTypes();
        const int format = choice.videoFormat;
        if (pin && format >= 0 && format < static_cast<int>(c_.VideoFormats.size())) {
            const platform::MediaType& type = c_.VideoMediaTypes.at(c_.VideoFormats[format].index);
            pin->SetFormat(type);
            if (monitoring) c_.VideoSampleGrabber->SetMediaType(type);
        }
    }
    if (audio && ValidAudioDevice(audioDevice)) {
        AudioDetector* detector = &c_.audioDetector;
        c_.AudioSampleGrabber->SetCallback(
            [detector](const uint8_t* data, size_t length) { detector->AudioSampleGrabberBuffer(data, length); });
        if (!video) c_.FilterGraph.Deactivate();
        c_.AudioSourceFilter->SetDevice(c_.AudioDeviceInfos[c_.AudioDevices[audioDevice].index]);
        if (!video) c_.ActivateGraph();
        const int format = choice.audioFormat;
        const bool formatChosen = format >= 0 && format < static_cast<int>(c_.AudioFormats.size());
        const int line = choice.audioLine;
        int inputIndex = 0;
        for (const auto& pin : c_.AudioSourceFilter->EnumPins()) {
            if (pin->Direction() == platform::PinDirection::Output) {
                if (formatChosen) pin->SetFormat(c_.AudioMediaTypes.at(c_.AudioFormats[format].index));
            } else if (inputIndex++ == line) {
                pin->PutEnable(true);
            }
        }
        if (formatChosen) c_.AudioSampleGrabber->SetMediaType(c_.AudioMediaTypes.at(c_.AudioFormats[format].index));
    }

    ConnectBranches(video && videoDevice >= 0, audio && audioDevice >= 0, mode);
}

// Monitoring: camera -> grabber -> window, microphone -> grabber. Preview:
// the camera straight to the window.
void MonitoringController::ConnectBranches(bool video, bool audio, GraphMode mode) {
    platform::CaptureGraphBuilder builder(c_.FilterGraph);
    if (video)
        builder.RenderStream(platform::PinCategory::Preview, platform::MajorType::None, c_.VideoSourceFilter,
                             mode == GraphMode::Monitoring ? c_.VideoSampleGrabber : nullptr, c_.VideoRenderer);
    if (audio)
        builder.RenderStream(platform::PinCategory::None, platform::MajorType::None, c_.AudioSourceFilter,
                             c_.AudioSampleGrabber, nullptr);
}

void MonitoringController::IdleAndClearGraph() {
    IdleDetector(Medium::Video);
    IdleDetector(Medium::Audio);
    c_.FilterGraph.StopAndClear();
}

// The detector states are set before the graph runs, so the first sample
// already meets the format check.
void MonitoringController::StartMonitoring(bool video, bool audio, const CaptureChoice& choice) {
    c_.EventCounters.ResetEventQueue();
    IdleAndClearGraph();
    ConfigureDetectors(choice);
    BuildCaptureGraph(video, audio, GraphMode::Monitoring, choice);
    if (video) StartVideoDetector();
    if (audio) StartAudioDetector();
    c_.FilterGraph.Run();
    c_.audioDetector.Level.store(0);
    running_ = GraphMode::Monitoring;
}

void MonitoringController::StartPreview(bool video, bool audio, const CaptureChoice& choice) {
    IdleAndClearGraph();
    ConfigureDetectors(choice);
    BuildCaptureGraph(video, audio, GraphMode::Preview, choice);
    c_.FilterGraph.Run();
    if (audio) c_.audioDetector.StartLevelOnly();
    c_.audioDetector.Level.store(0);
    running_ = GraphMode::Preview;
}

// Idle first: a callback still running ignores its sample, and one that
// starts after the detach never comes.
void MonitoringController::DetachDetectors() {
    IdleDetector(Medium::Video);
    IdleDetector(Medium::Audio);
    c_.VideoSampleGrabber->SetCallback(nullptr);
    c_.VideoSampleGrabber->SetFrameGate(nullptr);
    c_.AudioSampleGrabber->SetCallback(nullptr);
    c_.EventCounters.DiscardPending();
}

void MonitoringController::StopGraph() {
    running_.reset();
    c_.FilterGraph.Stop();
    c_.FilterGraph.Deactivate();
}

std::vector<platform::DeviceNotice> MonitoringController::WatchDevices() {
    std::vector<platform::DeviceNotice> notices = c_.FilterGraph.WatchDevices();
    if (!running_) return notices;
    for (const auto& n : notices) {
        if (n.kind == platform::DeviceNotice::Kind::RecordingFailed) continue;  // the detectors are not concerned
        const Medium medium = n.medium == platform::MajorType::Video ? Medium::Video : Medium::Audio;
        if (n.kind == platform::DeviceNotice::Kind::Lost) {
            IdleDetector(medium);
            if (medium == Medium::Audio) c_.audioDetector.Level.store(0);
        } else if (*running_ == GraphMode::Preview) {
            if (medium == Medium::Audio) c_.audioDetector.StartLevelOnly();
        } else if (medium == Medium::Video) {
            StartVideoDetector();
        } else {
            StartAudioDetector();
        }
    }
    return notices;
}

void MonitoringController::ResetDetectors() {
    StopDetector(Medium::Video);
    StopDetector(Medium::Audio);
}

void MonitoringController::StartVideoDetector() { c_.videoDetector.Start(); }

void MonitoringController::StartAudioDetector() { c_.audioDetector.Start(); }

void MonitoringController::IdleDetector(Medium medium) {
    if (medium == Medium::Video)
        c_.videoDetector.State.store(Idle);
    else
        c_.audioDetector.State.store(Idle);
}

void MonitoringController::StopDetector(Medium medium) {
    if (medium == Medium::Video)
        c_.videoDetector.Stop();
    else
        c_.audioDetector.Stop();
}

void MonitoringController::PauseDetectors() {
    c_.videoDetector.Pause();
    savedAudioState_ = c_.audioDetector.Pause();
}

void MonitoringController::ResumeDetectors() {
    c_.videoDetector.Resume();
    c_.audioDetector.Resume(savedAudioState_);
}

// The file is made here, for the user alone and never over an existing one
// (two recordings in one second get "-2", "-3"); the writer then opens it.
bool MonitoringController::CreateRecordingFile(std::string& nomeFileAvi) const {
    const std::string stem = "OCL-" + platform::FormatDateTime("yyyymmddhhnnss", platform::Now());
    std::string path;
    const int fd = platform::CreateUniqueFile(settings_.RegAvi_Dir, stem, "avi", path);
    if (fd < 0) {
        std::fprintf(stderr, "Oculara: cannot create the recording %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    ::close(fd);
    nomeFileAvi = path;
    return true;
}

bool MonitoringController::StartRecording(std::string& nomeFileAvi) {
    const TSettings& s = settings_;
    const bool video = s.Attiva_VideoSorveglianza, audio = s.Attiva_AudioSorveglianza;
    const bool withVideo = s.RegAvi_RegistraVideo, withAudio = s.RegAvi_RegistraAudio;
    const bool videoWatching = c_.videoDetector.State.load() == Monitoring;
    const bool audioWatching = c_.audioDetector.State.load() == Monitoring;
    if (!((video || withAudio) && (audio || withVideo) && (videoWatching || withAudio) && (audioWatching || withVideo)))
        return false;

    if (!CreateRecordingFile(nomeFileAvi)) return false;
    PauseDetectors();
    c_.FilterGraph.Stop();
    extraFilters_.clear();
    platform::CaptureGraphBuilder builder(c_.FilterGraph);
    const auto mux = builder.SetOutputFileName(nomeFileAvi);
    auto record = [&](bool on, const std::shared_ptr<platform::SourceFilter>& source, platform::DeviceCategory category,
                      bool useCodec, const std::string& codec, platform::PinCategory pins) {
        if (!on || !c_.FilterGraph.Contains(*source)) return;
        std::shared_ptr<platform::CompressorFilter> compressor;
        if (useCodec && !codec.empty()) compressor = FindCompressor(category, codec);
        if (compressor) {
            extraFilters_.push_back(compressor);
            c_.FilterGraph.AddFilter(compressor, compressor->FriendlyName());
        }
        builder.RenderStream(pins, platform::MajorType::None, source, compressor, mux);
    };
    record(video && withVideo, c_.VideoSourceFilter, platform::DeviceCategory::VideoCompressor, s.RegAvi_UsaCodecVideo,
           s.RegAvi_NomeCodecVideo, platform::PinCategory::Capture);
    record(audio && withAudio, c_.AudioSourceFilter, platform::DeviceCategory::AudioCompressor, s.RegAvi_UsaCodecAudio,
           s.RegAvi_NomeCodecAudio, platform::PinCategory::None);
    c_.FilterGraph.Run();
    ResumeDetectors();
    return true;
}

void MonitoringController::EndRecording() {
    c_.FilterGraph.StopAndClear();  // the multiplexer, its writer and the compressors go
}

void MonitoringController::ReconnectMonitoring() {
    ConnectBranches(settings_.Attiva_VideoSorveglianza, settings_.Attiva_AudioSorveglianza, GraphMode::Monitoring);
    c_.FilterGraph.Run();
}

void MonitoringController::ShowVideoDeviceSettings(
    int device, const std::function<void(const std::shared_ptr<platform::SourceFilter>&)>& showPages) {
    if (!ValidVideoDevice(device)) return;
    const uint8_t saved = c_.videoDetector.State.exchange(Idle);
    if (c_.FilterGraph.IsRunning()) {
        showPages(c_.VideoSourceFilter);
    } else {
        // Shown over the live picture, so the user sees what changes.
        c_.FilterGraph.StopAndClear();
        c_.FilterGraph.Deactivate();
        c_.VideoSourceFilter->SetDevice(c_.VideoDeviceInfos[c_.VideoDevices[device].index]);
        c_.ActivateGraph();
        platform::CaptureGraphBuilder(c_.FilterGraph)
            .RenderStream(platform::PinCategory::Preview, platform::MajorType::None, c_.VideoSourceFilter, nullptr,
                          c_.VideoRenderer);
        c_.FilterGraph.Run();
        showPages(c_.VideoSourceFilter);
        c_.FilterGraph.Stop();
        c_.FilterGraph.Deactivate();
    }
    c_.videoDetector.State.store(saved);
}

}  // namespace capture
