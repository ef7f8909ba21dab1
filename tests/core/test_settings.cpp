#include "core/Autostart.h"
#include "core/Globali.h"
#include "core/SettingsStore.h"
#include "platform/KnownFolders.h"
#include "platform/Registry.h"

#include "alarms/FileModes.h"
#include "platform/RunWithoutRights.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <sys/resource.h>

using namespace testsupport;
using platform::RegKey;
using platform::RegRoot;
using platform::RegValue;
namespace RegType = platform::RegType;

namespace {

struct Stored {
    const char* name;
    uint32_t type;
    std::string value;  // the text, or the REG_DWORD in decimal
};

class SettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings = TSettings();
        ProgramDir = dir / "prog/";
        ProgramFile = dir / "bin/oculara";
        IdentificativoPC.clear();
    }

    std::string Docs() const { return dir / "home/Documents"; }
    std::string HiveFile() const { return dir / "config/Oculara/HKEY_CURRENT_USER.reg"; }
    static std::unique_ptr<RegKey> Ocl(bool create = true) {
        return RegKey::Open(RegRoot::CurrentUser, "\\Software\\Brevant\\OCL", create);
    }

    // What a first start followed by a save leaves, in table order.
    std::vector<Stored> FirstStartValues() const {
        const uint32_t sz = RegType::Sz, dw = RegType::Dword;
        const std::string never = "000000000000";
        return {
            {"dispositivo_video", sz, ""},
            {"risoluzione_video", sz, ""},
            {"dispositivo_audio", sz, ""},
            {"periferica_audio", sz, ""},
            {"risoluzione_audio", sz, ""},
            {"Attiva_VideoSorveglianza", sz, "1"},
            {"Attiva_AudioSorveglianza", sz, "1"},
            {"Attiva_AllarmiSuSospetti", sz, "1"},
            {"Attiva_Notifiche", sz, "0"},
            {"NotificaOgni", dw, "120"},
            {"Allarme_Sonoro", sz, "1"},
            {"FileAudio", sz, ProgramDir + "Suoni/DefaultAlarm.wav"},
            {"DuarataAllarmeSonoro", dw, "30"},
            {"Allarme_SMS", sz, "0"},
            {"SMS_NumeroCellulare", sz, ""},
            {"SMS_UserName", sz, ""},
            {"SMS_Password", sz, ""},
            {"SMS_MaxUnoOgni", dw, "5"},
            {"SMS_OraUltimoInvio", sz, never},
            {"Allarme_Mail", sz, "0"},
            {"Mail_Indirizzo", sz, ""},
            {"Mail_AllegaFoto", sz, "1"},
            {"Mail_OraUltimoInvio", sz, never},
            {"Mail_MaxUnoOgni", dw, "5"},
            {"Mail_ServerSMTP", sz, ""},
            {"Allarme_RegAvi", sz, "0"},
            {"RegAvi_Dir", sz, Docs() + "/Video/"},
            {"RegAvi_RegistraVideo", sz, "1"},
            {"RegAvi_RegistraAudio", sz, "0"},
            {"RegAvi_DurataRegistrazione", dw, "15"},
            {"RegAvi_MaxUnoOgni", dw, "5"},
            {"RegAvi_OraUltimaRegistrazione", sz, never},
            {"RegAvi_NomeCodecVideo", sz, ""},
            {"RegAvi_NomeCodecAudio", sz, ""},
            {"RegAvi_UsaCodecVideo", sz, "0"},
            {"RegAvi_UsaCodecAudio", sz, "0"},
            {"Allarme_Foto", sz, "0"},
            {"Foto_Dir", sz, Docs() + "/Foto/"},
            {"Foto_MaxUnoOgni", dw, "5"},
            {"Foto_OraUltimoScatto", sz, never},
            {"Foto_Formato", dw, "0"},
            {"Allarme_File", sz, "0"},
            {"File_Nome", sz, ""},
            {"File_MaxUnoOgni", dw, "5"},
            {"File_OraUltimaEsecuzione", sz, never},
            {"Conn_AttivaConnessione", sz, "0"},
            {"Conn_NomeConnessione", sz, ""},
            {"Conn_Disconnetti", sz, "1"},
            {"Conn_Username", sz, ""},
            {"Conn_Password", sz, ""},
            {"Conn_UsaProxy", sz, "0"},
            {"Conn_ProxyServer", sz, ""},
            {"Conn_ProxyPorta", sz, ""},
            {"Conn_ProxyAuth", sz, "0"},
            {"Conn_ProxyUsername", sz, ""},
            {"Conn_ProxyPassword", sz, ""},
            {"EsecuzioneAutomatica", sz, "0"},
            {"AvviaMonitoraggio", sz, "0"},
            {"ScriviLog", sz, "1"},
            {"DimMaxLog", dw, "1"},
            {"AttesaPerCalibrazioneVideo", dw, "3"},
            {"NumMinMovimentiPerAvviso", dw, "3"},
            {"TempoMaxMovimentiPerAvviso", dw, "4000"},
            {"SesnsibilitaMotionDetector", dw, "3"},
            {"AttesaPerCalibrazioneAudio", dw, "3"},
            {"NumMinRumoriPerAvviso", dw, "2"},
            {"TempoMaxRumoriPerAvviso", dw, "2000"},
            {"SesnsibilitaAudioDetector", dw, "2"},
            {"Mail_Porta", dw, "25"},
            {"Mail_Sicurezza", dw, "0"},
            {"Mail_Utente", sz, ""},
            {"Mail_PasswordSMTP", sz, ""},
        };
    }

    static std::string Shown(const RegValue& v) {
        if (auto text = v.Text()) return *text;
        if (auto dword = v.Dword()) return std::to_string(*dword);
        return "<raw>";
    }

    // Stores values before the program starts, as a user editing the hive would.
    static void Store(std::initializer_list<std::pair<const char*, RegValue>> values) {
        auto key = Ocl();
        for (const auto& [name, value] : values) ASSERT_TRUE(key->WriteRaw(name, value));
        ASSERT_TRUE(key->Close());
    }

    static RegValue Sz(const std::string& text) { return RegValue::FromText(RegType::Sz, text); }
    static RegValue Dw(uint32_t v) { return RegValue::FromDword(v); }
    static RegValue Raw(uint32_t type, const std::string& bytes) {
        RegValue v;
        v.type = type;
        v.data = bytes;
        return v;
    }

    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    ScopedEnv sysconf{"OCULARA_SYSCONFDIR", dir / "etc"};
};

