#include "RunProgram.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace rasapi32 {
namespace {

using Clock = std::chrono::steady_clock;

int MillisecondsLeft(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void KillGroup(pid_t pid) {
    kill(-pid, SIGKILL);
    kill(pid, SIGKILL);  // in case it left its group
}

enum class Wait { Reaped, TimedOut, Lost };

// Lost: the child cannot be waited for (SIGCHLD ignored by the host).
Wait WaitUntil(pid_t pid, Clock::time_point deadline, int& status) {
    for (;;) {
        const pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) return Wait::Reaped;
        if (r < 0 && errno != EINTR) return Wait::Lost;
        if (MillisecondsLeft(deadline) == 0) return Wait::TimedOut;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

void Reap(pid_t pid, int& status) {
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

}  // namespace

RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs, size_t maxOutput) {
    RunResult result;
    if (argv.empty() || argv[0].empty()) {
        result.outcome = RunResult::Outcome::NotStarted;
        return result;
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return result;

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attr;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // The host program holds devices and sockets that nmcli must not inherit.
    posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
#endif
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attr, &none);
    posix_spawnattr_setsigdefault(&attr, &all);
    posix_spawnattr_setpgroup(&attr, 0);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                        POSIX_SPAWN_SETPGROUP);

    pid_t pid = -1;
    const int spawnError = posix_spawnp(&pid, args[0], &actions, &attr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
    close(fds[1]);
    if (spawnError != 0) {
        close(fds[0]);
        result.outcome = RunResult::Outcome::NotStarted;
        return result;
    }

    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool timedOut = false, tooLarge = false;
    char chunk[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, MillisecondsLeft(deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            timedOut = true;
            break;
        }
        const ssize_t n = read(fds[0], chunk, sizeof chunk);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) break;
        if (result.output.size() + static_cast<size_t>(n) > maxOutput) {
            tooLarge = true;
            break;
        }
        result.output.append(chunk, static_cast<size_t>(n));
    }
    close(fds[0]);

    int status = 0;
    if (!timedOut && !tooLarge) {
        const Wait w = WaitUntil(pid, deadline, status);
        if (w == Wait::Lost) return result;
        timedOut = w == Wait::TimedOut;
    }
    if (timedOut || tooLarge) {
        KillGroup(pid);
        Reap(pid, status);
        result.outcome = timedOut ? RunResult::Outcome::TimedOut : RunResult::Outcome::OutputTooLarge;
        return result;
    }
    if (WIFEXITED(status)) {
        result.outcome = RunResult::Outcome::Exited;
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

}  // namespace rasapi32
