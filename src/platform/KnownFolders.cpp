#include "platform/KnownFolders.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

namespace platform {

namespace {

std::string Home() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "";
}

std::string WithoutTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

std::string XdgFolder(const char* variable, const char* underHome) {
    const char* value = std::getenv(variable);
    const std::string folder = (value && value[0] == '/') ? WithoutTrailingSlash(value) : Home() + underHome;
    return folder + "/";
}

// XDG_DOCUMENTS_DIR from user-dirs.dirs: "$HOME/Path" or "/Path", shell
// quoted. The last assignment wins, as when the shell sources the file.
std::string DocumentsFromUserDirs(const std::string& home) {
    std::ifstream in(ConfigFolder() + "user-dirs.dirs");
    std::string found;
    for (std::string line; std::getline(in, line);) {
        const size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#') continue;
        static const std::string kKey = "XDG_DOCUMENTS_DIR=";
        if (line.compare(start, kKey.size(), kKey) != 0) continue;
        std::string value = line.substr(start + kKey.size());
        const size_t last = value.find_last_not_of(" \t\r");
        value = last == std::string::npos ? "" : value.substr(0, last + 1);
        if (value.size() < 2 || value.front() != '"' || value.back() != '"') continue;
        std::string path;
        for (size_t i = 1; i + 1 < value.size(); ++i) {
            if (value[i] == '\\' && i + 2 < value.size()) ++i;
            path += value[i];
        }
        if (path.compare(0, 5, "$HOME") == 0 && (path.size() == 5 || path[5] == '/'))
            path = home + path.substr(5);
        if (!path.empty() && path[0] == '/') found = WithoutTrailingSlash(path);
    }
    return found;
}

}  // namespace

std::string PersonalDocumentsFolder(bool create) {
    const std::string home = Home();
    std::string folder = DocumentsFromUserDirs(home);
    if (folder.empty()) {
        if (home.empty()) return "";
        folder = WithoutTrailingSlash(home) + "/Documents";
    }
    if (create && !DirectoryExists(folder) && !ForceDirectories(folder)) return "";
    return folder;
}

std::string TempFolder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string folder = (tmp && *tmp) ? tmp : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

std::string ExecutablePath() {
    char buf[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n <= 0 ? std::string() : std::string(buf, static_cast<size_t>(n));
}

std::string ExecutableFolder() {
    const std::string exe = ExecutablePath();
    const size_t slash = exe.find_last_of('/');
    return slash == std::string::npos ? "./" : exe.substr(0, slash + 1);
}

std::string ConfigFolder() { return XdgFolder("XDG_CONFIG_HOME", "/.config"); }
std::string StateFolder() { return XdgFolder("XDG_STATE_HOME", "/.local/state"); }

std::optional<uint32_t> VolumeSerialNumber() {
    struct statvfs st;
    if (::statvfs("/", &st) != 0) return std::nullopt;
    return static_cast<uint32_t>(st.f_fsid & 0xFFFFFFFFu);
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
    struct stat st;
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path, unsigned mode) {
    const std::string dir = WithoutTrailingSlash(path);
    if (dir.empty()) return false;
    if (DirectoryExists(dir)) return true;
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(dir.substr(0, slash), mode)) return false;
    if (::mkdir(dir.c_str(), static_cast<mode_t>(mode)) == 0) return true;
    return errno == EEXIST && DirectoryExists(dir);
}

}  // namespace platform
