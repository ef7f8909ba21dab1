#include "alarms/Notifiche.h"
#include "core/TimerInterval.h"

#include <gtest/gtest.h>

TEST(NotificaOgniFromTexts, HoursAndMinutesWithTheirFallbacks) {
    EXPECT_EQ(alarms::NotificaOgniFromTexts("1", "30"), 90);
    EXPECT_EQ(alarms::NotificaOgniFromTexts("0", "0"), 1);     // at least one minute
    EXPECT_EQ(alarms::NotificaOgniFromTexts("", "30"), 150);   // hours not a number: 2
    EXPECT_EQ(alarms::NotificaOgniFromTexts("1", "90"), 150);  // minutes up to 99 count as typed
    EXPECT_EQ(alarms::NotificaOgniFromTexts("999", "99"), 999 * 60 + 99);
    EXPECT_EQ(alarms::NotificaOgniFromTexts("1000", "5"), 125);  // out of range: 2 hours
    EXPECT_EQ(alarms::NotificaOgniFromTexts("3", "100"), 180);   // out of range: 0 minutes
    EXPECT_EQ(alarms::NotificaOgniFromTexts("x", "y"), 120);
}

TEST(NotificationKeyAccepted, OnlyDigitsAndBackspace) {
    for (char32_t c = U'0'; c <= U'9'; ++c) EXPECT_TRUE(alarms::NotificationKeyAccepted(c));
    EXPECT_TRUE(alarms::NotificationKeyAccepted(U'\b'));
    for (char32_t c : {U'a', U'-', U' ', U'+', U'\u0660'}) EXPECT_FALSE(alarms::NotificationKeyAccepted(c));
}

TEST(NotificaOgniTexts, EveryPeriodTheBoxesHoldComesBackUnchanged) {
    for (int32_t n : {1, 59, 60, 90, 5999, 59999, 60000, 60039}) {
        const auto t = alarms::NotificaOgniTexts(n);
        EXPECT_LE(t.hours.size(), 3u) << n;  // what the boxes let through
        EXPECT_LE(t.minutes.size(), 2u) << n;
        EXPECT_EQ(alarms::NotificaOgniFromTexts(t.hours, t.minutes), n) << t.hours << " h " << t.minutes << " min";
    }
    EXPECT_EQ(alarms::NotificaOgniTexts(60039).hours, "999");
    EXPECT_EQ(alarms::NotificaOgniTexts(60039).minutes, "99");
    // Beyond the boxes: the longest period they hold; below a minute, the minute it becomes.
    EXPECT_EQ(alarms::NotificaOgniFromTexts(alarms::NotificaOgniTexts(2000000).hours,
                                            alarms::NotificaOgniTexts(2000000).minutes),
              60039);
    EXPECT_EQ(alarms::NotificaOgniTexts(-5).minutes, "1");
}

TEST(TimerIntervalMs, LongCountsGiveTheLongestIntervalNeverANegativeOne) {
    EXPECT_EQ(TimerIntervalMs(90, 60000), 5400000);
    EXPECT_EQ(TimerIntervalMs(35792, 60000), INT32_MAX);      // 2,147,520,000 ms: past 32 bits
    EXPECT_EQ(TimerIntervalMs(60039, 60000), INT32_MAX);
    EXPECT_EQ(TimerIntervalMs(2147484, 1000), INT32_MAX);
    EXPECT_EQ(TimerIntervalMs(INT32_MAX, 60000), INT32_MAX);
    EXPECT_EQ(TimerIntervalMs(-3, 1000), 0);
}
