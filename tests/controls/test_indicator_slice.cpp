#include <gtest/gtest.h>

#include <cstdint>

#include "controls/IndicatorSlice.h"

using controls::IndicatorPair;
using controls::PictureSize;
using controls::PlanIndicatorPaint;
using controls::SliceWidth;

namespace {

const PictureSize Bg{203, 18};
const PictureSize Fg{199, 14};
const PictureSize None{};

controls::IndicatorPaint Plan(int32_t min, int32_t max, int32_t pos, PictureSize bg = Bg,
                              PictureSize fg = Fg, bool enabled = true) {
    return PlanIndicatorPaint(enabled, bg, fg, None, None, min, max, pos);
}

}  // namespace

TEST(IndicatorSlice, PosAtOrBelowMinShowsTheBackgroundOnly) {
    for (int32_t pos : {0, -1, -1000}) {
        const auto plan = Plan(0, 100, pos);
        EXPECT_EQ(plan.pair, IndicatorPair::Enabled) << pos;
        EXPECT_FALSE(plan.drawSlice) << pos;
    }
    EXPECT_FALSE(Plan(10, 100, 10).drawSlice);
    EXPECT_TRUE(Plan(10, 100, 11).drawSlice);
}

TEST(IndicatorSlice, PosAtMaxCopiesTheWholeForegroundCentred) {
    const auto plan = Plan(0, 100, 100);
    ASSERT_TRUE(plan.drawSlice);
    EXPECT_EQ(plan.sliceWidth, 199);
    EXPECT_EQ(plan.sliceHeight, 14);
    EXPECT_EQ(plan.dx, 2);
    EXPECT_EQ(plan.dy, 2);
}

TEST(IndicatorSlice, OffsetsTruncateAndGoNegativeForALargerForeground) {
    // Odd differences: 5 / 2 = 2, 3 / 2 = 1.
    auto plan = Plan(0, 10, 10, {105, 17}, {100, 14});
    EXPECT_EQ(plan.dx, 2);
    EXPECT_EQ(plan.dy, 1);
    // Truncation toward zero: -5 / 2 = -2, not -3.
    plan = Plan(0, 10, 10, {100, 10}, {105, 13});
    EXPECT_EQ(plan.dx, -2);
    EXPECT_EQ(plan.dy, -1);
    EXPECT_EQ(plan.sliceWidth, 105);
}

TEST(IndicatorSlice, SliceWidthRoundsHalvesToEven) {
    EXPECT_EQ(SliceWidth(100, 0, 200, 5), 2);  // 2.5
    EXPECT_EQ(SliceWidth(100, 0, 200, 7), 4);  // 3.5
    EXPECT_EQ(SliceWidth(100, 0, 200, 3), 2);  // 1.5
    EXPECT_EQ(SliceWidth(100, 0, 200, 9), 4);  // 4.5
    EXPECT_EQ(SliceWidth(100, 0, 400, 5), 1);  // 1.25
    EXPECT_EQ(SliceWidth(100, 0, 400, 7), 2);  // 1.75
    // The meter's case: 150.0023 pixels.
    EXPECT_EQ(SliceWidth(300, 0, 65535, 32768), 150);
    // With an offset range: 100 * (55 - 50) / (250 - 50) = 2.5.
    EXPECT_EQ(SliceWidth(100, 50, 250, 55), 2);
}

TEST(IndicatorSlice, ASliceRoundingToZeroDrawsNothingOfTheForeground) {
    const auto plan = Plan(0, 65535, 1, Bg, {300, 14});  // 0.0046 pixels
    EXPECT_EQ(plan.pair, IndicatorPair::Enabled);
    EXPECT_FALSE(plan.drawSlice);
}

TEST(IndicatorSlice, ExtremeRangesStayWithinThePicture) {
    // pos - min and max - min overflow 32 bits.
    EXPECT_EQ(SliceWidth(300, INT32_MIN, INT32_MAX, 0), 150);
    EXPECT_EQ(SliceWidth(300, INT32_MIN, INT32_MAX, INT32_MAX), 300);
    EXPECT_EQ(SliceWidth(300, -100, 100, 0), 150);
}

TEST(IndicatorSlice, PosAboveMaxIsLimitedToTheForegroundWidth) {
    EXPECT_EQ(SliceWidth(199, 0, 100, 101), 199);
    EXPECT_EQ(SliceWidth(199, 0, 100, INT32_MAX), 199);
    const auto plan = Plan(0, 65535, 70000);
    EXPECT_TRUE(plan.drawSlice);
    EXPECT_EQ(plan.sliceWidth, 199);
}

TEST(IndicatorSlice, MaxNotAboveMinShowsTheBackgroundAlone) {
    for (int32_t max : {50, 10, -5}) {
        const auto plan = Plan(50, max, 60);
        EXPECT_EQ(plan.pair, IndicatorPair::Enabled) << max;
        EXPECT_FALSE(plan.drawSlice) << max;
        EXPECT_EQ(SliceWidth(199, 50, max, 60), 0) << max;
    }
}

TEST(IndicatorSlice, AnEmptyForegroundShowsTheBackgroundAlone) {
    EXPECT_FALSE(Plan(0, 100, 50, Bg, None).drawSlice);
    EXPECT_FALSE(Plan(0, 100, 50, Bg, {199, 0}).drawSlice);
    EXPECT_FALSE(Plan(0, 100, 50, Bg, {0, 14}).drawSlice);
}

TEST(IndicatorSlice, PairFollowsTheEnabledStateAndNeverCrosses) {
    const PictureSize bgDis{203, 18}, fgDis{150, 10};
    // Enabled with every picture: the enabled pair.
    auto plan = PlanIndicatorPaint(true, Bg, Fg, bgDis, fgDis, 0, 100, 100);
    EXPECT_EQ(plan.pair, IndicatorPair::Enabled);
    EXPECT_EQ(plan.sliceWidth, 199);
    // Disabled: the disabled pair, its own foreground's size and offsets.
    plan = PlanIndicatorPaint(false, Bg, Fg, bgDis, fgDis, 0, 100, 100);
    EXPECT_EQ(plan.pair, IndicatorPair::Disabled);
    EXPECT_EQ(plan.sliceWidth, 150);
    EXPECT_EQ(plan.sliceHeight, 10);
    EXPECT_EQ(plan.dx, 26);
    EXPECT_EQ(plan.dy, 4);
    // Enabled with an empty enabled background draws nothing, even with a
    // foreground and a full disabled pair at hand.
    plan = PlanIndicatorPaint(true, None, Fg, bgDis, fgDis, 0, 100, 100);
    EXPECT_EQ(plan.pair, IndicatorPair::None);
    EXPECT_FALSE(plan.drawSlice);
    // Disabled without a disabled background: nothing, not the enabled pair.
    plan = PlanIndicatorPaint(false, Bg, Fg, None, fgDis, 0, 100, 100);
    EXPECT_EQ(plan.pair, IndicatorPair::None);
    EXPECT_FALSE(plan.drawSlice);
    // Disabled background without disabled foreground: background alone.
    plan = PlanIndicatorPaint(false, Bg, Fg, bgDis, None, 0, 100, 100);
    EXPECT_EQ(plan.pair, IndicatorPair::Disabled);
    EXPECT_FALSE(plan.drawSlice);
}
