#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "controls/JusLab.h"

using controls::BreakLines;
using controls::CharacterAdvances;
using controls::FittingExtents;
using controls::TLineList;
using controls::TLineObj;

namespace {

// Every character 6 pixels wide, accented letters included.
class FixedMeasure : public controls::TextMeasure {
public:
    int Width(const std::u32string& text) const override {
        return 6 * static_cast<int>(text.size());
    }
};

const FixedMeasure Six;

std::vector<int> Extents(const TLineObj& line, int maxExtent) {
    return FittingExtents(line.LineText, maxExtent, Six);
}

int LineWidth(const TLineObj& line, int width) {
    const auto advances = CharacterAdvances(line, Extents(line, width + 1));
    return std::accumulate(advances.begin(), advances.end(), 0);
}

std::u32string Joined(const TLineList& lines) {
    std::u32string all;
    for (const auto& line : lines) all += line.LineText;
    return all;
}

void ExpectUnstretched(const TLineObj& line, const std::u32string& text) {
    EXPECT_EQ(line.LineText, text);
    EXPECT_EQ(line.ExtraPixels, 0);
    EXPECT_EQ(line.GapCount, 0);
}

}  // namespace

TEST(JusLabExtraForGap, RemainderGoesToTheLeftmostSpacesLessOnePixel) {
    const TLineObj eight(U"", 8, 3);
    EXPECT_EQ(eight.ExtraForGap(0), 2);
    EXPECT_EQ(eight.ExtraForGap(1), 2);
    EXPECT_EQ(eight.ExtraForGap(2), 3);
    const TLineObj seven(U"", 7, 3);
    for (int k : {0, 1, 2}) EXPECT_EQ(seven.ExtraForGap(k), 2) << k;
    // 23 over 7: base 3 and one of the remainder's two pixels.
    const TLineObj odd(U"", 23, 7);
    int total = 0;
    for (int k = 0; k < 7; ++k) total += odd.ExtraForGap(k);
    EXPECT_EQ(total, 22);
    EXPECT_EQ(odd.ExtraForGap(-4), 3);
    EXPECT_EQ(TLineObj(U"", 9, 0).ExtraForGap(1), 0);
}

TEST(JusLabBreak, TextThatFitsIsOneUnstretchedLine) {
    const auto lines = BreakLines(U"perché è così", 100, Six);
    ASSERT_EQ(lines.size(), 1u);
    ExpectUnstretched(lines[0], U"perché è così");
    // Exactly the width: still not wider.
    ASSERT_EQ(BreakLines(U"abc de", 36, Six).size(), 1u);
    const auto empty = BreakLines(U"", 100, Six);
    ASSERT_EQ(empty.size(), 1u);
    ExpectUnstretched(empty[0], U"");
}

TEST(JusLabBreak, BrokenLineIsStretchedToTheWidthAndTheLastIsNot) {
    const auto lines = BreakLines(U"aaa bbb ccc ddd", 60, Six);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].LineText, U"aaa bbb");
    EXPECT_EQ(lines[0].ExtraPixels, 60 - 42);
    EXPECT_EQ(lines[0].GapCount, 1);
    EXPECT_EQ(LineWidth(lines[0], 60), 60);
    ExpectUnstretched(lines[1], U"ccc ddd");
    EXPECT_EQ(LineWidth(lines[1], 60), 42);

    // 16 pixels over three spaces: one pixel short of the edge at most.
    const auto three = BreakLines(U"a b c dd eeeeee", 56, Six);
    ASSERT_EQ(three.size(), 2u);
    EXPECT_EQ(three[0].LineText, U"a b c dd");
    EXPECT_EQ(three[0].ExtraPixels, 8);
    EXPECT_EQ(three[0].GapCount, 3);
    EXPECT_EQ(LineWidth(three[0], 56), 55);
}

TEST(JusLabBreak, CarriageReturnEndsAParagraphUnstretched) {
    const auto lines = BreakLines(U"aaa bbb\r\nccc ddd eee fff\rgg\nhh", 60, Six);
    ASSERT_EQ(lines.size(), 4u);
    ExpectUnstretched(lines[0], U"aaa bbb");
    // The next paragraph's first wrapped line is stretched like any other.
    EXPECT_EQ(lines[1].LineText, U"ccc ddd");
    EXPECT_EQ(lines[1].ExtraPixels, 18);
    EXPECT_EQ(lines[1].GapCount, 1);
    // A carriage return alone ends a paragraph too; a lone line feed is
    // laid out as an ordinary character.
    ExpectUnstretched(lines[2], U"eee fff");
    ExpectUnstretched(lines[3], U"gg\nhh");

    const auto trailing = BreakLines(U"ab\r\n", 60, Six);
    ASSERT_EQ(trailing.size(), 2u);
    ExpectUnstretched(trailing[0], U"ab");
    ExpectUnstretched(trailing[1], U"");
}

