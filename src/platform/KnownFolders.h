#pragma once
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// The user's XDG documents folder (user-dirs.dirs, else $HOME/Documents),
// created when `create` is set and it is missing. "" when it cannot be had.
std::string PersonalDocumentsFolder(bool create);
// $TMPDIR or /tmp, with a trailing "/".
std::string TempFolder();
// Folder of the running program file, with a trailing "/".
std::string ExecutableFolder();
// The running program file; "" when it cannot be told.
std::string ExecutablePath();
// ${XDG_CONFIG_HOME:-$HOME/.config} and ${XDG_STATE_HOME:-$HOME/.local/state},
// each with a trailing "/" (a relative XDG value is ignored, as the standard says).
std::string ConfigFolder();
std::string StateFolder();
// Identifier of the file system that holds "/" (statvfs f_fsid, low 32 bits).
std::optional<uint32_t> VolumeSerialNumber();
bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);
// Creates the folder and any missing parents, each with `mode` before the umask.
bool ForceDirectories(const std::string& path, unsigned mode = 0777);

}  // namespace platform
