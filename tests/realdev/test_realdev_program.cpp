// The real program (offscreen, integration/ProgramRunner) on real devices:
// the camera "Videocamera reale di prova" of a private PipeWire and the
// microphone "Microfono reale di prova" of a private PulseAudio, chosen in
// the hive by name, with monitoring started by itself. No test devices.
//
// The event log (ProgramDir + "Oculara.log") is Windows-1252 text, one row a
// line: date and time ("d/m/yy hh:nn:ss") TAB type TAB description CRLF.
// Movement rows are typed "Un movimento sospetto" / "N movimenti sospetti",
// noise rows "Un rumore sospetto" / "N rumori sospetti", failures "Errore".

#include <gtest/gtest.h>

#include <iostream>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>
#include <sys/wait.h>

#include "integration/ProgramRunner.h"
#include "support/RealDevices.h"

using namespace std::chrono_literals;
using integration::ProgramRunner;
using testsupport::PrivatePipeWireCamera;
using testsupport::PrivatePulse;
using testsupport::ReadFile;
using Clock = std::chrono::steady_clock;

namespace {

struct Row {
    int second = -1;  // of the day, from the row's time
    std::string type;
    std::string description;
};

std::vector<Row> Rows(const std::string& log) {
    std::vector<Row> rows;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t t1 = line.find('\t');
        if (t1 == std::string::npos) continue;
        const size_t t2 = line.find('\t', t1 + 1);
        Row row;
        row.type = line.substr(t1 + 1, t2 == std::string::npos ? std::string::npos : t2 - t1 - 1);
        if (t2 != std::string::npos) row.description = line.substr(t2 + 1);
        int h = 0, m = 0, s = 0;
        const size_t blank = line.find(' ');
        if (blank != std::string::npos && blank < t1 &&
            std::sscanf(line.substr(blank + 1, t1 - blank - 1).c_str(), "%d:%d:%d", &h, &m, &s) == 3)
            row.second = h * 3600 + m * 60 + s;
        rows.push_back(row);
    }
    return rows;
}

// Figures worth reading in the test's output, e.g. how soon a loss is logged.
void Info(const std::string& text) { std::cout << "[   INFO   ] " << text << std::endl; }

double SecondsSince(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t).count();
}

// The "Informazione" row of a device that came back.
auto IsBack(const std::string& device) {
    return [device](const Row& r) {
        return r.type == "Informazione" && r.description.find(device) != std::string::npos;
    };
}

bool IsMovement(const Row& r) { return r.type.find("moviment") != std::string::npos; }
bool IsNoise(const Row& r) { return r.type.find("rumor") != std::string::npos; }
bool IsError(const Row& r) { return r.type == "Errore"; }

template <typename Pred>
size_t Count(const std::vector<Row>& rows, Pred pred) {
    size_t n = 0;
    for (const auto& r : rows) n += pred(r) ? 1 : 0;
    return n;
}

// Seconds of the day now, local time, as the log writes it.
int NowSecondOfDay() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

// `b` - `a` in seconds, across midnight too.
int SecondsBetween(int a, int b) { return ((b - a) % 86400 + 86400) % 86400; }

// The program on the two real devices, with monitoring started by itself
// and the alarm sound off (while it plays the noise detector is deaf).
class ProgramOnRealDevices : public ::testing::Test {
protected:
    // A missing program skips the test, a server that does not come up fails it.
    void SetUp() override {
        REALDEV_START(pulse.Start());
        REALDEV_START(camera.Start());
    }

    void StartProgram(const std::string& moreHive = "") {
        program = std::make_unique<ProgramRunner>(home.path());
        for (const auto& [k, v] : pulse.ClientEnv()) program->env[k] = v;
        for (const auto& [k, v] : camera.ClientEnv()) program->env[k] = v;
        program->env["OCULARA_TEST_DEVICES"] = "0";  // the device monitor's devices only
        std::filesystem::create_directories(std::filesystem::path(program->HivePath()).parent_path());
        testsupport::WriteFile(program->HivePath(),
                               std::string("Windows Registry Editor Version 5.00\n\n"
                                           "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
                                           "\"dispositivo_video\"=\"") +
                                   PrivatePipeWireCamera::Description +
                                   "\"\n"
                                   "\"dispositivo_audio\"=\"" +
                                   PrivatePulse::SourceDescription +
                                   "\"\n"
                                   "\"AvviaMonitoraggio\"=\"1\"\n"
                                   "\"Allarme_Sonoro\"=\"0\"\n"
                                   "\"AttesaPerCalibrazioneVideo\"=\"1\"\n"
                                   "\"AttesaPerCalibrazioneAudio\"=\"1\"\n" +
                                   moreHive);
        program->Start();
        programStarted = Clock::now();
    }

