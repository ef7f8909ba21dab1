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

AlarmLabelTexts ComposeAlarmLabels(const TSettings& s) {
    AlarmLabelTexts t;
    t.Label8 = "Allarme sonoro: " + ShortPathForm(s.FileAudio, false);
    t.Label13 = "Notifica tramite SMS, numero: " + s.SMS_NumeroCellulare;
    t.Label9 = "Notifica tramite posta elettronica, e-mail: " + s.Mail_Indirizzo;
    t.Label11 = "Registrazione audio/video, cartella " + ShortPathForm(s.RegAvi_Dir, true);
    t.Label12 = "Scatta una foto, cartella " + ShortPathForm(s.Foto_Dir, true);
    t.Label10 = "Esegui questo file: " + ShortPathForm(s.File_Nome, false);
    return t;
}
