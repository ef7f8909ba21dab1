#include "platform/Registry.h"
#include "platform/KnownFolders.h"
#include "platform/Utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <unordered_map>
#include <mutex>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <dirent.h>
#include <fcntl.h>

namespace platform {

namespace {

constexpr const char* kHeader5 = "Windows Registry Editor Version 5.00";
constexpr const char* kHeader4 = "REGEDIT4";
constexpr char32_t kReplacement = 0xFFFD;

// ---------------------------------------------------------------- text

// One code point from UTF-8; a bad sequence consumes one byte and fails.
bool NextCodePoint(const std::string& s, size_t& i, char32_t& cp) {
    const size_t len = DecodeUtf8(s, i, cp);
    i += len ? len : 1;
    return len != 0;
}

void AppendUnit(std::string& out, uint16_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
}

uint16_t UnitAt(const std::string& bytes, size_t unit) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[2 * unit]) |
                                 (static_cast<unsigned char>(bytes[2 * unit + 1]) << 8));
}

// UTF-8 to UTF-16LE, without a terminator. `lossy` tells of bad input bytes.
std::string Utf8ToUtf16(const std::string& s, bool* lossy = nullptr) {
    std::string out;
    out.reserve(s.size() * 2);
    for (size_t i = 0; i < s.size();) {
        char32_t cp;
        if (!NextCodePoint(s, i, cp)) {
            cp = kReplacement;
            if (lossy) *lossy = true;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnit(out, static_cast<uint16_t>(0xD800 + (cp >> 10)));
            AppendUnit(out, static_cast<uint16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            AppendUnit(out, static_cast<uint16_t>(cp));
        }
    }
    return out;
}

// UTF-16LE code units [0, units) to UTF-8; stops at a NUL when asked.
std::string Utf16ToUtf8(const std::string& bytes, size_t units, bool stopAtNul,
                        bool* lossy = nullptr) {
    std::string out;
    for (size_t k = 0; k < units; ++k) {
        char32_t cp = UnitAt(bytes, k);
        if (cp == 0 && stopAtNul) break;
        if (cp >= 0xD800 && cp <= 0xDBFF && k + 1 < units) {
            const uint16_t low = UnitAt(bytes, k + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++k;
            }
        }
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = kReplacement;
            if (lossy) *lossy = true;
        }
        AppendUtf8(out, cp);
    }
    return out;
}

// Upper case, as Windows compares names; the scripts names are likely in.
char32_t FoldUpper(char32_t c) {
    if (c >= 'a' && c <= 'z') return c - 0x20;
    if (c < 0xE0) return c;
    if (c <= 0xFE) return c == 0xF7 ? c : c - 0x20;
    if (c == 0xFF) return 0x178;
    if (c >= 0x100 && c <= 0x17F) {
        const bool evenUpper = (c <= 0x12F) || (c >= 0x132 && c <= 0x137) || (c >= 0x14A && c <= 0x177);
        const bool oddUpper = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
        if (evenUpper && (c & 1)) return c - 1;
        if (oddUpper && !(c & 1)) return c - 1;
        return c;
    }
    if (c >= 0x3B1 && c <= 0x3C9) return c == 0x3C2 ? 0x3A3 : c - 0x20;
    if (c >= 0x430 && c <= 0x44F) return c - 0x20;
    if (c >= 0x450 && c <= 0x45F) return c - 0x50;
    return c;
}

// The folded character at s[i], stepping past it. A stray byte stays
// distinct from every real character.
char32_t NextFolded(const std::string& s, size_t& i) {
    const auto byte = static_cast<unsigned char>(s[i]);
    if (byte < 0x80) {
        ++i;
        return byte >= 'a' && byte <= 'z' ? byte - 0x20 : byte;
    }
    const size_t at = i;
    char32_t cp;
    if (!NextCodePoint(s, i, cp)) cp = 0x110000 + static_cast<unsigned char>(s[at]);
    return FoldUpper(cp);
}

