#include "platform/Registry.h"

#include "platform/RunWithoutRights.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>
#include <sys/time.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace testsupport;
using platform::RegKey;
using platform::RegRoot;
using platform::RegValue;
namespace RegType = platform::RegType;

namespace {

constexpr const char* kOcl = "\\Software\\Brevant\\OCL";
constexpr const char* kRun = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";

RegValue Raw(uint32_t type, std::string bytes) {
    RegValue v;
    v.type = type;
    v.data = std::move(bytes);
    return v;
}

std::string Bytes(std::initializer_list<int> list) {
    std::string s;
    for (int b : list) s += static_cast<char>(b);
    return s;
}

int Mode(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

class RegistryTest : public ::testing::Test {
protected:
    std::string HkcuFile() const { return dir / "config/Oculara/HKEY_CURRENT_USER.reg"; }
    std::string HklmFile() const { return dir / "etc/Oculara/HKEY_LOCAL_MACHINE.reg"; }
    std::string Autostart() const { return dir / "config/autostart"; }

    static std::unique_ptr<RegKey> Ocl(bool create = true) { return RegKey::Open(RegRoot::CurrentUser, kOcl, create); }

    void WriteHive(const std::string& text) {
        std::filesystem::create_directories(dir / "config/Oculara");
        WriteFile(HkcuFile(), text);
    }

    TempDir dir;
    ScopedEnv home{"HOME", dir / "home"};
    ScopedEnv config{"XDG_CONFIG_HOME", dir / "config"};
    ScopedEnv sysconf{"OCULARA_SYSCONFDIR", dir / "etc"};
};

// ------------------------------------------------------------ types

TEST_F(RegistryTest, EveryTypeComesBackExactlyAndIsWrittenAsRegeditWritesIt) {
    std::string longBinary;
    for (int i = 0; i < 200; ++i) longBinary += static_cast<char>(i);
    const std::vector<std::pair<std::string, RegValue>> values = {
        {"plain", RegValue::FromText(RegType::Sz, "Videocamera USB")},
        {"escapes", RegValue::FromText(RegType::Sz, "C:\\Video\\ \"virgolette\"")},
        {"empty", RegValue::FromText(RegType::Sz, "")},
        {"unicode", RegValue::FromText(RegType::Sz, "Citt\u00e0 \u2014 \u6771\u4eac \U0001F3A5")},
        {"multiline", RegValue::FromText(RegType::Sz, "riga uno\r\nriga due\tfine")},
        {"expand", RegValue::FromText(RegType::ExpandSz, "%USERPROFILE%\\Video")},
        {"zero", RegValue::FromDword(0)},
        {"max", RegValue::FromDword(0xFFFFFFFF)},
        {"fifteen", RegValue::FromDword(15)},
        {"binary", Raw(RegType::Binary, Bytes({0x00, 0x01, 0xFF, 0x7F}))},
        {"emptybinary", Raw(RegType::Binary, "")},
        {"long", Raw(RegType::Binary, longBinary)},
        {"multi", Raw(RegType::MultiSz, Bytes({'a', 0, 0, 0, 'b', 0, 0, 0, 0, 0}))},
        {"qword", Raw(RegType::Qword, Bytes({1, 2, 3, 4, 5, 6, 7, 8}))},
        {"odd type", Raw(0x12345678, "xyz")},
        {"short dword", Raw(RegType::Dword, Bytes({1, 2, 3}))},
        {"sz without nul", Raw(RegType::Sz, Bytes({'A', 0, 'B', 0}))},
        {"sz odd length", Raw(RegType::Sz, Bytes({'A', 0, 'B'}))},
        {"sz inner nul", Raw(RegType::Sz, Bytes({'A', 0, 0, 0, 'B', 0, 0, 0}))},
        {"sz lone surrogate", Raw(RegType::Sz, Bytes({0x00, 0xD8, 0, 0}))},
        {"sz no data", Raw(RegType::Sz, "")},
        {"", RegValue::FromText(RegType::Sz, "valore predefinito")},
        {"name \"with\" \\ back", RegValue::FromText(RegType::Sz, "x")},
    };
    {
        auto key = Ocl();
        ASSERT_TRUE(key);
        for (const auto& [name, value] : values) ASSERT_TRUE(key->WriteRaw(name, value)) << name;
        ASSERT_TRUE(key->Close());
    }

    const std::string file = ReadFile(HkcuFile());
    EXPECT_EQ(file.rfind("Windows Registry Editor Version 5.00\n", 0), 0u);
    for (const char* line : {
             "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n",
             "\n\"plain\"=\"Videocamera USB\"\n",
             "\n\"escapes\"=\"C:\\\\Video\\\\ \\\"virgolette\\\"\"\n",
             "\n\"empty\"=\"\"\n",
             "\n\"unicode\"=\"Citt\u00e0 \u2014 \u6771\u4eac \U0001F3A5\"\n",
             "\n\"multiline\"=hex(1):72,00,69,00,67,00,61,00,20,00,",
             "\n\"expand\"=hex(2):25,00,55,00,53,00,",
             "\n\"zero\"=dword:00000000\n",
             "\n\"max\"=dword:ffffffff\n",
             "\n\"fifteen\"=dword:0000000f\n",
             "\n\"binary\"=hex:00,01,ff,7f\n",
             "\n\"emptybinary\"=hex:\n",
             "\n\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\n",
             "\n\"qword\"=hex(b):01,02,03,04,05,06,07,08\n",
             "\n\"odd type\"=hex(12345678):78,79,7a\n",
             "\n\"short dword\"=hex(4):01,02,03\n",
             "\n\"sz without nul\"=hex(1):41,00,42,00\n",
             "\n@=\"valore predefinito\"\n",
             "\n\"name \\\"with\\\" \\\\ back\"=\"x\"\n",
         })
        EXPECT_TRUE(Contains(file, line)) << line;
    size_t start = 0;
    while (start < file.size()) {
        const size_t end = file.find('\n', start);
        EXPECT_LT(end - start, 80u) << file.substr(start, end - start);
        start = end + 1;
    }

    auto key = Ocl(false);
    ASSERT_TRUE(key);
    std::vector<std::string> expectedNames;
    for (const auto& [name, value] : values) {
        expectedNames.push_back(name);
        const auto read = key->Read(name);
        ASSERT_TRUE(read) << name;
        EXPECT_EQ(read->type, value.type) << name;
        EXPECT_EQ(read->data, value.data) << name;
    }
    EXPECT_EQ(key->ValueNames(), expectedNames);
    EXPECT_EQ(key->Read("multiline")->Text(), "riga uno\r\nriga due\tfine");
    EXPECT_EQ(key->Read("expand")->Text(), "%USERPROFILE%\\Video");
    EXPECT_EQ(key->Read("max")->Dword(), 0xFFFFFFFFu);
    EXPECT_FALSE(key->Read("short dword")->Dword());
    EXPECT_FALSE(key->Read("binary")->Text());
    EXPECT_EQ(key->Read("sz inner nul")->Text(), "A");

    // Loading and saving again writes the very same file.
    ASSERT_TRUE(key->WriteString("transient", "x"));
    ASSERT_TRUE(key->Delete("transient"));
    ASSERT_TRUE(key->Close());
    EXPECT_EQ(ReadFile(HkcuFile()), file);
}

TEST_F(RegistryTest, ReadsHandWrittenAndExportedFiles) {
    const std::string text =
        "Windows Registry Editor Version 5.00\r\n"
        "\r\n"
        "; written by hand\r\n"
        "[hkey_current_user\\Software\\Brevant\\OCL]\r\n"
        "\"Testo\"=\"a\\\\b \\\"c\\\"\"\r\n"
        "\"Numero\"=DWORD:0000001F\r\n"
        "\"Breve\"=dword:7\r\n"
        "\"Lungo\"=hex:01,02,\\\r\n"
        "  03,FF\r\n"
        "\"Espanso\"=hex(2):25,00,41,00,25,00,00,00\r\n"
        "\"Manuale\"=\"C:\\Video\"\r\n"
        "@=\"predefinito\"\r\n"
        "  \"Rientrato\" = \"spazi\"  \r\n";
    auto check = [&](const char* what) {
        auto key = Ocl(false);
        ASSERT_TRUE(key) << what;
        EXPECT_EQ(key->Read("Testo")->Text(), "a\\b \"c\"") << what;
        EXPECT_EQ(key->Read("Numero")->Dword(), 31u) << what;
        EXPECT_EQ(key->Read("Breve")->Dword(), 7u) << what;
        EXPECT_EQ(key->Read("Lungo")->data, Bytes({1, 2, 3, 0xFF})) << what;
        EXPECT_EQ(key->Read("Espanso")->type, RegType::ExpandSz) << what;
        EXPECT_EQ(key->Read("Espanso")->Text(), "%A%") << what;
        EXPECT_EQ(key->Read("Manuale")->Text(), "C:\\Video") << what;
        EXPECT_EQ(key->Read("")->Text(), "predefinito") << what;
        EXPECT_EQ(key->Read("Rientrato")->Text(), "spazi") << what;
    };

    WriteHive("\xEF\xBB\xBF" + text);
    check("UTF-8 with BOM");

    // regedit's own exports are UTF-16LE.
    std::string utf16 = "\xFF\xFE";
    for (char c : text) utf16 += std::string{c, '\0'};
    WriteHive(utf16);
    check("UTF-16LE");

    // Well-formed files are not copied aside when saved.
    ASSERT_TRUE(Ocl()->WriteString("Nuovo", "1"));
    EXPECT_EQ(FilesIn(dir / "config/Oculara"), std::vector<std::string>{"HKEY_CURRENT_USER.reg"});
}

// ------------------------------------------------------------ names and order

TEST_F(RegistryTest, ValuesAndKeysKeepTheirOrderAndSpelling) {
    {
        auto key = Ocl();
        std::vector<std::string> names;
        for (int i = 0; i < 68; ++i) names.push_back("v" + std::to_string((i * 37) % 68));
        for (const auto& n : names) key->WriteDword(n, 1);
        ASSERT_TRUE(key->Close());
        EXPECT_EQ(Ocl(false)->ValueNames(), names);
    }
    {
        auto key = RegKey::Open(RegRoot::CurrentUser, "\\Software\\Brevant\\Zeta", true);
        key->WriteString("Zeta", "1");
        key->WriteString("alfa", "2");
        key->WriteString("Mezzo", "3");
        key->WriteDword("mezzo", 4);  // another type, same place, first spelling
        EXPECT_EQ(key->ValueNames(), (std::vector<std::string>{"Zeta", "alfa", "Mezzo"}));
        EXPECT_EQ(key->Read("MEZZO")->Dword(), 4u);
        EXPECT_TRUE(key->Delete("ALFA"));
        EXPECT_FALSE(key->Delete("alfa"));
        ASSERT_TRUE(RegKey::Open(RegRoot::CurrentUser, "\\Software\\Brevant\\Alfa", true));
        ASSERT_TRUE(key->Close());
    }
    auto brevant = RegKey::Open(RegRoot::CurrentUser, "SOFTWARE\\brevant\\", false);
    ASSERT_TRUE(brevant);
    EXPECT_EQ(brevant->SubKeyNames(), (std::vector<std::string>{"OCL", "Zeta", "Alfa"}));
    EXPECT_EQ(brevant->OpenSubKey("zeta", false)->ValueNames(), (std::vector<std::string>{"Zeta", "Mezzo"}));
    EXPECT_FALSE(brevant->OpenSubKey("Manca", false));

    const std::string file = ReadFile(HkcuFile());
    EXPECT_TRUE(Contains(file, "[HKEY_CURRENT_USER\\Software\\Brevant\\Zeta]\n\"Zeta\"=\"1\"\n\"Mezzo\"=dword:00000004\n"));
    EXPECT_LT(file.find("\\Brevant\\OCL]"), file.find("\\Brevant\\Zeta]"));
    EXPECT_LT(file.find("\\Brevant\\Zeta]"), file.find("\\Brevant\\Alfa]"));
}

TEST_F(RegistryTest, NamesCompareWithoutCaseBeyondAscii) {
    auto key = Ocl();
    key->WriteString("Citt\u00e0", "a");
    key->WriteString("\u0110or\u0111e", "b");
    EXPECT_EQ(key->Read("CITT\u00c0")->Text(), "a");
    EXPECT_EQ(key->Read("\u0111OR\u0110E")->Text(), "b");
    EXPECT_FALSE(key->Read("Citta"));
    EXPECT_FALSE(key->WriteString("a\nb", "x"));
    EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, "\\Software\\bad\nname", true));
}

