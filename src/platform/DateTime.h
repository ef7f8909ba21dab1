#pragma once
// Local date-time values and their text forms in the patterns the program
// uses ("d/m/yy hh:nn:ss", "yyyymmddhhnn", "yyyymmddhhnnss", "hh:nn:ss",
// "dd/mm/yyyy"). "/" and ":" in a pattern always come out as themselves,
// whatever the locale.

#include <string>

namespace platform {

struct DateTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

DateTime Now();  // local time
// Tokens: yyyy yy m mm d dd h hh n nn s ss zzz; text in '...' or "..." is
// copied; every other character stands for itself.
std::string FormatDateTime(const std::string& pattern, const DateTime& t);

// Tests pin the clock; ClearNowForTests restores the real one.
void SetNowForTests(const DateTime& t);
void ClearNowForTests();

}  // namespace platform