// The default folders will hold the surveillance pictures and recordings:
// made for the user alone, while the documents folder keeps its usual rights.
TEST_F(SettingsTest, DefaultPhotoAndRecordingFoldersAreMadeForTheUserAlone) {
    ScopedUmask noMask(0);
    LoadSettings();
    EXPECT_EQ(PermissionsOf(Docs() + "/Foto"), 0700);
    EXPECT_EQ(PermissionsOf(Docs() + "/Video"), 0700);
    EXPECT_EQ(PermissionsOf(Docs()), 0777);
}

TEST_F(SettingsTest, FirstStartTakesEveryDefaultAndTheFirstSaveWritesAll72InOrder) {
    LoadSettings();

    EXPECT_TRUE(RegKey::Open(RegRoot::CurrentUser, "\\Software\\Brevant", false));
    EXPECT_NE(ReadFile(HiveFile()).find("[HKEY_CURRENT_USER\\Software\\Brevant]"), std::string::npos);
    EXPECT_FALSE(Ocl(false));
    EXPECT_EQ(ReadFile(HiveFile()).find("OCL"), std::string::npos);

    EXPECT_EQ(Settings.RegAvi_Dir, Docs() + "/Video/");
    EXPECT_EQ(Settings.Foto_Dir, Docs() + "/Foto/");
    EXPECT_TRUE(platform::DirectoryExists(Docs() + "/Video"));
    EXPECT_TRUE(platform::DirectoryExists(Docs() + "/Foto"));
    EXPECT_EQ(Settings.FileAudio, dir / "prog/Suoni/DefaultAlarm.wav");
    EXPECT_EQ(IdentificativoPC, FormatIdentificativoPC(platform::VolumeSerialNumber()));

    SaveSettings();
    auto key = Ocl(false);
    ASSERT_TRUE(key);
    const auto expected = FirstStartValues();
    ASSERT_EQ(expected.size(), 72u);
    std::vector<std::string> names;
    for (const auto& e : expected) names.push_back(e.name);
    EXPECT_EQ(key->ValueNames(), names);
    for (const auto& e : expected) {
        const auto v = key->Read(e.name);
        ASSERT_TRUE(v) << e.name;
        EXPECT_EQ(v->type, e.type) << e.name;
        EXPECT_EQ(Shown(*v), e.value) << e.name;
    }
}

