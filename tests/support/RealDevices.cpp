#include "support/RealDevices.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string_view>

extern char** environ;

namespace testsupport {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

bool OnPath(const std::string& name) {
    if (name.find('/') != std::string::npos) return ::access(name.c_str(), X_OK) == 0;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        if (::access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    }
    return false;
}

// Polls `condition` every 20 ms until it holds or `timeout` passes.
template <typename F>
bool PollUntil(F condition, std::chrono::milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    while (Clock::now() < end) {
        if (condition()) return true;
        std::this_thread::sleep_for(20ms);
    }
    return condition();
}

std::string Tail(const std::string& text, size_t n = 3000) {
    return text.size() <= n ? text : "..." + text.substr(text.size() - n);
}

// Sends all of `bytes`; false when the peer is gone or the socket was shut down.
bool SendAll(int fd, const uint8_t* bytes, size_t size) {
    while (size > 0) {
        const ssize_t n = ::send(fd, bytes, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes += n;
        size -= size_t(n);
    }
    return true;
}

}  // namespace

std::string MissingPrograms(std::initializer_list<const char*> names) {
    std::string missing;
    for (const char* name : names) {
        if (OnPath(name)) continue;
        if (!missing.empty()) missing += ", ";
        missing += name;
    }
    return missing;
}

std::vector<std::string> EnvironmentWith(const EnvChanges& changes) {
    std::vector<std::string> out;
    for (char** e = environ; *e; ++e) {
        const std::string var = *e;
        if (!changes.count(var.substr(0, var.find('=')))) out.push_back(var);
    }
    for (const auto& [name, value] : changes)
        if (value) out.push_back(name + "=" + *value);
    return out;
}

ScopedEnvSet::ScopedEnvSet(const std::map<std::string, std::string>& vars) {
    for (const auto& [name, value] : vars) vars_.push_back(std::make_unique<ScopedEnv>(name, value));
}

// ------------------------------------------------------------ ChildProcess

bool ChildProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                         const std::string& logPath, int stdinFd, std::string* error) {
    Kill();
    // Everything the child needs is prepared before fork: between fork and
    // exec only async-signal-safe calls.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::vector<std::string> candidates;
    if (argv.empty()) {
        if (error) *error = "no program";
        return false;
    }
    if (argv[0].find('/') != std::string::npos) {
        candidates.push_back(argv[0]);
    } else {
        const char* path = std::getenv("PATH");
        std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
        std::string dir;
        while (std::getline(dirs, dir, ':'))
            if (!dir.empty()) candidates.push_back(dir + "/" + argv[0]);
    }
    const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    const int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (log < 0 || devnull < 0) {
        if (log >= 0) ::close(log);
        if (devnull >= 0) ::close(devnull);
        if (error) *error = "cannot open " + logPath;
        return false;
    }
    const pid_t parent = ::getpid();
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(log);
        ::close(devnull);
        if (error) *error = "fork failed";
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent) _exit(127);
        // Signals ignored or blocked here would be inherited through exec.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        ::signal(SIGPIPE, SIG_DFL);
        ::dup2(stdinFd >= 0 ? stdinFd : devnull, 0);
        ::dup2(log, 1);
        ::dup2(log, 2);
        for (const auto& c : candidates) ::execve(c.c_str(), args.data(), envp.data());
        _exit(127);
    }
    ::setpgid(pid, pid);  // also from here, so that Kill never races the child's own call
    ::close(log);
    ::close(devnull);
    pid_ = pid;
    return true;
}

void ChildProcess::Signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

void ChildProcess::Kill() {
    if (pid_ <= 0) return;
    ::kill(-pid_, SIGKILL);
    ::kill(pid_, SIGKILL);
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
}

bool ChildProcess::Running() {
    if (pid_ <= 0) return false;
    int status = 0;
    const pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno == ECHILD)) {
        // The group may still hold grandchildren: they go too.
        ::kill(-pid_, SIGKILL);
        pid_ = -1;
        return false;
    }
    return true;
}

