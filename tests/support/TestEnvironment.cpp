// Linked into every test executable: before main, the tests get a home and
// config folders of their own below the build tree, so that no test ever
// reads or writes the user's real settings, and find the program's files.

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        const std::string home = std::string(OCULARA_BUILD_DIR) + "/test-home";
        setenv("HOME", home.c_str(), 1);
        // Settings and the log-on entry per process: ctest runs tests side
        // by side, and a hive saved by one must not be what another loads.
        // The caches under the home stay shared.
        own_ = home + "/p" + std::to_string(getpid());
        setenv("XDG_CONFIG_HOME", (own_ + "/.config").c_str(), 1);
        setenv("OCULARA_SYSCONFDIR", (own_ + "/etc").c_str(), 1);
        setenv("OCULARA_PROGRAM_DIR", OCULARA_BUILD_DIR, 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (!std::getenv("XDG_RUNTIME_DIR")) {
            const std::string run = home + "/run";
            mkdir(home.c_str(), 0700);
            mkdir(run.c_str(), 0700);  // Qt wants it private
            setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        }
    }
    ~TestEnvironment() {
        std::error_code ignored;
        std::filesystem::remove_all(own_, ignored);
    }
    std::string own_;
} const environment;

}  // namespace
