// librasapi32.so: the Remote Access entry points over NetworkManager. The
// phone book is the list of connection profiles, dialling an entry brings
// its profile up (or finds it up already) and hanging up brings it down,
// each through nmcli.

#include "RasApi.h"
#include "RunProgram.h"

#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#define RAS_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using rasapi32::RunProgram;
using rasapi32::RunResult;

// nmcli waits this long itself; our own limit adds a margin over it.
constexpr const char* kUpWaitSeconds = "60";
constexpr const char* kDownWaitSeconds = "30";
constexpr int kListTimeoutMs = 15000;
constexpr int kUpTimeoutMs = 90000;
constexpr int kDownTimeoutMs = 45000;
constexpr size_t kMaxListOutput = 256 * 1024;
constexpr size_t kMaxOpenLines = 32;

// OCULARA_NMCLI_TIMEOUT_MS shortens every limit, so a hung nmcli can be
// exercised without waiting minutes.
int TimeoutMs(int normal) {
    const char* text = std::getenv("OCULARA_NMCLI_TIMEOUT_MS");
    if (!text || !*text) return normal;
    char* end = nullptr;
    const long v = std::strtol(text, &end, 10);
    return (*end == '\0' && v > 0 && v < normal) ? static_cast<int>(v) : normal;
}

bool HasControlCharacter(std::string_view s) {
    for (unsigned char c : s)
        if (c < 0x20 || c == 0x7f) return true;
    return false;
}

// The text of a fixed field, or false when it has no terminating zero.
bool FieldText(const char* field, size_t size, std::string& out) {
    const void* end = std::memchr(field, '\0', size);
    if (!end) return false;
    out.assign(field, static_cast<const char*>(end) - field);
    return true;
}

// Terse output escapes ':' and '\' with a backslash.
std::string Unescape(std::string_view line) {
    std::string out;
    for (size_t i = 0; i < line.size(); ++i) {
        if (line[i] == '\\' && i + 1 < line.size() && (line[i + 1] == ':' || line[i + 1] == '\\'))
            ++i;
        out += line[i];
    }
    return out;
}

// Profiles whose names cannot be carried by a record or dialled back are
// left out; NetworkManager allows equal names, the phone book does not.
std::vector<std::string> ParseProfileNames(const std::string& output) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start < output.size()) {
        size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        const std::string name = Unescape(std::string_view(output).substr(start, end - start));
        start = end + 1;
        if (name.empty() || name.size() > RAS_MaxEntryName || HasControlCharacter(name)) continue;
        bool seen = false;
        for (const auto& n : names) seen = seen || n == name;
        if (!seen) names.push_back(name);
    }
    return names;
}

DWORD FromNmcliExit(const RunResult& r) {
    switch (r.outcome) {
    case RunResult::Outcome::NotStarted: return ERROR_RASMAN_CANNOT_INITIALIZE;
    case RunResult::Outcome::TimedOut: return ERROR_REQUEST_TIMEOUT;
    case RunResult::Outcome::OutputTooLarge:
    case RunResult::Outcome::Failed: return ERROR_UNKNOWN;
    case RunResult::Outcome::Exited: break;
    }
    switch (r.exitCode) {
    case 0: return ERROR_SUCCESS;
    case 3: return ERROR_REQUEST_TIMEOUT;                // nmcli: timeout expired
    case 8: return ERROR_RASMAN_CANNOT_INITIALIZE;       // NetworkManager not running
    case 10: return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;   // no such connection
    default: return ERROR_UNKNOWN;
    }
}

// Handles of the profiles brought up and not yet hung up. Dialling a
// profile that is already in the table gives its handle again, so the
// table holds one line per profile.
struct OpenLine {
    uintptr_t handle;
    std::string profile;
};
std::mutex linesMutex;
std::deque<OpenLine> lines;
uintptr_t lastHandle = 0;

uintptr_t RememberLine(const std::string& profile) {
    std::lock_guard<std::mutex> lock(linesMutex);
    for (const auto& l : lines)
        if (l.profile == profile) return l.handle;
    // A profile never hung up is forgotten first; its connection stays up.
    if (lines.size() == kMaxOpenLines) lines.pop_front();
    if (++lastHandle == 0) ++lastHandle;
    lines.push_back({lastHandle, profile});
    return lastHandle;
}

