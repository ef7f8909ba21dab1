// Where a program finds its files and keeps its log, told by a probe
// program copied into the layouts a user meets: installed under a prefix,
// and the build tree with everything side by side.

#include "support/SmtpRecorder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using testsupport::ReadFile;
using testsupport::ScopedEnv;
using testsupport::TempDir;

class ProgramDirTest : public ::testing::Test {
protected:
    // Copies the probe to `file` (a new folder tree), runs it, and returns its
    // "key=value" lines.
    std::map<std::string, std::string> RunAs(const std::string& file) {
        std::filesystem::create_directories(std::filesystem::path(file).parent_path());
        std::filesystem::copy_file(OCULARA_PROGRAM_DIR_PROBE, file);
        const std::string out = dir_ / "probe.out";
        const pid_t pid = testsupport::Spawn({file}, out);
        int status = -1;
        EXPECT_EQ(waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << ReadFile(out);
        std::map<std::string, std::string> values;
        std::istringstream in(ReadFile(out));
        for (std::string line; std::getline(in, line);)
            if (const size_t eq = line.find('='); eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
        return values;
    }
    std::string Entry() const { return ReadFile(dir_ / "config/autostart/Oculara.desktop"); }

    TempDir dir_;
    ScopedEnv programDir_{"OCULARA_PROGRAM_DIR", std::nullopt};
    ScopedEnv config_{"XDG_CONFIG_HOME", dir_ / "config"};
    ScopedEnv state_{"XDG_STATE_HOME", dir_ / "state"};
};

TEST_F(ProgramDirTest, AnInstalledProgramUsesItsDataFolderAndTheUsersOwnPlaces) {
    const std::string prefix = dir_ / "usr";
    std::filesystem::create_directories(prefix + "/share/oculara/Immagini");
    const auto v = RunAs(prefix + "/bin/oculara");
    EXPECT_EQ(v.at("ProgramDir"), prefix + "/share/oculara/");
    EXPECT_EQ(v.at("ProgramFile"), prefix + "/bin/oculara");
    EXPECT_EQ(v.at("Log"), dir_ / "state/Oculara/Oculara.log") << "never the data folder, even when writable";
    EXPECT_NE(Entry().find("\nExec=" + prefix + "/bin/oculara autorun\n"), std::string::npos) << Entry();
}

TEST_F(ProgramDirTest, AProgramWithItsFilesBesideItKeepsThemAndItsLogThere) {
    const std::string tree = dir_ / "build";
    std::filesystem::create_directories(tree + "/Immagini");
    std::filesystem::create_directories(dir_ / "share/oculara");  // a data folder beside does not count
    const auto v = RunAs(tree + "/Oculara");
    EXPECT_EQ(v.at("ProgramDir"), tree + "/");
    EXPECT_EQ(v.at("Log"), tree + "/Oculara.log");
    EXPECT_NE(Entry().find("\nExec=" + tree + "/Oculara autorun\n"), std::string::npos) << Entry();
}

}  // namespace
