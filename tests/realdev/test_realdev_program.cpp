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
    // about 1 + 5 + 5 s with 10 ms buffers (measured every 250 ms), about
    // 1 + 10.5 + 10 s with 500 ms buffers (one measure per buffer).
    static constexpr auto kQuietSeconds10ms = 16s;
    static constexpr auto kQuietSeconds500ms = 28s;
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
    // The microphone calibrates in about 1 + 5 + 5 s (its buffers are 10 ms
    // today): from 16 s on, one-second bursts 4 s apart until the first noise row.
    std::this_thread::sleep_until(programStarted + kQuietSeconds10ms);
    const int firstBurst = NowSecondOfDay();
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds10ms, 20s)) << "no noise row for one-second bursts\n" << Log();

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
// falls between two measurements, so this waits for the capture layer's
// ~500 ms audio buffers (DESIGN.md, capture layer).
TEST_F(ProgramOnRealDevices, DISABLED_ShortBurstsEachGiveANoiseEvent) {  // needs 500 ms audio grouping
    StartProgram("\"NumMinRumoriPerAvviso\"=\"1\"\n\"Attiva_VideoSorveglianza\"=\"0\"\n");
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds500ms)) << Log();
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
    EXPECT_GE(heard, 17) << report << Log();
}

// The sound server dies while both media are monitored: an "Errore" row
// naming the microphone within 15 s, and the camera goes on (movement rows
// after the loss).
TEST_F(ProgramOnRealDevices, DISABLED_KillingTheSoundServerGivesAnErrorRowWhileMovementGoesOn) {  // needs device loss handling
    StartProgram();
    ASSERT_TRUE(WaitForVideoMonitoring()) << Log();
    pulse.Kill();
    const bool error = integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsError(r) && r.description.find(PrivatePulse::SourceDescription) != std::string::npos) return true;
            return false;
        },
        15s);
    EXPECT_TRUE(error) << Log();
    const size_t before = Count(LogRows(), IsMovement);
    camera.CrossEvery(6s);
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) >= before + 2; }, 20s)) << Log();
    EXPECT_TRUE(program->Running());
}

// The camera's provider dies: an "Errore" row naming the camera within 15 s,
// and the microphone goes on (noise rows after the loss).
TEST_F(ProgramOnRealDevices, DISABLED_KillingTheCameraProviderGivesAnErrorRowWhileNoiseGoesOn) {  // needs device loss handling
    StartProgram("\"NumMinRumoriPerAvviso\"=\"1\"\n");
    ASSERT_TRUE(WaitForAudioMonitoring(kQuietSeconds500ms)) << Log();
    camera.KillProvider();
    const bool error = integration::WaitFor(
        [&] {
            for (const auto& r : LogRows())
                if (IsError(r) && r.description.find(PrivatePipeWireCamera::Description) != std::string::npos)
                    return true;
            return false;
        },
        15s);
    EXPECT_TRUE(error) << Log();
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
// seconds give nothing) and then reports movement again.
TEST_F(ProgramOnRealDevices, DISABLED_RestartingTheCameraProviderGivesCalibrationAndMovementAgain) {  // needs device loss handling
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
    // Calibration (about 1 + 5 + 10 s here) must pass before movement counts.
    camera.Cross();
    std::this_thread::sleep_for(4s);
    EXPECT_EQ(Count(LogRows(), IsMovement), before) << "movement reported while calibrating\n" << Log();
    camera.CrossEvery(6s);
    EXPECT_TRUE(integration::WaitFor([&] { return Count(LogRows(), IsMovement) >= before + 2; }, 45s)) << Log();
    EXPECT_TRUE(program->Running());
}
