#pragma once
// A new file that never replaces an existing one: the first free name of
// "stem.ext", "stem-2.ext", "stem-3.ext"... in `dir`.

#include <string>

namespace platform {

// Creates the file for the user alone (0600), refusing to follow a link, and
// returns its descriptor (O_WRONLY, close-on-exec) with its path in pathOut.
// `dir` may end with "/" or not; an empty `dir` is the current folder. An
// empty `ext` gives names without a dot. On failure returns -1 with errno
// set (EEXIST once every numbered name is taken); pathOut is then the first
// name, so a report can still say where the file was meant to go.
int CreateUniqueFile(const std::string& dir, const std::string& stem, const std::string& ext,
                     std::string& pathOut);

}  // namespace platform
