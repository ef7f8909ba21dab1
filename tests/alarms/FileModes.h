#pragma once
// Permission bits of the files the program makes, checked with no umask to
// hide a mode that is too open.

#include <string>
#include <sys/stat.h>

namespace testsupport {

class ScopedUmask {
public:
    explicit ScopedUmask(mode_t mask) : old_(::umask(mask)) {}
    ~ScopedUmask() { ::umask(old_); }
    ScopedUmask(const ScopedUmask&) = delete;
    ScopedUmask& operator=(const ScopedUmask&) = delete;

private:
    mode_t old_;
};

// The permission bits of `path` (the link itself is not followed); -1 when missing.
inline int PermissionsOf(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

}  // namespace testsupport
