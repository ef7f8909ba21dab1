// The start timers of the two notification workers.

#include "capture/MonitoringController.h"
#include "core/Globali.h"
#include "core/gui/TTimer.h"
#include "core/gui/UPri.h"
#include "notify/MailWorker.h"
#include "notify/SmsWorker.h"

void TPri::CreateNotificationWorkers() {
    ThreadSMS = std::make_unique<notify::ThreadSMS>(InviaSMS_Timer->Tag, InviaMail_Timer->Tag,
                                                    Settings.SMS_OraUltimoInvio);
    thrdMail = std::make_unique<notify::MailWorker>(InviaMail_Timer->Tag, InviaSMS_Timer->Tag,
                                                    Settings.Mail_OraUltimoInvio);
    connect(InviaSMS_Timer, &QTimer::timeout, this, &TPri::InviaSMS_TimerTimer);
    connect(InviaMail_Timer, &QTimer::timeout, this, &TPri::InviaMail_TimerTimer);
}

void TPri::InviaSMS_TimerTimer() {
    InviaSMS_Timer->SetEnabled(false);
    notify::InviaSMS_TimerTimer(*ThreadSMS);
}

void TPri::InviaMail_TimerTimer() {
    InviaMail_Timer->SetEnabled(false);
    capture::CaptureComponents& c = Capture();
    auto grabber = c.VideoSampleGrabber;
    notify::InviaMail_TimerTimer(
        *thrdMail, Settings, c.EventCounters.CurrentEvent().TipoEvento,
        c.videoDetector.State.load() == capture::Monitoring,
        [grabber](std::vector<uint8_t>& bytes, platform::MediaType& type) {
            return grabber->GetCurrentBuffer(bytes, &type);
        });
}
