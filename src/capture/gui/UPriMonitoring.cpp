// Monitoring start, preview and stop, the detectors' displays and the hand-
// over of queued events to the dispatcher.

#include "alarms/EventLog.h"
#include "capture/DeviceHealth.h"
#include "capture/MonitoringController.h"
#include "controls/gui/MioIndicatore.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "platform/DateTime.h"
#include "platform/MessageBox.h"
#include "platform/Tick.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QThread>

namespace {

QString Q(const std::string& s) { return QString::fromStdString(s); }

void SwitchOffPrecision(QLabel* label, TMioIndicatore* bar, QProgressBar* progress, TTimer* timer) {
    label->setEnabled(false);
    bar->setEnabled(false);
    progress->setValue(0);
    progress->hide();
    timer->SetEnabled(false);
}

void SwitchOnPrecision(QLabel* label, const char* text, TMioIndicatore* bar, QProgressBar* progress) {
    if (label->isEnabled()) return;
    label->setEnabled(true);
    label->setText(QString::fromUtf8(text));
    bar->setEnabled(true);
    bar->SetPos(0);
    progress->show();
}

}  // namespace

void TPri::PostToMain(std::function<void()> task) {
    QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
}

void TPri::AttachDetectorHooks() {
    capture::CaptureComponents& c = Capture();
    // Streaming threads: these only queue work for the main thread.
    c.videoDetector.onCalibrationStarted = [this] { PostToMain([this] { AggCalibVideo->SetEnabled(true); }); };
    c.videoDetector.onUnsupportedFormat = [this](std::function<void()> dismissed) {
        PostToMain([this, dismissed] { ShowFormatRefused(capture::kVideoFormatNotSupported, dismissed); });
    };
    capture::AudioDetectorHooks audio;
    audio.onCalibrationStarted = [this] { PostToMain([this] { AggCalibAudio->SetEnabled(true); }); };
    audio.onVerifyingStarted = [this] { PostToMain([this] { ProgressBar2->setValue(50); }); };
    audio.onUnsupportedFormat = [this](std::function<void()> dismissed) {
        PostToMain([this, dismissed] { ShowFormatRefused(capture::kAudioFormatNotSupportedText, dismissed); });
    };
    c.audioDetector.SetHooks(std::move(audio));
}

void TPri::ShowFormatRefused(const char* text, std::function<void()> dismissed) {
    platform::MessageBox(text, "Attenzione", platform::MB_OK | platform::MB_ICONWARNING);
    dismissed();
}

// Start and preview alike: only "Ferma" stays usable; the controller then
// rests the detectors and empties the graph before building it again.
void TPri::LeaveStoppedState() {
    Button1->setEnabled(false);
    gb_Sorveglianza->setEnabled(false);
    BitBtn1->setEnabled(false);
    Button2->setEnabled(true);
    BitBtn3->setEnabled(false);
}

void TPri::Button1Click() {
    capture::CaptureComponents& c = Capture();
    if (!c.EventCounters.HasPeriodStart) {
        c.EventCounters.PeriodStart = platform::Now();
        c.EventCounters.HasPeriodStart = true;
    }
    Settings.Attiva_VideoSorveglianza = cb_VideoSorveglianza->isChecked();
    Settings.Attiva_AudioSorveglianza = cb_AudioSorveglianza->isChecked();
    const bool video = Settings.Attiva_VideoSorveglianza;
    const bool audio = Settings.Attiva_AudioSorveglianza;
    if (!video && !audio) return;

    LeaveStoppedState();
    Label3->setText(video ? "Calibrazione in corso, evitare movimenti ..." : "Calibrazione in corso ...");
    monitor_->StartMonitoring(video, audio, CurrentChoice());

    VolTimer->SetEnabled(true);
    ControllaEventi_Timer->SetEnabled(true);
    AttivaNotifiche_Timer->SetEnabled(Settings.Attiva_Notifiche);
    ControllaDispositivi_Timer->SetEnabled(true);
}

void TPri::BitBtn1Click() {
    const bool video = cb_VideoSorveglianza->isChecked();
    const bool audio = cb_AudioSorveglianza->isChecked();
    if (!video && !audio) return;
    LeaveStoppedState();
    monitor_->StartPreview(video, audio, CurrentChoice());
    VolTimer->SetEnabled(true);
    ControllaDispositivi_Timer->SetEnabled(true);
}