TEST(JusLabBreak, LastCharacterIsMeasuredButNotInterpreted) {
    ExpectUnstretched(BreakLines(U"ab\t", 60, Six).back(), U"ab\t");
    ExpectUnstretched(BreakLines(U"ab\r", 60, Six).back(), U"ab\r");
    // It still makes its line wider: "aaa bb" is 36 pixels in 30.
    const auto lines = BreakLines(U"aaa bb", 30, Six);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].LineText, U"aaa");
    EXPECT_EQ(lines[1].LineText, U"bb");
}

TEST(JusLabBreak, TabsAreLaidOutAsSingleSpaces) {
    const auto lines = BreakLines(U"aa\tbb\tcc dd", 60, Six);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].LineText, U"aa bb cc");
    EXPECT_EQ(lines[0].GapCount, 2);
    EXPECT_EQ(lines[0].ExtraPixels, 12);
    ExpectUnstretched(lines[1], U"dd");
}

TEST(JusLabBreak, OverlongWordIsCutAndContinuesWithNothingLostOrDoubled) {
    const std::u32string text = U"ab cdefghijklmnopqrstu vw";
    const auto lines = BreakLines(text, 60, Six);
    ASSERT_EQ(lines.size(), 4u);
    // Broken at a space but with no space inside: nothing to widen.
    EXPECT_EQ(lines[0].LineText, U"ab");
    EXPECT_EQ(lines[0].GapCount, 0);
    EXPECT_EQ(LineWidth(lines[0], 60), 12);
    ExpectUnstretched(lines[1], U"cdefghijkl");
    EXPECT_EQ(lines[2].LineText, U"mnopqrstu");
    ExpectUnstretched(lines[3], U"vw");
    // Only the two breaking spaces are gone.
    EXPECT_EQ(Joined(lines), U"abcdefghijklmnopqrstuvw");
}

TEST(JusLabBreak, DoubleSpacesAreBothGapsAndBothWidened) {
    const auto lines = BreakLines(U"aa  bb cc dd", 60, Six);
    ASSERT_EQ(lines.size(), 2u);
    const TLineObj& first = lines[0];
    EXPECT_EQ(first.LineText, U"aa  bb cc");
    EXPECT_EQ(first.GapCount, 3);
    EXPECT_EQ(first.ExtraPixels, 6);
    EXPECT_EQ(CharacterAdvances(first, Extents(first, 61)),
              (std::vector<int>{6, 6, 8, 8, 6, 6, 8, 6, 6}));
}

TEST(JusLabBreak, LabelNarrowerThanACharacterGivesShortLinesAndEnds) {
    for (int width : {5, 0, -10}) {
        const std::u32string text = U"abc de\r\nf";
        const auto lines = BreakLines(text, width, Six);
        std::u32string kept;
        for (const auto& line : lines) {
            EXPECT_LE(line.LineText.size(), 1u) << width;
            kept += line.LineText;
        }
        EXPECT_EQ(kept, U"abc def") << width;
    }
}

TEST(JusLabDraw, OnlyCharactersThatFitAreMeasured) {
    EXPECT_EQ(FittingExtents(U"abcd", 18, Six), (std::vector<int>{6, 12, 18}));
    EXPECT_EQ(FittingExtents(U"abcd", 23, Six), (std::vector<int>{6, 12, 18}));
    EXPECT_TRUE(FittingExtents(U"abcd", 5, Six).empty());
    EXPECT_TRUE(FittingExtents(U"", 50, Six).empty());
}

TEST(JusLabDraw, SpacesCountFromTheRightAndTheFirstCharacterIsNeverWidened) {
    // Spaces at 1 and 4; from the right the one at 4 is k = 0.
    const TLineObj leading(U" ab cd", 11, 2);
    EXPECT_EQ(CharacterAdvances(leading, Extents(leading, 100)),
              (std::vector<int>{6, 6, 6, 11, 6, 6}));
    // Cut to its first four characters the counting starts at the fourth:
    // the space at 2 gets k = 1's share, not the whole line's k = 2.
    const TLineObj cut(U"a b c d", 8, 3);
    EXPECT_EQ(CharacterAdvances(cut, Extents(cut, 24)), (std::vector<int>{6, 8, 6, 8}));
    EXPECT_TRUE(CharacterAdvances(cut, {}).empty());
}