// Stops at the first difference, so long names cost only their common start.
bool NamesEqual(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size())
        if (NextFolded(a, i) != NextFolded(b, j)) return false;
    return i == a.size() && j == b.size();
}

// A key that is equal for names NamesEqual finds equal, for hashing.
std::string FoldedKey(const std::string& s) {
    std::string key;
    key.reserve(s.size());
    for (size_t i = 0; i < s.size();) {
        const char32_t c = NextFolded(s, i);
        if (c < 0x80) {
            key += static_cast<char>(c);
            continue;
        }
        key += '\x80';  // never an ASCII byte: the encoding stays prefix-free
        for (int shift = 0; shift < 24; shift += 8) key += static_cast<char>((c >> shift) & 0xFF);
    }
    return key;
}

// A name a line of the file can hold.
bool ValidValueName(const std::string& name) {
    return name.find_first_of(std::string("\n\r\0", 3)) == std::string::npos;
}

bool ValidKeyName(const std::string& name) {
    return !name.empty() && name.size() <= 255 && ValidValueName(name) &&
           name.find('\\') == std::string::npos;
}

// "\A\\B\" -> {A, B}; false when a component cannot be a key name.
bool SplitKeyPath(const std::string& path, std::vector<std::string>& parts) {
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        std::string part = path.substr(start, end - start);
        if (!part.empty()) {
            if (!ValidKeyName(part)) return false;
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return true;
}

// The Run key itself or anything below it.
bool IsRunKeyPath(RegRoot root, const std::vector<std::string>& parts) {
    static const char* const kRun[] = {"Software", "Microsoft", "Windows", "CurrentVersion", "Run"};
    if (root != RegRoot::LocalMachine || parts.size() < 5) return false;
    for (size_t k = 0; k < 5; ++k)
        if (!NamesEqual(parts[k], kRun[k])) return false;
    return true;
}

std::string TrimLeft(const std::string& s) {
    const size_t p = s.find_first_not_of(" \t");
    return p == std::string::npos ? std::string() : s.substr(p);
}

std::string TrimRight(const std::string& s) {
    const size_t p = s.find_last_not_of(" \t");
    return p == std::string::npos ? std::string() : s.substr(0, p + 1);
}

bool StartsWithNoCase(const std::string& s, size_t at, const char* prefix) {
    for (size_t k = 0; prefix[k]; ++k) {
        if (at + k >= s.size()) return false;
        char c = s[at + k];
        if (c >= 'A' && c <= 'Z') c += 0x20;
        if (c != prefix[k]) return false;
    }
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// 1 to `maxDigits` hex digits, nothing else.
bool ParseHexNumber(const std::string& s, size_t maxDigits, uint32_t& out) {
    if (s.empty() || s.size() > maxDigits) return false;
    out = 0;
    for (char c : s) {
        const int d = HexDigit(c);
        if (d < 0) return false;
        out = (out << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

// ---------------------------------------------------------------- files

std::optional<std::string> ReadWholeFile(const std::string& path, int* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return std::nullopt;
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *error = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    return data;
}

bool MakeDirs(const std::string& dir, mode_t mode) {
    struct stat st;
    if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
    const size_t slash = dir.find_last_of('/', dir.size() > 1 ? dir.size() - 2 : 0);
    if (slash != std::string::npos && slash > 0 && !MakeDirs(dir.substr(0, slash), mode)) return false;
    if (::mkdir(dir.c_str(), mode) == 0) return true;
    return errno == EEXIST && ::stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Temporary files of `name` that a save killed half-way left in `dir`. Only
// old ones go: a younger one may be another instance's save in progress.
void RemoveStaleTemporaries(const std::string& dir, const std::string& name) {
    constexpr time_t kStaleSeconds = 60;
    const std::string prefix = "." + name + ".tmp-";
    DIR* d = ::opendir(dir.c_str());
    if (!d) return;
    const time_t now = ::time(nullptr);
    while (const dirent* e = ::readdir(d)) {
        const std::string entry = e->d_name;
        if (entry.size() != prefix.size() + 6 || entry.compare(0, prefix.size(), prefix) != 0) continue;
        struct stat st;
        const std::string full = dir + "/" + entry;
        if (::lstat(full.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_mtime + kStaleSeconds < now)
            ::unlink(full.c_str());
    }
    ::closedir(d);
}

// Temporary file beside the target, fsync, rename, fsync the folder: a crash
// leaves either the old file or the new one, never half of one.
bool WriteFileAtomically(const std::string& path, const std::string& bytes, mode_t fileMode,
                         mode_t dirMode) {
    std::string target = path;
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        // Replace what the link points to, not the link someone made.
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            target = real;
            std::free(real);
        }
    }
    const size_t slash = target.find_last_of('/');
    const std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    if (!MakeDirs(dir, dirMode)) return false;

    std::string temp = dir + "/." + target.substr(slash + 1) + ".tmp-XXXXXX";
    const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = ::fchmod(fd, fileMode) == 0 && WriteAll(fd, bytes) && ::fsync(fd) == 0;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), target.c_str()) != 0) ok = false;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    const int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    RemoveStaleTemporaries(dir, target.substr(slash + 1));
    return true;
}

std::string EnvOr(const char* name, const std::string& fallback) {
    const char* v = std::getenv(name);
    return (v && *v) ? std::string(v) : fallback;
}

std::string WithoutTrailingSlash(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}

// ---------------------------------------------------------------- autostart

// Desktop-entry string escapes.
std::string DesktopEscape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else if (c == '\r') out += "\\r";
        else if (c == ' ' && i == 0) out += "\\s";
        else out += c;
    }
    return out;
}

