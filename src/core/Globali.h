#pragma once
// The one process-wide settings record and the values kept beside it.
// Field names are the registry value names, letter for letter.

#include <cstdint>
#include <mutex>
#include <string>

// A "yyyymmddhhnn" time stamp of an alarm action's last run. The SMS and
// e-mail workers write theirs while the main thread reads them, so every
// access goes through a lock; a reader never sees a half-written text.
class TimeStamp {
public:
    static constexpr const char* Never = "000000000000";

    TimeStamp() : text_(Never) {}
    TimeStamp(const TimeStamp& other) : text_(other.Get()) {}
    TimeStamp& operator=(const TimeStamp& other) {
        if (this != &other) Set(other.Get());
        return *this;
    }
    TimeStamp& operator=(const std::string& text) {
        Set(text);
        return *this;
    }

    std::string Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    void Set(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ = text;
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

// Owned by the main thread; the streaming threads and the workers only read
// it (the workers also write their own TimeStamp, which is locked).
struct TSettings {
    // Devices
    std::string dispositivo_video;
    std::string risoluzione_video;
    std::string dispositivo_audio;
    std::string periferica_audio;
    std::string risoluzione_audio;
    // Main switches and periodic notifications
    bool Attiva_VideoSorveglianza = true;
    bool Attiva_AudioSorveglianza = true;
    bool Attiva_AllarmiSuSospetti = true;
    bool Attiva_Notifiche = false;
    int32_t NotificaOgni = 120;
    // Sound alarm
    bool Allarme_Sonoro = true;
    std::string FileAudio;
    int32_t DuarataAllarmeSonoro = 30;
    // SMS
    bool Allarme_SMS = false;
    std::string SMS_NumeroCellulare;
    std::string SMS_UserName;
    std::string SMS_Password;
    int32_t SMS_MaxUnoOgni = 5;
    TimeStamp SMS_OraUltimoInvio;
    // E-mail
    bool Allarme_Mail = false;
    std::string Mail_Indirizzo;
    bool Mail_AllegaFoto = true;
    TimeStamp Mail_OraUltimoInvio;
    int32_t Mail_MaxUnoOgni = 5;
    std::string Mail_ServerSMTP;
    // Audio/video recording
    bool Allarme_RegAvi = false;
    std::string RegAvi_Dir;
    bool RegAvi_RegistraVideo = true;
    bool RegAvi_RegistraAudio = false;
    int32_t RegAvi_DurataRegistrazione = 15;
    int32_t RegAvi_MaxUnoOgni = 5;
    TimeStamp RegAvi_OraUltimaRegistrazione;
    std::string RegAvi_NomeCodecVideo;
    std::string RegAvi_NomeCodecAudio;
    bool RegAvi_UsaCodecVideo = false;
    bool RegAvi_UsaCodecAudio = false;
    // Photo
    bool Allarme_Foto = false;
    std::string Foto_Dir;
    int32_t Foto_MaxUnoOgni = 5;
    TimeStamp Foto_OraUltimoScatto;
    int32_t Foto_Formato = 0;
    // Run a file
    bool Allarme_File = false;
    std::string File_Nome;
    int32_t File_MaxUnoOgni = 5;
    TimeStamp File_OraUltimaEsecuzione;
    // Internet connection
    bool Conn_AttivaConnessione = false;
    std::string Conn_NomeConnessione;
    bool Conn_Disconnetti = true;
    std::string Conn_Username;
    std::string Conn_Password;
    bool Conn_UsaProxy = false;
    std::string Conn_ProxyServer;
    std::string Conn_ProxyPorta;
    bool Conn_ProxyAuth = false;
    std::string Conn_ProxyUsername;
    std::string Conn_ProxyPassword;
    // General
    bool EsecuzioneAutomatica = false;
    bool AvviaMonitoraggio = false;
    bool ScriviLog = true;
    int32_t DimMaxLog = 1;
    // Detection
    int32_t AttesaPerCalibrazioneVideo = 3;
    int32_t NumMinMovimentiPerAvviso = 3;
    int32_t TempoMaxMovimentiPerAvviso = 4000;
    int32_t SesnsibilitaMotionDetector = 3;
    int32_t AttesaPerCalibrazioneAudio = 3;
    int32_t NumMinRumoriPerAvviso = 2;
    int32_t TempoMaxRumoriPerAvviso = 2000;
    int32_t SesnsibilitaAudioDetector = 2;
    // The mail server's submission: its port, its security (MailSicurezza)
    // and the account to log in with (no login while the user is empty).
    int32_t Mail_Porta = 25;
    int32_t Mail_Sicurezza = 0;
    std::string Mail_Utente;
    std::string Mail_PasswordSMTP;
};

// Mail_Sicurezza's values.
enum MailSicurezza : int32_t { MailNessuna = 0, MailStartTls = 1, MailTls = 2 };
inline bool IsMailSicurezza(int32_t value) { return value >= MailNessuna && value <= MailTls; }

extern TSettings Settings;
// The program's folder, always ending in "/"; read-only after start-up.
extern std::string ProgramDir;
// 8 upper-case hexadecimal digits of the root file system's identifier.
extern std::string IdentificativoPC;

// The running program file, which the log-on entry starts.
extern std::string ProgramFile;

// ProgramDir := folder of the running program (or OCULARA_PROGRAM_DIR when
// set, so that tests run from another folder find the program's files).
// An installed program keeps its files apart: a program folder without
// them means the data folder kDataFromProgram beside it.
void SetupProgramDir();
inline constexpr const char* kDataFromProgram = "../share/oculara/";
// The event log's file: ProgramDir + "Oculara.log" while ProgramDir is the
// program's own writable folder (the build tree), else Oculara.log in the
// user's state folder, ${XDG_STATE_HOME:-~/.local/state}/Oculara/.
std::string LogFilePath();
// Fills Settings from the HKCU hive; once, before the main window exists.
void LoadSettings();
// Writes all 72 values to the HKCU hive, in table order.
void SaveSettings();
