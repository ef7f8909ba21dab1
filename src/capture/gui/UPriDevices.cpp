// The device panel of the main window: device, format and input-line lists
// and their choices in Settings; the monitoring controller lists the devices
// and builds the capture graph from what the lists show.

#include "capture/MonitoringController.h"
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
    VideoWindow->SetRenderer(Capture().VideoRenderer);
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

capture::CaptureChoice TPri::CurrentChoice() const {
    capture::CaptureChoice choice;
    choice.videoDevice = cb_DispositiviVideo->currentIndex();
    choice.videoFormat = cb_RisoluzioniVideo->currentIndex();
    choice.audioDevice = cb_DispositiviAudio->currentIndex();
    choice.audioFormat = cb_RisoluzioniAudio->currentIndex();
    choice.audioLine = cb_PerifericheAudio->currentIndex();
    choice.videoFormatText = S(cb_RisoluzioniVideo->currentText());
    choice.audioFormatText = S(cb_RisoluzioniAudio->currentText());
    return choice;
}

void TPri::RefreshVideoDevices() {
    const std::vector<capture::DeviceEntry>& devices = monitor_->RefreshVideoDevices();
    const bool any = !devices.empty();
    Button5->setEnabled(any);
    cb_VideoSorveglianza->setEnabled(any);
    if (!any) cb_VideoSorveglianza->setChecked(false);

    cb_DispositiviVideo->clear();
    cb_RisoluzioniVideo->clear();
    FillList(cb_DispositiviVideo, devices);
    if (!any) return;
    cb_DispositiviVideo->setCurrentIndex(monitor_->PreselectedVideoDevice());
    cb_DispositiviVideoSelect();
    if (Button5->isEnabled() && cb_RisoluzioniVideo->count() == 0) DisableMedium(Button5, cb_VideoSorveglianza);
}

void TPri::cb_DispositiviVideoSelect() {
    const auto formats = monitor_->SelectVideoDevice(cb_DispositiviVideo->currentIndex());
    if (!formats) return;
    cb_RisoluzioniVideo->clear();
    FillList(cb_RisoluzioniVideo, *formats);
}

void TPri::RefreshAudioDevices() {
    const std::vector<capture::DeviceEntry>& devices = monitor_->RefreshAudioDevices();
    const bool any = !devices.empty();
    Button7->setEnabled(any);
    cb_AudioSorveglianza->setEnabled(any);
    if (!any) cb_AudioSorveglianza->setChecked(false);

    cb_DispositiviAudio->clear();
    cb_PerifericheAudio->clear();
    cb_RisoluzioniAudio->clear();
    FillList(cb_DispositiviAudio, devices);
    if (!any) return;
    cb_DispositiviAudio->setCurrentIndex(monitor_->PreselectedAudioDevice());
    cb_DispositiviAudioSelect();
    if (Button7->isEnabled() && (cb_RisoluzioniAudio->count() == 0 || cb_PerifericheAudio->count() == 0))
        DisableMedium(Button7, cb_AudioSorveglianza);
}

void TPri::cb_DispositiviAudioSelect() {
    const auto offer = monitor_->SelectAudioDevice(cb_DispositiviAudio->currentIndex());
    if (!offer) return;
    cb_RisoluzioniAudio->clear();
    FillList(cb_RisoluzioniAudio, offer->formats);
    cb_PerifericheAudio->clear();
    for (const auto& line : offer->lines) cb_PerifericheAudio->addItem(Q(line));
    cb_PerifericheAudio->setCurrentIndex(offer->line);
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

void TPri::Button5Click() {
    monitor_->ShowVideoDeviceSettings(cb_DispositiviVideo->currentIndex(),
                                      [this](const std::shared_ptr<platform::SourceFilter>& source) {
                                          DevicePropertiesDialog::ShowFor(source, this);
                                      });
}

void TPri::Button7Click() { platform::ShellOpen("sndvol32.exe"); }
