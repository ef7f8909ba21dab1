#include "alarms/Notifiche.h"

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
