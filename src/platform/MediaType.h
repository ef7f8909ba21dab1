#pragma once
// Media types as the capture code sees them: a major type, a subtype, a
// format type and a format block laid out as the classic Windows headers
// (VIDEOINFOHEADER 88 bytes, VIDEOINFOHEADER2 112 bytes, WAVEFORMATEX 18
// bytes), so that code written against those layouts reads them unchanged.

#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

namespace platform {

enum class MajorType : uint8_t { None, Video, Audio, Other };
enum class SubType : uint8_t { None, RGB24, RGB32, RGB555, RGB565, PCM, MJPG, YUY2, I420, Other };
enum class FormatType : uint8_t { None, VideoInfo, VideoInfo2, WaveFormatEx, Other };

struct RECT32 {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
};

inline constexpr uint32_t BI_RGB = 0;
inline constexpr uint16_t WAVE_FORMAT_PCM = 1;

struct BITMAPINFOHEADER {
    uint32_t biSize = 40;
    int32_t biWidth = 0;
    int32_t biHeight = 0;  // positive: bottom-up rows
    uint16_t biPlanes = 1;
    uint16_t biBitCount = 0;
    uint32_t biCompression = BI_RGB;
    uint32_t biSizeImage = 0;
    int32_t biXPelsPerMeter = 0;
    int32_t biYPelsPerMeter = 0;
    uint32_t biClrUsed = 0;
    uint32_t biClrImportant = 0;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct VIDEOINFOHEADER {
    RECT32 rcSource;
    RECT32 rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    int64_t AvgTimePerFrame = 0;  // 100 ns units
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER) == 88);

struct VIDEOINFOHEADER2 {
    RECT32 rcSource;
    RECT32 rcTarget;
    uint32_t dwBitRate = 0;
    uint32_t dwBitErrorRate = 0;
    int64_t AvgTimePerFrame = 0;
    uint32_t dwInterlaceFlags = 0;
    uint32_t dwCopyProtectFlags = 0;
    uint32_t dwPictAspectRatioX = 0;
    uint32_t dwPictAspectRatioY = 0;
    uint32_t dwControlFlags = 0;
    uint32_t dwReserved2 = 0;
    BITMAPINFOHEADER bmiHeader;
};
static_assert(sizeof(VIDEOINFOHEADER2) == 112);

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag = WAVE_FORMAT_PCM;
    uint16_t nChannels = 0;
    uint32_t nSamplesPerSec = 0;
    uint32_t nAvgBytesPerSec = 0;
    uint16_t nBlockAlign = 0;
    uint16_t wBitsPerSample = 0;
    uint16_t cbSize = 0;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

struct MediaType {
    MajorType majortype = MajorType::None;
    SubType subtype = SubType::None;
    FormatType formattype = FormatType::None;
    std::vector<uint8_t> pbFormat;  // the format block; cbFormat is its size

    size_t cbFormat() const { return pbFormat.size(); }

    // The block read as T when it is exactly sizeof(T) bytes long.
    template <typename T>
    std::optional<T> FormatAs() const {
        if (pbFormat.size() != sizeof(T)) return std::nullopt;
        T value;
        std::memcpy(&value, pbFormat.data(), sizeof(T));
        return value;
    }
    template <typename T>
    void SetFormat(FormatType type, const T& block) {
        formattype = type;
        pbFormat.resize(sizeof(T));
        std::memcpy(pbFormat.data(), &block, sizeof(T));
    }
};

}  // namespace platform
