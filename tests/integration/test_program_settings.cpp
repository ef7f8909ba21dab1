// The real program, offscreen: what it leaves in the settings file after a
// first start, a hand-edited file, and ends by signal or by force.

#include "ProgramRunner.h"

#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>
#include <sys/wait.h>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using integration::ProgramRunner;
using testsupport::PathExists;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

const std::vector<std::string> kValueNames = {
    "dispositivo_video", "risoluzione_video", "dispositivo_audio", "periferica_audio", "risoluzione_audio",
    "Attiva_VideoSorveglianza", "Attiva_AudioSorveglianza", "Attiva_AllarmiSuSospetti", "Attiva_Notifiche",
    "NotificaOgni", "Allarme_Sonoro", "FileAudio", "DuarataAllarmeSonoro", "Allarme_SMS", "SMS_NumeroCellulare",
    "SMS_UserName", "SMS_Password", "SMS_MaxUnoOgni", "SMS_OraUltimoInvio", "Allarme_Mail", "Mail_Indirizzo",
    "Mail_AllegaFoto", "Mail_OraUltimoInvio", "Mail_MaxUnoOgni", "Mail_ServerSMTP", "Allarme_RegAvi", "RegAvi_Dir",
    "RegAvi_RegistraVideo", "RegAvi_RegistraAudio", "RegAvi_DurataRegistrazione", "RegAvi_MaxUnoOgni",
    "RegAvi_OraUltimaRegistrazione", "RegAvi_NomeCodecVideo", "RegAvi_NomeCodecAudio", "RegAvi_UsaCodecVideo",
    "RegAvi_UsaCodecAudio", "Allarme_Foto", "Foto_Dir", "Foto_MaxUnoOgni", "Foto_OraUltimoScatto", "Foto_Formato",
    "Allarme_File", "File_Nome", "File_MaxUnoOgni", "File_OraUltimaEsecuzione", "Conn_AttivaConnessione",
    "Conn_NomeConnessione", "Conn_Disconnetti", "Conn_Username", "Conn_Password", "Conn_UsaProxy",
    "Conn_ProxyServer", "Conn_ProxyPorta", "Conn_ProxyAuth", "Conn_ProxyUsername", "Conn_ProxyPassword",
    "EsecuzioneAutomatica", "AvviaMonitoraggio", "ScriviLog", "DimMaxLog", "AttesaPerCalibrazioneVideo",
    "NumMinMovimentiPerAvviso", "TempoMaxMovimentiPerAvviso", "SesnsibilitaMotionDetector",
    "AttesaPerCalibrazioneAudio", "NumMinRumoriPerAvviso", "TempoMaxRumoriPerAvviso", "SesnsibilitaAudioDetector",
    "Mail_Porta", "Mail_Sicurezza", "Mail_Utente", "Mail_PasswordSMTP"};

struct HiveValue {
    std::string name;
    std::string data;  // what follows "="
};

// The values of one section of a hive file, in file order.
std::vector<HiveValue> SectionValues(const std::string& hive, const std::string& section) {
    std::vector<HiveValue> values;
    std::istringstream in(hive);
    std::string line;
    bool inside = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            inside = line == "[" + section + "]";
            continue;
        }
        if (!inside || line.size() < 2 || line.front() != '"') continue;
        const size_t close = line.find("\"=");
        if (close == std::string::npos) continue;
        values.push_back({line.substr(1, close - 1), line.substr(close + 2)});
    }
    return values;
}

const std::string kOCL = "HKEY_CURRENT_USER\\Software\\Brevant\\OCL";

const HiveValue* Find(const std::vector<HiveValue>& values, const std::string& name) {
    for (const auto& v : values)
        if (v.name == name) return &v;
    return nullptr;
}

// The signal comes `settle` after the hive appears, which it does while the
// settings load.
void RunOnce(ProgramRunner& program, int signal, std::chrono::milliseconds settle = 1500ms) {
    program.Start();
    ASSERT_TRUE(integration::WaitFor([&] { return PathExists(program.HivePath()); }, 20s));
    std::this_thread::sleep_for(settle);
    ASSERT_TRUE(program.Running()) << "the program ended by itself";
    ASSERT_TRUE(program.Stop(signal));
    ASSERT_TRUE(WIFEXITED(program.ExitStatus())) << "status " << program.ExitStatus();
    EXPECT_EQ(WEXITSTATUS(program.ExitStatus()), 0);
}

}  // namespace

