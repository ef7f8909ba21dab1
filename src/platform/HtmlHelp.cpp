#include "platform/HtmlHelp.h"

#include "platform/Shell.h"

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <sys/stat.h>

namespace platform {
namespace {

constexpr const char* kMarker = "::/html/";

// The page without its "#anchor", and the anchor.
void SplitAnchor(const std::string& page, std::string& file, std::string& anchor) {
    size_t hash = page.find('#');
    file = page.substr(0, hash);
    anchor = hash == std::string::npos ? "" : page.substr(hash + 1);
}

bool SafePage(const std::string& page) {
    if (page.empty() || page.front() == '/' || page.back() == '/') return false;
    if (page.find('\0') != std::string::npos || page.find('\\') != std::string::npos) return false;
    size_t start = 0;
    while (start <= page.size()) {
        size_t end = page.find('/', start);
        if (end == std::string::npos) end = page.size();
        const std::string part = page.substr(start, end - start);
        if (part.empty() || part == "." || part == "..") return false;
        start = end + 1;
    }
    return true;
}

std::string PercentEncode(const std::string& text, bool keepSlash) {
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                     c == '-' || c == '.' || c == '_' || c == '~' || (keepSlash && c == '/');
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 0xF];
        }
    }
    return out;
}

// "<dir>/<name>.chm" and the page after the marker; false when malformed.
bool ParseAddress(const std::string& address, std::string& dir, std::string& page) {
    size_t marker = address.find(kMarker);
    if (marker == std::string::npos) return false;
    const std::string chm = address.substr(0, marker);
    size_t slash = chm.rfind('/');
    const std::string name = slash == std::string::npos ? chm : chm.substr(slash + 1);
    if (name.size() <= 4) return false;
    std::string ext = name.substr(name.size() - 4);
    for (auto& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext != ".chm") return false;
    dir = slash == std::string::npos ? "" : chm.substr(0, slash + 1);
    page = address.substr(marker + std::char_traits<char>::length(kMarker));
    return true;
}

}  // namespace

std::string HelpPageFile(const std::string& address) {
    std::string dir, page, file, anchor;
    if (!ParseAddress(address, dir, page)) return "";
    SplitAnchor(page, file, anchor);
    if (!SafePage(file)) return "";
    return dir + "help/html/" + file;
}

bool HtmlHelpDisplayTopic(const std::string& address) {
    const std::string file = HelpPageFile(address);
    if (file.empty()) return false;
    struct stat st;
    if (stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::error_code ec;
    const std::string absolute = std::filesystem::absolute(file, ec).lexically_normal().string();
    if (ec) return false;
    std::string dir, page, pageFile, anchor;
    ParseAddress(address, dir, page);
    SplitAnchor(page, pageFile, anchor);
    std::string url = "file://" + PercentEncode(absolute, true);
    if (!anchor.empty()) url += "#" + PercentEncode(anchor, false);
    return ShellOpen(url);
}

}  // namespace platform