std::string DesktopUnescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 's') out += ' ';
        else if (c == 'n') out += '\n';
        else if (c == 't') out += '\t';
        else if (c == 'r') out += '\r';
        else if (c == '\\') out += '\\';
        else {
            out += '\\';
            out += c;
        }
    }
    return out;
}

// Exec of the [Desktop Entry] group; nullopt when the file has none.
std::optional<std::string> DesktopExec(const std::string& file) {
    int error = 0;
    const auto text = ReadWholeFile(file, &error);
    if (!text) return std::nullopt;
    bool inEntry = false;
    size_t start = 0;
    while (start < text->size()) {
        size_t end = text->find('\n', start);
        if (end == std::string::npos) end = text->size();
        std::string line = text->substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        line = TrimLeft(line);
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '[') {
            inEntry = TrimRight(line) == "[Desktop Entry]";
            continue;
        }
        const size_t eq = line.find('=');
        if (!inEntry || eq == std::string::npos || TrimRight(line.substr(0, eq)) != "Exec") continue;
        return DesktopUnescape(TrimLeft(line.substr(eq + 1)));
    }
    return std::nullopt;
}

constexpr const char* kDesktopSuffix = ".desktop";

// Entry file names, in the order the folder lists them.
std::vector<std::pair<std::string, std::string>> AutostartEntries() {
    std::vector<std::pair<std::string, std::string>> entries;  // name, file
    std::error_code ec;
    const std::string dir = AutostartFolder();
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string file = it->path().filename().string();
        const size_t suffix = std::char_traits<char>::length(kDesktopSuffix);
        if (file.size() <= suffix || file.compare(file.size() - suffix, suffix, kDesktopSuffix) != 0) continue;
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        entries.emplace_back(file.substr(0, file.size() - suffix), dir + file);
    }
    return entries;
}

std::optional<std::string> FindAutostartFile(const std::string& name) {
    for (const auto& [entry, file] : AutostartEntries())
        if (NamesEqual(entry, name)) return file;
    return std::nullopt;
}

bool ValidEntryName(const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.size() > 200) return false;
    for (char c : name)
        if (c == '/' || static_cast<unsigned char>(c) < 0x20) return false;
    return true;
}

