#include "capture/DeviceHealth.h"

#include "alarms/EventLog.h"

namespace capture {

DeviceLogRow DeviceNoticeRow(const platform::DeviceNotice& notice) {
    using platform::DeviceNotice;
    if (notice.kind == DeviceNotice::Kind::RecordingFailed)
        return {"Errore", alarms::IconErrore,
                "Impossibile scrivere la registrazione: " + notice.device + " (" + notice.detail + ")"};
    const bool video = notice.medium == platform::MajorType::Video;
    const std::string device = std::string(video ? "il dispositivo video \"" : "il dispositivo audio \"") +
                               notice.device + "\"";
    const std::string watch = video ? "videosorveglianza" : "audiosorveglianza";
    if (notice.kind == DeviceNotice::Kind::Restored)
        return {"Informazione", alarms::IconInformazione,
                "Di nuovo disponibile " + device + ": " + watch + " ripresa, calibrazione in corso ..."};
    std::string what;
    switch (notice.cause) {
    case DeviceNotice::Cause::Silent:
        what = "Non invia più dati " + device;
        break;
    case DeviceNotice::Cause::Moved:
        what = "Il server audio ha sostituito " + device + " con un altro dispositivo";
        break;
    case DeviceNotice::Cause::Failed:
    case DeviceNotice::Cause::None:
        what = "Non risponde " + device;
        break;
    }
    return {"Errore", alarms::IconErrore, what + ": " + watch + " sospesa, nuovo tentativo in corso ..."};
}

}  // namespace capture
