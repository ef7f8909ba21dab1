#include "core/AlarmLabels.h"

#include "core/Globali.h"

std::string ShortPathForm(const std::string& path, bool isFolder) {
    if (path.empty()) return {};
    std::string trimmed = path;
    if (isFolder && trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    const auto slash = trimmed.find_last_of('/');
    const std::string last = slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
    const char first = path.front();
    return std::string(1, first) + (first == '/' ? "../" : "/../") + last;
}

std::array<AlarmCaption, 6> ComposeAlarmCaptions(const TSettings& s) {
    return {{
        {"Allarme sonoro: ", ShortPathForm(s.FileAudio, false)},
        {"Notifica tramite SMS, numero: ", s.SMS_NumeroCellulare},
        {"Notifica tramite posta elettronica, e-mail: ", s.Mail_Indirizzo},
        {"Registrazione audio/video, cartella ", ShortPathForm(s.RegAvi_Dir, true)},
        {"Scatta una foto, cartella ", ShortPathForm(s.Foto_Dir, true)},
        {"Esegui questo file: ", ShortPathForm(s.File_Nome, false)},
    }};
}

AlarmLabelTexts ComposeAlarmLabels(const TSettings& s) {
    const auto c = ComposeAlarmCaptions(s);
    return {c[0].Whole(), c[1].Whole(), c[2].Whole(), c[3].Whole(), c[4].Whole(), c[5].Whole()};
}
