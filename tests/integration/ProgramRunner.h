#pragma once
// Runs the real program as a child process in a home of its own, offscreen.

#include "support/TestSupport.h"

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <sys/types.h>

namespace integration {

class ProgramRunner {
public:
    // A fresh home (and config and system folders) below `home`.
    explicit ProgramRunner(const std::string& home);
    ~ProgramRunner();

    std::map<std::string, std::string> env;  // added to the child's environment

    void Start();
    // Sends `signal` and waits for the exit; false when it did not end in time.
    bool Stop(int signal, std::chrono::milliseconds timeout = std::chrono::seconds(20));
    bool Running();
    int ExitStatus() const { return status_; }

    std::string HivePath() const { return home_ + "/.config/Oculara/HKEY_CURRENT_USER.reg"; }
    std::string SysConfDir() const { return home_ + "/etc"; }
    // The program's folder for this run: the build folder's pictures, sounds
    // and help linked into a folder of its own, so that each run has its
    // own log file. With "/".
    std::string ProgramDir() const { return home_ + "/program/"; }
    std::string LogPath() const { return ProgramDir() + "Oculara.log"; }
    static std::string BuildFolder();  // where the program file is, with "/"

private:
    std::string home_;
    pid_t pid_ = -1;
    int status_ = -1;
};

// Polls `condition` every 50 ms until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace integration
