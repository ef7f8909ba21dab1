#include "platform/PlaySound.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "platform/HeldAudioSink.h"
#include "support/TestSupport.h"

// GLib's locks are futexes that ThreadSanitizer does not see, so every hand-
// over inside GLib and GStreamer looks like a race to it, and GStreamer's own
// lock order (decodebin against the state lock) looks like a deadlock; only
// reports with no frame in those libraries are ours. Weak, so that another
// test of this executable may bring its own list.
#if defined(__SANITIZE_THREAD__)
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgst\ndeadlock:libgst\n";
}
#endif

using namespace platform;
using testsupport::ScopedEnv;
using testsupport::TempDir;

namespace {

constexpr auto kGenerous = std::chrono::seconds(20);

void PutLE(std::string& out, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}
void PutBE(std::string& out, uint32_t value) {
    for (int i = 3; i >= 0; --i) out += static_cast<char>((value >> (8 * i)) & 0xFF);
}

// 16-bit mono PCM, a saw tone.
std::string Samples(double seconds, uint32_t rate, bool bigEndian) {
    std::string pcm;
    const uint32_t count = static_cast<uint32_t>(seconds * rate);
    for (uint32_t i = 0; i < count; ++i) {
        const uint16_t s = static_cast<uint16_t>((i * 700u) & 0x3FFF);
        pcm += static_cast<char>(bigEndian ? s >> 8 : s & 0xFF);
        pcm += static_cast<char>(bigEndian ? s & 0xFF : s >> 8);
    }
    return pcm;
}

// 16-bit PCM, or with tag 7 8-bit mu-law (a WAV that needs a decoder).
std::string Wav(double seconds, uint32_t rate = 22050, uint16_t tag = 1) {
    std::string data = Samples(seconds, rate, false);
    if (tag != 1) data.resize(data.size() / 2);  // any byte is a mu-law sample
    const uint32_t width = tag == 1 ? 2 : 1;
    std::string out = "RIFF";
    PutLE(out, 36 + static_cast<uint32_t>(data.size()), 4);
    out += "WAVEfmt ";
    PutLE(out, 16, 4);
    PutLE(out, tag, 2);
    PutLE(out, 1, 2);  // mono
    PutLE(out, rate, 4);
    PutLE(out, rate * width, 4);
    PutLE(out, width, 2);
    PutLE(out, width * 8, 2);
    out += "data";
    PutLE(out, static_cast<uint32_t>(data.size()), 4);
    return out + data;
}

// Sun audio: not a WAV, so it goes through the decoder path.
std::string Au(double seconds, uint32_t rate = 22050) {
    const std::string pcm = Samples(seconds, rate, true);
    std::string out = ".snd";
    PutBE(out, 24);
    PutBE(out, static_cast<uint32_t>(pcm.size()));
    PutBE(out, 3);  // 16-bit linear
    PutBE(out, rate);
    PutBE(out, 1);
    return out + pcm;
}

// Playback synchronised to the clock cannot run ahead of it: a counter above
// this bound means passes are being counted without being played.
unsigned MostPassesSince(std::chrono::steady_clock::time_point start, double seconds) {
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return static_cast<unsigned>(elapsed.count() / seconds) + 2;
}

bool WaitFor(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

class PlaySoundTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::WriteFile(shortWav, Wav(0.2));
        testsupport::WriteFile(longWav, Wav(60, 8000));
    }
    void TearDown() override { ShutdownSound(); }

    ScopedEnv sink{"OCULARA_AUDIO_SINK", "fakesink sync=true"};
    TempDir dir;
    const std::string shortWav = dir / "breve.wav";
    const std::string longWav = dir / "lungo.wav";
};

TEST_F(PlaySoundTest, AsyncReturnsWhilePlayingAndEndsByItself) {
    ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_NODEFAULT | SND_FILENAME));
    EXPECT_TRUE(SoundPlaying());
    EXPECT_TRUE(WaitFor([] { return !SoundPlaying(); }));
    EXPECT_EQ(SoundLoopsCompleted(), 0u);
}

TEST_F(PlaySoundTest, SyncReturnsWhenTheSoundHasEnded) {
    EXPECT_TRUE(PlaySound(shortWav.c_str(), SND_SYNC | SND_FILENAME));
    EXPECT_FALSE(SoundPlaying());
}

