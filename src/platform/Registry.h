#pragma once
// A typed registry kept in text files, one per root key, in the syntax that
// regedit exports ("Windows Registry Editor Version 5.00"). Types are kept
// exactly: REG_SZ and REG_DWORD mean different things to the settings store.
//
// A hive file is read when the first key of its root is opened and shared by
// every key open on it; writes change the copy in memory and Flush/Close
// write the file atomically. Key and value names compare case-insensitively
// but keep the spelling they were created with; values and subkeys keep
// their order.
//
// HKEY_LOCAL_MACHINE\Software\Microsoft\Windows\CurrentVersion\Run is not in
// the hive: each of its REG_SZ values NAME=COMMAND is the running user's XDG
// autostart entry AutostartFolder() + NAME + ".desktop" with Exec=COMMAND,
// written at once; a normal user can write there, and it starts at that
// user's log-on.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

enum class RegRoot { CurrentUser, LocalMachine };

// Value types, numbered as Windows numbers them; any other number is kept.
namespace RegType {
inline constexpr uint32_t None = 0;
inline constexpr uint32_t Sz = 1;
inline constexpr uint32_t ExpandSz = 2;
inline constexpr uint32_t Binary = 3;
inline constexpr uint32_t Dword = 4;
inline constexpr uint32_t MultiSz = 7;
inline constexpr uint32_t Qword = 11;
}  // namespace RegType

struct RegValue {
    uint32_t type = RegType::None;
    // The bytes as Windows keeps them: texts in UTF-16LE with their NUL,
    // REG_DWORD as 4 bytes little-endian, anything else as it came.
    std::string data;

    // REG_SZ or REG_EXPAND_SZ up to its first NUL, in UTF-8.
    std::optional<std::string> Text() const;
    // REG_DWORD of exactly 4 bytes.
    std::optional<uint32_t> Dword() const;

    static RegValue FromText(uint32_t type, const std::string& utf8);
    static RegValue FromDword(uint32_t value);
    bool operator==(const RegValue&) const = default;
};

class Hive;
struct RegNode;

class RegKey {
public:
    // Opens `path` below `root` ("\Software\Brevant"; leading and trailing
    // backslashes are ignored, "" is the root itself). With `create` missing
    // keys are made. nullptr when the key is missing (without create) or the
    // path holds a name that cannot be a key name.
    static std::unique_ptr<RegKey> Open(RegRoot root, const std::string& path, bool create);
    // The same, relative to this key and on the same hive.
    std::unique_ptr<RegKey> OpenSubKey(const std::string& path, bool create);

    ~RegKey();  // Close()
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;

    std::optional<RegValue> Read(const std::string& name) const;  // "" = default value
    bool Exists(const std::string& name) const;
    std::vector<std::string> ValueNames() const;
    std::vector<std::string> SubKeyNames() const;

    // False when the name or data cannot be stored (a name with control
    // characters, or an autostart entry that could not be written).
    bool WriteString(const std::string& name, const std::string& text);
    bool WriteDword(const std::string& name, uint32_t value);
    bool WriteRaw(const std::string& name, const RegValue& value);
    // False when the value is missing or could not be removed.
    bool Delete(const std::string& name);

    // Writes the hive file if anything changed; false when that failed (the
    // file is then as it was and the changes stay pending in memory).
    bool Flush();
    // Flush and let go of the hive. Further calls on the key do nothing.
    bool Close();

private:
    RegKey(std::shared_ptr<Hive> hive, RegNode* node, bool autostart);
    static std::unique_ptr<RegKey> OpenPath(RegRoot root, const std::vector<std::string>& parts,
                                            bool create, std::shared_ptr<Hive> hive);

    std::shared_ptr<Hive> hive_;
    RegNode* node_ = nullptr;
    bool autostart_ = false;
    bool closed_ = false;
};

// Where the files live now; the environment is read at every call.
std::string HivePath(RegRoot root);
std::string AutostartFolder();  // the user's own, with a trailing "/"
// Where earlier versions kept the entries, for every user; with a trailing "/".
std::string MachineAutostartFolder();

}  // namespace platform
