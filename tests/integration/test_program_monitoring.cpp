// The real program on the test devices, offscreen: it starts monitoring by
// itself, calibrates, and every intruder of the test scene becomes a
// movement event and a noise event in the log file. Minutes of a quiet
// scene run in virtual time instead (tests/capture/test_scene_monitoring.cpp).

#include "ProgramRunner.h"

#include <gtest/gtest.h>
#include <csignal>
#include <filesystem>
#include <cstdio>
#include <sstream>
#include <vector>
#include <sys/wait.h>

using namespace std::chrono_literals;
using integration::ProgramRunner;
using testsupport::ReadFile;

namespace {

// A hive that starts monitoring by itself, with the alarm sound off (while
// it plays the noise detector is deaf), the rest at its defaults.
void WriteAutostartHive(const ProgramRunner& program) {
    std::filesystem::create_directories(std::filesystem::path(program.HivePath()).parent_path());
    testsupport::WriteFile(program.HivePath(),
                           "Windows Registry Editor Version 5.00\n\n"
                           "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n"
                           "\"AvviaMonitoraggio\"=\"1\"\n"
                           "\"Allarme_Sonoro\"=\"0\"\n");
}

// Seconds of the day of the log lines whose type ends in `kind`
// ("d/m/yy hh:nn:ss" TAB type TAB description).
std::vector<int> EventSeconds(const std::string& log, const std::string& kind) {
    std::vector<int> seconds;
    std::istringstream in(log);
    std::string line;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(kind + "\t", tab) == std::string::npos) continue;
        int h = 0, m = 0, s = 0;
        if (std::sscanf(line.substr(line.find(' ') + 1, 8).c_str(), "%d:%d:%d", &h, &m, &s) == 3)
            seconds.push_back(h * 3600 + m * 60 + s);
    }
    return seconds;
}

// Events of two intruders at least `gap` seconds apart.
bool TwoIntruders(const std::vector<int>& seconds, int gap) {
    return !seconds.empty() && (seconds.back() - seconds.front() + 86400) % 86400 >= gap;  // past midnight too
}

}  // namespace

TEST(ProgramMonitoring, EveryIntruderGivesAMovementAndANoiseEvent) {
    testsupport::TempDir home;
    ProgramRunner program(home.path());
    program.env["OCULARA_TEST_INTRUDER_SECONDS"] = "30";
    WriteAutostartHive(program);
    program.Start();
    // Both detectors monitor about 25 s into the scene (half-second sound
    // buffers make the noise detector the later one); an intruder during
    // calibration would spoil it. Intruders come at 30 s, 60 s and 90 s.
    const bool two = integration::WaitFor(
        [&] {
            const std::string log = ReadFile(program.LogPath());
            return TwoIntruders(EventSeconds(log, "movimenti sospetti"), 20) &&
                   TwoIntruders(EventSeconds(log, "rumori sospetti"), 20);
        },
        110s);
    const std::string log = ReadFile(program.LogPath());
    EXPECT_TRUE(two) << log;
    EXPECT_NE(log.find("Eventi classificati con alta pericolosit\xE0: attivazione allarmi in corso ..."),
              std::string::npos);
    EXPECT_NE(log.find("\r\n"), std::string::npos);
    ASSERT_TRUE(program.Stop(SIGTERM));
    EXPECT_TRUE(WIFEXITED(program.ExitStatus()) && WEXITSTATUS(program.ExitStatus()) == 0);
}