TEST_F(PlaySoundTest, LoopPlaysPastTheEndUntilStopped) {
    for (const char* stop : {static_cast<const char*>(nullptr), ""}) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_LOOP | SND_NODEFAULT));
        EXPECT_TRUE(WaitFor([] { return SoundLoopsCompleted() >= 3; }));
        EXPECT_TRUE(SoundPlaying());
        EXPECT_LE(SoundLoopsCompleted(), MostPassesSince(start, 0.2));
        EXPECT_TRUE(PlaySound(stop, 0));
        EXPECT_FALSE(SoundPlaying());
        EXPECT_EQ(SoundLoopsCompleted(), 0u);
    }
    EXPECT_TRUE(PlaySound(nullptr, 0));  // nothing to stop
}

TEST_F(PlaySoundTest, OtherFormatsPlayAndLoopThroughTheDecoder) {
    testsupport::WriteFile(dir / "breve.au", Au(0.2));
    testsupport::WriteFile(dir / "mulaw.wav", Wav(0.2, 8000, 7));
    for (const std::string& file : {dir / "breve.au", dir / "mulaw.wav"}) {
        SCOPED_TRACE(file);
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(PlaySound(file.c_str(), SND_ASYNC | SND_LOOP));
        EXPECT_TRUE(WaitFor([] { return SoundLoopsCompleted() >= 3; }));
        EXPECT_LE(SoundLoopsCompleted(), MostPassesSince(start, 0.2));
        EXPECT_TRUE(PlaySound(file.c_str(), SND_SYNC));
    }
}

TEST_F(PlaySoundTest, EmptySoundDoesNotLoop) {
    const std::string empty = dir / "silenzio.wav";
    testsupport::WriteFile(empty, Wav(0));
    ASSERT_TRUE(PlaySound(empty.c_str(), SND_ASYNC | SND_LOOP));
    EXPECT_TRUE(WaitFor([] { return !SoundPlaying(); }));
    EXPECT_EQ(SoundLoopsCompleted(), 0u);
}

TEST_F(PlaySoundTest, NextCallReplacesTheSoundPlaying) {
    ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_LOOP));
    ASSERT_TRUE(WaitFor([] { return SoundLoopsCompleted() >= 1; }));
    ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC));
    EXPECT_EQ(SoundLoopsCompleted(), 0u);
    // Only the loop could keep it going.
    EXPECT_TRUE(WaitFor([] { return !SoundPlaying(); }));
}

TEST_F(PlaySoundTest, SyncSoundStoppedFromAnotherThreadReturns) {
    auto sync = std::async(std::launch::async, [&] { return PlaySound(longWav.c_str(), SND_SYNC); });
    ASSERT_TRUE(WaitFor([] { return SoundPlaying(); }));
    EXPECT_TRUE(PlaySound(nullptr, 0));
    ASSERT_EQ(sync.wait_for(kGenerous), std::future_status::ready);
    EXPECT_TRUE(sync.get());
}

// A missing file or a folder is refused by the call itself; a file that
// turns out not to be a sound only once it is decoded, on the player's
// thread, ends by itself. Either way one line names it, and the sound that
// played before has stopped.
TEST_F(PlaySoundTest, UnplayableFilesFailWithOneLineAndStopTheSound) {
    std::string riffGarbage = Wav(0.2).substr(0, 12);
    for (int i = 0; i < 200; ++i) riffGarbage += static_cast<char>(i * 37);
    std::string garbage;
    for (int i = 0; i < 4000; ++i) garbage += static_cast<char>(i * 131 + 7);
    testsupport::WriteFile(dir / "rotto.wav", riffGarbage);
    testsupport::WriteFile(dir / "casuale.wav", garbage);
    testsupport::WriteFile(dir / "vuoto.wav", "");

    struct Bad {
        std::string file;
        bool refusedAtOnce;
    };
    for (const Bad& bad : {Bad{dir / "manca.wav", true}, Bad{dir.path(), true}, Bad{dir / "rotto.wav", false},
                           Bad{dir / "casuale.wav", false}, Bad{dir / "vuoto.wav", false}}) {
        SCOPED_TRACE(bad.file);
        ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_LOOP));
        ::testing::internal::CaptureStderr();
        EXPECT_EQ(PlaySound(bad.file.c_str(), SND_ASYNC | SND_LOOP | SND_NODEFAULT), !bad.refusedAtOnce);
        EXPECT_TRUE(WaitFor([] { return !SoundPlaying(); }));
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find(bad.file), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        EXPECT_EQ(SoundLoopsCompleted(), 0u);
        ::testing::internal::CaptureStderr();
        EXPECT_FALSE(PlaySound(bad.file.c_str(), SND_SYNC));
        ::testing::internal::GetCapturedStderr();
    }
}

