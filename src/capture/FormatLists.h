#pragma once
// Which media types the device lists offer, the texts of their entries and
// the preselection rules of the main window's format lists.

#include "platform/MediaType.h"

#include <optional>
#include <string>
#include <vector>

namespace capture {

struct DeviceEntry {
    std::string name;  // friendly name, at most 255 characters
    int32_t index = 0;  // position in the category's enumeration
};

struct FormatEntry {
    std::string name;   // the text shown, at most 255 characters
    int32_t index = 0;  // position of its media type in the pin's enumeration
};

struct VideoFormatFields {
    int bitCount = 0;
    int width = 0;
    int height = 0;
};
// The uncompressed RGB bitmap header of a VideoInfo/VideoInfo2 block.
std::optional<VideoFormatFields> VideoFormatOf(const platform::MediaType& type);
std::optional<platform::WAVEFORMATEX> AudioFormatOf(const platform::MediaType& type);

// RGB24/RGB32/RGB555 with a BI_RGB header of 24, 16 or 32 bits.
bool VideoTypeListed(const platform::MediaType& type);
// PCM with a PCM WAVEFORMATEX of 8 or 16 bits.
bool AudioTypeListed(const platform::MediaType& type);

std::string VideoEntryText(const platform::MediaType& type);  // "RGB 352x288, 24 bits"
std::string AudioEntryText(const platform::MediaType& type);  // "PCM 44100 Hertz, 16 Bits, Stereo"

struct FormatList {
    std::vector<FormatEntry> entries;
    int selected = -1;  // -1: nothing selected
};

// The listed video types in enumeration order, with the preselection: the
// last 24-bit entry 352 wide, else the first 24-bit entry.
FormatList BuildVideoFormatList(const std::vector<platform::MediaType>& types);
FormatList BuildAudioFormatList(const std::vector<platform::MediaType>& types);

// The stored choice: selected when it is in the list, else the current
// selection, else the first entry. An empty stored text takes the selected
// entry's text; a stored text the list lacks is kept.
void ApplyStoredChoice(FormatList& list, std::string& stored);
// The same for a plain list of names (input lines), with a fallback index
// (the enabled line) used before the first entry.
int ChooseEntry(const std::vector<std::string>& names, std::string& stored, int fallback);

int IndexOf(const std::vector<FormatEntry>& entries, const std::string& name);

}  // namespace capture
