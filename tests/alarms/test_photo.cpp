#include "alarms/Photo.h"
#include "alarms/Dispatcher.h"
#include "alarms/EventLog.h"
#include "alarms/FileModes.h"
#include "core/Globali.h"
#include "platform/RunWithoutRights.h"
#include "platform/UniqueFile.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <tuple>
#include <unistd.h>

#include <jpeglib.h>

using namespace platform;

namespace {

struct Rgb {
    int r, g, b;
};

// Top-left quadrant red, top-right green, bottom half blue: catches flips,
// mirrors and swapped channels at once.
Rgb Scene(int x, int y, int w, int h) {
    if (y >= h / 2) return {0, 0, 255};
    return x < w / 2 ? Rgb{255, 0, 0} : Rgb{0, 255, 0};
}

size_t Stride(int w, int bits) { return ((size_t(w) * bits + 31) / 32) * 4; }

MediaType FrameType(int w, int h, int bits, FormatType ft = FormatType::VideoInfo) {
    MediaType t;
    t.majortype = MajorType::Video;
    t.subtype = bits == 24 ? SubType::RGB24 : bits == 32 ? SubType::RGB32 : SubType::RGB555;
    VIDEOINFOHEADER2 v2;  // both layouts end with the bitmap header
    v2.bmiHeader.biWidth = w, v2.bmiHeader.biHeight = h, v2.bmiHeader.biBitCount = uint16_t(bits);
    VIDEOINFOHEADER v;
    v.bmiHeader = v2.bmiHeader;
    ft == FormatType::VideoInfo2 ? t.SetFormat(ft, v2) : t.SetFormat(ft, v);
    return t;
}

// The scene as a DIB; padding bytes hold 0xEE. Negative h: top-down rows.
std::vector<uint8_t> SceneFrame(int w, int h, int bits) {
    const int rows = std::abs(h);
    std::vector<uint8_t> f(Stride(w, bits) * rows, 0xEE);
    for (int y = 0; y < rows; ++y) {
        uint8_t* p = f.data() + size_t(h < 0 ? y : rows - 1 - y) * Stride(w, bits);
        for (int x = 0; x < w; ++x) {
            const Rgb c = Scene(x, y, w, rows);
            if (bits == 16) {
                const int v = (c.r >> 3) << 10 | (c.g >> 3) << 5 | c.b >> 3;
                *p++ = uint8_t(v), *p++ = uint8_t(v >> 8);
            } else {
                *p++ = uint8_t(c.b), *p++ = uint8_t(c.g), *p++ = uint8_t(c.r);
                if (bits == 32) *p++ = 0;
            }
        }
    }
    return f;
}

uint32_t Le(const std::vector<uint8_t>& b, size_t at, int n) {
    uint32_t v = 0;
    for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
    return v;
}

Rgb BmpPixel(const std::vector<uint8_t>& b, int x, int y) {
    const int w = int(Le(b, 18, 4)), h = int(Le(b, 22, 4)), bits = int(Le(b, 28, 2));
    const size_t at = Le(b, 10, 4) + size_t(h - 1 - y) * Stride(w, bits) + size_t(x) * bits / 8;
    if (bits != 16) return {b[at + 2], b[at + 1], b[at]};
    const uint32_t v = Le(b, at, 2);
    return {int(v >> 10 & 31) * 255 / 31, int(v >> 5 & 31) * 255 / 31, int(v & 31) * 255 / 31};
}

struct Decoded {
    bool ok = false;
    int width = 0, height = 0, components = 0;
    bool progressive = true;
    J_COLOR_SPACE space = JCS_UNKNOWN;
    std::vector<int> lumaQuant;  // first row, natural order
    std::vector<uint8_t> rgb;
};

struct JumpError {
    jpeg_error_mgr mgr;
    std::jmp_buf jump;
};

void Decode(const std::vector<uint8_t>& jpeg, Decoded& d) {
    jpeg_decompress_struct cinfo{};
    JumpError err{};
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<JumpError*>(c->err)->jump, 1); };
    if (setjmp(err.jump)) return jpeg_destroy_decompress(&cinfo);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg.data(), jpeg.size());
    jpeg_read_header(&cinfo, TRUE);
    d.space = cinfo.jpeg_color_space, d.progressive = cinfo.progressive_mode;
    for (int i = 0; i < 8; ++i) d.lumaQuant.push_back(cinfo.quant_tbl_ptrs[0]->quantval[i]);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    d.width = int(cinfo.output_width), d.height = int(cinfo.output_height), d.components = cinfo.num_components;
    d.rgb.resize(size_t(d.width) * d.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = d.rgb.data() + size_t(cinfo.output_scanline) * d.width * 3;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    d.ok = true;
}

