#pragma once
// Real devices for the realdev bench, as GStreamer's device monitor lists
// them on a desktop:
// - PrivatePulse: a private PulseAudio server (null sink + virtual source
//   "Microfono reale di prova") fed by the test with quiet noise and loud
//   bursts through pacat;
// - PrivatePipeWireCamera: a private session bus, PipeWire and WirePlumber,
//   with a camera node "Videocamera reale di prova" (YUY2 320x240, 15 fps,
//   or another size offered in YUY2, MJPEG or both, each at its own rate:
//   PipeWireCameraMode) provided by support/pipewire_camera.c, whose still
//   scene the test draws, with an object that crosses it on request.
//
// Everything lives in a temporary folder of its own. Every child runs in a
// process group of its own with a parent-death signal, and is SIGKILLed by
// the destructors on every path (a failed ASSERT included).
//
// Start() says Missing (skip) when a program is not installed, Failed when a
// daemon does not come up within the time given: use REALDEV_START.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <initializer_list>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

struct StartResult {
    enum Kind { Ok, Missing, Failed };
    Kind kind = Ok;
    std::string message;
    static StartResult Good() { return {}; }
    static StartResult Skip(std::string why) { return {Missing, std::move(why)}; }
    static StartResult Fail(std::string why) { return {Failed, std::move(why)}; }
    bool ok() const { return kind == Ok; }
};

// In a test body or SetUp: skips the test when a program is missing, fails
// it (fatally) when a daemon did not come up.
#define REALDEV_START(expr)                                                          \
    do {                                                                             \
        const ::testsupport::StartResult realdev_start_ = (expr);                    \
        if (realdev_start_.kind == ::testsupport::StartResult::Missing)              \
            GTEST_SKIP() << realdev_start_.message;                                  \
        ASSERT_EQ(realdev_start_.kind, ::testsupport::StartResult::Ok) << realdev_start_.message; \
    } while (0)

// The programs of `names` that are not found on PATH, joined by ", " ("" when all are).
std::string MissingPrograms(std::initializer_list<const char*> names);

// Variables to set (a value) or to remove (nullopt).
using EnvChanges = std::map<std::string, std::optional<std::string>>;
// This process's environment with `changes` applied, as NAME=VALUE strings.
std::vector<std::string> EnvironmentWith(const EnvChanges& changes);

// Sets several variables in this process for one scope (ScopedEnv each).
class ScopedEnvSet {
public:
    explicit ScopedEnvSet(const std::map<std::string, std::string>& vars);
    ScopedEnvSet(const ScopedEnvSet&) = delete;
    ScopedEnvSet& operator=(const ScopedEnvSet&) = delete;

private:
    std::vector<std::unique_ptr<ScopedEnv>> vars_;
};

// A child process in a process group of its own; it gets SIGKILL when this
// thread's process dies (PR_SET_PDEATHSIG) and from the destructor.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { Kill(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // argv[0] is looked up on PATH. stdout and stderr are appended to
    // `logPath`; stdin is `stdinFd` (dup'ed; -1: /dev/null).
    bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& logPath,
               int stdinFd, std::string* error);
    // SIGKILL to the whole group, then reaped. No-op when not running.
    void Kill();
    void Signal(int sig);
    bool Running();
    pid_t Pid() const { return pid_; }

private:
    pid_t pid_ = -1;
};

// Runs a command to its end (killed after `timeout`); stdout+stderr in `output`.
// True when it exited with status 0.
bool RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env, std::string* output,
                std::chrono::milliseconds timeout = std::chrono::seconds(10));

// True once a unix stream socket at `path` accepts a connection.
bool SocketAccepts(const std::string& path);

// The video frames stored in an AVI file: how many, how many differ from
// every other (a repeated frame has the same bytes), and the stream's rate.
struct AviVideoFrames {
    size_t frames = 0;
    size_t distinct = 0;
    uint32_t rate = 0, scale = 0;  // frames a second = rate / scale
    std::string error;             // "" when the file could be read
};
AviVideoFrames ReadAviVideoFrames(const std::string& path);

// ------------------------------------------------------------ PulseAudio

class PrivatePulse {
public:
    static constexpr const char* SinkName = "oculara_null";
    static constexpr const char* SourceName = "oculara_mic";
    static constexpr const char* SourceDescription = "Microfono reale di prova";
    static constexpr int Rate = 44100;           // the feeder's PCM: S16LE mono
    static constexpr int QuietAmplitude = 300;   // noise floor, of 32767
    static constexpr int LoudAmplitude = 20000;  // bursts: a 440 Hz tone

    PrivatePulse();
    ~PrivatePulse();
    PrivatePulse(const PrivatePulse&) = delete;
    PrivatePulse& operator=(const PrivatePulse&) = delete;

    // The daemon, then the feeder playing quiet noise into the null sink;
    // returns once the feeder plays and the server is 1.5 s old (Settle).
    StartResult Start(std::chrono::milliseconds timeout = std::chrono::seconds(10));

