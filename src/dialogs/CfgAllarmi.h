#pragma once
// The alarm configuration dialog without its windows: what its fields hold,
// how Settings fill them, and the "Applica" walk that checks and stores them.

#include "core/Globali.h"

#include <optional>
#include <string>

namespace dialogs {

// The dialog's fields as texts and flags, page by page. Folders are held as
// their labels show them: without the final "/".
struct CfgAllarmiFields {
    // Allarme sonoro
    std::string Label2;  // FileAudio
    std::string Edit1;
    // Notifica tramite SMS
    std::string Edit2;
    std::string Edit5;
    std::string Edit3;
    std::string Edit4;
    // Notifica tramite mail
    std::string Edit6;
    bool CheckBox1 = false;
    std::string Edit7;
    std::string Edit8;
    std::string Edit13;   // Mail_Porta
    int ComboBox4 = -1;   // Mail_Sicurezza as item index, -1 when none
    std::string Edit14;   // Mail_Utente
    std::string Edit15;   // Mail_PasswordSMTP
    // Registrazione Audio/Video
    std::string Label18;  // RegAvi_Dir
    bool CheckBox2 = false;
    bool CheckBox3 = false;
    std::string Edit10;
    std::string Edit9;
    bool CheckBox4 = false;
    bool CheckBox5 = false;
    std::string ComboBox1;  // selected text, "" when none
    std::string ComboBox2;
    // Foto
    std::string Label24;  // Foto_Dir
    int ComboBox3 = -1;   // item index, -1 when none
    std::string Edit11;
    // Esecuzione file
    std::string Label30;  // File_Nome
    std::string Edit12;
};

// The pages, in their order on the dialog.
enum CfgAllarmiPage : int {
    PageSonoro = 0,
    PageSMS = 1,
    PageMail = 2,
    PageRegistrazione = 3,
    PageFoto = 4,
    PageFile = 5,
};

// A folder as its label shows it: the stored text without its final "/",
// except that the root stays "/".
std::string FolderForLabel(const std::string& folder);
// The stored form of a label's folder: with a final "/".
std::string FolderForSettings(const std::string& label);

// The fields as the dialog opens on `settings`. The recording flags come in
// through the tick rule (video first), so both off opens with video ticked.
CfgAllarmiFields FieldsFromSettings(const TSettings& settings);

struct CfgAllarmiFailure {
    int page = 0;
    const char* field = "";  // objectName of the field to focus
    std::string message;     // lines separated by "\n"
};

inline constexpr const char* kTitoloAttenzione = "Attenzione";

// "Applica": the fields in their table order, each stored into `settings`
// as soon as it passes; an empty digits-only field with a default is first
// filled with it (in `fields` too, as the dialog shows it). Stops at the
// first failing check and returns it, with what was stored before left in
// `settings`. nullopt when every field passed; saving is the caller's.
std::optional<CfgAllarmiFailure> ApplicaCampi(CfgAllarmiFields& fields, TSettings& settings);

// "Invia e-mail di prova": the address and the server's fields (Edit6, Edit8
// and Edit13 to Edit15) into `settings` as "Applica" stores them, port check
// included; the other fields are left out.
std::optional<CfgAllarmiFailure> CampiMailDiProva(CfgAllarmiFields& fields, TSettings& settings);

}  // namespace dialogs