// A file read back sees the same names as the keys do: case folded beyond
// ASCII, stray bytes distinct, the last of two spellings winning in the
// place and spelling of the first, sections met twice merged.
TEST_F(RegistryTest, ALargeFileKeepsEveryValueAndTheLastOfEachName) {
    std::string text = "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n";
    for (int i = 0; i < 3000; ++i) text += "\"Valore" + std::to_string(i) + "\"=dword:" + std::to_string(i % 10) + "\n";
    text += "\"VALORE7\"=\"ultimo\"\n\"Citt\u00e0\"=\"a\"\n\"CITT\u00c0\"=\"b\"\n";
    text += "\"x\xe0\"=\"byte\"\n\"x\xc0\"=\"altro byte\"\n";
    text += "\"Lungo\"=hex:";
    for (int i = 0; i < 2000; ++i) text += "0a,\\\n  ";
    text += "0b\n";
    const std::string longName(1 << 20, 'n');
    text += "\"" + longName + "\"=\"lungo\"\n";
    text += "[hkey_current_user\\SOFTWARE\\brevant\\ocl]\n\"valore2999\"=\"di nuovo\"\n";
    WriteHive(text);

    auto key = Ocl(false);
    ASSERT_TRUE(key);
    const auto names = key->ValueNames();
    ASSERT_EQ(names.size(), 3000u + 5u);
    EXPECT_EQ(names[7], "Valore7");
    EXPECT_EQ(key->Read("valore7")->Text(), "ultimo");
    EXPECT_EQ(key->Read("Valore8")->Dword(), 8u);
    EXPECT_EQ(key->Read("Valore2999")->Text(), "di nuovo");
    EXPECT_EQ(names[3000], "Citt\u00e0");
    EXPECT_EQ(key->Read("citt\u00e0")->Text(), "b");
    EXPECT_EQ(key->Read("X\xe0")->Text(), "byte");
    EXPECT_EQ(key->Read("X\xc0")->Text(), "altro byte");
    EXPECT_EQ(key->Read("Lungo")->data, std::string(2000, '\x0a') + "\x0b");
    EXPECT_EQ(key->Read(std::string(1 << 20, 'N'))->Text(), "lungo");
    EXPECT_FALSE(key->Read(std::string((1 << 20) - 1, 'n')));
}