bool WriteAutostart(const std::string& name, const std::string& command) {
    if (!ValidEntryName(name)) return false;
    const std::string file = FindAutostartFile(name).value_or(AutostartFolder() + name + kDesktopSuffix);
    const std::string entry = std::string("[Desktop Entry]\n") +
                              "Type=Application\n"
                              "Version=1.0\n"
                              "Name=" + DesktopEscape(name) + "\n" +
                              "Exec=" + DesktopEscape(command) + "\n" +
                              "Terminal=false\n";
    return WriteFileAtomically(file, entry, 0644, 0755);
}

// An entry that earlier versions wrote for every user is removed with the
// user's own, where the rights allow; it would start the program again.
bool DeleteAutostart(const std::string& name) {
    const auto file = FindAutostartFile(name);
    const bool own = file && ::unlink(file->c_str()) == 0;
    const bool machine =
        ValidEntryName(name) && ::unlink((MachineAutostartFolder() + name + kDesktopSuffix).c_str()) == 0;
    return own || machine;
}

}  // namespace

// ---------------------------------------------------------------- values

std::optional<std::string> RegValue::Text() const {
    if (type != RegType::Sz && type != RegType::ExpandSz) return std::nullopt;
    return Utf16ToUtf8(data, data.size() / 2, true);
}

std::optional<uint32_t> RegValue::Dword() const {
    if (type != RegType::Dword || data.size() != 4) return std::nullopt;
    uint32_t v = 0;
    for (int k = 3; k >= 0; --k) v = (v << 8) | static_cast<unsigned char>(data[static_cast<size_t>(k)]);
    return v;
}

RegValue RegValue::FromText(uint32_t type, const std::string& utf8) {
    RegValue v;
    v.type = type;
    v.data = Utf8ToUtf16(utf8);
    v.data.append(2, '\0');
    return v;
}

RegValue RegValue::FromDword(uint32_t value) {
    RegValue v;
    v.type = RegType::Dword;
    for (int k = 0; k < 4; ++k) v.data += static_cast<char>((value >> (8 * k)) & 0xFF);
    return v;
}

// ---------------------------------------------------------------- tree

struct RegNode {
    std::string name;
    RegNode* parent = nullptr;
    std::vector<std::pair<std::string, RegValue>> values;
    std::vector<std::unique_ptr<RegNode>> children;

    RegNode* Child(const std::string& childName) const {
        for (const auto& c : children)
            if (NamesEqual(c->name, childName)) return c.get();
        return nullptr;
    }
    RegNode* AddChild(const std::string& childName) {
        children.push_back(std::make_unique<RegNode>());
        children.back()->name = childName;
        children.back()->parent = this;
        return children.back().get();
    }
    std::pair<std::string, RegValue>* Value(const std::string& valueName) {
        for (auto& v : values)
            if (NamesEqual(v.first, valueName)) return &v;
        return nullptr;
    }
    std::vector<std::string> Path() const {
        std::vector<std::string> parts;
        for (const RegNode* n = this; n->parent; n = n->parent) parts.insert(parts.begin(), n->name);
        return parts;
    }
};

namespace {

std::string QuoteName(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"') out += '\\';
        out += c;
    }
    return out + "\"";
}

