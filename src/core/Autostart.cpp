#include "core/Autostart.h"

#include "core/Globali.h"
#include "platform/Registry.h"

namespace {

constexpr const char* kRunKey = "\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kValueName = "Oculara";

}  // namespace

std::string AutostartCommand(const std::string& program) {
    // Windows finds an unquoted path with spaces by trying its prefixes;
    // an autostart Exec line is split at the first space, so quote instead.
    static const char* const kReserved = " \t\n\"'\\><~|&;$*?#()`";
    if (program.find_first_of(kReserved) == std::string::npos) return program + " autorun";
    std::string quoted = "\"";
    for (char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        quoted += c;
    }
    return quoted + "\" autorun";
}

void SetAutostart(bool enabled) {
    auto key = platform::RegKey::Open(platform::RegRoot::LocalMachine, kRunKey, true);
    if (!key) return;
    if (enabled)
        key->WriteString(kValueName, AutostartCommand(ProgramFile));
    else
        key->Delete(kValueName);
    key->Close();
}