bool RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string* output,
                std::chrono::milliseconds timeout) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) return false;
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    std::vector<std::string> candidates;
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    if (!argv.empty() && argv[0].find('/') != std::string::npos) candidates.push_back(argv[0]);
    else
        while (std::getline(dirs, dir, ':'))
            if (!dir.empty() && !argv.empty()) candidates.push_back(dir + "/" + argv[0]);
    const int devnull = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        if (devnull >= 0) ::close(devnull);
        return false;
    }
    if (pid == 0) {
        ::setpgid(0, 0);
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (devnull >= 0) ::dup2(devnull, 0);
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        for (const auto& c : candidates) ::execve(c.c_str(), args.data(), envp.data());
        _exit(127);
    }
    ::setpgid(pid, pid);
    ::close(fds[1]);
    if (devnull >= 0) ::close(devnull);
    std::string text;
    const auto end = Clock::now() + timeout;
    bool timedOut = false;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) {
            timedOut = true;
            break;
        }
        pollfd p{fds[0], POLLIN, 0};
        const int r = ::poll(&p, 1, int(left));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) {
            timedOut = r == 0;
            break;
        }
        char buf[4096];
        const ssize_t n = ::read(fds[0], buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        text.append(buf, size_t(n));
    }
    ::close(fds[0]);
    if (timedOut) ::kill(-pid, SIGKILL);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ::kill(-pid, SIGKILL);  // anything it left behind in its group
    if (output) *output = text;
    return !timedOut && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool SocketAccepts(const std::string& path) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) return false;
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::close(fd);
    return ok;
}

// ------------------------------------------------------------ PrivatePulse

PrivatePulse::PrivatePulse() {
    std::filesystem::create_directories(dir_ / "home");
    std::filesystem::create_directories(dir_ / "runtime");
    std::filesystem::create_directories(dir_ / "state");
    ::chmod((dir_ / "runtime").c_str(), 0700);
    // No autospawn: a client that cannot reach this server fails instead of
    // starting a server of its own.
    WriteFile(dir_ / "client.conf", "autospawn = no\n");
    // The socket comes last: once it accepts, the devices are there.
    WriteFile(dir_ / "server.pa",
              std::string("load-module module-null-sink sink_name=") + SinkName +
                  " sink_properties=\"device.description='Uscita nulla di prova'\"\n"
                  "load-module module-virtual-source source_name=" + SourceName + " master=" + SinkName +
                  ".monitor source_properties=\"device.description='" + SourceDescription + "'\"\n"
                  "load-module module-native-protocol-unix auth-anonymous=1 socket=" + (dir_ / "native") + "\n");
}

PrivatePulse::~PrivatePulse() {
    StopFeeder();
    daemon_.Kill();
}

std::map<std::string, std::string> PrivatePulse::ClientEnv() const {
    return {
        {"PULSE_SERVER", "unix:" + (dir_ / "native")},
        {"PULSE_RUNTIME_PATH", dir_ / "runtime"},
        {"PULSE_STATE_PATH", dir_ / "state"},
        {"PULSE_CLIENTCONFIG", dir_ / "client.conf"},
        {"PULSE_COOKIE", dir_ / "home/.config/pulse/cookie"},
    };
}

StartResult PrivatePulse::Start(std::chrono::milliseconds timeout) {
    const std::string missing = MissingPrograms({"pulseaudio", "pacat", "pactl"});
    if (!missing.empty())
        return StartResult::Skip("not installed: " + missing + " (packages pulseaudio, pulseaudio-utils)");
    StartResult r = StartDaemon(timeout);
    if (!r.ok()) return r;
    r = StartFeeder();
    Settle();
    return r;
}

// A graph run within about half a second of the server's start, with the
// PipeWire camera in the same graph, saw its video stop after the first
// frames (the audio went on); one second later it does not happen. The
// bench stands for a server that has been running.
void PrivatePulse::Settle() { std::this_thread::sleep_until(daemonStarted_ + 1500ms); }