// The text of a REG_SZ when it can stand between quotes and read back as the
// same bytes: one terminating NUL, no other, no control characters.
std::optional<std::string> PlainText(const RegValue& v) {
    if (v.type != RegType::Sz || v.data.size() < 2 || v.data.size() % 2) return std::nullopt;
    const size_t units = v.data.size() / 2;
    if (UnitAt(v.data, units - 1) != 0) return std::nullopt;
    bool lossy = false;
    std::string text = Utf16ToUtf8(v.data, units - 1, false, &lossy);
    if (lossy) return std::nullopt;
    for (char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return std::nullopt;
    return text;
}

void AppendValueLine(std::string& out, const std::string& name, const RegValue& v) {
    std::string line = name.empty() ? "@=" : QuoteName(name) + "=";
    if (auto text = PlainText(v)) {
        out += line + QuoteName(*text) + "\n";
        return;
    }
    if (auto dword = v.Dword()) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "dword:%08x", *dword);
        out += line + buf + "\n";
        return;
    }
    char prefix[24];
    if (v.type == RegType::Binary)
        std::snprintf(prefix, sizeof prefix, "hex:");
    else
        std::snprintf(prefix, sizeof prefix, "hex(%x):", v.type);
    line += prefix;
    // Wrapped as regedit wraps: lines under 80 columns, "\" to go on.
    for (size_t k = 0; k < v.data.size(); ++k) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(v.data[k]));
        std::string piece = byte;
        if (k + 1 < v.data.size()) piece += ',';
        const size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
        if (line.size() - lineStart + piece.size() > 78) line += "\\\n  ";
        line += piece;
    }
    out += line + "\n";
}

void AppendKey(std::string& out, const RegNode& node, const std::string& fullName, bool isRoot) {
    if (!isRoot || !node.values.empty()) {
        out += "[" + fullName + "]\n";
        for (const auto& [name, value] : node.values) AppendValueLine(out, name, value);
        out += "\n";
    }
    for (const auto& child : node.children) AppendKey(out, *child, fullName + "\\" + child->name, false);
}

// A quoted token at s[p] == '"' with \\ and \" escapes; other backslashes
// stay as they are, so a hand-typed "C:\dir" survives.
bool ParseQuoted(const std::string& s, size_t& p, std::string& out) {
    for (++p; p < s.size(); ++p) {
        const char c = s[p];
        if (c == '"') {
            ++p;
            return true;
        }
        if (c == '\\' && p + 1 < s.size() && (s[p + 1] == '\\' || s[p + 1] == '"')) ++p;
        out += s[p];
    }
    return false;
}

bool ParseHexBytes(const std::string& list, std::string& out) {
    if (TrimLeft(list).empty()) return true;
    size_t start = 0;
    for (;;) {
        const size_t end = list.find(',', start);
        const bool last = end == std::string::npos;
        const std::string token = TrimRight(TrimLeft(list.substr(start, last ? std::string::npos : end - start)));
        if (token.empty()) return last && start > 0;  // only a trailing comma may leave one empty
        uint32_t byte;
        if (!ParseHexNumber(token, 2, byte)) return false;
        out += static_cast<char>(byte);
        if (last) return true;
        start = end + 1;
    }
}

class Parser {
public:
    Parser(const std::string& bytes, RegRoot root, const char* rootName, RegNode& tree)
        : root_(root), rootName_(rootName), tree_(tree) {
        Split(Decode(bytes));
    }