    std::vector<Row> LogRows() const { return Rows(ReadFile(program->LogPath())); }
    std::string Log() const { return ReadFile(program->LogPath()); }

    // The video detector needs the scene still for about 1 + 5 + 10 s
    // (warm-up, calibration, verification): a crossing before then sends it
    // back to calibrating. So the scene stays still for kStillSeconds after
    // the program's start, then crossings come every 8 s until the first
    // movement row: monitoring reached.
    static constexpr auto kStillSeconds = 26s;
    bool WaitForVideoMonitoring(std::chrono::seconds limit = 40s) {
        std::this_thread::sleep_until(programStarted + kStillSeconds);
        camera.Cross();
        camera.CrossEvery(8s);
        const bool ok = integration::WaitFor([&] { return Count(LogRows(), IsMovement) > 0; }, limit);
        camera.CrossEvery(0ms);
        return ok;
    }

    // The room stays quiet for `quiet` after the program's start, then a
    // one-second burst every 4 s until the first noise row. A burst heard
    // while the noise detector calibrates widens its band to the burst's
    // loudness, and from then on no burst is a noise: the detector needs
    // about 1 + 10.5 + 10 s with its half-second buffers (one measure per buffer).
    static constexpr auto kQuietSeconds = 28s;
    bool WaitForAudioMonitoring(std::chrono::seconds quiet, std::chrono::seconds limit = 24s) {
        std::this_thread::sleep_until(programStarted + quiet);
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            pulse.Burst(1s);
            if (integration::WaitFor([&] { return Count(LogRows(), IsNoise) > 0; }, 4s)) return true;
        }
        return false;
    }

    void TearDown() override {
        if (program) {
            EXPECT_TRUE(program->Stop(SIGTERM)) << "the program did not end on SIGTERM";
        }
    }

    testsupport::TempDir home;
    PrivatePulse pulse;
    PrivatePipeWireCamera camera;
    std::unique_ptr<ProgramRunner> program;
    Clock::time_point programStarted;
};

}  // namespace

TEST_F(ProgramOnRealDevices, ReachesMonitoringAndLogsMovementAndNoiseEvents) {
    StartProgram();
    // The microphone calibrates in about 1 + 10.5 + 10 s: from then on,
    // one-second bursts 4 s apart until the first noise row.
    std::this_thread::sleep_until(programStarted + kQuietSeconds);
    const int firstBurst = NowSecondOfDay();
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds, 20s)) << "no noise row for one-second bursts\n" << Log();
    // With the default settings (two noises within 2 s) every one-second bang is an event.
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(3s);
        const size_t noises = Count(LogRows(), IsNoise);
        pulse.Burst(1s);
        EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsNoise) > noises; }, 4s))
            << "bang " << i << " unheard\n" << Log();
    }

    // The camera needs about 1 + 5 + 10 s of a still scene; then each
    // crossing gives movement rows (for a few seconds: the detector compares
    // with frames up to 5 s old).
    std::this_thread::sleep_until(programStarted + kStillSeconds);
    const int firstCrossing = NowSecondOfDay();
    camera.Cross();
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) > 0; }, 12s)) << Log();
    std::this_thread::sleep_until(programStarted + kStillSeconds + 14s);
    const int secondCrossing = NowSecondOfDay();
    camera.Cross();
    EXPECT_TRUE(integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsMovement(r) && SecondsBetween(secondCrossing, r.second) < 15) return true;
            return false;
        },
        12s))
        << "no movement row for the second crossing\n"
        << Log();

    // Nothing before its cause: the still scene and the quiet room gave no event.
    for (const auto& r : LogRows()) {
        if (IsMovement(r)) {
            EXPECT_LT(SecondsBetween(firstCrossing, r.second), 60) << "movement before the crossing\n" << Log();
        }
        if (IsNoise(r)) {
            EXPECT_LT(SecondsBetween(firstBurst, r.second), 60) << "noise before the bursts\n" << Log();
        }
    }
    EXPECT_EQ(Count(LogRows(), IsError), 0u) << Log();
    EXPECT_TRUE(program->Running());
}

