// LoadSettings and SaveSettings: the 72 values of TSettings in the HKCU hive.

#include "core/SettingsStore.h"

#include "core/Globali.h"
#include "core/Linguaggio.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"

#include <charconv>
#include <cstdio>
#include <variant>

namespace {

using platform::RegKey;
namespace RegType = platform::RegType;

// The member's type is the value's kind: text, number, flag or time stamp.
using Member = std::variant<std::string TSettings::*, int32_t TSettings::*, bool TSettings::*,
                            TimeStamp TSettings::*>;

struct Entry {
    const char* name;
    Member member;
    // Sub-folder of the documents folder used while the stored text is empty.
    const char* defaultFolder = nullptr;
};

constexpr Entry Text(const char* name, std::string TSettings::*m, const char* folder = nullptr) {
    return {name, m, folder};
}
constexpr Entry Number(const char* name, int32_t TSettings::*m) { return {name, m}; }
constexpr Entry Flag(const char* name, bool TSettings::*m) { return {name, m}; }
constexpr Entry Stamp(const char* name, TimeStamp TSettings::*m) { return {name, m}; }

// The order of this table is the order of the registry writes.
const Entry kTable[] = {
    Text("dispositivo_video", &TSettings::dispositivo_video),
    Text("risoluzione_video", &TSettings::risoluzione_video),
    Text("dispositivo_audio", &TSettings::dispositivo_audio),
    Text("periferica_audio", &TSettings::periferica_audio),
    Text("risoluzione_audio", &TSettings::risoluzione_audio),
    Flag("Attiva_VideoSorveglianza", &TSettings::Attiva_VideoSorveglianza),
    Flag("Attiva_AudioSorveglianza", &TSettings::Attiva_AudioSorveglianza),
    Flag("Attiva_AllarmiSuSospetti", &TSettings::Attiva_AllarmiSuSospetti),
    Flag("Attiva_Notifiche", &TSettings::Attiva_Notifiche),
    Number("NotificaOgni", &TSettings::NotificaOgni),
    Flag("Allarme_Sonoro", &TSettings::Allarme_Sonoro),
    Text("FileAudio", &TSettings::FileAudio),
    Number("DuarataAllarmeSonoro", &TSettings::DuarataAllarmeSonoro),
    Flag("Allarme_SMS", &TSettings::Allarme_SMS),
    Text("SMS_NumeroCellulare", &TSettings::SMS_NumeroCellulare),
    Text("SMS_UserName", &TSettings::SMS_UserName),
    Text("SMS_Password", &TSettings::SMS_Password),
    Number("SMS_MaxUnoOgni", &TSettings::SMS_MaxUnoOgni),
    Stamp("SMS_OraUltimoInvio", &TSettings::SMS_OraUltimoInvio),
    Flag("Allarme_Mail", &TSettings::Allarme_Mail),
    Text("Mail_Indirizzo", &TSettings::Mail_Indirizzo),
    Flag("Mail_AllegaFoto", &TSettings::Mail_AllegaFoto),
    Stamp("Mail_OraUltimoInvio", &TSettings::Mail_OraUltimoInvio),
    Number("Mail_MaxUnoOgni", &TSettings::Mail_MaxUnoOgni),
    Text("Mail_ServerSMTP", &TSettings::Mail_ServerSMTP),
    Flag("Allarme_RegAvi", &TSettings::Allarme_RegAvi),
    Text("RegAvi_Dir", &TSettings::RegAvi_Dir, Linguaggio::CartellaVideo),
    Flag("RegAvi_RegistraVideo", &TSettings::RegAvi_RegistraVideo),
    Flag("RegAvi_RegistraAudio", &TSettings::RegAvi_RegistraAudio),
    Number("RegAvi_DurataRegistrazione", &TSettings::RegAvi_DurataRegistrazione),
    Number("RegAvi_MaxUnoOgni", &TSettings::RegAvi_MaxUnoOgni),
    Stamp("RegAvi_OraUltimaRegistrazione", &TSettings::RegAvi_OraUltimaRegistrazione),
    Text("RegAvi_NomeCodecVideo", &TSettings::RegAvi_NomeCodecVideo),
    Text("RegAvi_NomeCodecAudio", &TSettings::RegAvi_NomeCodecAudio),
    Flag("RegAvi_UsaCodecVideo", &TSettings::RegAvi_UsaCodecVideo),
    Flag("RegAvi_UsaCodecAudio", &TSettings::RegAvi_UsaCodecAudio),
    Flag("Allarme_Foto", &TSettings::Allarme_Foto),
    Text("Foto_Dir", &TSettings::Foto_Dir, Linguaggio::CartellaFoto),
    Number("Foto_MaxUnoOgni", &TSettings::Foto_MaxUnoOgni),
    Stamp("Foto_OraUltimoScatto", &TSettings::Foto_OraUltimoScatto),
    Number("Foto_Formato", &TSettings::Foto_Formato),
    Flag("Allarme_File", &TSettings::Allarme_File),
    Text("File_Nome", &TSettings::File_Nome),
    Number("File_MaxUnoOgni", &TSettings::File_MaxUnoOgni),
    Stamp("File_OraUltimaEsecuzione", &TSettings::File_OraUltimaEsecuzione),
    Flag("Conn_AttivaConnessione", &TSettings::Conn_AttivaConnessione),
    Text("Conn_NomeConnessione", &TSettings::Conn_NomeConnessione),
    Flag("Conn_Disconnetti", &TSettings::Conn_Disconnetti),
    Text("Conn_Username", &TSettings::Conn_Username),
    Text("Conn_Password", &TSettings::Conn_Password),
    Flag("Conn_UsaProxy", &TSettings::Conn_UsaProxy),
    Text("Conn_ProxyServer", &TSettings::Conn_ProxyServer),
    Text("Conn_ProxyPorta", &TSettings::Conn_ProxyPorta),
    Flag("Conn_ProxyAuth", &TSettings::Conn_ProxyAuth),
    Text("Conn_ProxyUsername", &TSettings::Conn_ProxyUsername),
    Text("Conn_ProxyPassword", &TSettings::Conn_ProxyPassword),
    Flag("EsecuzioneAutomatica", &TSettings::EsecuzioneAutomatica),
    Flag("AvviaMonitoraggio", &TSettings::AvviaMonitoraggio),
    Flag("ScriviLog", &TSettings::ScriviLog),
    Number("DimMaxLog", &TSettings::DimMaxLog),
    Number("AttesaPerCalibrazioneVideo", &TSettings::AttesaPerCalibrazioneVideo),
    Number("NumMinMovimentiPerAvviso", &TSettings::NumMinMovimentiPerAvviso),
    Number("TempoMaxMovimentiPerAvviso", &TSettings::TempoMaxMovimentiPerAvviso),
    Number("SesnsibilitaMotionDetector", &TSettings::SesnsibilitaMotionDetector),
    Number("AttesaPerCalibrazioneAudio", &TSettings::AttesaPerCalibrazioneAudio),
    Number("NumMinRumoriPerAvviso", &TSettings::NumMinRumoriPerAvviso),
    Number("TempoMaxRumoriPerAvviso", &TSettings::TempoMaxRumoriPerAvviso),
    Number("SesnsibilitaAudioDetector", &TSettings::SesnsibilitaAudioDetector),
    // Added after the first 68, which keep their order.
    Number("Mail_Porta", &TSettings::Mail_Porta),
    Number("Mail_Sicurezza", &TSettings::Mail_Sicurezza),
    Text("Mail_Utente", &TSettings::Mail_Utente),
    Text("Mail_PasswordSMTP", &TSettings::Mail_PasswordSMTP),
};
static_assert(std::size(kTable) == 72);

std::optional<int32_t> ParseDecimal(const std::string& text) {
    size_t first = text.find_first_not_of(" \t");
    const size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    if (text[first] == '+' && first < last && text[first + 1] != '-') ++first;
    int32_t value = 0;
    const char* end = text.data() + last + 1;
    const auto [ptr, ec] = std::from_chars(text.data() + first, end, value);
    if (ec != std::errc() || ptr != end) return std::nullopt;
    return value;
}

// Every read gives nullopt for a missing value or a type the kind does not
// take, so that value falls back to its default and the load goes on.
std::optional<std::string> ReadText(const RegKey* key, const char* name) {
    if (!key) return std::nullopt;
    const auto value = key->Read(name);
    return value ? value->Text() : std::nullopt;
}

std::optional<int32_t> ReadNumber(const RegKey* key, const char* name) {
    if (!key) return std::nullopt;
    const auto value = key->Read(name);
    if (!value) return std::nullopt;
    if (const auto dword = value->Dword()) return static_cast<int32_t>(*dword);
    if (value->type == RegType::Sz) return ParseDecimal(*value->Text());
    return std::nullopt;
}

std::string DefaultFolder(const char* name) {
    std::string folder = platform::PersonalDocumentsFolder(true);
    if (folder.empty()) folder = ProgramDir;
    if (folder.empty() || folder.back() != '/') folder += '/';
    folder += name;
    folder += '/';
    // It will hold the photos and recordings: for the user alone.
    if (!platform::DirectoryExists(folder)) platform::ForceDirectories(folder, 0700);
    return folder;
}

void LoadEntry(const Entry& e, const RegKey* key, const TSettings& defaults) {
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(Settings.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                Settings.*member = ReadText(key, e.name).value_or(defaults.*member);
                if (e.defaultFolder && (Settings.*member).empty())
                    Settings.*member = DefaultFolder(e.defaultFolder);
            } else if constexpr (std::is_same_v<T, TimeStamp>) {
                Settings.*member = ReadText(key, e.name).value_or((defaults.*member).Get());
            } else if constexpr (std::is_same_v<T, bool>) {
                Settings.*member = ReadNumber(key, e.name).value_or(defaults.*member ? 1 : 0) != 0;
            } else {
                Settings.*member = ReadNumber(key, e.name).value_or(defaults.*member);
            }
        },
        e.member);
}