TEST_F(SettingsTest, NumbersKeepTheRegistryTypeTheyWereStoredIn) {
    Store({{"DuarataAllarmeSonoro", Sz("15")},
           {"NotificaOgni", Dw(0xFFFFFFFF)},
           {"DimMaxLog", Sz("abc")},
           {"SMS_MaxUnoOgni", Sz("-7")},
           {"Mail_MaxUnoOgni", Sz("99999999999")},
           {"Foto_Formato", Sz("")}});
    LoadSettings();
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, 15);
    EXPECT_EQ(Settings.NotificaOgni, -1);
    EXPECT_EQ(Settings.DimMaxLog, 1);
    EXPECT_EQ(Settings.SMS_MaxUnoOgni, -7);
    EXPECT_EQ(Settings.Mail_MaxUnoOgni, 5);
    EXPECT_EQ(Settings.Foto_Formato, 0);

    SaveSettings();
    auto key = Ocl(false);
    EXPECT_EQ(key->Read("DuarataAllarmeSonoro"), Sz("15"));
    EXPECT_EQ(key->Read("NotificaOgni"), Dw(0xFFFFFFFF));
    EXPECT_EQ(key->Read("DimMaxLog"), Sz("1"));
    EXPECT_EQ(key->Read("SMS_MaxUnoOgni"), Sz("-7"));
    EXPECT_EQ(key->Read("RegAvi_MaxUnoOgni"), Dw(5));
    key.reset();

    Settings.DuarataAllarmeSonoro = 20;
    SaveSettings();
    EXPECT_EQ(Ocl(false)->Read("DuarataAllarmeSonoro"), Sz("20"));
}

TEST_F(SettingsTest, FlagsAreReadAsNumbersAndAlwaysWrittenAsText) {
    Store({{"Allarme_SMS", Dw(1)},
           {"Attiva_AudioSorveglianza", Dw(0)},
           {"Attiva_VideoSorveglianza", Sz("abc")},
           {"Allarme_Mail", Sz("abc")},
           {"Allarme_RegAvi", Sz("2")},
           {"Mail_AllegaFoto", Sz("0")},
           {"Allarme_Foto", Sz("-1")}});
    LoadSettings();
    EXPECT_TRUE(Settings.Allarme_SMS);
    EXPECT_FALSE(Settings.Attiva_AudioSorveglianza);
    EXPECT_TRUE(Settings.Attiva_VideoSorveglianza);  // default true
    EXPECT_FALSE(Settings.Allarme_Mail);             // default false
    EXPECT_TRUE(Settings.Allarme_RegAvi);
    EXPECT_FALSE(Settings.Mail_AllegaFoto);
    EXPECT_TRUE(Settings.Allarme_Foto);

    SaveSettings();
    auto key = Ocl(false);
    EXPECT_EQ(key->Read("Allarme_SMS"), Sz("1"));
    EXPECT_EQ(key->Read("Attiva_AudioSorveglianza"), Sz("0"));
    EXPECT_EQ(key->Read("Attiva_VideoSorveglianza"), Sz("1"));
    EXPECT_EQ(key->Read("Allarme_RegAvi"), Sz("1"));
}

