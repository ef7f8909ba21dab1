// The real program on the test devices with the local alarm actions on:
// an intruder sounds the alarm, takes a photo, records an AVI and runs a
// program; detection goes on after the recording.

#include "ProgramRunner.h"
#include "alarms/FileModes.h"
#include "platform/TestDevices.h"

#include <gtest/gtest.h>
#include <jpeglib.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

using namespace std::chrono_literals;
using integration::ProgramRunner;
using testsupport::ReadFile;

namespace {

void WriteHive(const ProgramRunner& program, const std::string& values) {
    std::filesystem::create_directories(std::filesystem::path(program.HivePath()).parent_path());
    testsupport::WriteFile(program.HivePath(), "Windows Registry Editor Version 5.00\n\n"
                                               "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
                                               "\"AvviaMonitoraggio\"=\"1\"\n" + values);
}

// The text after `prefix` on the first log line that holds it ("" if none).
std::string AfterPrefix(const std::string& log, const std::string& prefix) {
    const size_t at = log.find(prefix);
    if (at == std::string::npos) return "";
    const size_t start = at + prefix.size();
    return log.substr(start, log.find('\r', start) - start);
}

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;  // top row first
};

Picture DecodeJpeg(const std::string& bytes) {
    Picture p;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    if (jpeg_read_header(&cinfo, TRUE) == JPEG_HEADER_OK) {
        cinfo.out_color_space = JCS_RGB;
        jpeg_start_decompress(&cinfo);
        p.width = static_cast<int>(cinfo.output_width);
        p.height = static_cast<int>(cinfo.output_height);
        p.rgb.resize(static_cast<size_t>(p.width) * p.height * 3);
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = p.rgb.data() + static_cast<size_t>(cinfo.output_scanline) * p.width * 3;
            jpeg_read_scanlines(&cinfo, &row, 1);
        }
        jpeg_finish_decompress(&cinfo);
    }
    jpeg_destroy_decompress(&cinfo);
    return p;
}

Picture DecodeBmp24(const std::string& bytes) {
    Picture p;
    if (bytes.size() < 54 || bytes.compare(0, 2, "BM") != 0) return p;
    int32_t w, h;
    uint16_t bits;
    uint32_t offset;
    std::memcpy(&offset, bytes.data() + 10, 4);
    std::memcpy(&w, bytes.data() + 18, 4);
    std::memcpy(&h, bytes.data() + 22, 4);
    std::memcpy(&bits, bytes.data() + 28, 2);
    if (bits != 24 || w <= 0 || h == 0) return p;
    const int rows = h < 0 ? -h : h;
    const size_t stride = (static_cast<size_t>(w) * 3 + 3) / 4 * 4;
    if (bytes.size() < offset + stride * rows) return p;
    p.width = w;
    p.height = rows;
    p.rgb.resize(static_cast<size_t>(w) * rows * 3);
    for (int y = 0; y < rows; ++y) {
        const int fileRow = h > 0 ? rows - 1 - y : y;  // bottom-up files start with the last row
        const auto* src = reinterpret_cast<const uint8_t*>(bytes.data()) + offset + stride * fileRow;
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) p.rgb[(static_cast<size_t>(y) * w + x) * 3 + c] = src[x * 3 + 2 - c];
    }
    return p;
}

// Mean difference of a photo from the quiet test scene, as is and upside down.
std::pair<double, double> DistanceFromScene(const Picture& photo) {
    platform::TestCameraScene scene(photo.width, photo.height, platform::TestSceneConfig{});
    std::vector<uint8_t> bgr(static_cast<size_t>(photo.width) * photo.height * 3);
    scene.Render(0, bgr.data(), photo.width * 3);
    double upright = 0, flipped = 0;
    for (int y = 0; y < photo.height; ++y)
        for (int x = 0; x < photo.width; ++x)
            for (int c = 0; c < 3; ++c) {
                const int p = photo.rgb[(static_cast<size_t>(y) * photo.width + x) * 3 + c];
                const int s = bgr[(static_cast<size_t>(y) * photo.width + x) * 3 + 2 - c];
                const int f = bgr[(static_cast<size_t>(photo.height - 1 - y) * photo.width + x) * 3 + 2 - c];
                upright += std::abs(p - s);
                flipped += std::abs(p - f);
            }
    const double n = static_cast<double>(photo.rgb.size());
    return {upright / n, flipped / n};
}

