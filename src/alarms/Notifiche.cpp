#include "alarms/Notifiche.h"

#include <algorithm>
#include <optional>

namespace alarms {
namespace {

std::optional<int32_t> ParseInRange(const std::string& text, int32_t low, int32_t high) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    int32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < low || value > high) return std::nullopt;
    return value;
}

}  // namespace

int32_t NotificaOgniFromTexts(const std::string& hours, const std::string& minutes) {
    const int32_t h = ParseInRange(hours, 0, 999).value_or(2);
    const int32_t m = ParseInRange(minutes, 0, 99).value_or(0);
    const int32_t total = h * 60 + m;
    return total < 1 ? 1 : total;
}

PeriodTexts NotificaOgniTexts(int32_t notificaOgni) {
    const int32_t n = notificaOgni < 1 ? 1 : notificaOgni;
    const int32_t hours = std::min<int32_t>(999, n / 60);
    const int32_t minutes = std::min<int32_t>(99, n - hours * 60);
    return {std::to_string(hours), std::to_string(minutes)};
}

bool NotificationKeyAccepted(char32_t ch) {
    return (ch >= U'0' && ch <= U'9') || ch == U'\b';
}

}  // namespace alarms
