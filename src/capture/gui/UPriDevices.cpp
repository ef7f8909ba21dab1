// The device panel of the main window: device, format and input-line lists,
// their choices in Settings, and the capture graph built from them.

#include "capture/CaptureComponents.h"
#include "core/Globali.h"
#include "core/gui/UPri.h"
#include "platform/Shell.h"
#include "platform/gui/DevicePropertiesDialog.h"
#include "platform/gui/VideoWindowWidget.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QPushButton>
#include <QToolButton>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }
std::string S(const QString& s) { return s.toStdString(); }

void FillList(QComboBox* list, const std::vector<capture::DeviceEntry>& entries) {
    for (const auto& e : entries) list->addItem(Q(e.name));
}

void FillList(QComboBox* list, const capture::FormatList& formats) {
    for (const auto& e : formats.entries) list->addItem(Q(e.name));
    list->setCurrentIndex(formats.selected);
}

// A monitoring box whose medium has nothing usable.
void DisableMedium(QPushButton* settings, QCheckBox* box) {
    settings->setEnabled(false);
    box->setEnabled(false);
    box->setChecked(false);
}

}  // namespace

void TPri::ConnectCaptureControls() {
    VideoWindow->SetRenderer(capture_->VideoRenderer);
    connect(SpeedButton1, &QToolButton::clicked, this, &TPri::RefreshVideoDevices);
    connect(SpeedButton2, &QToolButton::clicked, this, &TPri::RefreshAudioDevices);
    connect(Button5, &QPushButton::clicked, this, &TPri::Button5Click);
    connect(Button7, &QPushButton::clicked, this, &TPri::Button7Click);
    connect(cb_DispositiviVideo, &QComboBox::activated, this, &TPri::cb_DispositiviVideoSelect);
    connect(cb_DispositiviAudio, &QComboBox::activated, this, &TPri::cb_DispositiviAudioSelect);
    connect(cb_RisoluzioniVideo, &QComboBox::activated, this, &TPri::cb_RisoluzioniVideoSelect);
    connect(cb_RisoluzioniAudio, &QComboBox::activated, this, &TPri::cb_RisoluzioniAudioSelect);
    connect(cb_PerifericheAudio, &QComboBox::activated, this, &TPri::cb_PerifericheAudioSelect);
    connect(Button1, &QPushButton::clicked, this, &TPri::Button1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TPri::BitBtn1Click);
    connect(Button2, &QPushButton::clicked, this, &TPri::Button2Click);
}

void TPri::RefreshVideoDevices() {
    capture::CaptureComponents& c = *capture_;
    c.VideoDeviceInfos = platform::EnumerateDevices(platform::DeviceCategory::VideoInput);
    c.VideoDevices = capture::DeviceEntries(c.VideoDeviceInfos);
    const bool any = !c.VideoDevices.empty();
    Button5->setEnabled(any);
    cb_VideoSorveglianza->setEnabled(any);
    if (!any) cb_VideoSorveglianza->setChecked(false);

    cb_DispositiviVideo->clear();
    cb_RisoluzioniVideo->clear();
    FillList(cb_DispositiviVideo, c.VideoDevices);
    if (!any) return;
    cb_DispositiviVideo->setCurrentIndex(std::max(0, cb_DispositiviVideo->findText(Q(Settings.dispositivo_video))));
    cb_DispositiviVideoSelect();
    if (Button5->isEnabled() && cb_RisoluzioniVideo->count() == 0) DisableMedium(Button5, cb_VideoSorveglianza);
}

void TPri::cb_DispositiviVideoSelect() {
    capture::CaptureComponents& c = *capture_;
    const int selected = cb_DispositiviVideo->currentIndex();
    if (selected < 0 || selected >= static_cast<int>(c.VideoDevices.size())) return;
    Settings.dispositivo_video = S(cb_DispositiviVideo->currentText());
    c.VideoFormats.clear();

    c.VideoSourceFilter->SetDevice(c.VideoDeviceInfos[c.VideoDevices[selected].index]);
    c.ActivateGraph();
    cb_RisoluzioniVideo->clear();
    const auto pin = c.VideoSourceFilter->OutputPin();
    c.VideoMediaTypes = pin ? pin->EnumMediaTypes() : std::vector<platform::MediaType>{};
    capture::FormatList formats = capture::BuildVideoFormatList(c.VideoMediaTypes);
    c.FilterGraph.Deactivate();

    capture::ApplyStoredChoice(formats, Settings.risoluzione_video);
    c.VideoFormats = formats.entries;
    FillList(cb_RisoluzioniVideo, formats);
}