StartResult PrivatePulse::StartDaemon(std::chrono::milliseconds timeout) {
    EnvChanges env;
    for (const auto& [k, v] : ClientEnv()) env[k] = v;
    env["PULSE_SERVER"] = std::nullopt;
    env["HOME"] = dir_ / "home";
    env["XDG_CONFIG_HOME"] = dir_ / "home/.config";
    env["XDG_RUNTIME_DIR"] = dir_ / "runtime";
    env["DBUS_SESSION_BUS_ADDRESS"] = "disabled:";
    env["DISPLAY"] = std::nullopt;
    // As root the daemon only warns ("not intended to be run as root"): no
    // --system needed. No shared memory (--disable-shm), no idle exit, no
    // realtime scheduling through rtkit, no pid file, no default script.
    const std::vector<std::string> argv = {"pulseaudio",          "-n",
                                           "--daemonize=no",      "--exit-idle-time=-1",
                                           "--disable-shm=yes",   "--use-pid-file=no",
                                           "--system=no",         "--realtime=no",
                                           "--high-priority=no",  "--log-target=stderr",
                                           "--log-level=notice",  "-F",
                                           dir_ / "server.pa"};
    std::string error;
    daemonStarted_ = Clock::now();
    if (!daemon_.Start(argv, EnvironmentWith(env), dir_ / "pulseaudio.log", -1, &error))
        return StartResult::Fail("pulseaudio: " + error);
    const std::string socket = dir_ / "native";
    if (!PollUntil([&] { return SocketAccepts(socket) || !daemon_.Running(); }, timeout) || !daemon_.Running())
        return StartResult::Fail("the private PulseAudio server did not come up within " +
                                 std::to_string(timeout.count()) + " ms:\n" + Tail(DaemonLog()));
    return StartResult::Good();
}

StartResult PrivatePulse::StartFeeder() {
    StopFeeder();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return StartResult::Fail("socketpair failed");
    EnvChanges env;
    for (const auto& [k, v] : ClientEnv()) env[k] = v;
    const std::vector<std::string> argv = {"pacat",          "--playback",
                                           "--raw",          "--format=s16le",
                                           "--rate=" + std::to_string(Rate),
                                           "--channels=1",   std::string("--device=") + SinkName,
                                           "--latency-msec=100", "--client-name=oculara-feeder",
                                           "--stream-name=scena"};
    std::string error;
    const bool started = pacat_.Start(argv, EnvironmentWith(env), dir_ / "pacat.log", fds[1], &error);
    ::close(fds[1]);
    if (!started) {
        ::close(fds[0]);
        return StartResult::Fail("pacat: " + error);
    }
    {
        std::lock_guard lock(mutex_);
        stop_ = false;
    }
    feedFd_ = fds[0];
    feeder_ = std::thread([this, fd = fds[0]] { FeedLoop(fd); });
    // Ready once the feeder's stream plays into the sink.
    const bool playing = PollUntil(
        [&] {
            std::string out;
            return !pacat_.Running() || (Pactl({"list", "short", "sink-inputs"}, &out) && !out.empty());
        },
        5s);
    if (!playing || !pacat_.Running())
        return StartResult::Fail("the feeder (pacat) did not start playing:\n" + Tail(ReadFile(dir_ / "pacat.log")));
    return StartResult::Good();
}

void PrivatePulse::StopFeeder() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (feedFd_ >= 0) ::shutdown(feedFd_, SHUT_RDWR);  // a blocked send returns
    if (feeder_.joinable()) feeder_.join();
    if (feedFd_ >= 0) ::close(feedFd_);
    feedFd_ = -1;
    pacat_.Kill();
}