    // True when anything of the file was left out or changed on the way in.
    bool Run() {
        bool headerSeen = false;
        for (index_ = 0; index_ < lines_.size(); ++index_) {
            const std::string line = TrimLeft(lines_[index_]);
            if (line.empty() || line[0] == ';') continue;
            if (!headerSeen) {
                headerSeen = true;
                const std::string head = TrimRight(line);
                if (head == kHeader5 || head == kHeader4) continue;
                damaged_ = true;
            }
            if (line[0] == '[')
                Section(line);
            else if (!ValueLine(line))
                damaged_ = true;
        }
        return damaged_;
    }

private:
    std::string Decode(const std::string& bytes) {
        if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) return bytes.substr(3);
        if (bytes.size() >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0) {
            // What regedit itself exports.
            const std::string body = bytes.substr(2);
            if (body.size() % 2) damaged_ = true;
            return Utf16ToUtf8(body, body.size() / 2, false, &damaged_);
        }
        return bytes;
    }

    void Split(const std::string& text) {
        size_t start = 0;
        while (start < text.size()) {
            size_t end = text.find('\n', start);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            lines_.push_back(std::move(line));
            start = end + 1;
        }
    }

    void Section(const std::string& line) {
        current_ = nullptr;
        const size_t close = line.rfind(']');
        if (close == std::string::npos || !TrimLeft(line.substr(close + 1)).empty()) {
            damaged_ = true;
            return;
        }
        const std::string inner = line.substr(1, close - 1);
        std::vector<std::string> parts;
        if (inner.empty() || inner[0] == '-' || !SplitKeyPath(inner, parts) || parts.empty() ||
            !NamesEqual(parts[0], rootName_)) {
            damaged_ = true;
            return;
        }
        parts.erase(parts.begin());
        // The Run key lives in the autostart folder, not here.
        if (IsRunKeyPath(root_, parts)) {
            damaged_ = true;
            return;
        }
        RegNode* node = &tree_;
        for (const auto& part : parts) {
            auto [it, added] = children_[node].try_emplace(FoldedKey(part), nullptr);
            if (added) it->second = node->AddChild(part);
            node = it->second;
        }
        current_ = node;
    }

    // False when the line is not a value or is not kept.
    bool ValueLine(const std::string& line) {
        size_t p = 0;
        std::string name;
        if (line[0] == '@') {
            p = 1;
        } else if (line[0] != '"' || !ParseQuoted(line, p, name)) {
            return false;
        }
        while (p < line.size() && (line[p] == ' ' || line[p] == '\t')) ++p;
        if (p >= line.size() || line[p] != '=') return false;
        std::string data = TrimLeft(line.substr(p + 1));

        RegValue value;
        if (!data.empty() && data[0] == '"') {
            size_t q = 0;
            std::string text;
            if (!ParseQuoted(data, q, text) || !TrimRight(data.substr(q)).empty()) return false;
            value.type = RegType::Sz;
            value.data = Utf8ToUtf16(text, &damaged_);
            value.data.append(2, '\0');
        } else if (StartsWithNoCase(data, 0, "dword:")) {
            uint32_t number;
            if (!ParseHexNumber(TrimRight(data.substr(6)), 8, number)) return false;
            value = RegValue::FromDword(number);
        } else if (StartsWithNoCase(data, 0, "hex")) {
            size_t colon = data.find(':');
            if (colon == std::string::npos) return false;
            data = JoinContinuations(data);
            const std::string kind = data.substr(3, colon - 3);
            if (kind.empty()) {
                value.type = RegType::Binary;
            } else if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')' ||
                       !ParseHexNumber(kind.substr(1, kind.size() - 2), 8, value.type)) {
                return false;
            }
            if (!ParseHexBytes(data.substr(colon + 1), value.data)) return false;
        } else {
            return false;  // "=-" deletions included: a hive has nothing to delete
        }
        if (!current_ || !ValidValueName(name)) return false;
        auto [it, added] = values_[current_].try_emplace(FoldedKey(name), current_->values.size());
        if (added)
            current_->values.emplace_back(std::move(name), std::move(value));
        else
            current_->values[it->second].second = std::move(value);
        return true;
    }

    // Trims in place: a copy per line would make long values quadratic.
    std::string JoinContinuations(std::string data) {
        for (;;) {
            data.erase(data.find_last_not_of(" \t") + 1);  // npos + 1 clears it all
            if (data.empty() || data.back() != '\\') return data;
            data.pop_back();
            if (index_ + 1 >= lines_.size()) {
                damaged_ = true;
                return data;
            }
            data += TrimLeft(lines_[++index_]);
        }
    }

    RegRoot root_;
    const char* rootName_;
    RegNode& tree_;
    std::vector<std::string> lines_;
    size_t index_ = 0;
    RegNode* current_ = nullptr;
    bool damaged_ = false;
    // Folded names seen so far per key, so a large file loads in linear time.
    std::unordered_map<const RegNode*, std::unordered_map<std::string, RegNode*>> children_;
    std::unordered_map<const RegNode*, std::unordered_map<std::string, size_t>> values_;
};