bool ForgetLine(uintptr_t handle, std::string& profile) {
    std::lock_guard<std::mutex> lock(linesMutex);
    for (auto it = lines.begin(); it != lines.end(); ++it) {
        if (it->handle != handle) continue;
        profile = it->profile;
        lines.erase(it);
        return true;
    }
    return false;
}

// A secrets file for `connection up ... passwd-file`: nmcli takes secrets
// only by property name, and which one a profile asks for depends on its
// type, so the password is offered under each name a dial-up-like profile
// may ask for. nmcli ignores the ones it is not asked for.
class SecretsFile {
public:
    explicit SecretsFile(const std::string& password) {
        std::string folder;
        for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
            const char* v = std::getenv(var);
            struct stat st;
            if (v && *v && stat(v, &st) == 0 && S_ISDIR(st.st_mode) && access(v, W_OK) == 0) {
                folder = v;
                break;
            }
        }
        if (folder.empty()) folder = "/tmp";
        std::string path = folder + "/oculara-ras-XXXXXX";
        const int fd = mkstemp(path.data());  // mode 0600
        if (fd < 0) return;
        path_ = path;
        std::string text;
        for (const char* property : {"gsm.password", "cdma.password", "pppoe.password",
                                     "vpn.secrets.password", "802-1x.password",
                                     "802-11-wireless-security.psk"})
            text += std::string(property) + ":" + password + "\n";
        const bool written = fchmod(fd, S_IRUSR | S_IWUSR) == 0 &&
                             write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (!written) {
            unlink(path_.c_str());
            path_.clear();
        }
    }
    ~SecretsFile() {
        if (!path_.empty()) unlink(path_.c_str());
    }
    SecretsFile(const SecretsFile&) = delete;
    SecretsFile& operator=(const SecretsFile&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

std::mutex dialMutex;  // held by RasDialA from the check to the end of the dial

// True when NetworkManager has `profile` up already. A listing that fails
// says nothing: the dial then goes ahead and reports what nmcli says.
bool IsActive(const std::string& profile) {
    const RunResult r = RunProgram({"nmcli", "-t", "-f", "NAME", "connection", "show", "--active"},
                                   TimeoutMs(kListTimeoutMs), kMaxListOutput);
    if (r.outcome != RunResult::Outcome::Exited || r.exitCode != 0) return false;
    for (const auto& name : ParseProfileNames(r.output))
        if (name == profile) return true;
    return false;
}

// The setting that holds the user name in a profile of `type`; "" for the
// types that log in without one.
std::string UserNameProperty(const std::string& type) {
    if (type == "gsm" || type == "cdma" || type == "pppoe") return type + ".username";
    if (type == "vpn") return "vpn.user-name";
    return "";
}

// The user name for this dial: set in NetworkManager's copy of the profile
// in memory only (--temporary), so the profile on disk keeps its own.
DWORD SetUserName(const std::string& profile, const std::string& user) {
    const RunResult type = RunProgram({"nmcli", "-g", "connection.type", "connection", "show", "id", profile},
                                      TimeoutMs(kListTimeoutMs), 64 * 1024);
    if (const DWORD result = FromNmcliExit(type); result != ERROR_SUCCESS) return result;
    std::string name = type.output;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
    const std::string property = UserNameProperty(name);
    if (property.empty()) return ERROR_SUCCESS;
    return FromNmcliExit(RunProgram({"nmcli", "connection", "modify", "--temporary", "id", profile, property, user},
                                    TimeoutMs(kListTimeoutMs), 64 * 1024));
}

}  // namespace