TEST_F(RegistryTest, KeysOpenOnOneHiveShareIt) {
    auto a = Ocl();
    auto b = RegKey::Open(RegRoot::CurrentUser, "\\software\\brevant\\ocl", false);
    ASSERT_TRUE(b);
    a->WriteString("x", "1");
    EXPECT_EQ(b->Read("x")->Text(), "1");
    ASSERT_TRUE(b->Close());  // flushes what a wrote too
    EXPECT_TRUE(Contains(ReadFile(HkcuFile()), "\"x\"=\"1\""));
    EXPECT_FALSE(b->Read("x"));
    EXPECT_FALSE(b->WriteString("y", "2"));
}

TEST_F(RegistryTest, TheEnvironmentIsReadAtEveryOpen) {
    Ocl()->WriteString("dove", "primo");
    {
        ScopedEnv other("XDG_CONFIG_HOME", dir / "altro");
        EXPECT_FALSE(Ocl(false));
        Ocl()->WriteString("dove", "secondo");
        EXPECT_EQ(platform::HivePath(RegRoot::CurrentUser), dir / "altro/Oculara/HKEY_CURRENT_USER.reg");
    }
    {
        ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(platform::HivePath(RegRoot::CurrentUser), dir / "home/.config/Oculara/HKEY_CURRENT_USER.reg");
    }
    EXPECT_EQ(Ocl(false)->Read("dove")->Text(), "primo");
    EXPECT_TRUE(Contains(ReadFile(dir / "altro/Oculara/HKEY_CURRENT_USER.reg"), "\"secondo\""));

    RegKey::Open(RegRoot::LocalMachine, "\\Software\\Brevant", true)->WriteDword("m", 1);
    EXPECT_TRUE(Contains(ReadFile(HklmFile()), "[HKEY_LOCAL_MACHINE\\Software\\Brevant]\n\"m\"=dword:00000001"));
    EXPECT_EQ(Mode(HklmFile()), 0644);
}