struct Media {
    bool ok = false;
    double seconds = 0;
    int width = 0, height = 0;
    bool audio = false;
};

uint32_t Le32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    if (at + 4 <= bytes.size()) std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

// The main header of an AVI file: frame time, frames, picture size; and
// whether it has a sound stream. What a player reads to know the length.
Media ReadAviHeader(const std::string& path) {
    Media m;
    const std::string bytes = ReadFile(path);
    if (bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "AVI ") != 0) return m;
    const size_t avih = bytes.find("avih");
    if (avih == std::string::npos) return m;
    const uint32_t usPerFrame = Le32(bytes, avih + 8), frames = Le32(bytes, avih + 24);
    m.width = static_cast<int>(Le32(bytes, avih + 40));
    m.height = static_cast<int>(Le32(bytes, avih + 44));
    m.seconds = usPerFrame * static_cast<double>(frames) / 1e6;
    m.audio = bytes.find("auds") != std::string::npos;
    m.ok = bytes.find("idx1") != std::string::npos;  // finished: the index is written at the end
    return m;
}

}  // namespace

TEST(ProgramAlarms, AnIntruderSetsOffEveryLocalAction) {
    testsupport::TempDir home;
    ProgramRunner program(home.path());
    program.env["OCULARA_TEST_INTRUDER_SECONDS"] = "25";
    const std::string fotoDir = home / "foto/", videoDir = home / "video/", marker = home / "eseguito";
    std::filesystem::create_directories(fotoDir);
    std::filesystem::create_directories(videoDir);
    const std::string script = home / "allarme.sh";
    testsupport::WriteFile(script, "#!/bin/sh\necho eseguito >> '" + marker + "'\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    WriteHive(program, "\"Allarme_Sonoro\"=\"1\"\n\"DuarataAllarmeSonoro\"=dword:00000002\n"
                       "\"Allarme_Foto\"=\"1\"\n\"Foto_Formato\"=dword:00000001\n\"Foto_Dir\"=\"" + fotoDir + "\"\n"
                       "\"Allarme_RegAvi\"=\"1\"\n\"RegAvi_RegistraAudio\"=\"1\"\n\"RegAvi_Dir\"=\"" + videoDir + "\"\n"
                       "\"RegAvi_DurataRegistrazione\"=dword:00000004\n"
                       "\"Allarme_File\"=\"1\"\n\"File_Nome\"=\"" + script + "\"\n");
    program.Start();

    const auto logged = [&](const char* text) { return ReadFile(program.LogPath()).find(text) != std::string::npos; };
    ASSERT_TRUE(integration::WaitFor([&] { return logged("Eseguito file "); }, 60s)) << ReadFile(program.LogPath());
    const std::string log = ReadFile(program.LogPath());
    EXPECT_NE(log.find("\tAllarme\tAttivato allarme sonoro\r\n"), std::string::npos);
    const std::string photo = AfterPrefix(log, "Scattata foto, nome file: ");
    const std::string avi = AfterPrefix(log, "Attivata registrazione Audio/Video, nome file: ");
    ASSERT_FALSE(photo.empty()) << log;
    ASSERT_FALSE(avi.empty()) << log;
    EXPECT_EQ(photo.rfind(fotoDir + "OCL-", 0), 0u);
    EXPECT_EQ(photo.substr(photo.size() - 4), ".jpg");
    EXPECT_EQ(AfterPrefix(log, "Eseguito file "), script);
    EXPECT_TRUE(integration::WaitFor([&] { return testsupport::PathExists(marker); }, 5s));

    const Picture picture = DecodeJpeg(ReadFile(photo));
    EXPECT_EQ(picture.width, 352);
    EXPECT_EQ(picture.height, 288);
    if (picture.width > 0) {
        const auto [upright, flipped] = DistanceFromScene(picture);
        EXPECT_LT(upright, flipped / 2) << "the photo is upside down";
    }

    // Detection comes back after the recording: once the first intruder's
    // events are over, the next intruder (at 50 s) is seen too.
    std::this_thread::sleep_for(15s);
    const size_t seen = ReadFile(program.LogPath()).size();
    EXPECT_TRUE(integration::WaitFor(
        [&] { return ReadFile(program.LogPath()).find("movimenti sospetti\t", seen) != std::string::npos; }, 30s));
    ASSERT_TRUE(program.Stop(SIGTERM));

    const Media media = ReadAviHeader(avi);
    ASSERT_TRUE(media.ok) << avi;
    EXPECT_EQ(media.width, 352);
    EXPECT_EQ(media.height, 288);
    EXPECT_TRUE(media.audio);
    EXPECT_NEAR(media.seconds, 4.0, 1.5);
}

