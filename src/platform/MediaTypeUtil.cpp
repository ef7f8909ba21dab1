#include "platform/MediaTypeUtil.h"

#include <cstdlib>

namespace platform {

uint32_t DibStride(int width, int bitCount) {
    if (width <= 0 || bitCount <= 0) return 0;
    return ((uint32_t(width) * uint32_t(bitCount) + 31) / 32) * 4;
}

int RgbBitCount(SubType subtype) {
    switch (subtype) {
    case SubType::RGB24: return 24;
    case SubType::RGB32: return 32;
    case SubType::RGB555:
    case SubType::RGB565: return 16;
    default: return 0;
    }
}

namespace {

VIDEOINFOHEADER VideoHeader(int width, int height, int bitCount, uint32_t compression, uint32_t sizeImage,
                            int64_t avgTimePerFrame) {
    VIDEOINFOHEADER vih;
    vih.AvgTimePerFrame = avgTimePerFrame;
    if (avgTimePerFrame > 0) {
        uint64_t bits = uint64_t(sizeImage) * 8u * 10000000u / uint64_t(avgTimePerFrame);
        vih.dwBitRate = bits > 0xffffffffu ? 0xffffffffu : uint32_t(bits);
    }
    vih.bmiHeader.biWidth = width;
    vih.bmiHeader.biHeight = height;
    vih.bmiHeader.biBitCount = uint16_t(bitCount);
    vih.bmiHeader.biCompression = compression;
    vih.bmiHeader.biSizeImage = sizeImage;
    return vih;
}

}  // namespace

MediaType MakeRgbVideoType(SubType subtype, int width, int height, int64_t avgTimePerFrame) {
    MediaType mt;
    mt.majortype = MajorType::Video;
    mt.subtype = subtype;
    int bits = RgbBitCount(subtype);
    uint32_t size = DibStride(width, bits) * uint32_t(height > 0 ? height : -height);
    mt.SetFormat(FormatType::VideoInfo, VideoHeader(width, height, bits, BI_RGB, size, avgTimePerFrame));
    return mt;
}

MediaType MakeNativeVideoType(SubType subtype, uint32_t fourcc, int bitCount, int width, int height,
                              int64_t avgTimePerFrame) {
    MediaType mt;
    mt.majortype = MajorType::Video;
    mt.subtype = subtype;
    uint32_t size = uint32_t(width) * uint32_t(height > 0 ? height : -height) * uint32_t(bitCount) / 8u;
    mt.SetFormat(FormatType::VideoInfo, VideoHeader(width, height, bitCount, fourcc, size, avgTimePerFrame));
    return mt;
}

MediaType MakePcmAudioType(int samplesPerSec, int bitsPerSample, int channels) {
    MediaType mt;
    mt.majortype = MajorType::Audio;
    mt.subtype = SubType::PCM;
    WAVEFORMATEX wfx;
    wfx.wFormatTag = WAVE_FORMAT_PCM;
    wfx.nChannels = uint16_t(channels);
    wfx.nSamplesPerSec = uint32_t(samplesPerSec);
    wfx.wBitsPerSample = uint16_t(bitsPerSample);
    wfx.nBlockAlign = uint16_t(channels * bitsPerSample / 8);
    wfx.nAvgBytesPerSec = wfx.nSamplesPerSec * wfx.nBlockAlign;
    wfx.cbSize = 0;
    mt.SetFormat(FormatType::WaveFormatEx, wfx);
    return mt;
}

std::optional<VideoFormatInfo> ReadVideoFormat(const MediaType& mt) {
    BITMAPINFOHEADER bmi;
    int64_t avg = 0;
    if (mt.formattype == FormatType::VideoInfo) {
        auto vih = mt.FormatAs<VIDEOINFOHEADER>();
        if (!vih) return std::nullopt;
        bmi = vih->bmiHeader;
        avg = vih->AvgTimePerFrame;
    } else if (mt.formattype == FormatType::VideoInfo2) {
        auto vih = mt.FormatAs<VIDEOINFOHEADER2>();
        if (!vih) return std::nullopt;
        bmi = vih->bmiHeader;
        avg = vih->AvgTimePerFrame;
    } else {
        return std::nullopt;
    }
    VideoFormatInfo info;
    info.subtype = mt.subtype;
    info.width = bmi.biWidth;
    info.height = bmi.biHeight;
    info.bitCount = bmi.biBitCount;
    info.compression = bmi.biCompression;
    info.avgTimePerFrame = avg;
    return info;
}

std::optional<WAVEFORMATEX> ReadAudioFormat(const MediaType& mt) {
    if (mt.formattype != FormatType::WaveFormatEx || mt.pbFormat.size() < sizeof(WAVEFORMATEX))
        return std::nullopt;
    WAVEFORMATEX wfx;
    std::memcpy(&wfx, mt.pbFormat.data(), sizeof wfx);
    return wfx;
}

bool SameFormat(const MediaType& a, const MediaType& b) {
    if (a.majortype != b.majortype || a.subtype != b.subtype) return false;
    if (a.majortype == MajorType::Video) {
        auto va = ReadVideoFormat(a), vb = ReadVideoFormat(b);
        if (!va || !vb) return !va && !vb;
        return va->width == vb->width && std::abs(va->height) == std::abs(vb->height) &&
               va->bitCount == vb->bitCount && va->compression == vb->compression;
    }
    if (a.majortype == MajorType::Audio) {
        auto wa = ReadAudioFormat(a), wb = ReadAudioFormat(b);
        if (!wa || !wb) return !wa && !wb;
        return wa->wFormatTag == wb->wFormatTag && wa->nChannels == wb->nChannels &&
               wa->nSamplesPerSec == wb->nSamplesPerSec && wa->wBitsPerSample == wb->wBitsPerSample;
    }
    return a.pbFormat == b.pbFormat;
}

namespace {

const char* SubTypeName(SubType s) {
    switch (s) {
    case SubType::None: return "none";
    case SubType::RGB24: return "RGB24";
    case SubType::RGB32: return "RGB32";
    case SubType::RGB555: return "RGB555";
    case SubType::RGB565: return "RGB565";
    case SubType::PCM: return "PCM";
    case SubType::MJPG: return "MJPG";
    case SubType::YUY2: return "YUY2";
    case SubType::I420: return "I420";
    case SubType::Other: return "other";
    }
    return "?";
}

}  // namespace

std::string DescribeMediaType(const MediaType& mt) {
    std::string text = mt.majortype == MajorType::Video   ? "Video "
                       : mt.majortype == MajorType::Audio ? "Audio "
                                                          : "Other ";
    text += SubTypeName(mt.subtype);
    if (auto v = ReadVideoFormat(mt)) {
        text += " " + std::to_string(v->width) + "x" + std::to_string(v->height) + " " +
                std::to_string(v->bitCount) + " bits";
    } else if (auto w = ReadAudioFormat(mt)) {
        text += " " + std::to_string(w->nSamplesPerSec) + " Hz " + std::to_string(w->wBitsPerSample) + " bits " +
                std::to_string(w->nChannels) + " ch";
    } else if (!mt.pbFormat.empty()) {
        text += " (" + std::to_string(mt.pbFormat.size()) + "-byte block)";
    }
    return text;
}

}  // namespace platform