// Bursts of 100 ms, 300 ms and 1 s, six of each 3 s apart, each heard as a
// noise event (at least 17 of 18). The noise detector measures at most four
// buffers a second: with PulseAudio's 10 ms buffers most of a short burst
// would fall between two measurements; the capture layer's half-second
// buffers leave none unheard.
TEST_F(ProgramOnRealDevices, ShortBurstsEachGiveANoiseEvent) {
    StartProgram("\"NumMinRumoriPerAvviso\"=\"1\"\n\"Attiva_VideoSorveglianza\"=\"0\"\n");
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds)) << Log();
    std::this_thread::sleep_for(4s);  // the probe's own events are logged
    const size_t before = LogRows().size();

    // Burst i starts at second 3*i of the series; its events are the noise
    // rows logged from then until the next burst (plus the log's lag).
    std::vector<std::chrono::milliseconds> lengths;
    for (auto len : {100ms, 300ms, 1000ms})
        for (int k = 0; k < 6; ++k) lengths.push_back(len);
    std::vector<int> startSecond;
    const auto t0 = Clock::now();
    for (size_t i = 0; i < lengths.size(); ++i) {
        std::this_thread::sleep_until(t0 + std::chrono::seconds(3 * i));
        startSecond.push_back(NowSecondOfDay());
        pulse.Burst(lengths[i]);
    }
    std::this_thread::sleep_for(4s);
    const auto rows = LogRows();
    int heard = 0;
    std::string report;
    for (size_t i = 0; i < lengths.size(); ++i) {
        bool any = false;
        for (size_t r = before; r < rows.size(); ++r) {
            if (!IsNoise(rows[r])) continue;
            const int after = SecondsBetween(startSecond[i], rows[r].second);
            if (after <= 2) any = true;  // within the 3 s until the next burst
        }
        heard += any ? 1 : 0;
        report += std::to_string(lengths[i].count()) + " ms: " + (any ? "heard" : "MISSED") + "\n";
    }
    Info("bursts heard: " + std::to_string(heard) + " of 18\n" + report);
    EXPECT_GE(heard, 17) << report << Log();
}

// The sound server dies while both media are monitored: an "Errore" row
// naming the microphone within 15 s, and the camera goes on (movement rows
// after the loss).
TEST_F(ProgramOnRealDevices, KillingTheSoundServerGivesAnErrorRowWhileMovementGoesOn) {
    StartProgram();
    ASSERT_TRUE(WaitForVideoMonitoring()) << Log();
    pulse.Kill();
    const auto killed = Clock::now();
    const bool error = integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsError(r) && r.description.find(PrivatePulse::SourceDescription) != std::string::npos) return true;
            return false;
        },
        15s);
    EXPECT_TRUE(error) << Log();
    Info("sound server killed: error row after " + std::to_string(SecondsSince(killed)) + " s");
    const size_t before = Count(LogRows(), IsMovement);
    camera.CrossEvery(6s);
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) >= before + 2; }, 20s)) << Log();
    camera.CrossEvery(0ms);

    // The server comes back: the microphone is found again and calibrates afresh.
    REALDEV_START(pulse.Restart());
    const auto restarted = Clock::now();
    ASSERT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsBack(PrivatePulse::SourceDescription)) > 0; },
                                     15s))
        << Log();
    Info("sound server back: information row after " + std::to_string(SecondsSince(restarted)) + " s");
    const size_t noises = Count(LogRows(), IsNoise);
    std::this_thread::sleep_for(kQuietSeconds - 4s);
    bool heard = false;
    for (int i = 0; i < 5 && !heard; ++i) {
        pulse.Burst(1s);
        heard = integration::WaitFor([&] { return Count(LogRows(), IsNoise) > noises; }, 4s);
    }
    EXPECT_TRUE(heard) << Log();
    Info("sound server back: noise rows again " + std::to_string(SecondsSince(restarted)) + " s after its return");
    EXPECT_TRUE(program->Running());
}