TEST(ProgramSettings, FirstStartWritesEveryValueInOrderWithItsType) {
    TempDir home;
    ProgramRunner program(home.path());
    program.Start();
    ASSERT_TRUE(integration::WaitFor([&] { return PathExists(program.HivePath()); }, 20s));
    std::this_thread::sleep_for(1000ms);
    // After start-up the key exists and the folders are made; the values
    // themselves come with the first save.
    EXPECT_NE(ReadFile(program.HivePath()).find("[HKEY_CURRENT_USER\\Software\\Brevant]"), std::string::npos);
    EXPECT_TRUE(SectionValues(ReadFile(program.HivePath()), kOCL).empty());
    EXPECT_TRUE(PathExists(home / "Documents/Video"));
    EXPECT_TRUE(PathExists(home / "Documents/Foto"));
    ASSERT_TRUE(program.Stop(SIGTERM));
    EXPECT_TRUE(WIFEXITED(program.ExitStatus()) && WEXITSTATUS(program.ExitStatus()) == 0);

    const auto values = SectionValues(ReadFile(program.HivePath()), kOCL);
    ASSERT_EQ(values.size(), kValueNames.size());
    for (size_t i = 0; i < values.size(); ++i) EXPECT_EQ(values[i].name, kValueNames[i]);
    EXPECT_EQ(Find(values, "NotificaOgni")->data, "dword:00000078");
    EXPECT_EQ(Find(values, "TempoMaxMovimentiPerAvviso")->data, "dword:00000fa0");
    EXPECT_EQ(Find(values, "Attiva_VideoSorveglianza")->data, "\"1\"");
    EXPECT_EQ(Find(values, "Allarme_SMS")->data, "\"0\"");
    EXPECT_EQ(Find(values, "SMS_OraUltimoInvio")->data, "\"000000000000\"");
    EXPECT_EQ(Find(values, "RegAvi_Dir")->data, "\"" + home.path() + "/Documents/Video/\"");
    EXPECT_EQ(Find(values, "FileAudio")->data, "\"" + program.ProgramDir() + "Suoni/DefaultAlarm.wav\"");
    EXPECT_EQ(Find(values, "SMS_NumeroCellulare")->data, "\"\"");
}

TEST(ProgramSettings, HandEditedValuesKeepWorking) {
    TempDir home;
    ProgramRunner program(home.path());
    std::filesystem::create_directories(home / ".config/Oculara");
    WriteFile(program.HivePath(),
              "Windows Registry Editor Version 5.00\r\n\r\n"
              "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\r\n"
              "\"NotificaOgni\"=\"15\"\r\n"
              "\"Allarme_Sonoro\"=dword:00000001\r\n"
              "\"Attiva_AudioSorveglianza\"=\"abc\"\r\n"
              "\"ScriviLog\"=\"2\"\r\n"
              "\"FileAudio\"=hex:01,02,03\r\n"
              "this line is garbage\r\n"
              "\"SMS_MaxUnoOgni\"=dword:00000009\r\n");
    RunOnce(program, SIGINT);

    const auto values = SectionValues(ReadFile(program.HivePath()), kOCL);
    ASSERT_EQ(values.size(), kValueNames.size());
    EXPECT_EQ(Find(values, "NotificaOgni")->data, "\"15\"");  // a number stored as text stays text
    EXPECT_EQ(Find(values, "Allarme_Sonoro")->data, "\"1\"");
    EXPECT_EQ(Find(values, "Attiva_AudioSorveglianza")->data, "\"1\"");  // "abc": its default
    EXPECT_EQ(Find(values, "ScriviLog")->data, "\"1\"");
    EXPECT_EQ(Find(values, "FileAudio")->data, "\"" + program.ProgramDir() + "Suoni/DefaultAlarm.wav\"");
    EXPECT_EQ(Find(values, "SMS_MaxUnoOgni")->data, "dword:00000009");  // loaded past the bad lines
}

TEST(ProgramSettings, HangUpSavesLikeAClose) {
    TempDir home;
    ProgramRunner program(home.path());
    RunOnce(program, SIGHUP);
    EXPECT_EQ(SectionValues(ReadFile(program.HivePath()), kOCL).size(), kValueNames.size());
}

TEST(ProgramSettings, ASignalDuringStartUpWaitsForTheWindowAndSaves) {
    TempDir home;
    ProgramRunner program(home.path());
    RunOnce(program, SIGTERM, 0ms);  // before any window exists
    EXPECT_EQ(SectionValues(ReadFile(program.HivePath()), kOCL).size(), kValueNames.size());
}

TEST(ProgramSettings, KilledAtAnyMomentLeavesAWholeFile) {
    TempDir home;
    ProgramRunner program(home.path());
    RunOnce(program, SIGTERM);
    std::mt19937 random(7);
    for (int round = 0; round < 6; ++round) {
        program.Start();
        std::this_thread::sleep_for(std::chrono::milliseconds(300 + random() % 900));
        program.Stop(SIGTERM, std::chrono::milliseconds(random() % 40));  // then SIGKILL, mid-save or not
        const auto values = SectionValues(ReadFile(program.HivePath()), kOCL);
        ASSERT_EQ(values.size(), kValueNames.size()) << "round " << round;
        EXPECT_EQ(values.back().name, kValueNames.back());
    }
}

TEST(ProgramSettings, ScreenshotOfTheWindow) {
    TempDir home;
    ProgramRunner program(home.path());
    program.env["OCULARA_SCREENSHOT"] = home / "window.png";
    program.env["OCULARA_SCREENSHOT_QUIT"] = "1";
    program.env["OCULARA_SCREENSHOT_DELAY_MS"] = "500";
    program.Start();
    ASSERT_TRUE(integration::WaitFor([&] { return !program.Running(); }, 30s));
    EXPECT_TRUE(WIFEXITED(program.ExitStatus()) && WEXITSTATUS(program.ExitStatus()) == 0);
    const std::string png = ReadFile(home / "window.png");
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png.substr(1, 3), "PNG");
}
