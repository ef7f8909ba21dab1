#include "platform/DateTime.h"
#include "support/TestSupport.h"

#include <clocale>
#include <gtest/gtest.h>

using platform::DateTime;
using platform::FormatDateTime;

namespace {

const DateTime kMorning{2026, 12, 7, 5, 40, 3, 9};

TEST(FormatDateTime, PatternsOfTheProgram) {
    EXPECT_EQ(FormatDateTime("d/m/yy hh:nn:ss", kMorning), "7/12/26 05:40:03");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnn", kMorning), "202612070540");
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", kMorning), "20261207054003");
    EXPECT_EQ(FormatDateTime("hh:nn:ss", kMorning), "05:40:03");
    EXPECT_EQ(FormatDateTime("dd/mm/yyyy", kMorning), "07/12/2026");
    const DateTime late{2009, 3, 1, 23, 7, 59, 250};
    EXPECT_EQ(FormatDateTime("d/m/yy h:n:s.zzz", late), "1/3/09 23:7:59.250");
    EXPECT_EQ(FormatDateTime("OCL-yyyymmddhhnnss", late), "OCL-20090301230759");
}

TEST(FormatDateTime, QuotedTextIsCopied) {
    EXPECT_EQ(FormatDateTime("'alle' hh:nn \"del\" d/m", kMorning), "alle 05:40 del 7/12");
    EXPECT_EQ(FormatDateTime("yyyy 'mm dd", kMorning), "2026 mm dd");  // unterminated quote
}

TEST(FormatDateTime, SeparatorsIgnoreTheLocale) {
    testsupport::ScopedEnv all("LC_ALL", "de_DE.UTF-8");
    testsupport::ScopedEnv lang("LANG", "de_DE.UTF-8");
    std::setlocale(LC_ALL, "");
    const std::string text = FormatDateTime("d/m/yy hh:nn:ss", kMorning);
    std::setlocale(LC_ALL, "C");
    EXPECT_EQ(text, "7/12/26 05:40:03");
}

TEST(Now, TestClockPinsAndReleasesTheTime) {
    platform::SetNowForTests(kMorning);
    EXPECT_EQ(FormatDateTime("yyyymmddhhnnsszzz", platform::Now()), "20261207054003009");
    platform::ClearNowForTests();
    const DateTime now = platform::Now();
    EXPECT_GE(now.year, 2024);
    EXPECT_TRUE(now.month >= 1 && now.month <= 12 && now.day >= 1 && now.day <= 31);
    EXPECT_TRUE(now.millisecond >= 0 && now.millisecond <= 999);
}

}  // namespace