const char* RootName(RegRoot root) {
    return root == RegRoot::CurrentUser ? "HKEY_CURRENT_USER" : "HKEY_LOCAL_MACHINE";
}

}  // namespace

// ---------------------------------------------------------------- hive

class Hive {
public:
    Hive(RegRoot root, std::string path) : root_(root), path_(std::move(path)) {
        int error = 0;
        const auto bytes = ReadWholeFile(path_, &error);
        if (!bytes) {
            // A file that is there but cannot be read must not be replaced by
            // an empty one.
            unreadable_ = error != ENOENT && error != ENOTDIR;
            return;
        }
        if (Parser(*bytes, root_, RootName(root_), tree).Run()) original_ = *bytes;
    }

    bool Save() {
        if (!dirty) return true;
        if (unreadable_) return false;
        const mode_t fileMode = root_ == RegRoot::CurrentUser ? 0600 : 0644;
        const mode_t dirMode = root_ == RegRoot::CurrentUser ? 0700 : 0755;
        if (original_) {
            // What could not be read is kept beside the new file.
            std::string backup = path_ + ".damaged";
            for (int n = 2; ::access(backup.c_str(), F_OK) == 0; ++n) {
                if (n > 999) return false;
                backup = path_ + ".damaged." + std::to_string(n);
            }
            if (!WriteFileAtomically(backup, *original_, fileMode, dirMode)) return false;
            original_.reset();
        }
        std::string out = std::string(kHeader5) + "\n\n";
        AppendKey(out, tree, RootName(root_), true);
        if (!WriteFileAtomically(path_, out, fileMode, dirMode)) return false;
        dirty = false;
        return true;
    }

    RegRoot root() const { return root_; }

    std::mutex mutex;
    RegNode tree;
    bool dirty = false;

private:
    RegRoot root_;
    std::string path_;
    bool unreadable_ = false;
    std::optional<std::string> original_;  // set while a damaged file awaits its backup
};

namespace {

std::shared_ptr<Hive> AcquireHive(RegRoot root) {
    static std::mutex cacheMutex;
    static std::map<std::string, std::weak_ptr<Hive>> cache;
    const std::string path = HivePath(root);
    std::lock_guard<std::mutex> lock(cacheMutex);
    if (auto live = cache[path].lock()) return live;
    auto hive = std::make_shared<Hive>(root, path);
    cache[path] = hive;
    return hive;
}

}  // namespace

std::string HivePath(RegRoot root) {
    if (root == RegRoot::CurrentUser) return ConfigFolder() + "Oculara/HKEY_CURRENT_USER.reg";
    return WithoutTrailingSlash(EnvOr("OCULARA_SYSCONFDIR", "/etc")) + "/Oculara/HKEY_LOCAL_MACHINE.reg";
}

std::string AutostartFolder() { return ConfigFolder() + "autostart/"; }

std::string MachineAutostartFolder() {
    return WithoutTrailingSlash(EnvOr("OCULARA_SYSCONFDIR", "/etc")) + "/xdg/autostart/";
}

// ---------------------------------------------------------------- keys

RegKey::RegKey(std::shared_ptr<Hive> hive, RegNode* node, bool autostart)
    : hive_(std::move(hive)), node_(node), autostart_(autostart) {}

RegKey::~RegKey() { Close(); }

std::unique_ptr<RegKey> RegKey::OpenPath(RegRoot root, const std::vector<std::string>& parts,
                                         bool create, std::shared_ptr<Hive> hive) {
    if (IsRunKeyPath(root, parts)) {
        // The Run key has no subkeys.
        return parts.size() == 5 ? std::unique_ptr<RegKey>(new RegKey(nullptr, nullptr, true)) : nullptr;
    }
    if (!hive) hive = AcquireHive(root);
    std::lock_guard<std::mutex> lock(hive->mutex);
    RegNode* node = &hive->tree;
    for (const auto& part : parts) {
        RegNode* child = node->Child(part);
        if (!child) {
            if (!create) return nullptr;
            child = node->AddChild(part);
            hive->dirty = true;
        }
        node = child;
    }
    return std::unique_ptr<RegKey>(new RegKey(std::move(hive), node, false));
}

