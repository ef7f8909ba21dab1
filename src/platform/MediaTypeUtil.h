#pragma once
// Building and reading the media types of MediaType.h: the RGB and PCM types
// the capture layer offers, and the few fields callers compare.

#include <cstdint>
#include <optional>
#include <string>

#include "platform/MediaType.h"

namespace platform {

// Bytes in one row of a Windows DIB: rows are padded to 4 bytes.
uint32_t DibStride(int width, int bitCount);

// FOURCC as Windows writes it in biCompression ("MJPG" -> 'M' in the low byte).
constexpr uint32_t MakeFourCC(char a, char b, char c, char d) {
    return uint32_t(uint8_t(a)) | (uint32_t(uint8_t(b)) << 8) | (uint32_t(uint8_t(c)) << 16) |
           (uint32_t(uint8_t(d)) << 24);
}

// Bit count of an uncompressed RGB subtype: 24, 32, 16 (RGB555, RGB565); 0 otherwise.
int RgbBitCount(SubType subtype);

// Video, `subtype` (RGB24/RGB32/RGB555/RGB565), FORMAT_VideoInfo with an 88-byte
// VIDEOINFOHEADER: BI_RGB, biHeight +height (bottom-up), biSizeImage of the DIB.
// avgTimePerFrame in 100 ns units (0 when unknown).
MediaType MakeRgbVideoType(SubType subtype, int width, int height, int64_t avgTimePerFrame = 0);

// A device's own (compressed or YUV) type: VIDEOINFOHEADER with biCompression
// = fourcc and the given bit count.
MediaType MakeNativeVideoType(SubType subtype, uint32_t fourcc, int bitCount, int width, int height,
                              int64_t avgTimePerFrame = 0);

// Audio, PCM, FORMAT_WaveFormatEx with an 18-byte WAVEFORMATEX.
MediaType MakePcmAudioType(int samplesPerSec, int bitsPerSample, int channels);

// The fields of a video type that say what is delivered. Reads VIDEOINFOHEADER
// (88 bytes) and VIDEOINFOHEADER2 (112 bytes); nullopt for anything else.
struct VideoFormatInfo {
    SubType subtype = SubType::None;
    int width = 0;
    int height = 0;  // as stored: positive means bottom-up
    int bitCount = 0;
    uint32_t compression = BI_RGB;
    int64_t avgTimePerFrame = 0;
};
std::optional<VideoFormatInfo> ReadVideoFormat(const MediaType& mt);

// The WAVEFORMATEX of an audio type; nullopt when the block is missing or short.
std::optional<WAVEFORMATEX> ReadAudioFormat(const MediaType& mt);

// Same kind of stream: major type, subtype and the fields above (sizes, bits,
// rate, channels). Bytes that do not change what is delivered are ignored.
bool SameFormat(const MediaType& a, const MediaType& b);

// A short text for logs and test failures ("Video RGB24 352x288 24 bits").
std::string DescribeMediaType(const MediaType& mt);

}  // namespace platform
