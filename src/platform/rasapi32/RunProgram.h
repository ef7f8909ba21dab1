#pragma once
// Runs a helper program without a shell and collects what it prints.

#include <cstddef>
#include <string>
#include <vector>

namespace rasapi32 {

struct RunResult {
    enum class Outcome { Exited, NotStarted, TimedOut, OutputTooLarge, Failed };
    Outcome outcome = Outcome::Failed;
    int exitCode = -1;  // only for Exited; a death by signal is Failed
    std::string output;  // standard output, at most the given bound
};

// argv[0] is looked up on PATH. Standard input is /dev/null, standard error
// is the caller's. The program runs in a process group of its own, which is
// killed whole when it overruns `timeoutMs` or prints more than `maxOutput`
// bytes, so nothing it started keeps running behind the caller's back.
RunResult RunProgram(const std::vector<std::string>& argv, int timeoutMs, size_t maxOutput);

}  // namespace rasapi32