// Stop, in its fixed order: the detectors go Idle before their callbacks
// are detached, and running callbacks get 100 ms before the graph stops.
void TPri::Button2Click() {
    ControllaEventi_Timer->SetEnabled(false);
    ControllaDispositivi_Timer->SetEnabled(false);
    AttivaNotifiche_Timer->SetEnabled(false);
    Ferma_RegAvi->SetEnabled(false);
    VolTimer->SetEnabled(false);
    VolMeter->SetPos(0);
    BitBtn1->setEnabled(true);
    Button1->setEnabled(true);
    Button2->setEnabled(false);
    QApplication::processEvents();
    BitBtn3->setEnabled(true);
    monitor_->DetachDetectors();
    QApplication::processEvents();
    QThread::msleep(100);
    QApplication::processEvents();
    monitor_->StopGraph();
    QApplication::processEvents();
    gb_Sorveglianza->setEnabled(true);
    monitor_->ResetDetectors();
    Label3->hide();
}

void TPri::ControllaDispositivi_TimerTimer() {
    for (const platform::DeviceNotice& notice : monitor_->WatchDevices()) {
        const capture::DeviceLogRow row = capture::DeviceNoticeRow(notice);
        alarms::WriteLogEntry(platform::FormatDateTime("d/m/yy hh:nn:ss", platform::Now()), row.type, row.icon,
                              row.description);
        if (notice.kind != platform::DeviceNotice::Kind::Lost) continue;
        // A resting detector shows no precision; a return calibrates afresh and shows it again.
        if (notice.medium == platform::MajorType::Video)
            SwitchOffPrecision(lb_pv, MioIndicatore1, ProgressBar1, AggCalibVideo);
        else
            SwitchOffPrecision(lb_pa, MioIndicatore2, ProgressBar2, AggCalibAudio);
    }
}

void TPri::AggCalibVideoTimer() {
    const capture::VideoDetector& d = Capture().videoDetector;
    const capture::VideoPrecisionDisplay view =
        capture::AggCalibVideoStep(d.State.load(), d.PixelThreshold.load(), d.FrameCounter.load());
    if (view.action == capture::VideoPrecisionDisplay::SwitchOff) {
        SwitchOffPrecision(lb_pv, MioIndicatore1, ProgressBar1, AggCalibVideo);
        return;
    }
    if (view.action != capture::VideoPrecisionDisplay::Update) return;
    SwitchOnPrecision(lb_pv, "Precisione del dispositivo video: 0 %", MioIndicatore1, ProgressBar1);
    if (view.indicator) MioIndicatore1->SetPos(*view.indicator);
    if (view.label) lb_pv->setText(Q(*view.label));
    if (view.progress) ProgressBar1->setValue(*view.progress);
}

void TPri::AggCalibAudioTimer() {
    const capture::AudioPrecisionView view = capture::ComposeAudioPrecision(Capture().audioDetector.ReadProgress());
    if (view.action == capture::AudioPrecisionView::Action::Close) {
        SwitchOffPrecision(lb_pa, MioIndicatore2, ProgressBar2, AggCalibAudio);
        return;
    }
    if (view.action != capture::AudioPrecisionView::Action::Update) return;
    SwitchOnPrecision(lb_pa, "Precisione del dispositivo audio: 0 %", MioIndicatore2, ProgressBar2);
    if (view.indicator) {
        MioIndicatore2->SetPos(*view.indicator);
        lb_pa->setText(Q(view.label));
    }
    if (view.progress) ProgressBar2->setValue(*view.progress);
}

void TPri::VolTimerTimer() {
    VolMeter->SetPos(static_cast<int32_t>(Capture().audioDetector.Level.load()));
    if (AggCalibVideo->Enabled() || AggCalibAudio->Enabled()) {
        ++label3Tag_;
        Label3->setVisible(label3Tag_ % 2 == 0);
    } else if (Label3->isVisible()) {
        Label3->hide();
    }
}

void TPri::ControllaEventi_TimerTimer() {
    if (Capture().EventCounters.TakeNextEvent(GestisciEvento_Timer->Tag == 0)) GestisciEvento_Timer->SetEnabled(true);
}