// The first frame marker: C0 is baseline DCT.
int FrameMarker(const std::vector<uint8_t>& j) {
    for (size_t i = 2; i + 4 <= j.size() && j[i] == 0xFF; i += 2 + (j[i + 2] << 8 | j[i + 3]))
        if (j[i + 1] >= 0xC0 && j[i + 1] <= 0xCF && j[i + 1] != 0xC4 && j[i + 1] != 0xC8 && j[i + 1] != 0xCC)
            return j[i + 1];
    return -1;
}

class PhotoFormats : public ::testing::TestWithParam<std::tuple<int, int, bool>> {};

TEST_P(PhotoFormats, BitmapAndJpegAreUprightInTheFramesFormat) {
    const auto [bits, w, topDown] = GetParam();
    const int h = 48;
    const MediaType type = FrameType(w, topDown ? -h : h, bits);
    const std::vector<uint8_t> frame = SceneFrame(w, topDown ? -h : h, bits);

    std::vector<uint8_t> bmp;
    ASSERT_TRUE(alarms::EncodeBitmapFile(type, frame.data(), frame.size(), bmp));
    ASSERT_EQ(bmp.size(), 54 + Stride(w, bits) * h);
    // "BM", file size, offset of the pixels; info header size, width, height
    // (positive: bottom-up), planes, bits, BI_RGB, image size.
    const std::vector<uint32_t> headers{Le(bmp, 0, 2), Le(bmp, 2, 4),  Le(bmp, 10, 4), Le(bmp, 14, 4),
                                        Le(bmp, 18, 4), Le(bmp, 22, 4), Le(bmp, 26, 2), Le(bmp, 28, 2),
                                        Le(bmp, 30, 4), Le(bmp, 34, 4)};
    EXPECT_EQ(headers, (std::vector<uint32_t>{0x4D42, uint32_t(bmp.size()), 54, 40, uint32_t(w), uint32_t(h), 1,
                                              uint32_t(bits), BI_RGB, uint32_t(Stride(w, bits) * h)}));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Rgb got = BmpPixel(bmp, x, y), want = Scene(x, y, w, h);
            ASSERT_TRUE(got.r == want.r && got.g == want.g && got.b == want.b) << x << "," << y;
        }

    std::vector<uint8_t> jpeg;
    ASSERT_TRUE(alarms::EncodeJpeg(type, frame.data(), frame.size(), jpeg));
    Decoded d;
    Decode(jpeg, d);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.width, w);
    EXPECT_EQ(d.height, h);
    EXPECT_EQ(d.components, 3);
    EXPECT_EQ(d.space, JCS_YCbCr);
    EXPECT_FALSE(d.progressive);
    EXPECT_EQ(FrameMarker(jpeg), 0xC0);
    EXPECT_EQ(d.lumaQuant, (std::vector<int>{3, 2, 2, 3, 5, 8, 10, 12}));  // quality 90
    // Away from the region edges, where chroma subsampling blends colours.
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            if (std::abs(y - h / 2) < 16 || (y < h / 2 && std::abs(x - w / 2) < 16)) continue;
            const uint8_t* p = &d.rgb[(size_t(y) * w + x) * 3];
            const Rgb want = Scene(x, y, w, h);
            ASSERT_TRUE(std::abs(p[0] - want.r) < 40 && std::abs(p[1] - want.g) < 40 && std::abs(p[2] - want.b) < 40)
                << x << "," << y << ": " << int(p[0]) << " " << int(p[1]) << " " << int(p[2]);
        }
}

// Widths 61 and 62 leave row padding in every depth but 32 bits.
INSTANTIATE_TEST_SUITE_P(AllDepths, PhotoFormats,
                         ::testing::Combine(::testing::Values(24, 32, 16), ::testing::Values(64, 61, 62),
                                            ::testing::Bool()));

