#pragma once
// Windows-1252 text, as the log file and the SMS gateway expect it.

#include <string>

namespace platform {

// UTF-8 to Windows-1252; a character that has no Windows-1252 byte becomes
// "?", and so does every byte of malformed UTF-8.
std::string Utf8ToCp1252(const std::string& utf8);
std::string Cp1252ToUtf8(const std::string& cp1252);

}  // namespace platform
