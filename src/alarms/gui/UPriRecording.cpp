// Recording: a branch into an AVI file added to the running monitoring
// graph for a fixed time; detection pauses while the graph is rebuilt.

#include "capture/CaptureComponents.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/DateTime.h"

#include <QApplication>
#include <QPushButton>
#include <strings.h>

namespace {

// The last compressor of the category whose name matches, ignoring case.
std::shared_ptr<platform::CompressorFilter> FindCompressor(platform::DeviceCategory category, const std::string& name) {
    std::shared_ptr<platform::CompressorFilter> found;
    for (const platform::DeviceInfo& device : platform::EnumerateDevices(category))
        if (strcasecmp(device.FriendlyName.c_str(), name.c_str()) == 0)
            if (auto filter = platform::CreateCompressorFilter(device)) found = filter;
    return found;
}

}  // namespace

void TPri::PauseDetectors() {
    capture_->videoDetector.Pause();
    savedAudioState_ = capture_->audioDetector.Pause();
}

void TPri::ResumeDetectors() {
    capture_->videoDetector.Resume();
    capture_->audioDetector.Resume(savedAudioState_);
}

bool TPri::StartRecording() {
    capture::CaptureComponents& c = *capture_;
    const bool video = Settings.Attiva_VideoSorveglianza, audio = Settings.Attiva_AudioSorveglianza;
    const bool withVideo = Settings.RegAvi_RegistraVideo, withAudio = Settings.RegAvi_RegistraAudio;
    const bool videoWatching = c.videoDetector.State.load() == capture::Monitoring;
    const bool audioWatching = c.audioDetector.State.load() == capture::Monitoring;
    if (!((video || withAudio) && (audio || withVideo) && (videoWatching || withAudio) && (audioWatching || withVideo)))
        return false;

    NomeFileAvi = Settings.RegAvi_Dir + "OCL-" + platform::FormatDateTime("yyyymmddhhnnss", platform::Now()) + ".avi";
    PauseDetectors();
    c.FilterGraph.Stop();
    extraFilters_.clear();
    platform::CaptureGraphBuilder builder(c.FilterGraph);
    const auto mux = builder.SetOutputFileName(NomeFileAvi);
    auto record = [&](bool on, const std::shared_ptr<platform::SourceFilter>& source, platform::DeviceCategory category,
                      bool useCodec, const std::string& codec, platform::PinCategory pins) {
        if (!on || !c.FilterGraph.Contains(*source)) return;
        std::shared_ptr<platform::CompressorFilter> compressor;
        if (useCodec && !codec.empty()) compressor = FindCompressor(category, codec);
        if (compressor) {
            extraFilters_.push_back(compressor);
            c.FilterGraph.AddFilter(compressor, compressor->FriendlyName());
        }
        builder.RenderStream(pins, platform::MajorType::None, source, compressor, mux);
    };
    record(video && withVideo, c.VideoSourceFilter, platform::DeviceCategory::VideoCompressor,
           Settings.RegAvi_UsaCodecVideo, Settings.RegAvi_NomeCodecVideo, platform::PinCategory::Capture);
    record(audio && withAudio, c.AudioSourceFilter, platform::DeviceCategory::AudioCompressor,
           Settings.RegAvi_UsaCodecAudio, Settings.RegAvi_NomeCodecAudio, platform::PinCategory::None);
    c.FilterGraph.Run();
    ResumeDetectors();
    return true;
}

// StopRecording: closes the file and puts the monitoring graph back.
void TPri::Ferma_RegAviTimer() {
    capture::CaptureComponents& c = *capture_;
    Ferma_RegAvi->Tag = 1;
    Ferma_RegAvi->SetEnabled(false);
    Settings.RegAvi_OraUltimaRegistrazione = platform::FormatDateTime("yyyymmddhhnn", platform::Now());
    PauseDetectors();
    QApplication::processEvents();
    if (isMinimized() || !isVisible()) showNormal();
    QApplication::processEvents();
    c.FilterGraph.StopAndClear();  // the multiplexer, its writer and the compressors go
    QApplication::processEvents();
    if (Button2->isEnabled()) {
        ConnectBranches(Settings.Attiva_VideoSorveglianza, Settings.Attiva_AudioSorveglianza, GraphMode::Monitoring);
        c.FilterGraph.Run();
    }
    ResumeDetectors();
    Ferma_RegAvi->Tag = 0;
}