// Run with no umask to hide behind: the photo and the log are the user's alone.
TEST(ProgramAlarms, ABitmapPhotoIsUprightAtTheCameraSize) {
    testsupport::ScopedUmask noMask(0);
    testsupport::TempDir home;
    ProgramRunner program(home.path());
    program.env["OCULARA_TEST_INTRUDER_SECONDS"] = "25";
    WriteHive(program, "\"Allarme_Sonoro\"=\"0\"\n\"Allarme_Foto\"=\"1\"\n\"Foto_Formato\"=dword:00000000\n"
                       "\"Foto_Dir\"=\"" + home.path() + "/\"\n\"risoluzione_video\"=\"RGB 320x240, 24 bits\"\n");
    program.Start();
    ASSERT_TRUE(integration::WaitFor(
        [&] { return ReadFile(program.LogPath()).find("Scattata foto") != std::string::npos; }, 60s));
    const std::string photo = AfterPrefix(ReadFile(program.LogPath()), "Scattata foto, nome file: ");
    ASSERT_TRUE(program.Stop(SIGTERM));
    EXPECT_EQ(photo.substr(photo.size() - 4), ".bmp");
    EXPECT_EQ(testsupport::PermissionsOf(photo), 0600);
    EXPECT_EQ(testsupport::PermissionsOf(program.LogPath()), 0600);
    const Picture picture = DecodeBmp24(ReadFile(photo));
    ASSERT_EQ(picture.width, 320);
    ASSERT_EQ(picture.height, 240);
    const auto [upright, flipped] = DistanceFromScene(picture);
    EXPECT_LT(upright, flipped / 2) << "the photo is upside down";
}

namespace {

// The program started inside it can write plain files up to `bytes` only,
// as on a disk that fills up; writes past it fail instead of killing it.
class ChildFileSizeLimit {
public:
    explicit ChildFileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~ChildFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    ChildFileSizeLimit(const ChildFileSizeLimit&) = delete;
    ChildFileSizeLimit& operator=(const ChildFileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

}  // namespace

TEST(ProgramAlarms, ARecordingThatCannotBeWrittenIsLoggedAsAnErrorAndWatchingGoesOn) {
    testsupport::TempDir home;
    ProgramRunner program(home.path());
    program.env["OCULARA_TEST_INTRUDER_SECONDS"] = "25";
    const std::string videoDir = home / "video/";
    std::filesystem::create_directories(videoDir);
    WriteHive(program, "\"Allarme_Sonoro\"=\"0\"\n\"Allarme_RegAvi\"=\"1\"\n\"RegAvi_RegistraAudio\"=\"1\"\n"
                       "\"RegAvi_Dir\"=\"" + videoDir + "\"\n\"RegAvi_DurataRegistrazione\"=dword:00000003\n");
    {
        // The settings and the log fit; not even a recording's first picture does.
        ChildFileSizeLimit full(100 * 1024);
        program.Start();
    }
    const std::string failed = "\tErrore\tImpossibile scrivere la registrazione: ";
    ASSERT_TRUE(integration::WaitFor([&] { return ReadFile(program.LogPath()).find(failed) != std::string::npos; },
                                     60s))
        << ReadFile(program.LogPath());
    const std::string log = ReadFile(program.LogPath());
    const std::string avi = AfterPrefix(log, "Attivata registrazione Audio/Video, nome file: ");
    ASSERT_FALSE(avi.empty()) << log;
    EXPECT_EQ(AfterPrefix(log, failed).rfind(avi + " (", 0), 0u) << log;

    // The recording's end puts the watch back: the next intruder is seen.
    const size_t seen = log.size();
    EXPECT_TRUE(integration::WaitFor(
        [&] { return ReadFile(program.LogPath()).find("movimenti sospetti\t", seen) != std::string::npos; }, 45s));
    ASSERT_TRUE(program.Stop(SIGTERM));
}