// The chosen source goes away while the server lives on: the server moves
// the stream to what is left (the monitor of an output, which nobody chose).
// The program says so and listens to nothing until the source is back.
TEST_F(ProgramOnRealDevices, ASourceMovedAwayByTheServerIsReportedAndTheProgramWaitsForItsReturn) {
    StartProgram("\"Attiva_VideoSorveglianza\"=\"0\"\n");
    std::this_thread::sleep_for(6s);
    ASSERT_TRUE(pulse.UnloadVirtualSource());
    const auto moved = Clock::now();
    const auto isMoved = [](const Row& r) {
        return IsError(r) && r.description.find("Il server audio ha sostituito") != std::string::npos &&
               r.description.find(PrivatePulse::SourceDescription) != std::string::npos;
    };
    ASSERT_TRUE(integration::WaitFor([&] { return Count(LogRows(), isMoved) == 1; }, 15s)) << Log();
    Info("source moved away: error row after " + std::to_string(SecondsSince(moved)) + " s");
    ASSERT_TRUE(pulse.LoadVirtualSource());
    const auto loaded = Clock::now();
    ASSERT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsBack(PrivatePulse::SourceDescription)) > 0; },
                                     15s))
        << Log();
    Info("source back: information row after " + std::to_string(SecondsSince(loaded)) + " s");
    EXPECT_EQ(Count(LogRows(), isMoved), 1u) << Log();
    EXPECT_TRUE(program->Running());
}

// The camera's provider dies: an "Errore" row naming the camera within 15 s,
// and the microphone goes on (noise rows after the loss).
TEST_F(ProgramOnRealDevices, KillingTheCameraProviderGivesAnErrorRowWhileNoiseGoesOn) {
    StartProgram("\"NumMinRumoriPerAvviso\"=\"1\"\n");
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds)) << Log();
    camera.KillProvider();
    const auto killed = Clock::now();
    const bool error = integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsError(r) && r.description.find(PrivatePipeWireCamera::Description) != std::string::npos)
                    return true;
            return false;
        },
        15s);
    EXPECT_TRUE(error) << Log();
    Info("camera provider killed: error row after " + std::to_string(SecondsSince(killed)) + " s");
    std::this_thread::sleep_for(2s);
    const size_t before = Count(LogRows(), IsNoise);
    for (int i = 0; i < 3; ++i) {
        pulse.Burst(1s);
        std::this_thread::sleep_for(4s);
    }
    EXPECT_GE(Count(LogRows(), IsNoise), before + 2) << Log();
    EXPECT_TRUE(program->Running());
}

// The camera's provider comes back (a new PipeWire node of the same name):
// the program finds it again, calibrates again (crossings in the first
// seconds give nothing) and then reports movement again; lost once more,
// it is reported again and the program lives on.
TEST_F(ProgramOnRealDevices, RestartingTheCameraProviderGivesCalibrationAndMovementAgain) {
    StartProgram();
    ASSERT_TRUE(WaitForVideoMonitoring()) << Log();
    camera.KillProvider();
    ASSERT_TRUE(integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsError(r) && r.description.find(PrivatePipeWireCamera::Description) != std::string::npos)
                    return true;
            return false;
        },
        15s))
        << Log();
    std::this_thread::sleep_for(2s);
    const size_t before = Count(LogRows(), IsMovement);
    REALDEV_START(camera.RestartProvider());
    const auto restarted = Clock::now();
    ASSERT_TRUE(
        integration::WaitFor([&] { return Count(LogRows(), IsBack(PrivatePipeWireCamera::Description)) > 0; }, 15s))
        << Log();
    const auto back = Clock::now();
    Info("camera provider back: information row after " + std::to_string(SecondsSince(restarted)) + " s");
    // Calibration (about 1 + 5 + 10 s here, in a still room) must pass before movement counts.
    camera.Cross();
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(Count(LogRows(), IsMovement), before) << "movement reported while calibrating\n" << Log();
    std::this_thread::sleep_until(back + kStillSeconds);
    camera.CrossEvery(6s);
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) > before; }, 30s)) << Log();
    Info("camera provider back: movement rows again " + std::to_string(SecondsSince(restarted)) +
         " s after its return (crossings every 6 s from " + std::to_string(SecondsSince(restarted) - SecondsSince(back) +
         std::chrono::duration<double>(kStillSeconds).count()) + " s)");
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) >= before + 2; }, 30s)) << Log();
    camera.CrossEvery(0ms);
    // Lost a second time after its return: the program lives on.
    camera.KillProvider();
    std::this_thread::sleep_for(10s);
    EXPECT_TRUE(program->Running()) << Log();
    EXPECT_EQ(Count(LogRows(), IsError), 2u) << Log();
    EXPECT_TRUE(program->Running());
}