// ------------------------------------------------------------ damage

TEST_F(RegistryTest, DamagedFilesLoadWhatTheyCanAndAreKeptAside) {
    const std::string damaged = std::string(
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
        "\"Buono1\"=\"uno\"\n"
        "\"Rotto\"=dword:xyz\n"
        "\"TroppoLungo\"=dword:123456789\n") +
        std::string("\x00\x01\xFE\xFF garbage \x80\n", 15) +
        "\"Tronco\"=\"senza fine\n"
        "\"Buono2\"=dword:00000002\n"
        "\"HexRotto\"=hex:01,zz\n"
        "\"Cancella\"=-\n"
        "\"Buono3\"=hex:0a\n"
        "\"Latino\"=\"caf\xE9\"\n"
        "[HKEY_LOCAL_MACHINE\\Estraneo]\n"
        "\"Estraneo\"=\"x\"\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL\n"
        "\"SenzaSezione\"=\"x\"\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
        "\"Continua\"=hex:01,\\";
    WriteHive(damaged);
    {
        auto key = Ocl(false);
        ASSERT_TRUE(key);
        EXPECT_EQ(key->ValueNames(),
                  (std::vector<std::string>{"Buono1", "Buono2", "Buono3", "Latino", "Continua"}));
        EXPECT_EQ(key->Read("Buono2")->Dword(), 2u);
        EXPECT_EQ(key->Read("Latino")->Text(), "caf\uFFFD");
        EXPECT_EQ(key->Read("Continua")->data, Bytes({1}));
        EXPECT_FALSE(RegKey::Open(RegRoot::CurrentUser, "\\Estraneo", false));
        // Nothing is written until something changes.
        ASSERT_TRUE(key->Close());
        EXPECT_EQ(ReadFile(HkcuFile()), damaged);
    }
    {
        auto key = Ocl();
        key->WriteString("Nuovo", "1");
        ASSERT_TRUE(key->Close());
    }
    EXPECT_EQ(ReadFile(HkcuFile() + ".damaged"), damaged);
    EXPECT_EQ(Mode(HkcuFile() + ".damaged"), 0600);
    EXPECT_EQ(Ocl(false)->Read("Nuovo")->Text(), "1");

    // The rewritten file is clean: saving it again keeps no second copy.
    Ocl()->WriteString("Ancora", "2");
    EXPECT_EQ(FilesIn(dir / "config/Oculara"),
              (std::vector<std::string>{"HKEY_CURRENT_USER.reg", "HKEY_CURRENT_USER.reg.damaged"}));

    // A later damage does not overwrite the first copy.
    WriteHive("spazzatura\n");
    Ocl()->WriteString("Terzo", "3");
    EXPECT_EQ(ReadFile(HkcuFile() + ".damaged"), damaged);
    EXPECT_EQ(ReadFile(HkcuFile() + ".damaged.2"), "spazzatura\n");
}

