#include "ProgramRunner.h"

#include <csignal>
#include <filesystem>
#include <cstdlib>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace integration {

std::string ProgramRunner::BuildFolder() {
    const char* dir = std::getenv("OCULARA_PROGRAM_DIR");
    std::string d = dir && *dir ? dir : ".";
    if (d.back() != '/') d += '/';
    return d;
}

ProgramRunner::ProgramRunner(const std::string& home) : home_(home) {
    env["HOME"] = home_;
    env["XDG_CONFIG_HOME"] = home_ + "/.config";
    env["XDG_DATA_HOME"] = home_ + "/.local/share";
    env["OCULARA_SYSCONFDIR"] = home_ + "/etc";
    env["QT_QPA_PLATFORM"] = "offscreen";
    env["OCULARA_TEST_DEVICES"] = "1";
    env["OCULARA_AUDIO_SINK"] = "fakesink";
    env["OCULARA_PROGRAM_DIR"] = ProgramDir();
    std::filesystem::create_directories(ProgramDir());
    for (const char* shared : {"Immagini", "Suoni", "help", "librasapi32.so"}) {
        std::error_code ec;
        std::filesystem::create_directory_symlink(BuildFolder() + shared, ProgramDir() + shared, ec);
    }
}

ProgramRunner::~ProgramRunner() {
    if (pid_ > 0) Stop(SIGKILL, std::chrono::seconds(5));
}

void ProgramRunner::Start() {
    std::vector<std::string> vars;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (!env.count(var.substr(0, var.find('=')))) vars.push_back(var);
    }
    for (const auto& [k, v] : env) vars.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    const std::string program = BuildFolder() + "Oculara";

    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // A test that dies (a crash, a ctest timeout) takes the program with it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        char* argv[] = {const_cast<char*>(program.c_str()), nullptr};
        execve(program.c_str(), argv, envp.data());
        _exit(127);
    }
}

bool ProgramRunner::Running() {
    if (pid_ <= 0) return false;
    int st = 0;
    const pid_t r = waitpid(pid_, &st, WNOHANG);
    if (r == pid_) {
        status_ = st;
        pid_ = -1;
        return false;
    }
    return true;
}

bool ProgramRunner::Stop(int signal, std::chrono::milliseconds timeout) {
    if (!Running()) return true;
    kill(pid_, signal);
    if (WaitFor([this] { return !Running(); }, timeout)) return true;
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
    pid_ = -1;
    return false;
}

bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return condition();
}

}  // namespace integration
