#pragma once
// Pieces of the settings load that are worth testing on their own.

#include <cstdint>
#include <optional>
#include <string>

// Where the settings live below HKEY_CURRENT_USER.
inline constexpr const char* kSettingsKey = "\\Software\\Brevant";
inline constexpr const char* kSettingsSubKey = "OCL";

// "%08X" of the volume serial number, "00000000" when it could not be read.
std::string FormatIdentificativoPC(std::optional<uint32_t> serial);