TEST_F(RegistryTest, NoMangledFileCrashesTheLoadAndEverySaveReadsBackAlike) {
    const std::string base =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
        "\"Testo\"=\"a\\\\b \\\"c\\\"\"\n"
        "\"Numero\"=dword:0000001f\n"
        "\"Lungo\"=hex:01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
        "  16,17,18\n"
        "\"Espanso\"=hex(2):25,00,41,00,25,00,00,00\n"
        "\"Riga\"=hex(1):41,00,0a,00,42,00,00,00\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL\\Sotto]\n"
        "@=\"x\"\n";
    std::mt19937 random(20240607);
    for (int round = 0; round < 150; ++round) {
        std::string text = base;
        const int edits = 1 + static_cast<int>(random() % 8);
        for (int e = 0; e < edits && !text.empty(); ++e) {
            const size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text[at] = static_cast<char>(random() % 256); break;
            case 1: text.erase(at, 1 + random() % 10); break;
            case 2: text.insert(at, 1, "\\\"[]=,:\n\r\0@;"[random() % 13]); break;
            default: text.resize(at); break;
            }
        }
        WriteHive(text);
        std::filesystem::remove(HkcuFile() + ".damaged");
        std::filesystem::remove(HkcuFile() + ".damaged.2");
        {
            auto key = Ocl();
            ASSERT_TRUE(key);
            for (const auto& name : key->ValueNames()) (void)key->Read(name);
            key->WriteString("Tocco", "1");
            ASSERT_TRUE(key->Close()) << round;
        }
        const std::string saved = ReadFile(HkcuFile());
        const auto files = FilesIn(dir / "config/Oculara");
        {
            auto key = Ocl();
            key->WriteString("Tocco", "2");
            key->WriteString("Tocco", "1");
            key->Delete("Altro");
            key->WriteString("Altro", "x");
            key->Delete("Altro");
            ASSERT_TRUE(key->Close());
        }
        ASSERT_EQ(ReadFile(HkcuFile()), saved) << round;
        ASSERT_EQ(FilesIn(dir / "config/Oculara"), files) << round;
    }
}