void SaveEntry(const Entry& e, RegKey& key) {
    std::visit(
        [&](auto member) {
            using T = std::remove_reference_t<decltype(Settings.*member)>;
            if constexpr (std::is_same_v<T, std::string>) {
                key.WriteString(e.name, Settings.*member);
            } else if constexpr (std::is_same_v<T, TimeStamp>) {
                key.WriteString(e.name, (Settings.*member).Get());
            } else if constexpr (std::is_same_v<T, bool>) {
                key.WriteString(e.name, Settings.*member ? "1" : "0");
            } else {
                // A number someone stored as text stays text.
                const auto existing = key.Read(e.name);
                if (existing && existing->type == RegType::Sz)
                    key.WriteString(e.name, std::to_string(Settings.*member));
                else
                    key.WriteDword(e.name, static_cast<uint32_t>(Settings.*member));
            }
        },
        e.member);
}

}  // namespace

std::string FormatIdentificativoPC(std::optional<uint32_t> serial) {
    char buf[9];
    std::snprintf(buf, sizeof buf, "%08X", serial.value_or(0));
    return buf;
}

void LoadSettings() {
    TSettings defaults;
    defaults.FileAudio = ProgramDir + Linguaggio::CartellaSuoni + "/" + Linguaggio::FileSuonoPredefinito;

    auto key = RegKey::Open(platform::RegRoot::CurrentUser, kSettingsKey, true);
    // Reading never creates the subkey.
    auto section = key ? key->OpenSubKey(kSettingsSubKey, false) : nullptr;
    for (const Entry& e : kTable) LoadEntry(e, section.get(), defaults);
    section.reset();
    if (key) key->Close();  // writes the new key to the hive on a first start

    IdentificativoPC = FormatIdentificativoPC(platform::VolumeSerialNumber());
}

void SaveSettings() {
    auto key = RegKey::Open(platform::RegRoot::CurrentUser, kSettingsKey, true);
    if (!key) return;
    auto section = key->OpenSubKey(kSettingsSubKey, true);
    if (!section) return;
    for (const Entry& e : kTable) SaveEntry(e, *section);
    section->Close();
    key->Close();
}
