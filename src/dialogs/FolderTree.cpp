#include "dialogs/FolderTree.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace dialogs {

namespace {

// Calls `take` with each visible subfolder name until it returns false.
template <typename Take>
void ForEachSubfolder(const std::string& path, Take take) {
    if (path.empty()) return;
    std::error_code ec;
    fs::directory_iterator it(path, fs::directory_options::skip_permission_denied, ec);
    for (const fs::directory_iterator end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        std::error_code statError;
        // status() follows links: a link to a folder is a folder to the user.
        if (!fs::is_directory(it->status(statError)) || statError) continue;
        if (!take(name)) return;
    }
}

}  // namespace

std::string NormalFolderPath(const std::string& path) {
    if (path.empty()) return "";
    std::string normal = fs::path(path).lexically_normal().string();
    while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
    return normal.empty() ? std::string(".") : normal;
}

std::string JoinFolder(const std::string& base, const std::string& name) {
    if (!base.empty() && base.back() == '/') return base + name;
    return base + "/" + name;
}

std::optional<std::vector<std::string>> StepsBelow(const std::string& base, const std::string& path) {
    if (base.empty() || path.empty()) return std::nullopt;
    if (path == base) return std::vector<std::string>{};
    const std::string prefix = base == "/" ? base : base + "/";
    if (path.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    std::vector<std::string> steps;
    size_t from = prefix.size();
    while (from < path.size()) {
        size_t slash = path.find('/', from);
        if (slash == std::string::npos) slash = path.size();
        if (slash > from) steps.push_back(path.substr(from, slash - from));
        from = slash + 1;
    }
    return steps;
}

std::vector<std::string> SubfolderNames(const std::string& path) {
    std::vector<std::string> names;
    ForEachSubfolder(path, [&](const std::string& name) {
        names.push_back(name);
        return true;
    });
    std::sort(names.begin(), names.end(), FolderLess);
    return names;
}

bool HasSubfolder(const std::string& path) {
    bool found = false;
    ForEachSubfolder(path, [&](const std::string&) {
        found = true;
        return false;
    });
    return found;
}

bool FolderLess(const std::string& a, const std::string& b) {
    const auto fold = [](unsigned char c) { return std::tolower(c); };
    const bool less = std::lexicographical_compare(
        a.begin(), a.end(), b.begin(), b.end(),
        [&](unsigned char x, unsigned char y) { return fold(x) < fold(y); });
    if (less) return true;
    const bool greater = std::lexicographical_compare(
        b.begin(), b.end(), a.begin(), a.end(),
        [&](unsigned char x, unsigned char y) { return fold(x) < fold(y); });
    return !greater && a < b;
}

}  // namespace dialogs