// ------------------------------------------------------------ saving

TEST_F(RegistryTest, TheHiveOfTheUserIsPrivateAndItsFoldersAreMade) {
    WriteHive("");
    ::chmod(HkcuFile().c_str(), 0644);
    Ocl()->WriteString("SMS_Password", "segreta");
    EXPECT_EQ(Mode(HkcuFile()), 0600);
    EXPECT_TRUE(Contains(ReadFile(HkcuFile()), "\"SMS_Password\"=\"segreta\""));

    ScopedEnv deeper("XDG_CONFIG_HOME", dir / "a/b/c");
    Ocl()->WriteString("x", "1");
    EXPECT_EQ(Mode(dir / "a/b/c/Oculara/HKEY_CURRENT_USER.reg"), 0600);
}

TEST_F(RegistryTest, ASaveRemovesTheTemporaryFilesThatAKilledSaveLeftButNotAYoungOne) {
    Ocl()->WriteString("Vecchio", "1");
    const std::string folder = dir / "config/Oculara";
    const std::string stale = folder + "/.HKEY_CURRENT_USER.reg.tmp-AbC123";
    const std::string young = folder + "/.HKEY_CURRENT_USER.reg.tmp-XyZ789";
    const std::string other = folder + "/.altro.reg.tmp-AbC123";
    for (const auto& f : {stale, young, other}) testsupport::WriteFile(f, "[mezzo");
    const timeval hourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
    ASSERT_EQ(::utimes(stale.c_str(), hourAgo), 0);
    ASSERT_EQ(::utimes(other.c_str(), hourAgo), 0);
    Ocl()->WriteString("Nuovo", "2");
    EXPECT_FALSE(PathExists(stale));
    EXPECT_TRUE(PathExists(young));  // maybe another instance saving right now
    EXPECT_TRUE(PathExists(other));  // not ours
    EXPECT_TRUE(Contains(ReadFile(HkcuFile()), "\"Nuovo\"=\"2\""));
}

