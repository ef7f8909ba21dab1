#pragma once
#include <cstdint>
#include <string>

namespace alarms {

// NotificaOgni from the hours and minutes boxes: hours 0..999 (else 2),
// minutes 0..99 (else 0), at least 1 minute.
int32_t NotificaOgniFromTexts(const std::string& hours, const std::string& minutes);
// The key filter of the two boxes: only digits and backspace get through.
bool NotificationKeyAccepted(char32_t ch);

}  // namespace alarms
