// Linked into every test executable: before main, the tests get a home and
// config folders of their own below the build tree, so that no test ever
// reads or writes the user's real settings, and find the program's files.

#include <cstdlib>
#include <sys/stat.h>
#include <string>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        const std::string home = std::string(OCULARA_BUILD_DIR) + "/test-home";
        setenv("HOME", home.c_str(), 1);
        setenv("XDG_CONFIG_HOME", (home + "/.config").c_str(), 1);
        setenv("OCULARA_SYSCONFDIR", (home + "/etc").c_str(), 1);
        setenv("OCULARA_PROGRAM_DIR", OCULARA_BUILD_DIR, 1);
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (!std::getenv("XDG_RUNTIME_DIR")) {
            const std::string run = home + "/run";
            mkdir(home.c_str(), 0700);
            mkdir(run.c_str(), 0700);  // Qt wants it private
            setenv("XDG_RUNTIME_DIR", run.c_str(), 1);
        }
    }
} const environment;

}  // namespace