TEST_F(RegistryTest, AFailedWriteLeavesTheOldFileAndKeepsTheChangesPending) {
    Ocl()->WriteString("Vecchio", "1");
    const std::string before = ReadFile(HkcuFile());

    auto key = Ocl();
    key->WriteRaw("Grande", Raw(RegType::Binary, std::string(20000, '\x5A')));
    rlimit saved;
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto* oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool flushed = key->Flush();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(flushed);
    EXPECT_EQ(ReadFile(HkcuFile()), before);
    EXPECT_EQ(FilesIn(dir / "config/Oculara"), std::vector<std::string>{"HKEY_CURRENT_USER.reg"});
    EXPECT_TRUE(key->Close());
    EXPECT_EQ(Ocl(false)->Read("Grande")->data.size(), 20000u);
}

TEST_F(RegistryTest, WithoutWriteRightsNothingChanges) {
    Ocl()->WriteString("Vecchio", "1");
    const std::string before = ReadFile(HkcuFile());
    ::chmod(dir.path().c_str(), 0755);
    ::chmod((dir / "config").c_str(), 0755);
    ::chmod((dir / "config/Oculara").c_str(), 0555);
    const auto wrote = RunWithoutRights([] {
        auto key = Ocl();
        return key && key->WriteString("Nuovo", "2") && key->Close();
    });
    ::chmod((dir / "config/Oculara").c_str(), 0700);
    ASSERT_TRUE(wrote.has_value());
    EXPECT_FALSE(*wrote);
    EXPECT_EQ(ReadFile(HkcuFile()), before);
    EXPECT_EQ(FilesIn(dir / "config/Oculara"), std::vector<std::string>{"HKEY_CURRENT_USER.reg"});
}

TEST_F(RegistryTest, AFileThatCannotBeReadIsNeverReplaced) {
    std::filesystem::create_directories(HkcuFile());  // a folder where the file should be
    auto key = Ocl();
    ASSERT_TRUE(key);
    key->WriteString("x", "1");
    EXPECT_FALSE(key->Close());
    EXPECT_TRUE(std::filesystem::is_directory(HkcuFile()));
}

TEST_F(RegistryTest, ALinkedHiveStaysALink) {
    std::filesystem::create_directories(dir / "dotfiles");
    std::filesystem::create_directories(dir / "config/Oculara");
    WriteFile(dir / "dotfiles/hkcu.reg", "");
    std::filesystem::create_symlink(dir / "dotfiles/hkcu.reg", HkcuFile());
    Ocl()->WriteString("x", "1");
    EXPECT_TRUE(std::filesystem::is_symlink(HkcuFile()));
    EXPECT_TRUE(Contains(ReadFile(dir / "dotfiles/hkcu.reg"), "\"x\"=\"1\""));
}

// ------------------------------------------------------------ Run key

TEST_F(RegistryTest, RunValuesAreAutostartEntries) {
    auto run = RegKey::Open(RegRoot::LocalMachine, kRun, true);
    ASSERT_TRUE(run);
    ASSERT_TRUE(run->WriteString("Oculara", "/opt/oculara/Oculara autorun"));

    const std::string entry = ReadFile(Autostart() + "/Oculara.desktop");
    EXPECT_EQ(entry.rfind("[Desktop Entry]\n", 0), 0u);
    for (const char* line : {"\nType=Application\n", "\nName=Oculara\n", "\nExec=/opt/oculara/Oculara autorun\n"})
        EXPECT_TRUE(Contains(entry, line)) << line;
    EXPECT_EQ(Mode(Autostart() + "/Oculara.desktop"), 0644);
    EXPECT_FALSE(PathExists(HklmFile()));  // the Run key is not in the hive

    EXPECT_EQ(run->Read("OCULARA")->Text(), "/opt/oculara/Oculara autorun");
    EXPECT_EQ(run->Read("Oculara")->type, RegType::Sz);
    EXPECT_EQ(run->ValueNames(), std::vector<std::string>{"Oculara"});

    // Rewritten under the spelling it already has.
    ASSERT_TRUE(run->WriteString("oculara", " \"/opt/My Apps/Oculara\" a\\b"));
    EXPECT_EQ(FilesIn(Autostart()), std::vector<std::string>{"Oculara.desktop"});
    EXPECT_EQ(run->Read("Oculara")->Text(), " \"/opt/My Apps/Oculara\" a\\b");

    EXPECT_FALSE(run->WriteDword("Oculara", 1));
    EXPECT_FALSE(run->WriteString("a/b", "x"));
    EXPECT_FALSE(run->WriteString("..", "x"));
    EXPECT_FALSE(run->OpenSubKey("Sotto", true));
    EXPECT_FALSE(RegKey::Open(RegRoot::LocalMachine, std::string(kRun) + "\\Sotto", true));
    EXPECT_TRUE(RegKey::Open(RegRoot::LocalMachine, kRun, false));
    EXPECT_TRUE(RegKey::Open(RegRoot::LocalMachine, "\\Software\\Microsoft", true)
                    ->OpenSubKey("windows\\currentversion\\run", false)
                    ->Exists("Oculara"));

    ASSERT_TRUE(run->Delete("OCULARA"));
    EXPECT_FALSE(PathExists(Autostart() + "/Oculara.desktop"));
    EXPECT_FALSE(run->Delete("Oculara"));
    EXPECT_FALSE(run->Exists("Oculara"));
}

