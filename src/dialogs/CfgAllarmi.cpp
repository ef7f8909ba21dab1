#include "dialogs/CfgAllarmi.h"

#include "core/Numbers.h"
#include "notify/SmsGateway.h"

#include <cstdint>

namespace dialogs {

namespace {

const char* const kSecondi = "Il numero di secondi non è valido.";
const char* const kMinuti1 = "Il numero di minuti non è valido.\nInserire un numero compreso tra 1 e 1440.";
const char* const kMinuti0 = "Il numero di minuti non è valido.\nInserire un numero compreso tra 0 e 1440.";
const char* const kPorta = "Il numero di porta non è valido.\nInserire un numero compreso tra 1 e 65535.";
const char* const kDurata =
    "La durata della registrazione non è valida.\nInserire un numero compreso tra 1 e 99999.";

// The integer in `text` when it lies in [low, high]; an empty text is first
// replaced by `whenEmpty` (when there is one).
std::optional<int32_t> InRange(std::string& text, const char* whenEmpty, int32_t low, int32_t high) {
    if (text.empty() && whenEmpty) text = whenEmpty;
    const std::optional<int32_t> value = ParseInt(text);
    if (!value || *value < low || *value > high) return std::nullopt;
    return value;
}

// The server's port, security and account, after Edit8 in both walks.
std::optional<CfgAllarmiFailure> ApplicaServer(CfgAllarmiFields& f, TSettings& s) {
    const auto porta = InRange(f.Edit13, "25", 1, 65535);
    if (!porta) return CfgAllarmiFailure{PageMail, "Edit13", kPorta};
    s.Mail_Porta = *porta;
    // No item: a value from a newer program, kept rather than lost.
    if (IsMailSicurezza(f.ComboBox4)) s.Mail_Sicurezza = f.ComboBox4;
    s.Mail_Utente = notify::TrimControls(f.Edit14);
    s.Mail_PasswordSMTP = notify::TrimControls(f.Edit15);
    return std::nullopt;
}

}  // namespace

std::string FolderForLabel(const std::string& folder) {
    if (folder.size() > 1 && folder.back() == '/') return folder.substr(0, folder.size() - 1);
    return folder;
}

std::string FolderForSettings(const std::string& label) {
    if (!label.empty() && label.back() == '/') return label;
    return label + "/";
}

CfgAllarmiFields FieldsFromSettings(const TSettings& s) {
    CfgAllarmiFields f;
    f.Label2 = s.FileAudio;
    f.Edit1 = std::to_string(s.DuarataAllarmeSonoro);

    f.Edit2 = s.SMS_NumeroCellulare;
    f.Edit5 = std::to_string(s.SMS_MaxUnoOgni);
    f.Edit3 = s.SMS_UserName;
    f.Edit4 = s.SMS_Password;

    f.Edit6 = s.Mail_Indirizzo;
    f.CheckBox1 = s.Mail_AllegaFoto;
    f.Edit7 = std::to_string(s.Mail_MaxUnoOgni);
    f.Edit8 = s.Mail_ServerSMTP;
    f.Edit13 = std::to_string(s.Mail_Porta);
    f.ComboBox4 = IsMailSicurezza(s.Mail_Sicurezza) ? s.Mail_Sicurezza : -1;
    f.Edit14 = s.Mail_Utente;
    f.Edit15 = s.Mail_PasswordSMTP;

    f.Label18 = FolderForLabel(s.RegAvi_Dir);
    // Loading the boxes goes through their rule, video first: with both
    // stored off, clearing audio re-ticks video.
    f.CheckBox2 = s.RegAvi_RegistraVideo || !s.RegAvi_RegistraAudio;
    f.CheckBox3 = s.RegAvi_RegistraAudio;
    f.Edit10 = std::to_string(s.RegAvi_DurataRegistrazione);
    f.Edit9 = std::to_string(s.RegAvi_MaxUnoOgni);
    f.CheckBox4 = s.RegAvi_UsaCodecVideo;
    f.CheckBox5 = s.RegAvi_UsaCodecAudio;
    f.ComboBox1 = s.RegAvi_NomeCodecVideo;
    f.ComboBox2 = s.RegAvi_NomeCodecAudio;

    f.Label24 = FolderForLabel(s.Foto_Dir);
    f.ComboBox3 = s.Foto_Formato == 0 || s.Foto_Formato == 1 ? s.Foto_Formato : -1;
    f.Edit11 = std::to_string(s.Foto_MaxUnoOgni);

    f.Label30 = s.File_Nome;
    f.Edit12 = std::to_string(s.File_MaxUnoOgni);
    return f;
}

std::optional<CfgAllarmiFailure> ApplicaCampi(CfgAllarmiFields& f, TSettings& s) {
    using notify::TrimControls;
    auto fail = [](int page, const char* field, const char* message) {
        return std::optional<CfgAllarmiFailure>(CfgAllarmiFailure{page, field, message});
    };

    s.FileAudio = f.Label2;
    const auto durataSonoro = InRange(f.Edit1, nullptr, 1, INT32_MAX);
    if (!durataSonoro) return fail(PageSonoro, "Edit1", kSecondi);
    s.DuarataAllarmeSonoro = *durataSonoro;

    s.SMS_NumeroCellulare = TrimControls(f.Edit2);
    const auto smsOgni = InRange(f.Edit5, "1", 1, 1440);
    if (!smsOgni) return fail(PageSMS, "Edit5", kMinuti1);
    s.SMS_MaxUnoOgni = *smsOgni;
    s.SMS_UserName = TrimControls(f.Edit3);
    s.SMS_Password = TrimControls(f.Edit4);

    s.Mail_Indirizzo = TrimControls(f.Edit6);
    s.Mail_AllegaFoto = f.CheckBox1;
    const auto mailOgni = InRange(f.Edit7, "0", 0, 1440);
    if (!mailOgni) return fail(PageMail, "Edit7", kMinuti0);
    s.Mail_MaxUnoOgni = *mailOgni;
    s.Mail_ServerSMTP = TrimControls(f.Edit8);
    if (auto failure = ApplicaServer(f, s)) return failure;

    s.RegAvi_Dir = FolderForSettings(f.Label18);
    s.RegAvi_RegistraVideo = f.CheckBox2;
    s.RegAvi_RegistraAudio = f.CheckBox3;
    const auto durata = InRange(f.Edit10, "0", 1, 99999);
    if (!durata) return fail(PageRegistrazione, "Edit10", kDurata);
    s.RegAvi_DurataRegistrazione = *durata;
    const auto regOgni = InRange(f.Edit9, "0", 0, 1440);
    if (!regOgni) return fail(PageRegistrazione, "Edit9", kMinuti0);
    s.RegAvi_MaxUnoOgni = *regOgni;
    s.RegAvi_UsaCodecVideo = f.CheckBox4;
    s.RegAvi_UsaCodecAudio = f.CheckBox5;
    s.RegAvi_NomeCodecVideo = f.ComboBox1;
    s.RegAvi_NomeCodecAudio = f.ComboBox2;

    s.Foto_Dir = FolderForSettings(f.Label24);
    // No item: the bitmap format, which every unknown value already meant.
    s.Foto_Formato = f.ComboBox3 == 1 ? 1 : 0;
    const auto fotoOgni = InRange(f.Edit11, "0", 0, 1440);
    if (!fotoOgni) return fail(PageFoto, "Edit11", kMinuti0);
    s.Foto_MaxUnoOgni = *fotoOgni;

    s.File_Nome = f.Label30;
    const auto fileOgni = InRange(f.Edit12, "0", 0, 1440);
    if (!fileOgni) return fail(PageFile, "Edit12", kMinuti0);
    s.File_MaxUnoOgni = *fileOgni;
    return std::nullopt;
}

std::optional<CfgAllarmiFailure> CampiMailDiProva(CfgAllarmiFields& f, TSettings& s) {
    s.Mail_Indirizzo = notify::TrimControls(f.Edit6);
    s.Mail_ServerSMTP = notify::TrimControls(f.Edit8);
    return ApplicaServer(f, s);
}

}  // namespace dialogs
