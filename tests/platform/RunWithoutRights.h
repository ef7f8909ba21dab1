#pragma once
// Runs a piece of a test as a user without write rights to root-owned
// folders: as root (CI runs as root) in a child process switched to
// "nobody", otherwise in-process. The caller makes the folders read-only
// and their parents traversable; `fn` must not use gtest assertions.
// nullopt when the rights could not be dropped.

#include <functional>
#include <optional>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

inline std::optional<bool> RunWithoutRights(const std::function<bool()>& fn) {
    if (::geteuid() != 0) return fn();
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(fn() ? 0 : 1);
    }
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return std::nullopt;
    if (WEXITSTATUS(status) > 1) return std::nullopt;
    return WEXITSTATUS(status) == 0;
}

}  // namespace testsupport