void PrivatePulse::FeedLoop(int fd) {
    constexpr int chunk = Rate / 100;  // 10 ms
    constexpr auto lead = 100ms;       // written ahead of the wall clock
    const auto start = Clock::now();
    uint64_t written = 0;
    uint32_t seed = 12345;
    std::vector<int16_t> samples(chunk);
    for (;;) {
        const auto due = start + std::chrono::microseconds(written * 1000000 / Rate) - lead;
        std::vector<std::pair<Clock::time_point, Clock::time_point>> bursts;
        {
            std::unique_lock lock(mutex_);
            if (wake_.wait_until(lock, due, [this] { return stop_; })) return;
            // Bursts that ended are forgotten.
            const auto now = Clock::now();
            std::erase_if(bursts_, [&](const auto& b) { return b.second < now - 10s; });
            bursts = bursts_;
        }
        for (int i = 0; i < chunk; ++i) {
            const uint64_t n = written + uint64_t(i);
            const auto t = start + std::chrono::microseconds(n * 1000000 / Rate);
            bool loud = false;
            for (const auto& b : bursts) loud = loud || (t >= b.first && t < b.second);
            seed = seed * 1664525u + 1013904223u;
            const int noise = int((seed >> 16) % (2 * QuietAmplitude + 1)) - QuietAmplitude;
            if (loud) {
                const double v = LoudAmplitude * std::sin(2.0 * 3.14159265358979 * 440.0 * double(n) / Rate);
                samples[size_t(i)] = int16_t(std::lround(v) + noise / 4);
            } else {
                samples[size_t(i)] = int16_t(noise);
            }
        }
        if (!SendAll(fd, reinterpret_cast<const uint8_t*>(samples.data()), samples.size() * sizeof(int16_t))) return;
        written += chunk;
    }
}

void PrivatePulse::Burst(std::chrono::milliseconds length) { ScheduleBurst(Clock::now(), length); }

void PrivatePulse::ScheduleBurst(Clock::time_point at, std::chrono::milliseconds length) {
    std::lock_guard lock(mutex_);
    bursts_.push_back({at, at + length});
}

void PrivatePulse::Kill() { daemon_.Kill(); }

StartResult PrivatePulse::Restart(std::chrono::milliseconds timeout) {
    StopFeeder();
    daemon_.Kill();
    StartResult r = StartDaemon(timeout);
    if (!r.ok()) return r;
    r = StartFeeder();
    Settle();
    return r;
}

bool PrivatePulse::Pactl(const std::vector<std::string>& args, std::string* output) {
    EnvChanges env;
    for (const auto& [k, v] : ClientEnv()) env[k] = v;
    std::vector<std::string> argv = {"pactl"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, EnvironmentWith(env), output, 10s);
}

bool PrivatePulse::UnloadVirtualSource() { return Pactl({"unload-module", "module-virtual-source"}); }

bool PrivatePulse::LoadVirtualSource() {
    return Pactl({"load-module", "module-virtual-source", std::string("source_name=") + SourceName,
                  std::string("master=") + SinkName + ".monitor",
                  std::string("source_properties=\"device.description='") + SourceDescription + "'\""});
}

std::string PrivatePulse::DaemonLog() const { return ReadFile(dir_ / "pulseaudio.log"); }

// ------------------------------------------------------------ AVI frames

namespace {

uint32_t Le32(const char* p) {
    return uint32_t(uint8_t(p[0])) | uint32_t(uint8_t(p[1])) << 8 | uint32_t(uint8_t(p[2])) << 16 |
           uint32_t(uint8_t(p[3])) << 24;
}

// Walks the RIFF chunks in [begin, end) of `file`; lists are entered.
void WalkAvi(std::ifstream& file, uint64_t begin, uint64_t end, AviVideoFrames& out, std::set<size_t>& hashes) {
    char head[12];
    for (uint64_t at = begin; at + 8 <= end;) {
        file.seekg(std::streamoff(at));
        if (!file.read(head, 8)) return;
        const std::string_view id(head, 4);
        const uint64_t size = Le32(head + 4);
        if (id == "RIFF" || id == "LIST") {
            if (!file.read(head + 8, 4)) return;
            WalkAvi(file, at + 12, std::min(end, at + 8 + size), out, hashes);
        } else if (id == "strh" && size >= 28) {
            std::string strh(size, '\0');
            if (file.read(strh.data(), std::streamsize(size)) && strh.compare(0, 4, "vids") == 0) {
                out.scale = Le32(strh.data() + 20);
                out.rate = Le32(strh.data() + 24);
            }
        } else if (id.substr(0, 2) == "00" && (id.substr(2) == "db" || id.substr(2) == "dc")) {
            std::string frame(size, '\0');
            if (!file.read(frame.data(), std::streamsize(size))) return;
            ++out.frames;
            hashes.insert(std::hash<std::string>{}(frame));
        }
        at += 8 + size + (size & 1);
    }
}

}  // namespace

