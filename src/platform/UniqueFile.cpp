#include "platform/UniqueFile.h"

#include <cerrno>
#include <fcntl.h>

namespace platform {

namespace {

// Far more files than can be made in one second; past it something is wrong
// (a folder filled on purpose) and giving up beats looping.
constexpr int kMaxSuffix = 10000;

std::string CandidatePath(const std::string& dir, const std::string& stem, const std::string& ext,
                          int n) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += stem;
    if (n > 1) path += "-" + std::to_string(n);
    return path + ext;
}

}  // namespace

int CreateUniqueFile(const std::string& dir, const std::string& stem, const std::string& ext,
                     std::string& pathOut) {
    for (int n = 1; n <= kMaxSuffix; ++n) {
        const std::string path = CandidatePath(dir, stem, ext, n);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            pathOut = path;
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    errno = EEXIST;
    return -1;
}

}  // namespace platform
