#include "platform/Cp1252.h"

#include <gtest/gtest.h>

#include <string>

using platform::Cp1252ToUtf8;
using platform::Utf8ToCp1252;

namespace {

std::string Bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s += static_cast<char>(v);
    return s;
}

}  // namespace

TEST(Cp1252, ItalianAndLatin1LettersBecomeSingleBytes) {
    EXPECT_EQ(Utf8ToCp1252("\xC3\xA0"), Bytes({0xE0}));  // à
    EXPECT_EQ(Utf8ToCp1252("perché è così"), "perch\xE9 \xE8 cos\xEC");
    EXPECT_EQ(Utf8ToCp1252("\xC2\xA0\xC3\xBF"), Bytes({0xA0, 0xFF}));  // NBSP, ÿ
    EXPECT_EQ(Utf8ToCp1252(std::string("a\0b\t\r\n", 6)), std::string("a\0b\t\r\n", 6));
}

TEST(Cp1252, TheThirtyTwoHighBytesFollowTheTable) {
    EXPECT_EQ(Utf8ToCp1252("\xE2\x82\xAC"), Bytes({0x80}));  // €
    EXPECT_EQ(Utf8ToCp1252("\xE2\x80\x9C" "x" "\xE2\x80\x9D"), Bytes({0x93, 'x', 0x94}));
    EXPECT_EQ(Utf8ToCp1252("\xE2\x80\xA6"), Bytes({0x85}));  // …
    EXPECT_EQ(Utf8ToCp1252("\xC5\xB8"), Bytes({0x9F}));      // Ÿ
    EXPECT_EQ(Utf8ToCp1252("\xE2\x84\xA2"), Bytes({0x99}));  // ™
    EXPECT_EQ(Cp1252ToUtf8(Bytes({0x80, 0x8A, 0x96, 0x9E})), "\xE2\x82\xAC\xC5\xA0\xE2\x80\x93\xC5\xBE");
}

TEST(Cp1252, EveryByteSurvivesARoundTrip) {
    std::string all;
    for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
    const std::string utf8 = Cp1252ToUtf8(all);
    EXPECT_EQ(Utf8ToCp1252(utf8), all);
    // The undefined bytes come back as their C1 controls.
    EXPECT_EQ(Cp1252ToUtf8(Bytes({0x81})), "\xC2\x81");
}

TEST(Cp1252, CharactersOutsideTheCodePageBecomeOneQuestionMarkEach) {
    EXPECT_EQ(Utf8ToCp1252("a\xE4\xB8\xAD" "b"), "a?b");       // 中
    EXPECT_EQ(Utf8ToCp1252("\xF0\x9F\x98\x80!"), "?!");         // emoji
    EXPECT_EQ(Utf8ToCp1252("\xC2\x80"), "?");                   // C1 control with a defined byte
    EXPECT_EQ(Utf8ToCp1252("\xC4\x80"), "?");                   // Ā
}

TEST(Cp1252, MalformedUtf8GivesAQuestionMarkPerByte) {
    EXPECT_EQ(Utf8ToCp1252(Bytes({0x80})), "?");                   // stray continuation
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xC0, 0x80})), "??");            // overlong NUL
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xE0, 0x80, 0xAF})), "???");     // overlong
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xED, 0xA0, 0x80})), "???");     // surrogate
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xF4, 0x90, 0x80, 0x80})), "????");  // past U+10FFFF
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xFF, 'a'})), "?a");
    EXPECT_EQ(Utf8ToCp1252(Bytes({0xC3, 'a'})), "?a");             // missing continuation
}

TEST(Cp1252, SequencesCutOffByTheEndDoNotReadPastIt) {
    const std::string full = "\xF0\x9F\x98\x80";
    for (size_t n = 1; n < full.size(); ++n) {
        const std::string cut = full.substr(0, n);
        EXPECT_EQ(Utf8ToCp1252(cut), std::string(n, '?')) << n;
    }
    EXPECT_EQ(Utf8ToCp1252("x\xC3"), "x?");
    EXPECT_EQ(Utf8ToCp1252(""), "");
}