TEST_F(SettingsTest, AValueOfTheWrongTypeTakesItsDefaultAndTheLoadGoesOn) {
    Store({{"dispositivo_video", Raw(RegType::Binary, "\x01\x02")},
           {"risoluzione_video", Sz("640x480")},
           {"SMS_UserName", Dw(5)},
           {"NotificaOgni", Raw(RegType::Binary, "\x0f\x00\x00\x00")},
           {"DuarataAllarmeSonoro", RegValue::FromText(RegType::ExpandSz, "45")},
           {"Allarme_Sonoro", Raw(RegType::MultiSz, std::string("0\0\0\0", 4))},
           {"SMS_OraUltimoInvio", Dw(202406071)},
           {"Mail_OraUltimoInvio", Sz("202406071230")},
           {"Conn_ProxyPorta", RegValue::FromText(RegType::ExpandSz, "%PORTA%")},
           {"Conn_ProxyPassword", Sz("pw")},
           {"TempoMaxRumoriPerAvviso", Sz("3000")},
           {"SesnsibilitaAudioDetector", Dw(5)},
           {"Mail_Porta", Raw(RegType::Binary, "\x4b\x02")},
           {"Mail_Sicurezza", Sz("1")},
           {"Mail_Utente", Dw(7)},
           {"Mail_PasswordSMTP", Sz("p\u00e0ss")}});
    LoadSettings();
    EXPECT_EQ(Settings.dispositivo_video, "");
    EXPECT_EQ(Settings.risoluzione_video, "640x480");
    EXPECT_EQ(Settings.SMS_UserName, "");
    EXPECT_EQ(Settings.NotificaOgni, 120);
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, 30);
    EXPECT_TRUE(Settings.Allarme_Sonoro);
    EXPECT_EQ(Settings.SMS_OraUltimoInvio.Get(), "000000000000");
    EXPECT_EQ(Settings.Mail_OraUltimoInvio.Get(), "202406071230");
    EXPECT_EQ(Settings.Conn_ProxyPorta, "%PORTA%");  // not expanded
    EXPECT_EQ(Settings.Conn_ProxyPassword, "pw");
    EXPECT_EQ(Settings.TempoMaxRumoriPerAvviso, 3000);
    EXPECT_EQ(Settings.SesnsibilitaAudioDetector, 5);
    EXPECT_EQ(Settings.Mail_Porta, 25);
    EXPECT_EQ(Settings.Mail_Sicurezza, MailStartTls);
    EXPECT_EQ(Settings.Mail_Utente, "");
    EXPECT_EQ(Settings.Mail_PasswordSMTP, "p\u00e0ss");

    SaveSettings();
    auto key = Ocl(false);
    EXPECT_EQ(key->Read("dispositivo_video"), Sz(""));
    EXPECT_EQ(key->Read("NotificaOgni"), Dw(120));
    EXPECT_EQ(key->Read("Conn_ProxyPorta"), Sz("%PORTA%"));
    EXPECT_EQ(key->ValueNames().size(), 72u);
    EXPECT_EQ(key->Read("Mail_Porta"), Dw(25));
    EXPECT_EQ(key->Read("Mail_Sicurezza"), Sz("1"));
}

