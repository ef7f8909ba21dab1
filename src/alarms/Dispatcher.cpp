#include "alarms/Dispatcher.h"
#include "core/TimerInterval.h"

#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "platform/KnownFolders.h"

#include <algorithm>
#include <climits>

namespace alarms {

namespace {

constexpr const char* kCrLf = "\r\n";
constexpr const char* kStampFormat = "yyyymmddhhnn";

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Two characters of a stamp as a number: anything but two digits, and a
// pair cut short by the end of the text, counts 0.
int PairValue(const std::string& s, size_t pos) {
    if (s.size() < pos + 2) return 0;
    const char a = s[pos], b = s[pos + 1];
    return IsDigit(a) && IsDigit(b) ? (a - '0') * 10 + (b - '0') : 0;
}

int MinuteOfDay(const std::string& stamp) {
    return PairValue(stamp, 8) * 60 + PairValue(stamp, 10);
}

std::string Clock(const platform::DateTime& t) { return platform::FormatDateTime("hh:nn:ss", t); }
std::string Date(const platform::DateTime& t) { return platform::FormatDateTime("dd/mm/yyyy", t); }

// With no start of monitoring the period begins at the zero date-time,
// whose time of day is midnight.
platform::DateTime PeriodStartOrZero(bool hasPeriodStart, const platform::DateTime& periodStart) {
    return hasPeriodStart ? periodStart : platform::DateTime{};
}

std::string AlarmOpening(const platform::DateTime& now) {
    return "Alle " + Clock(now) + " del " + Date(now) + " Oculara ha rilevato ";
}

// Shared by the notification SMS and the first line of its e-mail.
std::string NotificationSummary(const EventTotals& totals, bool hasPeriodStart,
                                const platform::DateTime& periodStart,
                                const platform::DateTime& now) {
    return "Dalle " + Clock(PeriodStartOrZero(hasPeriodStart, periodStart)) + " alle " +
           Clock(now) + " del " + Date(now) + " Oculara ha rilevato " +
           std::to_string(totals.TotalNoises) + " rumori sospetti e " +
           std::to_string(totals.TotalMovements) + " movimenti sospetti";
}

// Each log line carries the moment it is written, not the event's.
void Log(const std::string& type, int icon, const std::string& description) {
    WriteLogEntry(platform::FormatDateTime("d/m/yy hh:nn:ss", platform::Now()), type, icon,
                  description);
}

// The workers replace the SMS and e-mail stamps from their own threads, so
// the stamp is taken once through its lock.
bool Passed(int32_t minutes, const TimeStamp& stamp) {
    return RateLimitPassed(minutes, stamp.Get(), platform::Now());
}

std::string StampOfNow() { return platform::FormatDateTime(kStampFormat, platform::Now()); }

}  // namespace

AlarmReactions::~AlarmReactions() = default;

bool ActionApplies(const TSettings& settings, uint8_t tipoEvento) {
    return (settings.Attiva_AllarmiSuSospetti && tipoEvento != EventoNotifica) ||
           (settings.Attiva_Notifiche && tipoEvento == EventoNotifica);
}

bool RateLimitPassed(int32_t minutes, const std::string& stamp, const platform::DateTime& now) {
    if (minutes <= 0) return true;
    const std::string current = platform::FormatDateTime(kStampFormat, now);
    if (current.compare(0, 8, stamp, 0, 8) != 0) return true;
    return MinuteOfDay(current) - MinuteOfDay(stamp) >= minutes;
}

std::string ComposeTestoSMS(const EventRecord& event, const EventTotals& totals,
                            bool hasPeriodStart, const platform::DateTime& periodStart,
                            const platform::DateTime& now) {
    if (event.TipoEvento == EventoNotifica)
        return NotificationSummary(totals, hasPeriodStart, periodStart, now);
    if (event.TipoEvento == EventoRumore)
        return AlarmOpening(now) + std::to_string(event.NoiseCount) + " " +
               (event.NoiseCount == 1 ? "rumore sospetto" : "rumori sospetti");
    return AlarmOpening(now) + std::to_string(event.MovementCount) + " " +
           (event.MovementCount == 1 ? "movimento sospetto" : "movimenti sospetti");
}

std::string ComposeOggettoMail(uint8_t tipoEvento) {
    if (tipoEvento == EventoNotifica) return "Notifica";
    if (tipoEvento == EventoRumore) return "Rumori sospetti";
    return "Movimenti sospetti";
}

std::string ComposeTestoMail(const EventRecord& event, const EventTotals& totals,
                             bool hasPeriodStart, const platform::DateTime& periodStart,
                             const platform::DateTime& now) {
    if (event.TipoEvento == EventoRumore)
        return AlarmOpening(now) +
               (event.NoiseCount == 1 ? std::string("un rumore sospetto.")
                                      : std::to_string(event.NoiseCount) + " rumori sospetti.") +
               kCrLf;
    if (event.TipoEvento != EventoNotifica)
        return AlarmOpening(now) +
               (event.MovementCount == 1
                    ? std::string("un movimento sospetto.")
                    : std::to_string(event.MovementCount) + " movimenti sospetti.") +
               kCrLf;

    std::string body = NotificationSummary(totals, hasPeriodStart, periodStart, now) + "." + kCrLf;
    if (static_cast<int64_t>(totals.TotalNoises) + totals.TotalMovements > 0) {
        const platform::DateTime last =
            totals.HasLastEvent ? totals.LastEventTime : platform::DateTime{};
        body += std::string("Tipo ultimo evento sospetto: ") +
                (totals.LastEventKind == EventoRumore ? "rumore" : "movimento") + kCrLf +
                "Data e ora ultimo evento sospetto: " +
                platform::FormatDateTime("dd/mm/yyyy hh:nn:ss", last) + kCrLf;
    }
    return body;
}

void GestisciEvento(TSettings& settings, const EventRecord& event, const EventTotals& totals,
                    bool hasPeriodStart, const platform::DateTime& periodStart,
                    AlarmReactions& reactions) {
    LogEventSummary(event, settings.Attiva_AllarmiSuSospetti);
    if (event.DangerLevel != 0) return;

    const uint8_t kind = event.TipoEvento;
    const bool notifica = kind == EventoNotifica;
    const bool applies = ActionApplies(settings, kind);
    const std::string reactionType = notifica ? "Notifica" : "Allarme";

    if (settings.Allarme_Sonoro && settings.Attiva_AllarmiSuSospetti && !notifica) {
        Log("Allarme", IconSuono, "Attivato allarme sonoro");
        reactions.StartSoundAlarm();
    }

    // A busy worker skips this event's message; it is not kept for later.
    // The text is written only with the start timer off, so a worker never
    // reads it half-composed.
    if (settings.Allarme_SMS && applies &&
        Passed(settings.SMS_MaxUnoOgni, settings.SMS_OraUltimoInvio) &&
        !reactions.SmsWorkerBusy()) {
        reactions.DisableSmsTimer();
        TestoSMS = ComposeTestoSMS(event, totals, hasPeriodStart, periodStart, platform::Now());
        reactions.EnableSmsTimer();
    }

    if (settings.Allarme_Mail && applies &&
        Passed(settings.Mail_MaxUnoOgni, settings.Mail_OraUltimoInvio) &&
        !reactions.MailWorkerBusy()) {
        reactions.DisableMailTimer();
        OggettoMail = ComposeOggettoMail(kind);
        TestoMail = ComposeTestoMail(event, totals, hasPeriodStart, periodStart, platform::Now());
        reactions.EnableMailTimer();
    }

    if (settings.Allarme_Foto && settings.Attiva_VideoSorveglianza &&
        reactions.VideoDetectorMonitoring() && applies &&
        Passed(settings.Foto_MaxUnoOgni, settings.Foto_OraUltimoScatto)) {
        const PhotoOutcome photo = reactions.TakePhoto();
        if (photo.ok) {
            settings.Foto_OraUltimoScatto.Set(StampOfNow());
            Log(reactionType, IconFoto, "Scattata foto, nome file: " + photo.path);
        } else {
            Log("Errore", IconErrore, "Impossibile salvare la foto " + photo.path);
        }
    }

    // The recording's stamp is written when it ends, by the stop of the
    // recording, so the interval counts from the end of the previous one.
    if (settings.Allarme_RegAvi && applies &&
        Passed(settings.RegAvi_MaxUnoOgni, settings.RegAvi_OraUltimaRegistrazione) &&
        !reactions.RecordingActive()) {
        if (reactions.StartRecording()) {
            reactions.ArmRecordingStop(TimerIntervalMs(settings.RegAvi_DurataRegistrazione, 1000));
            Log(reactionType, IconRegistrazione,
                "Attivata registrazione Audio/Video, nome file: " + reactions.NomeFileAvi());
        } else {
            Log("Errore", IconErrore,
                "Impossibile avviare la registrazione. Verificare le impostazioni e riprovare.");
        }
    }

    if (settings.Allarme_File && !settings.File_Nome.empty() &&
        platform::FileExists(settings.File_Nome) && !notifica &&
        settings.Attiva_AllarmiSuSospetti &&
        Passed(settings.File_MaxUnoOgni, settings.File_OraUltimaEsecuzione)) {
        reactions.RunAlarmFile();
        settings.File_OraUltimaEsecuzione.Set(StampOfNow());
        Log("Allarme", IconFile, "Eseguito file " + settings.File_Nome);
    }
}

}  // namespace alarms