AviVideoFrames ReadAviVideoFrames(const std::string& path) {
    AviVideoFrames out;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        out.error = "cannot read " + path;
        return out;
    }
    std::set<size_t> hashes;
    WalkAvi(file, 0, std::filesystem::file_size(path), out, hashes);
    out.distinct = hashes.size();
    if (out.rate == 0 || out.scale == 0) out.error = path + " holds no video stream";
    return out;
}

// ------------------------------------------------------------ PipeWire camera

PrivatePipeWireCamera::PrivatePipeWireCamera(PipeWireCameraMode mode) : mode_(std::move(mode)) {
    run_ = dir_ / "run";
    std::filesystem::create_directories(run_);
    ::chmod(run_.c_str(), 0700);  // Qt and PipeWire want it private
    std::filesystem::create_directories(dir_ / "home/.config");
    std::filesystem::create_directories(dir_ / "home/.local/state");
    std::filesystem::create_directories(dir_ / "home/.local/share");
}

PrivatePipeWireCamera::~PrivatePipeWireCamera() {
    StopWriter();
    provider_.Kill();
    wireplumber_.Kill();
    pipewire_.Kill();
    dbus_.Kill();
}

std::map<std::string, std::string> PrivatePipeWireCamera::ClientEnv() const {
    return {
        {"XDG_RUNTIME_DIR", run_},
        {"PIPEWIRE_RUNTIME_DIR", run_},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (dir_ / "bus")},
    };
}

std::vector<std::string> PrivatePipeWireCamera::DaemonEnv() const {
    EnvChanges env;
    for (const auto& [k, v] : ClientEnv()) env[k] = v;
    env["HOME"] = dir_ / "home";
    env["XDG_CONFIG_HOME"] = dir_ / "home/.config";
    env["XDG_STATE_HOME"] = dir_ / "home/.local/state";
    env["XDG_DATA_HOME"] = dir_ / "home/.local/share";
    env["PIPEWIRE_REMOTE"] = std::nullopt;
    env["PULSE_SERVER"] = std::nullopt;
    env["DISPLAY"] = std::nullopt;
    env["WAYLAND_DISPLAY"] = std::nullopt;
    return EnvironmentWith(env);
}

bool PrivatePipeWireCamera::PwCli(const std::vector<std::string>& args, std::string* output) {
    std::vector<std::string> argv = {"pw-cli"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv, DaemonEnv(), output, 10s);
}

