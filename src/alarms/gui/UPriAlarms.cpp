// The alarm side of the main window: the dispatcher's timer and the local
// reactions it starts (sound, photo, recording, file), and the periodic
// notification requests.

#include "alarms/Dispatcher.h"
#include "alarms/EventLog.h"
#include "alarms/Photo.h"
#include "capture/MonitoringController.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "core/TimerInterval.h"
#include "platform/PlaySound.h"
#include "platform/Shell.h"
#include "platform/Tick.h"

#include <QApplication>
#include <QPushButton>

namespace {

// The window's timers and actions as the dispatcher sees them.
class WindowReactions : public alarms::AlarmReactions {
public:
    explicit WindowReactions(TPri& w) : w_(w) {}

    bool SmsWorkerBusy() override { return w_.InviaSMS_Timer->Tag == 1; }
    void DisableSmsTimer() override { w_.InviaSMS_Timer->SetEnabled(false); }
    void EnableSmsTimer() override { w_.InviaSMS_Timer->SetEnabled(true); }
    bool MailWorkerBusy() override { return w_.InviaMail_Timer->Tag == 1; }
    void DisableMailTimer() override { w_.InviaMail_Timer->SetEnabled(false); }
    void EnableMailTimer() override { w_.InviaMail_Timer->SetEnabled(true); }
    void StartSoundAlarm() override { w_.StartSoundAlarm(); }
    bool VideoDetectorMonitoring() override {
        return w_.Capture().videoDetector.State.load() == capture::Monitoring;
    }
    alarms::PhotoOutcome TakePhoto() override { return w_.TakePhoto(); }
    bool RecordingActive() override { return w_.Ferma_RegAvi->Enabled() || w_.Ferma_RegAvi->Tag != 0; }
    bool StartRecording() override { return w_.StartRecording(); }
    void ArmRecordingStop(int32_t ms) override {
        w_.Ferma_RegAvi->SetInterval(ms);
        w_.Ferma_RegAvi->SetEnabled(true);
    }
    std::string NomeFileAvi() override { return w_.NomeFileAvi; }
    void RunAlarmFile() override { w_.RunAlarmFile(); }

private:
    TPri& w_;
};

}  // namespace

void TPri::ConnectAlarmTimers() {
    connect(GestisciEvento_Timer, &QTimer::timeout, this, &TPri::GestisciEvento_TimerTimer);
    connect(FermaAllarmeSonoro_Timer, &QTimer::timeout, this, &TPri::FermaAllarmeSonoro_TimerTimer);
    connect(Ferma_RegAvi, &QTimer::timeout, this, &TPri::Ferma_RegAviTimer);
    connect(AttivaNotifiche_Timer, &QTimer::timeout, this, &TPri::AttivaNotifiche_TimerTimer);
}

void TPri::GestisciEvento_TimerTimer() {
    GestisciEvento_Timer->Tag = 1;
    GestisciEvento_Timer->SetEnabled(false);
    capture::CaptureComponents& c = Capture();
    WindowReactions reactions(*this);
    alarms::GestisciEvento(Settings, c.EventCounters.CurrentEvent(), c.EventCounters.Totals(),
                           c.EventCounters.HasPeriodStart, c.EventCounters.PeriodStart, reactions);
    GestisciEvento_Timer->Tag = 0;
}

void TPri::StartSoundAlarm() {
    FermaAllarmeSonoro_Timer->SetEnabled(false);
    FermaAllarmeSonoro_Timer->SetInterval(TimerIntervalMs(Settings.DuarataAllarmeSonoro, 1000));
    platform::PlaySound(Settings.FileAudio.c_str(), platform::SND_ASYNC | platform::SND_LOOP | platform::SND_FILENAME);
    FermaAllarmeSonoro_Timer->SetEnabled(true);
    // While the alarm sounds the noise detector must not hear it.
    Capture().audioDetector.SoundAlarmPlaying.store(true);
}

void TPri::FermaAllarmeSonoro_TimerTimer() {
    FermaAllarmeSonoro_Timer->SetEnabled(false);
    Capture().audioDetector.SoundAlarmPlaying.store(false);
    platform::PlaySound(nullptr, 0);
}

alarms::PhotoOutcome TPri::TakePhoto() {
    std::vector<uint8_t> frame;
    platform::MediaType type;
    const bool have = Capture().VideoSampleGrabber->GetCurrentBuffer(frame, &type);
    const alarms::PhotoResult r = alarms::TakePhoto(Settings.Foto_Dir, Settings.Foto_Formato, have ? &frame : nullptr,
                                                    have ? &type : nullptr, platform::Now());
    return {r.ok, r.path};
}

void TPri::RunAlarmFile() { platform::ShellOpen(Settings.File_Nome); }

void TPri::AttivaNotifiche_TimerTimer() {
    if (AttivaNotifiche_Timer->Tag == 1) return;
    if (!Settings.Attiva_VideoSorveglianza && !Settings.Attiva_AudioSorveglianza) return;
    const capture::CaptureComponents& c = Capture();
    if (c.videoDetector.State.load() != capture::Monitoring && c.audioDetector.State.load() != capture::Monitoring)
        return;  // a tick during calibration is lost, not postponed
    AttivaNotifiche_Timer->Tag = 1;
    Capture().EventCounters.AppendNotification();
    AttivaNotifiche_Timer->Tag = 0;
}