RAS_EXPORT DWORD RasEnumEntriesA(LPCSTR reserved, LPCSTR phoneBook, LPRASENTRYNAMEA entries,
                                 LPDWORD byteSize, LPDWORD count) {
    if (!byteSize || !count || reserved) return ERROR_INVALID_PARAMETER;
    if (phoneBook) return ERROR_CANNOT_OPEN_PHONEBOOK;  // only the default phone book exists
    if (!entries && *byteSize != 0) return ERROR_INVALID_PARAMETER;
    if (entries && *byteSize >= sizeof(DWORD)) {
        DWORD size;
        std::memcpy(&size, entries, sizeof size);
        if (size != sizeof(RASENTRYNAMEA)) return ERROR_INVALID_SIZE;
    }

    const RunResult r = RunProgram({"nmcli", "-t", "-f", "NAME", "connection", "show"},
                                   TimeoutMs(kListTimeoutMs), kMaxListOutput);
    if (r.outcome != RunResult::Outcome::Exited || r.exitCode != 0)
        return ERROR_CANNOT_LOAD_PHONEBOOK;
    const std::vector<std::string> names = ParseProfileNames(r.output);

    const size_t needed = names.size() * sizeof(RASENTRYNAMEA);
    if (needed > *byteSize) {
        *byteSize = static_cast<DWORD>(needed);
        *count = static_cast<DWORD>(names.size());
        return ERROR_BUFFER_TOO_SMALL;
    }
    // Byte-wise: the caller's buffer need not be aligned for the record.
    auto* out = reinterpret_cast<unsigned char*>(entries);
    for (size_t i = 0; i < names.size(); ++i) {
        RASENTRYNAMEA record{};
        record.dwSize = sizeof(RASENTRYNAMEA);
        std::memcpy(record.szEntryName, names[i].data(), names[i].size());
        std::memcpy(out + i * sizeof record, &record, sizeof record);
    }
    *byteSize = static_cast<DWORD>(needed);
    *count = static_cast<DWORD>(names.size());
    return ERROR_SUCCESS;
}

// Synchronous only: with a notifier the Windows call would return at once
// and report later, which this library does not do.
RAS_EXPORT DWORD RasDialA(LPRASDIALEXTENSIONS, LPCSTR phoneBook, LPRASDIALPARAMSA params,
                          DWORD notifierType, void* notifier, LPHRASCONN connection) {
    if (!params || !connection) return ERROR_INVALID_PARAMETER;
    *connection = nullptr;
    if (phoneBook) return ERROR_CANNOT_OPEN_PHONEBOOK;
    if (notifier || notifierType != 0) return ERROR_NOT_SUPPORTED;
    DWORD size;
    std::memcpy(&size, params, sizeof size);
    // 1060 is the second layout (sub-entry and callback id appended).
    if (size != sizeof(RASDIALPARAMSA) && size != sizeof(RASDIALPARAMSA) + 8)
        return ERROR_INVALID_SIZE;

    std::string profile, user, password;
    if (!FieldText(params->szEntryName, sizeof params->szEntryName, profile) ||
        !FieldText(params->szUserName, sizeof params->szUserName, user) ||
        !FieldText(params->szPassword, sizeof params->szPassword, password))
        return ERROR_INVALID_PARAMETER;
    if (profile.empty() || HasControlCharacter(profile)) return ERROR_CANNOT_FIND_PHONEBOOK_ENTRY;
    if (HasControlCharacter(user) || HasControlCharacter(password)) return ERROR_INVALID_PARAMETER;

    // Bringing an active profile up again would drop the line under whoever
    // is using it (the other notification worker, say): it counts as dialled.
    // One dial at a time, so a second dial waits for the first and then
    // finds the profile up instead of bringing it up beside it.
    std::lock_guard<std::mutex> oneDial(dialMutex);
    if (IsActive(profile)) {
        *connection = reinterpret_cast<HRASCONN>(RememberLine(profile));
        return ERROR_SUCCESS;
    }
    // NetworkManager takes only secrets when a profile is brought up; the
    // user name goes into the profile first.
    if (!user.empty())
        if (const DWORD result = SetUserName(profile, user); result != ERROR_SUCCESS) return result;
    std::vector<std::string> argv{"nmcli", "--wait", kUpWaitSeconds, "connection", "up", "id",
                                  profile};
    std::optional<SecretsFile> secrets;
    if (!password.empty()) {
        secrets.emplace(password);
        if (secrets->path().empty()) return ERROR_NOT_ENOUGH_MEMORY;
        argv.push_back("passwd-file");
        argv.push_back(secrets->path());
    }
    const DWORD result = FromNmcliExit(RunProgram(argv, TimeoutMs(kUpTimeoutMs), 64 * 1024));
    if (result != ERROR_SUCCESS) return result;
    *connection = reinterpret_cast<HRASCONN>(RememberLine(profile));
    return ERROR_SUCCESS;
}

RAS_EXPORT DWORD RasHangUpA(HRASCONN connection) {
    std::string profile;
    if (!connection || !ForgetLine(reinterpret_cast<uintptr_t>(connection), profile))
        return ERROR_INVALID_HANDLE;
    return FromNmcliExit(RunProgram(
        {"nmcli", "--wait", kDownWaitSeconds, "connection", "down", "id", profile},
        TimeoutMs(kDownTimeoutMs), 64 * 1024));
}
