#pragma once
// The alarm dispatcher: what one event (or notification request) sets off,
// in a fixed order, with the log line of each reaction and the texts handed
// to the SMS and e-mail workers. The reactions themselves are carried out by
// the main window through AlarmReactions, so the decisions can run without it.

#include "alarms/EventCounters.h"
#include "core/Globali.h"
#include "platform/DateTime.h"

#include <cstdint>
#include <string>

namespace alarms {

struct PhotoOutcome {
    bool ok = false;
    std::string path;  // complete when saved, as far as it was built otherwise
};

// What the dispatcher asks of the main window. Main thread only; none of
// them may wait for a worker, and failures come back as results, never as
// exceptions, so one reaction's trouble cannot hold back the next.
class AlarmReactions {
public:
    virtual ~AlarmReactions();

    virtual void StartSoundAlarm() = 0;

    // InviaSMS_Timer: Tag != 0 while the SMS worker runs. The dispatcher
    // disables the timer, writes TestoSMS, then enables it.
    virtual bool SmsWorkerBusy() = 0;
    virtual void DisableSmsTimer() = 0;
    virtual void EnableSmsTimer() = 0;

    // InviaMail_Timer, the same way for OggettoMail and TestoMail.
    virtual bool MailWorkerBusy() = 0;
    virtual void DisableMailTimer() = 0;
    virtual void EnableMailTimer() = 0;

    virtual bool VideoDetectorMonitoring() = 0;  // motion detector in Monitoring
    virtual PhotoOutcome TakePhoto() = 0;

    // Ferma_RegAvi enabled (recording) or its Tag 1 (being stopped).
    virtual bool RecordingActive() = 0;
    virtual bool StartRecording() = 0;  // false: refused
    // Sets Ferma_RegAvi's interval and enables it.
    virtual void ArmRecordingStop(int32_t ms) = 0;
    virtual std::string NomeFileAvi() = 0;  // path of the recording last started

    virtual void RunAlarmFile() = 0;
};

// SMS, e-mail, photo and recording follow the alarm switch for suspicious
// events and the notification switch for notification requests.
bool ActionApplies(const TSettings& settings, uint8_t tipoEvento);

// The minimum interval of `minutes` since the "yyyymmddhhnn" stamp. It holds
// only within one calendar day; M <= 0, another date, or "000000000000" pass.
// An hour or minute pair that is not a number (or is cut short) counts 0.
bool RateLimitPassed(int32_t minutes, const std::string& stamp, const platform::DateTime& now);

// The outgoing texts. periodStart is used only when hasPeriodStart; without
// it (monitoring never started) the zero date-time's "00:00:00" is written.
std::string ComposeTestoSMS(const EventRecord& event, const EventTotals& totals,
                            bool hasPeriodStart, const platform::DateTime& periodStart,
                            const platform::DateTime& now);
std::string ComposeOggettoMail(uint8_t tipoEvento);
std::string ComposeTestoMail(const EventRecord& event, const EventTotals& totals,
                             bool hasPeriodStart, const platform::DateTime& periodStart,
                             const platform::DateTime& now);

// The body of GestisciEvento_TimerTimer between setting and clearing the
// dispatcher's busy mark: summary line, then sound, SMS, e-mail, photo,
// recording and file, each as switched on. Writes TestoSMS, OggettoMail,
// TestoMail and the photo and file stamps; reads the stamps with Get()
// because the workers replace theirs from other threads.
void GestisciEvento(TSettings& settings, const EventRecord& event, const EventTotals& totals,
                    bool hasPeriodStart, const platform::DateTime& periodStart,
                    AlarmReactions& reactions);

}  // namespace alarms