TEST_F(SettingsTest, TextsAndTimeStampsComeBackAsTheyWere) {
    Settings.SMS_Password = "pa\"ss\\word";
    Settings.File_Nome = "/home/u/script \u00e8.sh\nsecondo";
    Settings.dispositivo_audio = "Microfono (USB) \u2014 2";
    Settings.RegAvi_Dir = dir / "cartella/";
    Settings.SMS_OraUltimoInvio = std::string("202406071230");
    Settings.Foto_OraUltimoScatto = std::string("abc");
    SaveSettings();

    Settings = TSettings();
    LoadSettings();
    EXPECT_EQ(Settings.SMS_Password, "pa\"ss\\word");
    EXPECT_EQ(Settings.File_Nome, "/home/u/script \u00e8.sh\nsecondo");
    EXPECT_EQ(Settings.dispositivo_audio, "Microfono (USB) \u2014 2");
    EXPECT_EQ(Settings.RegAvi_Dir, dir / "cartella/");
    EXPECT_EQ(Settings.SMS_OraUltimoInvio.Get(), "202406071230");
    EXPECT_EQ(Settings.Foto_OraUltimoScatto.Get(), "abc");
    EXPECT_EQ(Ocl(false)->Read("File_Nome")->type, RegType::Sz);
}

TEST_F(SettingsTest, FolderDefaultsApplyOnlyToEmptyTexts) {
    Store({{"RegAvi_Dir", Sz("")}, {"Foto_Dir", Sz(dir / "sparita/Foto")}});
    LoadSettings();
    EXPECT_EQ(Settings.RegAvi_Dir, Docs() + "/Video/");
    EXPECT_EQ(Settings.Foto_Dir, dir / "sparita/Foto");
    EXPECT_FALSE(PathExists(dir / "sparita"));

    // Every start replaces the empty text again, and makes the folder again.
    std::filesystem::remove(Docs() + "/Video");
    LoadSettings();
    EXPECT_EQ(Settings.RegAvi_Dir, Docs() + "/Video/");
    EXPECT_TRUE(platform::DirectoryExists(Docs() + "/Video"));
    EXPECT_FALSE(PathExists(dir / "sparita"));
}

TEST_F(SettingsTest, FolderDefaultsFollowTheUserDirsOrFallBackToTheProgramFolder) {
    std::filesystem::create_directories(dir / "config");
    WriteFile(dir / "config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Documenti\"\n");
    LoadSettings();
    EXPECT_EQ(Settings.RegAvi_Dir, dir / "home/Documenti/Video/");
    EXPECT_TRUE(platform::DirectoryExists(dir / "home/Documenti/Foto"));

    // A home that is a file: no documents folder can be had.
    std::filesystem::remove(dir / "config/user-dirs.dirs");
    WriteFile(dir / "casa", "");
    ScopedEnv fileHome("HOME", dir / "casa");
    LoadSettings();
    EXPECT_EQ(Settings.RegAvi_Dir, dir / "prog/Video/");
    EXPECT_EQ(Settings.Foto_Dir, dir / "prog/Foto/");
    EXPECT_TRUE(platform::DirectoryExists(dir / "prog/Video"));
}

TEST_F(SettingsTest, AFailedSaveLeavesTheFileAndTheRecordAsTheyWere) {
    LoadSettings();
    SaveSettings();
    const std::string before = ReadFile(HiveFile());
    Settings.NotificaOgni = 99;
    Settings.SMS_UserName = std::string(8000, 'u');

    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size();
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    SaveSettings();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_EQ(ReadFile(HiveFile()), before);
    EXPECT_EQ(Settings.NotificaOgni, 99);
    EXPECT_EQ(Settings.SMS_UserName.size(), 8000u);
}

TEST_F(SettingsTest, ADamagedHiveStillGivesWhatItCanAndIsKeptAside) {
    std::filesystem::create_directories(dir / "config/Oculara");
    const std::string damaged =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
        "\"NotificaOgni\"=dword:0000003c\n"
        "\"DuarataAllarmeSonoro\"=dword:zz\n"
        "\x01\x02\xff\n"
        "\"SMS_NumeroCellulare\"=\"3331234567\"\n";
    WriteFile(HiveFile(), damaged);
    LoadSettings();
    EXPECT_EQ(Settings.NotificaOgni, 60);
    EXPECT_EQ(Settings.DuarataAllarmeSonoro, 30);
    EXPECT_EQ(Settings.SMS_NumeroCellulare, "3331234567");
    SaveSettings();
    EXPECT_EQ(ReadFile(HiveFile() + ".damaged"), damaged);
    EXPECT_EQ(Ocl(false)->ValueNames().size(), 72u);
}

