#pragma once
#include <cstdint>
#include <string>

namespace alarms {

// NotificaOgni from the hours and minutes boxes: hours 0..999 (else 2),
// minutes 0..99 (else 0), at least 1 minute.
int32_t NotificaOgniFromTexts(const std::string& hours, const std::string& minutes);

// The hours and minutes boxes for a stored period, so that every period the
// boxes can hold (up to 999 h 99 min) comes back unchanged through
// NotificaOgniFromTexts: hours = min(999, N div 60), minutes the rest (at
// most 99). A period below 1 minute shows as the 1 minute it becomes.
struct PeriodTexts {
    std::string hours, minutes;
};
PeriodTexts NotificaOgniTexts(int32_t notificaOgni);
// The key filter of the two boxes: only digits and backspace get through.
bool NotificationKeyAccepted(char32_t ch);

}  // namespace alarms