// A sink that takes its time to start (a busy sound server): the call hands
// the sound over and returns, the sound counts as playing, and it plays once
// the sink is ready. A stop or a new sound meanwhile does not wait either.
TEST_F(PlaySoundTest, NoCallWaitsForASinkThatIsSlowToStart) {
    testsupport::HeldAudioSink held;
    ScopedEnv slowSink("OCULARA_AUDIO_SINK", "ocularaheldsink");
    ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_LOOP));
    EXPECT_TRUE(SoundPlaying());
    EXPECT_EQ(held.Rendered(), 0u);  // nothing has played: the call did not wait for it

    EXPECT_TRUE(PlaySound(nullptr, 0));  // stopped while still starting
    EXPECT_FALSE(SoundPlaying());
    ASSERT_TRUE(PlaySound(longWav.c_str(), SND_ASYNC));
    EXPECT_TRUE(SoundPlaying());
    EXPECT_EQ(held.Rendered(), 0u);

    ASSERT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC | SND_LOOP));  // replaces the held one
    held.Let();
    EXPECT_TRUE(WaitFor([] { return SoundLoopsCompleted() >= 2; }));
    EXPECT_GT(held.Rendered(), 0u);
    EXPECT_TRUE(SoundPlaying());
}

TEST_F(PlaySoundTest, BadSinkDescriptionFails) {
    ScopedEnv badSink("OCULARA_AUDIO_SINK", "nessunelemento");
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(PlaySound(shortWav.c_str(), SND_ASYNC));
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("nessunelemento"), std::string::npos);
    EXPECT_FALSE(SoundPlaying());
}

TEST_F(PlaySoundTest, RepeatedStartAndStop) {
    for (int i = 0; i < 30; ++i) {
        ASSERT_TRUE(PlaySound((i % 2 ? shortWav : longWav).c_str(), SND_ASYNC | (i % 3 ? SND_LOOP : 0)));
        ASSERT_TRUE(SoundPlaying());
        if (i % 4 == 0) {
            ASSERT_TRUE(PlaySound(nullptr, 0));
        }
    }
    ShutdownSound();
    EXPECT_FALSE(SoundPlaying());
    EXPECT_TRUE(PlaySound(shortWav.c_str(), SND_ASYNC));  // still usable
}

TEST_F(PlaySoundTest, CallsFromTwoThreadsAtOnce) {
    auto worker = [&](const std::string& file) {
        for (int i = 0; i < 15; ++i) {
            EXPECT_TRUE(PlaySound(file.c_str(), SND_ASYNC | SND_LOOP));
            SoundPlaying();
            SoundLoopsCompleted();
            if (i % 5 == 4) {
                EXPECT_TRUE(PlaySound(nullptr, 0));
            }
        }
    };
    std::thread a(worker, shortWav), b(worker, longWav);
    a.join();
    b.join();
    EXPECT_TRUE(PlaySound(nullptr, 0));
    EXPECT_FALSE(SoundPlaying());
}

}  // namespace

namespace {

// The process's exit tears the player down while a loop plays: no hang, no
// crash, exit code kept.
TEST(PlaySoundDeathTest, ExitWhileALoopPlays) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // GStreamer threads and fork do not mix
    EXPECT_EXIT(
        {
            {
                ScopedEnv sink("OCULARA_AUDIO_SINK", "fakesink sync=true");
                TempDir dir;
                testsupport::WriteFile(dir / "breve.wav", Wav(0.2));
                if (!PlaySound((dir / "breve.wav").c_str(), SND_ASYNC | SND_LOOP)) std::exit(2);
                if (!WaitFor([] { return SoundLoopsCompleted() >= 1; })) std::exit(3);
            }  // the open file plays on
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
