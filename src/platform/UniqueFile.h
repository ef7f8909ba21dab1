#pragma once
#include <string>

namespace platform {

// Creates a new file for the user alone (0600) that never replaces an
// existing one: dir/stem+ext, or, when that exists, dir/stem-2+ext,
// dir/stem-3+ext, ... Opened O_WRONLY|O_CREAT|O_EXCL|O_CLOEXEC|O_NOFOLLOW, so
// two callers racing for the same name each get their own file. Returns the
// descriptor (the caller closes it) and the path chosen, or -1 with errno
// set (EEXIST once every suffix up to a bound is taken). Any thread.
int CreateUniqueFile(const std::string& dir, const std::string& stem, const std::string& ext,
                     std::string& pathOut);

}  // namespace platform
