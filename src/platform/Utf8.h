#pragma once
// UTF-8, the program's own text encoding, read and written in one place.

#include <cstddef>
#include <string>

namespace platform {

// The length of the well-formed sequence at text[pos], with its code point
// in `cp`; 0 when the bytes there are not one (bad lead, missing or stray
// continuation, overlong form, surrogate, beyond U+10FFFF, cut off).
size_t DecodeUtf8(const std::string& text, size_t pos, char32_t& cp);
void AppendUtf8(std::string& out, char32_t cp);
bool IsWellFormedUtf8(const std::string& text);

}  // namespace platform