void TPri::RefreshAudioDevices() {
    capture::CaptureComponents& c = *capture_;
    c.AudioDeviceInfos = platform::EnumerateDevices(platform::DeviceCategory::AudioInput);
    c.AudioDevices = capture::DeviceEntries(c.AudioDeviceInfos);
    const bool any = !c.AudioDevices.empty();
    Button7->setEnabled(any);
    cb_AudioSorveglianza->setEnabled(any);
    if (!any) cb_AudioSorveglianza->setChecked(false);

    cb_DispositiviAudio->clear();
    cb_PerifericheAudio->clear();
    cb_RisoluzioniAudio->clear();
    FillList(cb_DispositiviAudio, c.AudioDevices);
    if (!any) return;
    cb_DispositiviAudio->setCurrentIndex(std::max(0, cb_DispositiviAudio->findText(Q(Settings.dispositivo_audio))));
    cb_DispositiviAudioSelect();
    if (Button7->isEnabled() && (cb_RisoluzioniAudio->count() == 0 || cb_PerifericheAudio->count() == 0))
        DisableMedium(Button7, cb_AudioSorveglianza);
}

void TPri::cb_DispositiviAudioSelect() {
    capture::CaptureComponents& c = *capture_;
    const int selected = cb_DispositiviAudio->currentIndex();
    if (selected < 0 || selected >= static_cast<int>(c.AudioDevices.size())) return;
    Settings.dispositivo_audio = S(cb_DispositiviAudio->currentText());
    c.AudioFormats.clear();

    c.AudioSourceFilter->SetDevice(c.AudioDeviceInfos[c.AudioDevices[selected].index]);
    c.ActivateGraph();
    cb_RisoluzioniAudio->clear();
    // The last output pin's types are listed; the input pins are the lines.
    std::vector<std::string> lines;
    int enabledLine = -1;
    for (const auto& pin : c.AudioSourceFilter->EnumPins()) {
        if (pin->Direction() == platform::PinDirection::Output) {
            c.AudioMediaTypes = pin->EnumMediaTypes();
            continue;
        }
        lines.push_back(pin->Name());
        if (pin->GetEnable()) enabledLine = static_cast<int>(lines.size()) - 1;
    }
    capture::FormatList formats = capture::BuildAudioFormatList(c.AudioMediaTypes);
    capture::ApplyStoredChoice(formats, Settings.risoluzione_audio);
    c.AudioFormats = formats.entries;
    FillList(cb_RisoluzioniAudio, formats);
    c.FilterGraph.Deactivate();

    cb_PerifericheAudio->clear();
    for (const auto& line : lines) cb_PerifericheAudio->addItem(Q(line));
    cb_PerifericheAudio->setCurrentIndex(capture::ChooseEntry(lines, Settings.periferica_audio, enabledLine));
}

void TPri::cb_RisoluzioniVideoSelect() {
    if (!cb_RisoluzioniVideo->currentText().isEmpty()) Settings.risoluzione_video = S(cb_RisoluzioniVideo->currentText());
}

void TPri::cb_RisoluzioniAudioSelect() {
    if (!cb_RisoluzioniAudio->currentText().isEmpty()) Settings.risoluzione_audio = S(cb_RisoluzioniAudio->currentText());
}

void TPri::cb_PerifericheAudioSelect() {
    if (!cb_PerifericheAudio->currentText().isEmpty()) Settings.periferica_audio = S(cb_PerifericheAudio->currentText());
}

