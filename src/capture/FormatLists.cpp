#include "capture/FormatLists.h"

namespace capture {

using platform::FormatType;
using platform::MajorType;
using platform::MediaType;
using platform::SubType;

namespace {

std::string Limit255(std::string s) {
    if (s.size() > 255) s.resize(255);
    return s;
}

std::optional<platform::BITMAPINFOHEADER> BitmapHeaderOf(const MediaType& type) {
    if (type.formattype == FormatType::VideoInfo) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER>()) return vih->bmiHeader;
    } else if (type.formattype == FormatType::VideoInfo2) {
        if (auto vih = type.FormatAs<platform::VIDEOINFOHEADER2>()) return vih->bmiHeader;
    }
    return std::nullopt;
}

}  // namespace

std::optional<VideoFormatFields> VideoFormatOf(const MediaType& type) {
    const auto bmi = BitmapHeaderOf(type);
    if (!bmi) return std::nullopt;
    return VideoFormatFields{bmi->biBitCount, bmi->biWidth, bmi->biHeight};
}

std::optional<platform::WAVEFORMATEX> AudioFormatOf(const MediaType& type) {
    if (type.formattype != FormatType::WaveFormatEx || type.cbFormat() < sizeof(platform::WAVEFORMATEX))
        return std::nullopt;
    platform::WAVEFORMATEX wfx;
    std::memcpy(&wfx, type.pbFormat.data(), sizeof wfx);
    return wfx;
}

bool VideoTypeListed(const MediaType& type) {
    if (type.subtype != SubType::RGB24 && type.subtype != SubType::RGB32 && type.subtype != SubType::RGB555)
        return false;
    const auto bmi = BitmapHeaderOf(type);
    if (!bmi || bmi->biCompression != platform::BI_RGB) return false;
    return bmi->biBitCount == 24 || bmi->biBitCount == 16 || bmi->biBitCount == 32;
}

bool AudioTypeListed(const MediaType& type) {
    if (type.subtype != SubType::PCM) return false;
    const auto wfx = AudioFormatOf(type);
    if (!wfx || wfx->wFormatTag != platform::WAVE_FORMAT_PCM) return false;
    return wfx->wBitsPerSample == 8 || wfx->wBitsPerSample == 16;
}

std::string VideoEntryText(const MediaType& type) {
    const auto f = VideoFormatOf(type).value_or(VideoFormatFields{});
    return Limit255("RGB " + std::to_string(f.width) + "x" + std::to_string(f.height) + ", " +
                    std::to_string(f.bitCount) + " bits");
}

std::string AudioEntryText(const MediaType& type) {
    const auto w = AudioFormatOf(type).value_or(platform::WAVEFORMATEX{});
    return Limit255("PCM " + std::to_string(w.nSamplesPerSec) + " Hertz, " + std::to_string(w.wBitsPerSample) +
                    " Bits, " + (w.nChannels == 1 ? "Mono" : "Stereo"));
}

FormatList BuildVideoFormatList(const std::vector<MediaType>& types) {
    FormatList list;
    for (size_t i = 0; i < types.size(); ++i) {
        if (!VideoTypeListed(types[i])) continue;
        list.entries.push_back({VideoEntryText(types[i]), static_cast<int32_t>(i)});
        const auto f = *VideoFormatOf(types[i]);
        if (f.bitCount == 24 && (list.selected < 0 || f.width == 352))
            list.selected = static_cast<int>(list.entries.size()) - 1;
    }
    return list;
}

FormatList BuildAudioFormatList(const std::vector<MediaType>& types) {
    FormatList list;
    for (size_t i = 0; i < types.size(); ++i)
        if (AudioTypeListed(types[i])) list.entries.push_back({AudioEntryText(types[i]), static_cast<int32_t>(i)});
    return list;
}

int IndexOf(const std::vector<FormatEntry>& entries, const std::string& name) {
    for (size_t i = 0; i < entries.size(); ++i)
        if (entries[i].name == name) return static_cast<int>(i);
    return -1;
}

void ApplyStoredChoice(FormatList& list, std::string& stored) {
    if (!stored.empty()) {
        const int at = IndexOf(list.entries, stored);
        if (at >= 0) list.selected = at;
    }
    if (!list.entries.empty() && list.selected < 0) list.selected = 0;
    if (stored.empty() && list.selected >= 0) stored = list.entries[list.selected].name;
}

int ChooseEntry(const std::vector<std::string>& names, std::string& stored, int fallback) {
    int selected = -1;
    for (size_t i = 0; i < names.size() && !stored.empty(); ++i)
        if (names[i] == stored) selected = static_cast<int>(i);
    if (!names.empty() && selected < 0)
        selected = fallback >= 0 && fallback < static_cast<int>(names.size()) ? fallback : 0;
    if (stored.empty() && selected >= 0) stored = names[selected];
    return selected;
}

}  // namespace capture
