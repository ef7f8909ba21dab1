#include "platform/Shell.h"

#include <algorithm>
#include <chrono>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fcntl.h>
#include <linux/close_range.h>
#include <mutex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace platform {
namespace {

std::mutex spawnMutex;
SpawnFn spawnOverride;

bool Spawn(const std::vector<std::string>& argv, const std::string& folder = "") {
    SpawnFn fn;
    {
        std::lock_guard<std::mutex> lock(spawnMutex);
        fn = spawnOverride;
    }
    return fn ? fn(argv) : SpawnDetachedInFolder(argv, folder);
}

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

// Settings written on Windows may quote a path that holds blanks.
std::string Unquote(const std::string& s) {
    size_t b = s.find_first_not_of(" \t");
    if (b == std::string::npos) return "";
    size_t e = s.find_last_not_of(" \t");
    std::string t = s.substr(b, e - b + 1);
    if (t.size() >= 2 && t.front() == '"' && t.back() == '"') t = t.substr(1, t.size() - 2);
    return t;
}

bool IsExecutableFile(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Files on FAT or NTFS mounts often carry the execute bit whatever they
// hold; only a real program or script is started, the rest is a document.
bool LooksRunnable(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    char head[4] = {};
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    if (n >= 2 && head[0] == '#' && head[1] == '!') return true;
    return n == 4 && std::memcmp(head, "\x7f" "ELF", 4) == 0;
}

std::vector<std::string> SplitBlanks(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string word; in >> word;) out.push_back(word);
    return out;
}

bool IsUrl(const std::string& s) {
    const std::string l = Lower(s);
    for (const char* scheme : {"http://", "https://", "mailto:", "file:"})
        if (l.rfind(scheme, 0) == 0) return true;
    return false;
}

bool OpenWithDefaultHandler(const std::string& target) {
    const std::string xdgOpen = FindOnPath({"xdg-open"});
    if (xdgOpen.empty()) {
        std::fprintf(stderr, "Oculara: nessun programma per aprire \"%s\" (manca xdg-open)\n",
                     target.c_str());
        return false;
    }
    return Spawn({xdgOpen, target});
}

bool OpenInTextEditor(const std::string& file) {
    const std::string editor = FindOnPath({"gnome-text-editor", "gedit", "kate", "kwrite",
                                           "mousepad", "xed", "pluma", "featherpad", "leafpad"});
    if (!editor.empty()) {
        std::vector<std::string> argv{editor};
        if (!file.empty()) argv.push_back(file);
        return Spawn(argv);
    }
    if (!file.empty() && !FindOnPath({"xdg-open"}).empty()) return OpenWithDefaultHandler(file);
    std::fprintf(stderr, "Oculara: nessun editor di testo per aprire \"%s\"\n", file.c_str());
    return false;
}

bool OpenVolumeControl() {
    const std::vector<std::vector<std::string>> programs{
        {"pavucontrol"},        {"pavucontrol-qt"}, {"gnome-control-center", "sound"},
        {"mate-volume-control"}, {"xfce4-mixer"}};
    for (const auto& argv : programs) {
        std::string path = FindOnPath({argv[0]});
        if (path.empty()) continue;
        std::vector<std::string> full = argv;
        full[0] = path;
        return Spawn(full);
    }
    std::fprintf(stderr,
                 "Oculara: nessun programma per il controllo del volume "
                 "(per esempio pavucontrol)\n");
    return false;
}

// ---- pages that forward to a secret address

// A browser that is slow to start reads the page only seconds after the
// opener has returned; older pages have served their purpose.
constexpr auto kPageLifetime = std::chrono::minutes(2);

struct PrivatePage {
    std::string folder;  // made for the page alone, mode 0700
    std::string path;
    std::chrono::steady_clock::time_point made;
};
std::mutex pagesMutex;  // guards pages; any thread may open a page
std::vector<PrivatePage> pages;

void RemovePage(const PrivatePage& page) {
    (void)unlink(page.path.c_str());
    (void)rmdir(page.folder.c_str());
}

void RemoveOldPages() {
    const auto now = std::chrono::steady_clock::now();
    std::lock_guard<std::mutex> lock(pagesMutex);
    auto old = std::partition(pages.begin(), pages.end(),
                              [&](const PrivatePage& p) { return now - p.made < kPageLifetime; });
    std::for_each(old, pages.end(), RemovePage);
    pages.erase(old, pages.end());
}

void Remember(PrivatePage page) {
    static std::once_flag atExit;
    std::call_once(atExit, [] { std::atexit(RemovePrivatePages); });
    std::lock_guard<std::mutex> lock(pagesMutex);
    pages.push_back(std::move(page));
}

// The per-user runtime folder (private by definition), else the temporary one.
std::string PageBase() {
    for (const char* var : {"XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* v = std::getenv(var);
        struct stat st;
        if (v && *v == '/' && stat(v, &st) == 0 && S_ISDIR(st.st_mode) && access(v, W_OK | X_OK) == 0) return v;
    }
    return "/tmp";
}

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

// The address travels byte for byte: the gateway's query is in Windows-1252,
// and a page in that encoding sends its bytes on unchanged. The script reads
// the link back from the page, so the address is never script text.
std::string ForwardingPage(const std::string& url) {
    const std::string href = HtmlEscaped(url);
    return "<!DOCTYPE html>\n<html><head><meta charset=\"windows-1252\">\n"
           "<meta name=\"referrer\" content=\"no-referrer\">\n"
           "<meta http-equiv=\"refresh\" content=\"0;url=" + href + "\">\n"
           "<title>Oculara</title></head>\n<body>\n<p><a id=\"destinazione\" href=\"" + href +
           "\">Continua</a></p>\n"
           "<script>location.replace(document.getElementById(\"destinazione\").href);</script>\n"
           "</body></html>\n";
}

bool WriteWhole(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A fresh private folder with the page in it; an empty path on failure.
PrivatePage MakePage(const std::string& url) {
    PrivatePage page;
    std::string folder = PageBase() + "/oculara-XXXXXX";
    if (!mkdtemp(folder.data())) return page;  // mode 0700
    const std::string path = folder + "/acquista.html";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    bool ok = fd >= 0 && WriteWhole(fd, ForwardingPage(url));
    if (fd >= 0) ok = close(fd) == 0 && ok;
    if (!ok) {
        (void)unlink(path.c_str());
        (void)rmdir(folder.c_str());
        return page;
    }
    page.folder = folder;
    page.path = path;
    page.made = std::chrono::steady_clock::now();
    return page;
}

}  // namespace

bool ShellOpenPrivately(const std::string& url) {
    RemoveOldPages();
    const std::string scheme = Lower(url.substr(0, 8));
    if (scheme.rfind("http://", 0) != 0 && scheme.rfind("https://", 0) != 0) return false;
    PrivatePage page = MakePage(url);
    if (page.path.empty()) {
        std::fprintf(stderr, "Oculara: impossibile preparare la pagina per aprire l'indirizzo\n");
        return false;
    }
    if (!OpenWithDefaultHandler(page.path)) {
        RemovePage(page);
        return false;
    }
    Remember(std::move(page));
    return true;
}

void RemovePrivatePages() {
    std::lock_guard<std::mutex> lock(pagesMutex);
    std::for_each(pages.begin(), pages.end(), RemovePage);
    pages.clear();
}

void SetSpawnForTests(SpawnFn spawn) {
    std::lock_guard<std::mutex> lock(spawnMutex);
    spawnOverride = std::move(spawn);
}

std::string FindOnPath(const std::vector<std::string>& candidates) {
    const char* env = std::getenv("PATH");
    const std::string path = env ? env : "/usr/local/bin:/usr/bin:/bin";
    for (const auto& name : candidates) {
        if (name.empty()) continue;
        if (name.find('/') != std::string::npos) {
            if (IsExecutableFile(name)) return name;
            continue;
        }
        size_t start = 0;
        while (start <= path.size()) {
            size_t end = path.find(':', start);
            if (end == std::string::npos) end = path.size();
            const std::string dir = end > start ? path.substr(start, end - start) : std::string(".");
            const std::string full = dir + "/" + name;
            if (IsExecutableFile(full)) return full;
            start = end + 1;
        }
    }
    return "";
}

bool SpawnDetached(const std::vector<std::string>& argv) { return SpawnDetachedInFolder(argv, ""); }

bool SpawnDetachedInFolder(const std::vector<std::string>& argv, const std::string& folder) {
    if (argv.empty() || argv[0].empty()) return false;
    // Everything the children need is prepared here: between fork and exec
    // only async-signal-safe calls are allowed.
    std::string program = argv[0].find('/') != std::string::npos ? argv[0] : FindOnPath({argv[0]});
    if (program.empty()) {
        std::fprintf(stderr, "Oculara: impossibile avviare \"%s\": programma non trovato\n",
                     argv[0].c_str());
        return false;
    }
    if (program[0] != '/' && !folder.empty()) {
        // The child changes folder before exec, so a relative path would miss.
        std::error_code ec;
        program = std::filesystem::absolute(program, ec).string();
    }
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;

    pid_t child = fork();
    if (child < 0) {
        close(pipeFds[0]);
        close(pipeFds[1]);
        return false;
    }
    if (child == 0) {
        // The middle child gives the program its own session and exits at
        // once, so the program is adopted by init and never left a zombie.
        close(pipeFds[0]);
        setsid();
        pid_t grandchild = fork();
        if (grandchild == 0) {
            int devNull = open("/dev/null", O_RDONLY);
            if (devNull >= 0) {
                dup2(devNull, STDIN_FILENO);
                if (devNull != STDIN_FILENO) close(devNull);
            }
            // Descriptors the program holds without CLOEXEC (devices,
            // sockets) must not outlive it in the child.
            close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            signal(SIGPIPE, SIG_DFL);
            if (!folder.empty() && chdir(folder.c_str()) != 0) {
                // Starting in the inherited folder beats not starting.
            }
            execve(program.c_str(), args.data(), environ);
            int err = errno;
            ssize_t ignored = write(pipeFds[1], &err, sizeof err);
            (void)ignored;
            _exit(127);
        }
        if (grandchild < 0) {
            int err = errno;
            ssize_t ignored = write(pipeFds[1], &err, sizeof err);
            (void)ignored;
        }
        _exit(0);
    }

    close(pipeFds[1]);
    int err = 0;
    ssize_t n;
    do {
        n = read(pipeFds[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(pipeFds[0]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof err)) {
        std::fprintf(stderr, "Oculara: impossibile avviare \"%s\": %s\n", program.c_str(),
                     std::strerror(err));
        return false;
    }
    return true;
}

bool ShellOpen(const std::string& file, const std::string& parameters) {
    const std::string target = Unquote(file);
    const std::string name = Lower(target);
    if (name == "notepad.exe" || name == "notepad") return OpenInTextEditor(Unquote(parameters));
    if (name == "sndvol32.exe" || name == "sndvol32") return OpenVolumeControl();
    if (target.empty()) return false;
    if (IsUrl(target)) return OpenWithDefaultHandler(target);

    struct stat st;
    if (stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode) && IsExecutableFile(target) &&
        LooksRunnable(target)) {
        // A bare name would be looked up on PATH by the spawner; the shell
        // means the file in the current folder.
        std::vector<std::string> argv{target.find('/') == std::string::npos ? "./" + target : target};
        for (auto& p : SplitBlanks(parameters)) argv.push_back(std::move(p));
        std::error_code ec;
        std::string folder = std::filesystem::absolute(argv[0], ec).parent_path().string();
        return Spawn(argv, folder);
    }
    // Folders, documents, and names that do not exist (the handler tells
    // the user what is wrong with them).
    return OpenWithDefaultHandler(target);
}

}  // namespace platform