StartResult PrivatePipeWireCamera::Start(std::chrono::milliseconds timeout) {
    const std::string missing =
        MissingPrograms({"dbus-daemon", "pipewire", "wireplumber", "pw-cli", "gst-inspect-1.0"});
    if (!missing.empty())
        return StartResult::Skip("not installed: " + missing + " (packages dbus, pipewire, wireplumber, "
                                 "gstreamer1.0-tools)");
    if (StartResult mode = ModeSupported(); !mode.ok()) return mode;
    // What the capture layer reads the node with. (--exists would compare
    // the plugin's version with GStreamer's: the PipeWire plugin's 0.3 is
    // "too old".)
    if (!RunCommand({"gst-inspect-1.0", "pipewiresrc"}, EnvironmentWith({}), nullptr, 30s))
        return StartResult::Skip("the GStreamer element pipewiresrc is not installed (gstreamer1.0-pipewire)");
    const auto env = DaemonEnv();
    const auto deadline = Clock::now() + timeout;
    auto left = [&] {
        return std::max(std::chrono::milliseconds(0),
                        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()));
    };
    std::string error;
    const std::string bus = dir_ / "bus";
    if (!dbus_.Start({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--print-address",
                      "--address=unix:path=" + bus},
                     env, dir_ / "dbus.log", -1, &error))
        return StartResult::Fail("dbus-daemon: " + error);
    if (!PollUntil([&] { return SocketAccepts(bus) || !dbus_.Running(); }, left()) || !dbus_.Running())
        return StartResult::Fail("the private session bus did not come up:\n" + Logs());

    if (!pipewire_.Start({"pipewire"}, env, dir_ / "pipewire.log", -1, &error))
        return StartResult::Fail("pipewire: " + error);
    const std::string socket = run_ + "/pipewire-0";
    if (!PollUntil([&] { return SocketAccepts(socket) || !pipewire_.Running(); }, left()) || !pipewire_.Running())
        return StartResult::Fail("the private PipeWire did not come up:\n" + Logs());

    if (!wireplumber_.Start({"wireplumber"}, env, dir_ / "wireplumber.log", -1, &error))
        return StartResult::Fail("wireplumber: " + error);
    // WirePlumber links streams to nodes: wait until its client is there.
    const bool wp = PollUntil(
        [&] {
            std::string out;
            return !wireplumber_.Running() || (PwCli({"ls", "Client"}, &out) && out.find("WirePlumber") != std::string::npos);
        },
        left());
    if (!wp || !wireplumber_.Running())
        return StartResult::Fail("WirePlumber did not come up:\n" + Logs());
    return StartProvider(left());
}

namespace {

// The camera node's program (support/pipewire_camera.c), built only where
// PipeWire's development files are; "" where it is not.
#ifdef OCULARA_PIPEWIRE_CAMERA
constexpr const char* CameraProgram = OCULARA_PIPEWIRE_CAMERA;
#else
constexpr const char* CameraProgram = "";
#endif

}  // namespace

StartResult PrivatePipeWireCamera::ModeSupported() const {
    if (!*CameraProgram)
        return StartResult::Skip("the camera node's program pipewire_camera was not built: PipeWire's development "
                                 "files (libpipewire-0.3-dev) were not found when this tree was configured");
    if (::access(CameraProgram, X_OK) != 0)
        return StartResult::Skip(std::string("the camera node's program is not built: ") + CameraProgram +
                                 " (target pipewire_camera)");
    return StartResult::Good();
}

StartResult PrivatePipeWireCamera::StartProvider(std::chrono::milliseconds timeout) {
    if (StartResult mode = ModeSupported(); !mode.ok()) return mode;
    StopWriter();
    provider_.Kill();
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return StartResult::Fail("socketpair failed");
    std::vector<std::string> argv = {CameraProgram, NodeName, Description, std::to_string(mode_.width),
                                     std::to_string(mode_.height)};
    for (const auto& offer : mode_.offers)
        argv.push_back(std::string(offer.jpeg ? "mjpg/" : "yuy2/") + std::to_string(offer.fps));
    EnvChanges env;
    for (const auto& [k, v] : ClientEnv()) env[k] = v;
    env["PIPEWIRE_REMOTE"] = std::nullopt;
    std::string error;
    const bool started = provider_.Start(argv, EnvironmentWith(env), dir_ / "provider.log", fds[1], &error);
    ::close(fds[1]);
    if (!started) {
        ::close(fds[0]);
        return StartResult::Fail("pipewire_camera: " + error);
    }
    frameFd_ = fds[0];
    writer_ = std::thread([this, fd = fds[0]] { WriteLoop(fd); });
    const std::string wanted = std::string("node.name = \"") + NodeName + "\"";
    const bool listed = PollUntil(
        [&] {
            std::string out;
            return !provider_.Running() || (PwCli({"ls", "Node"}, &out) && out.find(wanted) != std::string::npos);
        },
        timeout);
    if (!listed || !provider_.Running())
        return StartResult::Fail("the camera node did not appear:\n" + Logs());
    return StartResult::Good();
}