TEST(PhotoEncoders, RefuseShortFramesAndUnusableFormats) {
    for (int bits : {24, 32, 16}) {
        const MediaType type = FrameType(61, 47, bits);
        const std::vector<uint8_t> full = SceneFrame(61, 47, bits);
        for (size_t length : {full.size() - 1, full.size() - Stride(61, bits), size_t(0), full.size()}) {
            // Exactly `length` bytes on the heap, so that ASan sees any read past them.
            std::unique_ptr<uint8_t[]> exact(new uint8_t[length + (length == 0)]);
            std::memcpy(exact.get(), full.data(), length);
            std::vector<uint8_t> out{1};
            EXPECT_EQ(alarms::EncodeBitmapFile(type, exact.get(), length, out), length == full.size());
            EXPECT_EQ(out.empty(), length != full.size());
            EXPECT_EQ(alarms::EncodeJpeg(type, exact.get(), length, out), length == full.size()) << bits;
        }
    }
    const std::vector<uint8_t> frame = SceneFrame(64, 48, 24);
    std::vector<uint8_t> out;
    auto refused = [&](MediaType t) {
        return !alarms::EncodeBitmapFile(t, frame.data(), frame.size(), out) &&
               !alarms::EncodeJpeg(t, frame.data(), frame.size(), out);
    };
    MediaType t = FrameType(64, 48, 24);
    EXPECT_FALSE(refused(t));
    EXPECT_FALSE(refused(FrameType(64, 48, 24, FormatType::VideoInfo2)));
    for (SubType s : {SubType::RGB565, SubType::RGB32, SubType::MJPG, SubType::None}) {
        t.subtype = s;
        EXPECT_TRUE(refused(t));
    }
    EXPECT_TRUE(refused(FrameType(0, 48, 24)));
    EXPECT_TRUE(refused(FrameType(64, 0, 24)));
    EXPECT_TRUE(refused(FrameType(INT32_MAX, INT32_MIN, 24)));
    t = FrameType(64, 48, 24);
    t.pbFormat.pop_back();
    EXPECT_TRUE(refused(t));

    // Wider than JPEG allows: libjpeg's own error comes back as failure.
    const MediaType wide = FrameType(70000, 1, 24);
    const std::vector<uint8_t> line(Stride(70000, 24));
    EXPECT_FALSE(alarms::EncodeJpeg(wide, line.data(), line.size(), out));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(alarms::EncodeBitmapFile(wide, line.data(), line.size(), out));
}

TEST(TakePhoto, NamesTheFileByFormatAndReportsFailures) {
    testsupport::TempDir dir;
    const std::string folder = dir.path() + "/";
    const DateTime now{2026, 12, 7, 5, 40, 3};
    const MediaType type = FrameType(64, 48, 32);
    const std::vector<uint8_t> frame = SceneFrame(64, 48, 32);

    for (int formato : {1, 0, 2}) {
        const DateTime second{2026, 12, 7, 5, 40, 3 + formato};
        const auto r = alarms::TakePhoto(folder, formato, &frame, &type, second);
        const std::string ext = formato == 1 ? ".jpg" : ".bmp";
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.path, folder + "OCL-2026120705400" + std::to_string(3 + formato) + ext);
        EXPECT_EQ(testsupport::ReadFile(r.path).substr(0, 2), formato == 1 ? "\xFF\xD8" : "BM");
    }

    // No usable frame: failure before the extension is chosen.
    const std::vector<uint8_t> empty;
    const MediaType mjpg = [] { auto t = FrameType(64, 48, 24); t.subtype = SubType::MJPG; return t; }();
    for (auto [f, t] : {std::pair{(const std::vector<uint8_t>*)nullptr, &type}, {&empty, &type},
                        {&frame, (const MediaType*)nullptr}, {&frame, &mjpg}}) {
        const auto r = alarms::TakePhoto(folder, 1, f, t, {2026, 1, 2, 3, 4, 5});
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.path, folder + "OCL-20260102030405");
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 3);

    // A folder that cannot take the file: failure with the whole path.
    testsupport::WriteFile(dir / "plain", "x");
    for (const std::string& bad : {folder + "missing/", folder + "plain/"}) {
        const auto r = alarms::TakePhoto(bad, 1, &frame, &type, now);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.path, bad + "OCL-20261207054003.jpg");
    }
    std::filesystem::create_directory(dir / "ro");
    std::filesystem::permissions(dir / "ro", std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                                                 std::filesystem::perms::others_read |
                                                 std::filesystem::perms::others_exec);
    std::filesystem::permissions(dir.path(), std::filesystem::perms::others_exec, std::filesystem::perm_options::add);
    const auto refused = testsupport::RunWithoutRights(
        [&] { return !alarms::TakePhoto(dir / "ro/", 0, &frame, &type, now).ok; });
    ASSERT_TRUE(refused.has_value());
    EXPECT_TRUE(*refused);

    EXPECT_FALSE(alarms::WriteWholeFile("/dev/full", {1, 2, 3}));  // a full disk
}