    // What a client needs to reach this server and no other.
    std::map<std::string, std::string> ClientEnv() const;

    // A loud burst of `length` starting now / at `at` (played about 0.2 s later).
    void Burst(std::chrono::milliseconds length);
    void ScheduleBurst(std::chrono::steady_clock::time_point at, std::chrono::milliseconds length);

    // SIGKILL to the daemon only (its clients, the feeder too, lose the connection).
    void Kill();
    // Everything killed, then started again on the same socket (and settled).
    StartResult Restart(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool DaemonRunning() { return daemon_.Running(); }
    pid_t DaemonPid() const { return daemon_.Pid(); }

    // pactl with ClientEnv(); true on success.
    bool Pactl(const std::vector<std::string>& args, std::string* output = nullptr);
    // Unloads / loads again the module of the virtual source.
    bool UnloadVirtualSource();
    bool LoadVirtualSource();

    std::string DaemonLog() const;
    const std::string& Dir() const { return dir_.path(); }

private:
    StartResult StartDaemon(std::chrono::milliseconds timeout);
    StartResult StartFeeder();
    void StopFeeder();
    void Settle();
    void FeedLoop(int fd);

    TempDir dir_;
    ChildProcess daemon_;
    std::chrono::steady_clock::time_point daemonStarted_;
    ChildProcess pacat_;
    std::thread feeder_;
    int feedFd_ = -1;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::vector<std::pair<std::chrono::steady_clock::time_point, std::chrono::steady_clock::time_point>> bursts_;
};

// ------------------------------------------------------------ PipeWire camera

// What the PipeWire camera's node offers: one frame size, in each format of
// `offers` at its own rate.
struct PipeWireCameraMode {
    struct Offer {
        bool jpeg = false;  // MJPEG, else YUY2
        int fps = 15;
    };
    int width = 320;
    int height = 240;
    std::vector<Offer> offers{Offer{}};
    bool numbered = false;  // every frame carries its number, so no two are alike
};

class PrivatePipeWireCamera {
public:
    static constexpr const char* NodeName = "oculara_camera";
    static constexpr const char* Description = "Videocamera reale di prova";
    static constexpr int Width = 320;  // the default mode
    static constexpr int Height = 240;
    static constexpr int Fps = 15;

    explicit PrivatePipeWireCamera(PipeWireCameraMode mode = {});
    ~PrivatePipeWireCamera();
    PrivatePipeWireCamera(const PrivatePipeWireCamera&) = delete;
    PrivatePipeWireCamera& operator=(const PrivatePipeWireCamera&) = delete;

    // Session bus, pipewire, wireplumber, then the camera provider. Missing
    // when the provider was not built (no PipeWire development files).
    StartResult Start(std::chrono::milliseconds timeout = std::chrono::seconds(15));

    // XDG_RUNTIME_DIR, PIPEWIRE_RUNTIME_DIR, DBUS_SESSION_BUS_ADDRESS.
    std::map<std::string, std::string> ClientEnv() const;

    // A dark object crosses the picture from left to right in `duration`, now.
    void Cross(std::chrono::milliseconds duration = std::chrono::seconds(3));
    // A crossing every `period` (the first one a period from now); 0 stops them.
    void CrossEvery(std::chrono::milliseconds period, std::chrono::milliseconds duration = std::chrono::seconds(3));

    // SIGKILL to the provider (the node disappears).
    void KillProvider();
    // A new provider (a new node with the same name and description).
    StartResult RestartProvider(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    bool ProviderRunning() { return provider_.Running(); }
    // SIGKILL to pipewire (wireplumber exits with it).
    void KillPipeWire();
    pid_t PipeWirePid() const { return pipewire_.Pid(); }

    // pw-cli with ClientEnv(); true on success.
    bool PwCli(const std::vector<std::string>& args, std::string* output = nullptr);
    std::string Logs() const;
    const std::string& Dir() const { return dir_.path(); }

private:
    std::vector<std::string> DaemonEnv() const;
    StartResult ModeSupported() const;
    StartResult StartProvider(std::chrono::milliseconds timeout);
    void StopWriter();
    void WriteLoop(int fd);
    void DrawFrame(std::vector<uint8_t>& frame, std::chrono::steady_clock::time_point now, uint64_t number);

    const PipeWireCameraMode mode_;
    TempDir dir_;
    std::string run_;  // XDG_RUNTIME_DIR / PIPEWIRE_RUNTIME_DIR
    ChildProcess dbus_;
    ChildProcess pipewire_;
    ChildProcess wireplumber_;
    ChildProcess provider_;
    std::thread writer_;
    int frameFd_ = -1;
    std::mutex mutex_;  // the crossings
    std::optional<std::chrono::steady_clock::time_point> crossStart_;
    std::chrono::milliseconds crossDuration_{3000};
    std::chrono::milliseconds crossPeriod_{0};
    std::chrono::steady_clock::time_point nextPeriodic_;
};

}  // namespace testsupport