void PrivatePipeWireCamera::StopWriter() {
    if (frameFd_ >= 0) ::shutdown(frameFd_, SHUT_RDWR);
    if (writer_.joinable()) writer_.join();
    if (frameFd_ >= 0) ::close(frameFd_);
    frameFd_ = -1;
}

void PrivatePipeWireCamera::Cross(std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    crossStart_ = Clock::now();
    crossDuration_ = duration;
}

void PrivatePipeWireCamera::CrossEvery(std::chrono::milliseconds period, std::chrono::milliseconds duration) {
    std::lock_guard lock(mutex_);
    crossPeriod_ = period;
    crossDuration_ = duration;
    nextPeriodic_ = Clock::now() + period;
}

// A still, textured room (luma steps and a few fixed blocks, neutral
// colour) and, while a crossing lasts, a dark upright object moving left to
// right; numbered frames carry their number in 16 blocks along the top.
void PrivatePipeWireCamera::DrawFrame(std::vector<uint8_t>& frame, Clock::time_point now, uint64_t number) {
    const int width = mode_.width, height = mode_.height;
    std::optional<int> objectX;
    constexpr int objectW = 72, objectH = 150;
    {
        std::lock_guard lock(mutex_);
        if (crossPeriod_.count() > 0 && now >= nextPeriodic_) {
            crossStart_ = nextPeriodic_;
            nextPeriodic_ += crossPeriod_;
        }
        if (crossStart_ && now >= *crossStart_ && now < *crossStart_ + crossDuration_) {
            const double f = std::chrono::duration<double>(now - *crossStart_) / crossDuration_;
            objectX = int(-objectW + f * (width + objectW));
        }
    }
    const int bitW = std::max(1, width / 16);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = frame.data() + size_t(y) * width * 2;
        for (int x = 0; x < width; ++x) {
            int luma = 90 + (y * 60) / height + ((x / 40 + y / 30) % 2) * 25;
            if (x >= 30 && x < 90 && y >= 40 && y < 100) luma = 200;     // a window
            if (x >= 220 && x < 290 && y >= 150 && y < 230) luma = 60;   // a cupboard
            if (objectX && x >= *objectX && x < *objectX + objectW && y >= height - objectH - 20 && y < height - 20)
                luma = 20;
            if (mode_.numbered && y < 16 && x / bitW < 16) luma = (number >> (x / bitW)) & 1 ? 235 : 16;
            row[2 * x] = uint8_t(luma);
            row[2 * x + 1] = 128;  // U / V alternate: neutral grey
        }
    }
}

// The node asks for each frame (a byte) when it wants one: it alone knows
// the negotiated rate. Ends when the socket is shut down or the node exits.
void PrivatePipeWireCamera::WriteLoop(int fd) {
    std::vector<uint8_t> frame(size_t(mode_.width) * mode_.height * 2);
    for (uint64_t n = 0;; ++n) {
        char want;
        ssize_t got;
        do got = ::recv(fd, &want, 1, 0);
        while (got < 0 && errno == EINTR);
        if (got != 1) return;
        DrawFrame(frame, Clock::now(), n);
        if (!SendAll(fd, frame.data(), frame.size())) return;
    }
}

void PrivatePipeWireCamera::KillProvider() {
    provider_.Kill();
    StopWriter();
}

StartResult PrivatePipeWireCamera::RestartProvider(std::chrono::milliseconds timeout) {
    return StartProvider(timeout);
}

void PrivatePipeWireCamera::KillPipeWire() { pipewire_.Kill(); }

std::string PrivatePipeWireCamera::Logs() const {
    std::string out;
    for (const char* name : {"dbus.log", "pipewire.log", "wireplumber.log", "provider.log"}) {
        const std::string text = ReadFile(dir_ / name);
        if (!text.empty()) out += std::string("--- ") + name + "\n" + Tail(text, 1500) + "\n";
    }
    return out;
}

}  // namespace testsupport
