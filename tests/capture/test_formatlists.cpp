#include "capture/FormatLists.h"

#include <gtest/gtest.h>

using namespace capture;
using platform::FormatType;
using platform::MediaType;
using platform::SubType;

namespace {

MediaType Video(SubType sub, int w, int h, int bits, bool info2 = false, uint32_t compression = platform::BI_RGB) {
    MediaType t;
    t.majortype = platform::MajorType::Video;
    t.subtype = sub;
    platform::BITMAPINFOHEADER bmi;
    bmi.biWidth = w;
    bmi.biHeight = h;
    bmi.biBitCount = static_cast<uint16_t>(bits);
    bmi.biCompression = compression;
    if (info2) {
        platform::VIDEOINFOHEADER2 v;
        v.bmiHeader = bmi;
        t.SetFormat(FormatType::VideoInfo2, v);
    } else {
        platform::VIDEOINFOHEADER v;
        v.bmiHeader = bmi;
        t.SetFormat(FormatType::VideoInfo, v);
    }
    return t;
}

MediaType Audio(int rate, int bits, int channels, uint16_t tag = platform::WAVE_FORMAT_PCM) {
    MediaType t;
    t.majortype = platform::MajorType::Audio;
    t.subtype = SubType::PCM;
    platform::WAVEFORMATEX w;
    w.wFormatTag = tag;
    w.nSamplesPerSec = static_cast<uint32_t>(rate);
    w.wBitsPerSample = static_cast<uint16_t>(bits);
    w.nChannels = static_cast<uint16_t>(channels);
    t.SetFormat(FormatType::WaveFormatEx, w);
    return t;
}

std::vector<std::string> Names(const FormatList& l) {
    std::vector<std::string> n;
    for (const auto& e : l.entries) n.push_back(e.name);
    return n;
}

}  // namespace

TEST(VideoFormatList, PrefersThe352Wide24BitEntry) {
    const FormatList l = BuildVideoFormatList(
        {Video(SubType::RGB24, 160, 120, 24), Video(SubType::RGB24, 320, 240, 24), Video(SubType::RGB24, 352, 288, 24)});
    EXPECT_EQ(Names(l), (std::vector<std::string>{"RGB 160x120, 24 bits", "RGB 320x240, 24 bits", "RGB 352x288, 24 bits"}));
    EXPECT_EQ(l.selected, 2);
}

TEST(VideoFormatList, ElseTheFirst24BitEntry) {
    const FormatList l = BuildVideoFormatList({Video(SubType::RGB555, 320, 240, 16), Video(SubType::RGB24, 640, 480, 24)});
    ASSERT_EQ(l.entries.size(), 2u);
    EXPECT_EQ(l.entries[0].name, "RGB 320x240, 16 bits");
    EXPECT_EQ(l.selected, 1);
    EXPECT_EQ(l.entries[1].index, 1);  // position in the enumeration, not in the list
}

TEST(VideoFormatList, CompressedAndOddTypesAreSkipped) {
    MediaType mjpg = Video(SubType::MJPG, 640, 480, 24);
    MediaType yuy2 = Video(SubType::YUY2, 640, 480, 16);
    MediaType rle = Video(SubType::RGB24, 640, 480, 24, false, 1);
    MediaType eight = Video(SubType::RGB24, 640, 480, 8);
    MediaType shortBlock = Video(SubType::RGB24, 640, 480, 24);
    shortBlock.pbFormat.resize(60);
    const FormatList l = BuildVideoFormatList(
        {mjpg, yuy2, rle, eight, shortBlock, Video(SubType::RGB32, 800, 600, 32, true)});
    ASSERT_EQ(l.entries.size(), 1u);
    EXPECT_EQ(l.entries[0].name, "RGB 800x600, 32 bits");
    EXPECT_EQ(l.entries[0].index, 5);
    EXPECT_EQ(l.selected, -1);  // no 24-bit entry: the caller selects the first
}

TEST(AudioFormatList, TextsAndFilter) {
    const FormatList l = BuildAudioFormatList({Audio(44100, 16, 2), Audio(22050, 8, 1), Audio(48000, 16, 4),
                                               Audio(44100, 24, 2), Audio(44100, 16, 2, 3)});
    EXPECT_EQ(Names(l), (std::vector<std::string>{"PCM 44100 Hertz, 16 Bits, Stereo", "PCM 22050 Hertz, 8 Bits, Mono",
                                                  "PCM 48000 Hertz, 16 Bits, Stereo"}));
}

TEST(StoredChoice, KnownTextIsSelectedUnknownTextIsKept) {
    FormatList l = BuildVideoFormatList({Video(SubType::RGB24, 320, 240, 24), Video(SubType::RGB24, 352, 288, 24)});
    std::string stored = "RGB 320x240, 24 bits";
    ApplyStoredChoice(l, stored);
    EXPECT_EQ(l.selected, 0);

    l = BuildVideoFormatList({Video(SubType::RGB24, 320, 240, 24), Video(SubType::RGB24, 352, 288, 24)});
    stored = "RGB 1920x1080, 24 bits";
    ApplyStoredChoice(l, stored);
    EXPECT_EQ(l.selected, 1);
    EXPECT_EQ(stored, "RGB 1920x1080, 24 bits");

    FormatList audio = BuildAudioFormatList({Audio(22050, 8, 1), Audio(44100, 16, 2)});
    std::string empty;
    ApplyStoredChoice(audio, empty);
    EXPECT_EQ(audio.selected, 0);
    EXPECT_EQ(empty, "PCM 22050 Hertz, 8 Bits, Mono");

    FormatList none;
    std::string nothing;
    ApplyStoredChoice(none, nothing);
    EXPECT_EQ(none.selected, -1);
    EXPECT_TRUE(nothing.empty());
}

TEST(StoredChoice, InputLinesFallBackToTheEnabledLine) {
    const std::vector<std::string> lines{"Microfono", "Ingresso linea"};
    std::string stored;
    EXPECT_EQ(ChooseEntry(lines, stored, 1), 1);
    EXPECT_EQ(stored, "Ingresso linea");
    stored = "Microfono";
    EXPECT_EQ(ChooseEntry(lines, stored, 1), 0);
    stored = "CD";
    EXPECT_EQ(ChooseEntry(lines, stored, -1), 0);
    EXPECT_EQ(stored, "CD");
    std::string none;
    EXPECT_EQ(ChooseEntry({}, none, 0), -1);
}
