#pragma once
// The log-on start entry: the value "Oculara" under the machine's Run key,
// which on this system is the user's own XDG autostart entry Oculara.desktop.

#include <string>

// Writes (enabled) or removes the entry. Without the rights to the Run key
// nothing changes; failures are not reported.
void SetAutostart(bool enabled);

// The command the entry runs: `programFile` + " autorun", the program
// path quoted when it holds characters a command line would split or expand.
std::string AutostartCommand(const std::string& programFile);