// Photos of one second, as a busy intruder gives them with no minimum
// interval: each is kept beside the others, none replaced, each readable by
// the user alone.
TEST(TakePhoto, PhotosOfOneSecondAreAllKeptForTheUserAlone) {
    testsupport::ScopedUmask noMask(0);
    testsupport::TempDir dir;
    const std::string folder = dir.path() + "/";
    const DateTime now{2026, 12, 7, 5, 40, 3};
    const MediaType big = FrameType(64, 48, 24), small = FrameType(4, 4, 24);
    const std::vector<uint8_t> bigFrame = SceneFrame(64, 48, 24), smallFrame = SceneFrame(4, 4, 24);

    const auto first = alarms::TakePhoto(folder, 0, &bigFrame, &big, now);
    const auto second = alarms::TakePhoto(folder, 0, &smallFrame, &small, now);
    const auto third = alarms::TakePhoto(folder, 0, &smallFrame, &small, now);
    const auto jpeg = alarms::TakePhoto(folder, 1, &smallFrame, &small, now);
    ASSERT_TRUE(first.ok && second.ok && third.ok && jpeg.ok);
    EXPECT_EQ(first.path, folder + "OCL-20261207054003.bmp");
    EXPECT_EQ(second.path, folder + "OCL-20261207054003-2.bmp");
    EXPECT_EQ(third.path, folder + "OCL-20261207054003-3.bmp");
    EXPECT_EQ(jpeg.path, folder + "OCL-20261207054003.jpg");  // another name: its own count
    EXPECT_EQ(testsupport::ReadFile(first.path).size(), 54 + Stride(64, 24) * 48);
    EXPECT_EQ(testsupport::ReadFile(second.path).size(), 54 + 12 * 4u);
    for (const auto& r : {first, second, third, jpeg}) EXPECT_EQ(testsupport::PermissionsOf(r.path), 0600) << r.path;

    // A link planted under the next name is not followed, nor is its target touched.
    testsupport::WriteFile(dir / "bersaglio", "intatto");
    ASSERT_EQ(::symlink((dir / "bersaglio").c_str(), (dir / "OCL-20261207054003-4.bmp").c_str()), 0);
    const auto past = alarms::TakePhoto(folder, 0, &smallFrame, &small, now);
    EXPECT_TRUE(past.ok);
    EXPECT_EQ(past.path, folder + "OCL-20261207054003-5.bmp");
    EXPECT_EQ(testsupport::ReadFile(dir / "bersaglio"), "intatto");
}

// What the dispatcher logs for photos of one second names each file written.
TEST(TakePhoto, EveryPhotoOfOneSecondIsNamedInTheLog) {
    class Camera : public alarms::AlarmReactions {
    public:
        explicit Camera(std::string folder) : folder_(std::move(folder)) {}
        void StartSoundAlarm() override {}
        bool SmsWorkerBusy() override { return true; }
        void DisableSmsTimer() override {}
        void EnableSmsTimer() override {}
        bool MailWorkerBusy() override { return true; }
        void DisableMailTimer() override {}
        void EnableMailTimer() override {}
        bool VideoDetectorMonitoring() override { return true; }
        alarms::PhotoOutcome TakePhoto() override {
            const auto r = alarms::TakePhoto(folder_, 1, &frame_, &type_, platform::Now());
            return {r.ok, r.path};
        }
        bool RecordingActive() override { return true; }
        bool StartRecording() override { return false; }
        void ArmRecordingStop(int32_t) override {}
        std::string NomeFileAvi() override { return ""; }
        void RunAlarmFile() override {}

    private:
        std::string folder_;
        const MediaType type_ = FrameType(8, 8, 24);
        const std::vector<uint8_t> frame_ = SceneFrame(8, 8, 24);
    };

    testsupport::TempDir dir;
    const std::string savedDir = ProgramDir;
    ProgramDir = dir.path() + "/";
    platform::SetNowForTests({2026, 12, 7, 5, 40, 3});
    alarms::TheEventLog().ClearRows();
    TSettings s;
    s.Allarme_Sonoro = s.Allarme_File = false;
    s.Allarme_Foto = true;
    s.Foto_MaxUnoOgni = 0;
    Camera camera(dir.path() + "/");
    alarms::EventRecord event;
    event.TipoEvento = alarms::EventoMovimento;
    event.MovementCount = 3;
    alarms::GestisciEvento(s, event, {}, false, {}, camera);
    alarms::GestisciEvento(s, event, {}, false, {}, camera);

    std::vector<std::string> named;
    for (const auto& row : alarms::TheEventLog().Rows())
        if (row.icon == alarms::IconFoto) named.push_back(row.description);
    alarms::TheEventLog().ClearRows();
    platform::ClearNowForTests();
    ProgramDir = savedDir;
    const std::string stem = dir.path() + "/OCL-20261207054003";
    ASSERT_EQ(named.size(), 2u);
    EXPECT_EQ(named[0], "Scattata foto, nome file: " + stem + ".jpg");
    EXPECT_EQ(named[1], "Scattata foto, nome file: " + stem + "-2.jpg");
    EXPECT_EQ(testsupport::ReadFile(stem + ".jpg").substr(0, 2), "\xFF\xD8");
    EXPECT_EQ(testsupport::ReadFile(stem + "-2.jpg").substr(0, 2), "\xFF\xD8");
}

}  // namespace