TEST_F(RegistryTest, EntriesMadeByOthersAreRead) {
    std::filesystem::create_directories(Autostart());
    WriteFile(Autostart() + "/Altro.desktop",
              "# comment\n[Desktop Action x]\nExec=sbagliato\n[Desktop Entry]\nName=Altro\n"
              "Exec[it]=localizzato\nExec = /usr/bin/altro\\s--x\\\\y\r\n");
    WriteFile(Autostart() + "/SenzaExec.desktop", "[Desktop Entry]\nName=x\n");
    WriteFile(Autostart() + "/nota.txt", "[Desktop Entry]\nExec=x\n");
    auto run = RegKey::Open(RegRoot::LocalMachine, kRun, false);
    EXPECT_EQ(run->Read("altro")->Text(), "/usr/bin/altro --x\\y");
    EXPECT_EQ(run->ValueNames(), std::vector<std::string>{"Altro"});
    EXPECT_FALSE(run->Exists("SenzaExec"));
}

TEST_F(RegistryTest, RunKeyWithoutWriteRightsChangesNothing) {
    auto run = RegKey::Open(RegRoot::LocalMachine, kRun, true);
    ASSERT_TRUE(run->WriteString("Oculara", "/vecchio autorun"));
    const std::string before = ReadFile(Autostart() + "/Oculara.desktop");
    ::chmod(dir.path().c_str(), 0755);
    ::chmod(Autostart().c_str(), 0555);

    const auto wrote = RunWithoutRights([] {
        return RegKey::Open(RegRoot::LocalMachine, kRun, true)->WriteString("Oculara", "/nuovo autorun");
    });
    const auto deleted = RunWithoutRights([] {
        return RegKey::Open(RegRoot::LocalMachine, kRun, true)->Delete("Oculara");
    });
    const auto added = RunWithoutRights([] {
        return RegKey::Open(RegRoot::LocalMachine, kRun, true)->WriteString("Nuovo", "/x");
    });
    ::chmod(Autostart().c_str(), 0755);
    ASSERT_TRUE(wrote && deleted && added);
    EXPECT_FALSE(*wrote);
    EXPECT_FALSE(*deleted);
    EXPECT_FALSE(*added);
    EXPECT_EQ(ReadFile(Autostart() + "/Oculara.desktop"), before);
    EXPECT_EQ(FilesIn(Autostart()), std::vector<std::string>{"Oculara.desktop"});
}

TEST_F(RegistryTest, AutostartEntriesPassTheDesktopFileValidator) {
    if (std::system("command -v desktop-file-validate >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "desktop-file-validate is not installed";
    auto run = RegKey::Open(RegRoot::LocalMachine, kRun, true);
    ASSERT_TRUE(run->WriteString("Oculara", "\"/opt/My Apps/Oculara\" autorun"));
    const std::string command = "desktop-file-validate '" + Autostart() + "/Oculara.desktop'";
    EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
