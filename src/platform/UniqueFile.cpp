#include "platform/UniqueFile.h"

#include <cerrno>
#include <fcntl.h>

namespace platform {

namespace {

// Far beyond what one second can produce; a bound keeps a folder full of
// look-alike names from turning into an endless search.
constexpr unsigned kMaxNumber = 100000;

std::string Candidate(const std::string& dir, const std::string& stem, const std::string& ext, unsigned n) {
    std::string path = dir;
    if (!path.empty() && path.back() != '/') path += '/';
    path += stem;
    if (n > 1) path += "-" + std::to_string(n);
    if (!ext.empty()) path += "." + ext;
    return path;
}

}  // namespace

int CreateUniqueFile(const std::string& dir, const std::string& stem, const std::string& ext,
                     std::string& pathOut) {
    for (unsigned n = 1; n <= kMaxNumber; ++n) {
        const std::string path = Candidate(dir, stem, ext, n);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0) {
            pathOut = path;
            return fd;
        }
        if (errno == EINTR) {
            --n;
            continue;
        }
        if (errno != EEXIST) break;  // the folder itself is the trouble: no other name helps
    }
    const int saved = errno;
    pathOut = Candidate(dir, stem, ext, 1);
    errno = saved;
    return -1;
}

}  // namespace platform
