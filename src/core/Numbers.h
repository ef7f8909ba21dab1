#pragma once
// Numbers typed by the user or stored as text.

#include <cstdint>
#include <optional>
#include <string>

// Optional blanks around an optional sign and decimal digits, within 32
// bits; anything else is not a number.
std::optional<int32_t> ParseInt(const std::string& text);

// ParseInt, or `fallback` when the text is not a number (empty included).
inline int32_t IntegerOr(const std::string& text, int32_t fallback) { return ParseInt(text).value_or(fallback); }