// The results of the graph operations are not examined: a graph that cannot be
// built leaves the detectors waiting in their format check.
void TPri::BuildCaptureGraph(bool video, bool audio, GraphMode mode) {
    capture::CaptureComponents& c = *capture_;
    const bool monitoring = mode == GraphMode::Monitoring;
    const int videoDevice = cb_DispositiviVideo->currentIndex();
    const int audioDevice = cb_DispositiviAudio->currentIndex();
    if (video && videoDevice >= 0 && videoDevice < static_cast<int>(c.VideoDevices.size())) {
        if (monitoring) {
            capture::VideoDetector* detector = &c.videoDetector;
            c.VideoSampleGrabber->SetCallback(
                [detector](const uint8_t* data, size_t length) { detector->VideoSampleGrabberBuffer(data, length); });
        }
        c.FilterGraph.Deactivate();
        c.VideoSourceFilter->SetDevice(c.VideoDeviceInfos[c.VideoDevices[videoDevice].index]);
        c.ActivateGraph();
        const auto pin = c.VideoSourceFilter->OutputPin();
        if (pin) c.VideoMediaTypes = pin->EnumMediaTypes();
        const int format = cb_RisoluzioniVideo->currentIndex();
        if (pin && format >= 0 && format < static_cast<int>(c.VideoFormats.size())) {
            const platform::MediaType& type = c.VideoMediaTypes.at(c.VideoFormats[format].index);
            pin->SetFormat(type);
            if (monitoring) c.VideoSampleGrabber->SetMediaType(type);
        }
    }
    if (audio && audioDevice >= 0 && audioDevice < static_cast<int>(c.AudioDevices.size())) {
        capture::AudioDetector* detector = &c.audioDetector;
        c.AudioSampleGrabber->SetCallback(
            [detector](const uint8_t* data, size_t length) { detector->AudioSampleGrabberBuffer(data, length); });
        if (!video) c.FilterGraph.Deactivate();
        c.AudioSourceFilter->SetDevice(c.AudioDeviceInfos[c.AudioDevices[audioDevice].index]);
        if (!video) c.ActivateGraph();
        const int format = cb_RisoluzioniAudio->currentIndex();
        const bool formatChosen = format >= 0 && format < static_cast<int>(c.AudioFormats.size());
        const int line = cb_PerifericheAudio->currentIndex();
        int inputIndex = 0;
        for (const auto& pin : c.AudioSourceFilter->EnumPins()) {
            if (pin->Direction() == platform::PinDirection::Output) {
                if (formatChosen) pin->SetFormat(c.AudioMediaTypes.at(c.AudioFormats[format].index));
            } else if (inputIndex++ == line) {
                pin->PutEnable(true);
            }
        }
        if (formatChosen) c.AudioSampleGrabber->SetMediaType(c.AudioMediaTypes.at(c.AudioFormats[format].index));
    }

    ConnectBranches(video && videoDevice >= 0, audio && audioDevice >= 0, mode);
}

// Monitoring: camera -> grabber -> window, microphone -> grabber. Preview:
// the camera straight to the window.
void TPri::ConnectBranches(bool video, bool audio, GraphMode mode) {
    capture::CaptureComponents& c = *capture_;
    platform::CaptureGraphBuilder builder(c.FilterGraph);
    if (video)
        builder.RenderStream(platform::PinCategory::Preview, platform::MajorType::None, c.VideoSourceFilter,
                             mode == GraphMode::Monitoring ? c.VideoSampleGrabber : nullptr, c.VideoRenderer);
    if (audio)
        builder.RenderStream(platform::PinCategory::None, platform::MajorType::None, c.AudioSourceFilter,
                             c.AudioSampleGrabber, nullptr);
}

void TPri::Button5Click() {
    capture::CaptureComponents& c = *capture_;
    const int device = cb_DispositiviVideo->currentIndex();
    if (device < 0 || device >= static_cast<int>(c.VideoDevices.size())) return;
    const uint8_t saved = c.videoDetector.State.exchange(capture::Idle);
    if (c.FilterGraph.IsRunning()) {
        DevicePropertiesDialog::ShowFor(c.VideoSourceFilter, this);
    } else {
        // Shown over the live picture, so the user sees what changes.
        c.FilterGraph.StopAndClear();
        c.FilterGraph.Deactivate();
        c.VideoSourceFilter->SetDevice(c.VideoDeviceInfos[c.VideoDevices[device].index]);
        c.ActivateGraph();
        platform::CaptureGraphBuilder(c.FilterGraph)
            .RenderStream(platform::PinCategory::Preview, platform::MajorType::None, c.VideoSourceFilter, nullptr,
                          c.VideoRenderer);
        c.FilterGraph.Run();
        DevicePropertiesDialog::ShowFor(c.VideoSourceFilter, this);
        c.FilterGraph.Stop();
        c.FilterGraph.Deactivate();
    }
    c.videoDetector.State.store(saved);
}

void TPri::Button7Click() { platform::ShellOpen("sndvol32.exe"); }