std::unique_ptr<RegKey> RegKey::Open(RegRoot root, const std::string& path, bool create) {
    std::vector<std::string> parts;
    if (!SplitKeyPath(path, parts)) return nullptr;
    return OpenPath(root, parts, create, nullptr);
}

std::unique_ptr<RegKey> RegKey::OpenSubKey(const std::string& path, bool create) {
    if (closed_ || autostart_) return nullptr;
    std::vector<std::string> parts;
    {
        std::lock_guard<std::mutex> lock(hive_->mutex);
        parts = node_->Path();
    }
    if (!SplitKeyPath(path, parts)) return nullptr;
    return OpenPath(hive_->root(), parts, create, hive_);
}

std::optional<RegValue> RegKey::Read(const std::string& name) const {
    if (closed_) return std::nullopt;
    if (autostart_) {
        const auto file = FindAutostartFile(name);
        if (!file) return std::nullopt;
        const auto exec = DesktopExec(*file);
        if (!exec) return std::nullopt;
        return RegValue::FromText(RegType::Sz, *exec);
    }
    std::lock_guard<std::mutex> lock(hive_->mutex);
    if (const auto* v = node_->Value(name)) return v->second;
    return std::nullopt;
}

bool RegKey::Exists(const std::string& name) const { return Read(name).has_value(); }

std::vector<std::string> RegKey::ValueNames() const {
    std::vector<std::string> names;
    if (closed_) return names;
    if (autostart_) {
        for (const auto& entry : AutostartEntries())
            if (DesktopExec(entry.second)) names.push_back(entry.first);
        return names;
    }
    std::lock_guard<std::mutex> lock(hive_->mutex);
    for (const auto& v : node_->values) names.push_back(v.first);
    return names;
}

std::vector<std::string> RegKey::SubKeyNames() const {
    std::vector<std::string> names;
    if (closed_ || autostart_) return names;
    std::lock_guard<std::mutex> lock(hive_->mutex);
    for (const auto& c : node_->children) names.push_back(c->name);
    return names;
}

bool RegKey::WriteString(const std::string& name, const std::string& text) {
    return WriteRaw(name, RegValue::FromText(RegType::Sz, text));
}

bool RegKey::WriteDword(const std::string& name, uint32_t value) {
    return WriteRaw(name, RegValue::FromDword(value));
}

bool RegKey::WriteRaw(const std::string& name, const RegValue& value) {
    if (closed_ || !ValidValueName(name)) return false;
    if (autostart_) {
        const auto text = value.Text();
        return value.type == RegType::Sz && text && WriteAutostart(name, *text);
    }
    std::lock_guard<std::mutex> lock(hive_->mutex);
    if (auto* existing = node_->Value(name)) {
        if (existing->second == value) return true;
        existing->second = value;  // keeps its place and its spelling
    } else {
        node_->values.emplace_back(name, value);
    }
    hive_->dirty = true;
    return true;
}

bool RegKey::Delete(const std::string& name) {
    if (closed_) return false;
    if (autostart_) return DeleteAutostart(name);
    std::lock_guard<std::mutex> lock(hive_->mutex);
    auto& values = node_->values;
    for (auto it = values.begin(); it != values.end(); ++it) {
        if (NamesEqual(it->first, name)) {
            values.erase(it);
            hive_->dirty = true;
            return true;
        }
    }
    return false;
}

bool RegKey::Flush() {
    if (closed_ || autostart_) return !closed_;
    std::lock_guard<std::mutex> lock(hive_->mutex);
    return hive_->Save();
}

bool RegKey::Close() {
    if (closed_) return true;
    const bool ok = Flush();
    closed_ = true;
    hive_.reset();
    node_ = nullptr;
    return ok;
}

}  // namespace platform