TEST(IdentificativoPCFormat, IsEightUpperCaseHexDigitsOfTheSerial) {
    EXPECT_EQ(FormatIdentificativoPC(0x1A2B3C4Du), "1A2B3C4D");
    EXPECT_EQ(FormatIdentificativoPC(0x0000ABCDu), "0000ABCD");
    EXPECT_EQ(FormatIdentificativoPC(0xabcdef01u), "ABCDEF01");
    EXPECT_EQ(FormatIdentificativoPC(0xFFFFFFFFu), "FFFFFFFF");
    EXPECT_EQ(FormatIdentificativoPC(0u), "00000000");
    EXPECT_EQ(FormatIdentificativoPC(std::nullopt), "00000000");
}

// ------------------------------------------------------------ log-on start

TEST_F(SettingsTest, SetAutostartWritesAndRemovesTheUsersEntryAndTheOldOneForEveryone) {
    const std::string entry = dir / "config/autostart/Oculara.desktop";
    const std::string old = dir / "etc/xdg/autostart/Oculara.desktop";
    SetAutostart(true);
    auto run = RegKey::Open(RegRoot::LocalMachine, "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run", false);
    EXPECT_EQ(run->Read("Oculara"), Sz(ProgramFile + " autorun"));
    EXPECT_NE(ReadFile(entry).find("\nExec=" + ProgramFile + " autorun\n"), std::string::npos);
    EXPECT_FALSE(PathExists(old));

    std::filesystem::create_directories(dir / "etc/xdg/autostart");
    testsupport::WriteFile(old, "[Desktop Entry]\nType=Application\nName=Oculara\nExec=/opt/Oculara autorun\n");
    SetAutostart(false);
    EXPECT_FALSE(PathExists(entry));
    EXPECT_FALSE(PathExists(old)) << "an entry of an earlier version would still start the program";
    EXPECT_FALSE(run->Exists("Oculara"));
    SetAutostart(false);  // nothing to remove: still quiet
    EXPECT_FALSE(PathExists(entry));
}

TEST_F(SettingsTest, SetAutostartWithoutRightsChangesNothing) {
    std::filesystem::create_directories(dir / "config/autostart");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "config/autostart").c_str(), 0555);
    ASSERT_TRUE(RunWithoutRights([] {
        SetAutostart(true);
        return true;
    }));
    EXPECT_FALSE(PathExists(dir / "config/autostart/Oculara.desktop"));

    ::chmod((dir / "config/autostart").c_str(), 0755);
    SetAutostart(true);
    const std::string before = ReadFile(dir / "config/autostart/Oculara.desktop");
    ::chmod((dir / "config/autostart").c_str(), 0555);
    ASSERT_TRUE(RunWithoutRights([] {
        SetAutostart(false);
        return true;
    }));
    ::chmod((dir / "config/autostart").c_str(), 0755);
    EXPECT_EQ(ReadFile(dir / "config/autostart/Oculara.desktop"), before);
}

TEST(AutostartCommand, QuotesTheProgramOnlyWhenACommandLineWouldSplitIt) {
    EXPECT_EQ(AutostartCommand("/opt/oculara/Oculara"), "/opt/oculara/Oculara autorun");
    EXPECT_EQ(AutostartCommand("/opt/My Apps/Oculara"), "\"/opt/My Apps/Oculara\" autorun");
    EXPECT_EQ(AutostartCommand("/opt/a$b\"c/Oculara"), "\"/opt/a\\$b\\\"c/Oculara\" autorun");
}

}  // namespace
