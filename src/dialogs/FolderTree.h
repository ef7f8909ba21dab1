#pragma once
// The folders a folder picker shows, read straight from the file system.

#include <optional>
#include <string>
#include <vector>

namespace dialogs {

// Lexically tidied, without a final "/": "/a//b/./c/" -> "/a/b/c". The root
// stays "/" (it has nothing shorter), "" stays "".
std::string NormalFolderPath(const std::string& path);

// `name` inside the folder `base`, without doubling the root's "/".
std::string JoinFolder(const std::string& base, const std::string& name);

// The folder names leading from `base` down to `path` (both normal): {} when
// they are the same folder, nullopt when `path` is not inside `base`.
std::optional<std::vector<std::string>> StepsBelow(const std::string& base, const std::string& path);

// The folders inside `path` (links to folders included, hidden ones left
// out), in the order of FolderLess. Empty when the folder cannot be read.
std::vector<std::string> SubfolderNames(const std::string& path);
// Whether SubfolderNames would list anything; stops at the first one.
bool HasSubfolder(const std::string& path);

// Case-blind order of names, ties broken byte by byte.
bool FolderLess(const std::string& a, const std::string& b);

}  // namespace dialogs
