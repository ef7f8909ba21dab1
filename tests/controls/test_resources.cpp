// The pictures, sound and help pages that the build puts into the program
// folder, checked as files: the main window and the event list load them by
// name and rely on their sizes.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <regex>
#include <set>
#include <string>

#include "support/TestSupport.h"

using testsupport::PathExists;
using testsupport::ReadFile;

namespace {

// The build folder is the program folder; the test executables live in its
// tests/ sub-folder, which serves when the variable is not passed on.
std::string ProgramFolder() {
    if (const char* dir = std::getenv("OCULARA_PROGRAM_DIR"); dir && *dir)
        return std::string(dir) + "/";
    std::error_code ec;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return {};
    return exe.parent_path().parent_path().string() + "/";
}

uint32_t Be32(const std::string& b, size_t at) {
    return (uint32_t(uint8_t(b[at])) << 24) | (uint32_t(uint8_t(b[at + 1])) << 16) |
           (uint32_t(uint8_t(b[at + 2])) << 8) | uint32_t(uint8_t(b[at + 3]));
}

uint32_t Le(const std::string& b, size_t at, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | uint8_t(b[at + i]);
    return v;
}

// Width and height from the PNG's IHDR chunk, or (0, 0) when it is no PNG.
std::pair<uint32_t, uint32_t> PngSize(const std::string& bytes) {
    static const std::string signature("\x89PNG\r\n\x1a\n", 8);
    if (bytes.size() < 24 || bytes.compare(0, 8, signature) != 0 ||
        bytes.compare(12, 4, "IHDR") != 0 || Be32(bytes, 8) != 13)
        return {0, 0};
    return {Be32(bytes, 16), Be32(bytes, 20)};
}

// Structure only (lead byte and continuation bytes); enough to catch a page
// saved in Latin-1, where "à" is a lone 0xE0.
bool IsValidUtf8(const std::string& s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = uint8_t(s[i]);
        size_t extra;
        if (c < 0x80)
            extra = 0;
        else if (c >= 0xC2 && c < 0xE0)
            extra = 1;
        else if ((c & 0xF0) == 0xE0)
            extra = 2;
        else if (c >= 0xF0 && c < 0xF5)
            extra = 3;
        else
            return false;
        if (s.size() - i <= extra) return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((uint8_t(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

const char* const HelpPages[] = {
    "introduzione.htm",  "monitoraggio.htm", "allarme_sonoro.htm", "allarme_sms.htm",
    "allarme_mail.htm",  "allarme_video.htm", "allarme_foto.htm",  "allarme_file.htm",
    "connessione.htm",   "impo_generali.htm"};

class Resources : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = ProgramFolder();
        ASSERT_FALSE(dir_.empty()) << "no program folder: set OCULARA_PROGRAM_DIR";
        ASSERT_TRUE(PathExists(dir_ + "Immagini/Sfondo.png"))
            << "no artwork in " << dir_ << ": build the target oculara_resources";
    }
    void ExpectPng(const std::string& name, uint32_t w, uint32_t h) {
        const auto size = PngSize(ReadFile(dir_ + "Immagini/" + name));
        EXPECT_EQ(size.first, w) << name;
        EXPECT_EQ(size.second, h) << name;
    }
    std::string dir_;
};

}  // namespace

TEST_F(Resources, BackgroundAndLevelBarsHaveTheirSizes) {
    ExpectPng("Sfondo.png", 1024, 710);
    ExpectPng("VolMeter_Sfondo.png", 320, 18);
    ExpectPng("VolMeter_SfondoDis.png", 320, 18);
    ExpectPng("VolMeter_PrimoPiano.png", 316, 14);
    ExpectPng("VolMeter_PrimoPianoDis.png", 316, 14);
    ExpectPng("Precisione_Sfondo.png", 120, 18);
    ExpectPng("Precisione_SfondoDis.png", 120, 18);
    ExpectPng("Precisione_PrimoPiano.png", 116, 14);
    ExpectPng("Precisione_PrimoPianoDis.png", 116, 14);
}

TEST_F(Resources, ElevenEventListIcons) {
    for (int i = 0; i <= 10; ++i) {
        const std::string name = std::string("Icona") + (i < 10 ? "0" : "") + std::to_string(i) + ".png";
        ExpectPng(name, 16, 16);
    }
    EXPECT_FALSE(PathExists(dir_ + "Immagini/Icona11.png"));
}

TEST_F(Resources, DefaultAlarmIsAPlayableWave) {
    const std::string wav = ReadFile(dir_ + "Suoni/DefaultAlarm.wav");
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav.substr(0, 4), "RIFF");
    EXPECT_EQ(Le(wav, 4, 4), wav.size() - 8);
    EXPECT_EQ(wav.substr(8, 4), "WAVE");
    EXPECT_EQ(wav.substr(12, 4), "fmt ");
    EXPECT_EQ(Le(wav, 16, 4), 16u);
    EXPECT_EQ(Le(wav, 20, 2), 1u);      // PCM
    EXPECT_EQ(Le(wav, 22, 2), 1u);      // mono
    EXPECT_EQ(Le(wav, 24, 4), 22050u);
    EXPECT_EQ(Le(wav, 28, 4), 44100u);  // bytes per second
    EXPECT_EQ(Le(wav, 32, 2), 2u);      // block align
    EXPECT_EQ(Le(wav, 34, 2), 16u);
    EXPECT_EQ(wav.substr(36, 4), "data");
    const uint32_t data = Le(wav, 40, 4);
    EXPECT_EQ(data, wav.size() - 44);
    EXPECT_EQ(data % 2, 0u);
    EXPECT_GE(data, 44100u * 1);  // at least a second of sound

    // Not silence, and not clipped.
    int peak = 0;
    for (size_t at = 44; at + 1 < wav.size(); at += 2)
        peak = std::max(peak, std::abs(int(int16_t(Le(wav, at, 2)))));
    EXPECT_GT(peak, 16000);
    EXPECT_LT(peak, 32767);
}

TEST_F(Resources, HelpPagesAreUtf8AndLinkOnlyToEachOther) {
    const std::set<std::string> known(std::begin(HelpPages), std::end(HelpPages));
    const std::regex href("href=\"([^\"]*)\"", std::regex::icase);
    std::set<std::string> reachedFromIntro;
    for (const std::string page : HelpPages) {
        const std::string path = dir_ + "help/html/" + page;
        ASSERT_TRUE(PathExists(path)) << page;
        const std::string html = ReadFile(path);
        EXPECT_TRUE(IsValidUtf8(html)) << page;
        EXPECT_NE(html.find("<meta charset=\"utf-8\">"), std::string::npos) << page;
        EXPECT_NE(html.find("<title>"), std::string::npos) << page;
        // The pages describe this program on this system only.
        for (const char* banned : {"Windows", ".exe", ".chm"})
            EXPECT_EQ(html.find(banned), std::string::npos) << page << " mentions " << banned;

        bool linksHome = false;
        for (auto it = std::sregex_iterator(html.begin(), html.end(), href);
             it != std::sregex_iterator(); ++it) {
            std::string target = (*it)[1];
            if (target.empty() || target[0] == '#') continue;
            target = target.substr(0, target.find('#'));
            if (target == "stile.css") {  // the pages' shared look
                EXPECT_TRUE(PathExists(dir_ + "help/html/stile.css"));
                continue;
            }
            EXPECT_TRUE(known.count(target)) << page << " links to " << target;
            if (target == "introduzione.htm") linksHome = true;
            if (page == "introduzione.htm") reachedFromIntro.insert(target);
        }
        if (page != "introduzione.htm") {
            EXPECT_TRUE(linksHome) << page;
        }
    }
    for (const std::string page : HelpPages) {
        if (page != "introduzione.htm") {
            EXPECT_TRUE(reachedFromIntro.count(page)) << page << " is not listed in the contents";
        }
    }
}
