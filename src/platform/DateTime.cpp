#include "platform/DateTime.h"

#include <cstdio>
#include <ctime>
#include <mutex>
#include <optional>

namespace platform {
namespace {

std::mutex nowMutex;
std::optional<DateTime> pinnedNow;

void AppendNumber(std::string& out, int value, int width) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", width, value);
    out += buf;
}

size_t RunLength(const std::string& s, size_t pos, char c) {
    size_t n = 0;
    while (pos + n < s.size() && s[pos + n] == c) ++n;
    return n;
}

}  // namespace

DateTime Now() {
    {
        std::lock_guard<std::mutex> lock(nowMutex);
        if (pinnedNow) return *pinnedNow;
    }
    timespec ts;
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local;
    localtime_r(&ts.tv_sec, &local);
    DateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
    return t;
}

// Only integer formatting is used, so no locale can change a digit or a
// separator.
std::string FormatDateTime(const std::string& pattern, const DateTime& t) {
    std::string out;
    size_t i = 0;
    while (i < pattern.size()) {
        const char c = pattern[i];
        if (c == '\'' || c == '"') {
            size_t close = pattern.find(c, i + 1);
            if (close == std::string::npos) close = pattern.size();
            out.append(pattern, i + 1, close - i - 1);
            i = close + 1;
            continue;
        }
        const size_t run = RunLength(pattern, i, c);
        size_t used = 1;
        switch (c) {
            case 'y':
                if (run >= 4) {
                    AppendNumber(out, t.year, 4);
                    used = 4;
                } else if (run >= 2) {
                    AppendNumber(out, ((t.year % 100) + 100) % 100, 2);
                    used = 2;
                } else {
                    out += c;
                }
                break;
            case 'm':
            case 'd':
            case 'h':
            case 'n':
            case 's': {
                const int value = c == 'm' ? t.month : c == 'd' ? t.day : c == 'h' ? t.hour
                                : c == 'n' ? t.minute : t.second;
                used = run >= 2 ? 2 : 1;
                AppendNumber(out, value, static_cast<int>(used));
                break;
            }
            case 'z':
                if (run >= 3) {
                    AppendNumber(out, t.millisecond, 3);
                    used = 3;
                } else {
                    out += c;
                }
                break;
            default:
                out += c;
        }
        i += used;
    }
    return out;
}

void SetNowForTests(const DateTime& t) {
    std::lock_guard<std::mutex> lock(nowMutex);
    pinnedNow = t;
}

void ClearNowForTests() {
    std::lock_guard<std::mutex> lock(nowMutex);
    pinnedNow.reset();
}

}  // namespace platform
