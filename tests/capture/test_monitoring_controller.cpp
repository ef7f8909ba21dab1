// The monitoring controller on the built-in test devices, without a window:
// listing, monitoring and preview graphs built from chosen entries, the stop
// order, a recording, and destruction while the graph runs.

#include "capture/FormatLists.h"
#include "capture/MonitoringController.h"
#include "core/Globali.h"
#include "platform/CaptureTestSupport.h"
#include "platform/TestDevices.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>

// These tests run real pipelines, and GLib and GStreamer are not
// instrumented: their futex hand-overs look like races and their lock order
// like deadlocks. Only reports with no frame in those libraries are ours.
#if defined(__SANITIZE_THREAD__)
extern "C" const char* __tsan_default_options() { return "ignore_noninstrumented_modules=1"; }
extern "C" __attribute__((weak)) const char* __tsan_default_suppressions() {
    return "race:libglib-2.0.so\nrace:libgobject-2.0.so\nrace:libgst\ndeadlock:libgst\n";
}
#endif

namespace {

using capture::CaptureChoice;
using capture::Medium;
using capture::MonitoringController;
using capturetest::SleepMs;
using capturetest::WaitUntil;

std::vector<std::string> Names(const std::vector<capture::DeviceEntry>& entries) {
    std::vector<std::string> names;
    for (const auto& e : entries) names.push_back(e.name);
    return names;
}

bool Detecting(uint8_t state) { return state >= capture::WarmUp && state <= capture::Monitoring; }

class MonitoringControllerTest : public capturetest::CaptureTest {
protected:
    void SetUp() override {
        settings_.AttesaPerCalibrazioneVideo = 1;
        settings_.AttesaPerCalibrazioneAudio = 1;
        settings_.RegAvi_Dir = dir_.path() + "/";
    }

    // Lists both media and takes the preselected entries, as the window's
    // lists show them after a refresh.
    CaptureChoice ListAndPreselect(MonitoringController& m) {
        CaptureChoice choice;
        m.RefreshVideoDevices();
        choice.videoDevice = m.PreselectedVideoDevice();
        const auto video = m.SelectVideoDevice(choice.videoDevice);
        if (video && video->selected >= 0) {
            choice.videoFormat = video->selected;
            choice.videoFormatText = video->entries[video->selected].name;
        }
        m.RefreshAudioDevices();
        choice.audioDevice = m.PreselectedAudioDevice();
        const auto audio = m.SelectAudioDevice(choice.audioDevice);
        if (audio && audio->formats.selected >= 0) {
            choice.audioFormat = audio->formats.selected;
            choice.audioFormatText = audio->formats.entries[audio->formats.selected].name;
            choice.audioLine = audio->line;
        }
        return choice;
    }

    // An entry other than the preselected one, by its text.
    static void Choose(const std::vector<capture::FormatEntry>& formats, const std::string& text, int& index,
                       std::string& chosenText) {
        index = capture::IndexOf(formats, text);
        ASSERT_GE(index, 0) << text;
        chosenText = text;
    }

    // Stop as the window does it, with the callbacks' grace between.
    static void Stop(MonitoringController& m) {
        m.DetachDetectors();
        SleepMs(100);
        m.StopGraph();
        m.ResetDetectors();
    }

    testsupport::ScopedEnv quietScene_{"OCULARA_TEST_INTRUDER_SECONDS", std::string("1000")};
    testsupport::TempDir dir_;
    TSettings settings_;
};

TEST_F(MonitoringControllerTest, ListsTheTestDevicesWithTheDesignedPreselection) {
    settings_.dispositivo_video = "Camera che non c'è";
    MonitoringController m(settings_);
    EXPECT_EQ(Names(m.RefreshVideoDevices()), std::vector<std::string>{platform::TestCameraName});
    EXPECT_EQ(Names(m.RefreshAudioDevices()), std::vector<std::string>{platform::TestMicrophoneName});
    ASSERT_EQ(m.PreselectedVideoDevice(), 0);  // the stored one is gone: the first
    ASSERT_EQ(m.PreselectedAudioDevice(), 0);
    EXPECT_FALSE(m.SelectVideoDevice(-1));
    EXPECT_FALSE(m.SelectAudioDevice(1));
    EXPECT_EQ(settings_.dispositivo_video, "Camera che non c'è");

    const auto video = m.SelectVideoDevice(0);
    ASSERT_TRUE(video);
    ASSERT_GE(video->selected, 0);
    EXPECT_EQ(video->entries[video->selected].name, "RGB 352x288, 24 bits");
    EXPECT_GE(capture::IndexOf(video->entries, "RGB 640x480, 24 bits"), 0);
    EXPECT_EQ(settings_.dispositivo_video, platform::TestCameraName);
    EXPECT_EQ(settings_.risoluzione_video, "RGB 352x288, 24 bits");

    const auto audio = m.SelectAudioDevice(0);
    ASSERT_TRUE(audio);
    EXPECT_EQ(audio->lines, (std::vector<std::string>{"Microfono", "Ingresso linea"}));
    EXPECT_EQ(audio->line, 0);
    EXPECT_GE(capture::IndexOf(audio->formats.entries, "PCM 44100 Hertz, 16 Bits, Stereo"), 0);
    EXPECT_EQ(settings_.dispositivo_audio, platform::TestMicrophoneName);
    EXPECT_EQ(settings_.periferica_audio, "Microfono");
    ASSERT_GE(audio->formats.selected, 0);
    EXPECT_EQ(settings_.risoluzione_audio, audio->formats.entries[audio->formats.selected].name);

    // Listing activates the graph only for as long as it reads the pins.
    EXPECT_FALSE(m.Components().FilterGraph.IsActive());
    EXPECT_EQ(m.Components().VideoFormats.size(), video->entries.size());
}

TEST_F(MonitoringControllerTest, MonitoringAppliesTheChosenEntriesAndStopsInOrder) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    CaptureChoice choice = ListAndPreselect(m);
    Choose(c.VideoFormats, "RGB 160x120, 24 bits", choice.videoFormat, choice.videoFormatText);
    Choose(c.AudioFormats, "PCM 22050 Hertz, 8 Bits, Mono", choice.audioFormat, choice.audioFormatText);
    choice.audioLine = 1;
    const alarms::MovementItem item[1] = {};
    c.EventCounters.AppendEvent(alarms::EventoMovimento, item, 1);

    m.StartMonitoring(true, true, choice);
    EXPECT_TRUE(m.GraphRunning());
    EXPECT_EQ(c.EventCounters.PendingCount(), 0);  // the queue starts empty
    ASSERT_TRUE(WaitUntil(
        [&] { return c.VideoSampleGrabber->SampleCount() > 3 && c.AudioSampleGrabber->SampleCount() > 1; }));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));

    const auto videoType = c.VideoSampleGrabber->GetConnectedMediaType();
    ASSERT_TRUE(videoType);
    const capture::VideoFrameFormat frame = capture::FormatFromMediaType(*videoType);
    EXPECT_EQ(frame.width, 160);
    EXPECT_EQ(frame.height, 120);
    EXPECT_EQ(frame.bitsPerPixel, 24);
    const auto audioType = c.AudioSampleGrabber->GetConnectedMediaType();
    ASSERT_TRUE(audioType);
    const auto wave = capture::AudioFormatOf(*audioType);
    ASSERT_TRUE(wave);
    EXPECT_EQ(wave->nSamplesPerSec, 22050u);
    EXPECT_EQ(wave->wBitsPerSample, 8);
    EXPECT_EQ(wave->nChannels, 1);
    const auto pins = c.AudioSourceFilter->EnumPins();
    ASSERT_EQ(pins.size(), 3u);
    EXPECT_FALSE(pins[1]->GetEnable());
    EXPECT_TRUE(pins[2]->GetEnable());  // "Ingresso linea"

    // Detached: samples still arrive, but no detector hears them any more.
    c.EventCounters.AppendEvent(alarms::EventoMovimento, item, 1);
    m.DetachDetectors();
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.EventCounters.PendingCount(), 0);
    EXPECT_GE(c.EventCounters.Totals().TotalMovements, 2);  // totals stay
    m.StartVideoDetector();
    m.StartAudioDetector();
    const uint64_t video = c.VideoSampleGrabber->SampleCount(), audio = c.AudioSampleGrabber->SampleCount();
    ASSERT_TRUE(WaitUntil([&] {
        return c.VideoSampleGrabber->SampleCount() > video + 3 && c.AudioSampleGrabber->SampleCount() > audio + 1;
    }));
    EXPECT_EQ(c.videoDetector.State.load(), capture::CheckFormat);
    EXPECT_EQ(c.audioDetector.State.load(), capture::CheckFormat);

    m.StopGraph();
    EXPECT_FALSE(m.GraphRunning());
    EXPECT_FALSE(c.FilterGraph.IsActive());
    m.ResetDetectors();
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.videoDetector.Busy.load(), 0);
    EXPECT_EQ(c.audioDetector.Busy.load(), 0);
}

TEST_F(MonitoringControllerTest, OneMediumRestsWhileTheOtherDetects) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    m.StartMonitoring(true, true, ListAndPreselect(m));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));

    m.IdleDetector(Medium::Audio);
    // The motion detector goes on: it samples frames or moves to its next state.
    const uint32_t stamp = c.videoDetector.Stamp.load();
    const uint8_t videoState = c.videoDetector.State.load();
    ASSERT_TRUE(WaitUntil([&] {
        return c.videoDetector.Stamp.load() != stamp || c.videoDetector.State.load() != videoState;
    }, 8000));
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);

    // Back from the format check, with the same graph still running.
    m.StartAudioDetector();
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));
    EXPECT_TRUE(Detecting(c.videoDetector.State.load()));

    m.StopDetector(Medium::Video);
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_TRUE(Detecting(c.audioDetector.State.load()));
    Stop(m);
}

TEST_F(MonitoringControllerTest, OnlyAudioAndPreviewLeaveTheVideoGrabberOut) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    const CaptureChoice choice = ListAndPreselect(m);

    m.StartMonitoring(false, true, choice);
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.VideoSampleGrabber->SampleCount(), 0u);
    EXPECT_EQ(c.VideoRenderer->FramesDelivered(), 0u);
    Stop(m);

    m.StartPreview(true, true, choice);
    ASSERT_TRUE(WaitUntil([&] { return c.VideoRenderer->FramesDelivered() > 3; }));
    ASSERT_TRUE(WaitUntil([&] { return c.audioDetector.State.load() == capture::LevelOnly; }));
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.VideoSampleGrabber->SampleCount(), 0u);
    Stop(m);
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    EXPECT_FALSE(m.GraphRunning());
}

TEST_F(MonitoringControllerTest, RecordingWritesAnAviAndPutsMonitoringBack) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    m.StartMonitoring(true, true, ListAndPreselect(m));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));

    // Video only is recorded once the motion detector watches.
    std::string name = "unchanged";
    m.PauseDetectors();  // certainly not watching
    EXPECT_FALSE(m.StartRecording(name));
    EXPECT_EQ(name, "unchanged");
    EXPECT_TRUE(m.GraphRunning());
    m.ResumeDetectors();

    settings_.RegAvi_RegistraAudio = true;  // with both media it never waits
    const uint8_t before = c.videoDetector.State.load();
    ASSERT_TRUE(m.StartRecording(name));
    EXPECT_EQ(name.rfind(dir_.path() + "/OCL-", 0), 0u) << name;
    EXPECT_EQ(name.size(), dir_.path().size() + 1 + 4 + 14 + 4);
    EXPECT_EQ(name.substr(name.size() - 4), ".avi");
    EXPECT_GE(c.videoDetector.State.load(), before);  // restored, not left Idle
    EXPECT_TRUE(m.GraphRunning());
    const uint64_t samples = c.VideoSampleGrabber->SampleCount();
    ASSERT_TRUE(WaitUntil([&] { return c.VideoSampleGrabber->SampleCount() > samples + 3; }, 8000));

    m.PauseDetectors();
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    EXPECT_EQ(c.audioDetector.State.load(), capture::Idle);
    m.EndRecording();
    EXPECT_FALSE(m.GraphRunning());
    const std::string avi = testsupport::ReadFile(name);
    ASSERT_GT(avi.size(), 10000u);
    EXPECT_EQ(avi.substr(0, 4), "RIFF");
    EXPECT_EQ(avi.substr(8, 4), "AVI ");
    EXPECT_NE(avi.find("idx1"), std::string::npos);  // finished, not cut off

    m.ReconnectMonitoring();
    m.ResumeDetectors();
    EXPECT_TRUE(m.GraphRunning());
    EXPECT_TRUE(Detecting(c.videoDetector.State.load()));
    const uint64_t again = c.VideoSampleGrabber->SampleCount(), audio = c.AudioSampleGrabber->SampleCount();
    ASSERT_TRUE(WaitUntil([&] {
        return c.VideoSampleGrabber->SampleCount() > again + 3 && c.AudioSampleGrabber->SampleCount() > audio + 1;
    }));
    Stop(m);
    // The file stays as it was: the branch was not put back.
    EXPECT_EQ(testsupport::ReadFile(name).size(), avi.size());
}

// Records for a moment and puts the monitoring back, as the window's timer does.
void RecordBriefly(MonitoringController& m, std::string& name) {
    ASSERT_TRUE(m.StartRecording(name));
    // Some frames in the file, however slow the machine (the sanitizers).
    ASSERT_TRUE(WaitUntil([&] { return testsupport::ReadFile(name).size() > 20000; }, 10000));
    m.PauseDetectors();
    m.EndRecording();
    m.ReconnectMonitoring();
    m.ResumeDetectors();
}

mode_t ModeOf(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
}

TEST_F(MonitoringControllerTest, RecordingsInOneSecondNeverReplaceAFileAndAreForTheUserAlone) {
    struct PinnedClock {
        PinnedClock() { platform::SetNowForTests({2024, 1, 2, 3, 4, 5, 0}); }
        ~PinnedClock() { platform::ClearNowForTests(); }
    } clock;
    const mode_t oldMask = ::umask(022);
    const std::string plain = dir_ / "OCL-20240102030405.avi";
    testsupport::WriteFile(plain, "kept");  // a file of that name already there
    settings_.RegAvi_RegistraAudio = true;
    MonitoringController m(settings_);
    m.StartMonitoring(true, true, ListAndPreselect(m));
    std::string first, second;
    RecordBriefly(m, first);
    RecordBriefly(m, second);
    Stop(m);
    ::umask(oldMask);

    EXPECT_EQ(first, dir_ / "OCL-20240102030405-2.avi");
    EXPECT_EQ(second, dir_ / "OCL-20240102030405-3.avi");
    EXPECT_EQ(testsupport::ReadFile(plain), "kept");
    for (const std::string& name : {first, second}) {
        SCOPED_TRACE(name);
        const std::string avi = testsupport::ReadFile(name);
        EXPECT_EQ(avi.substr(0, 4), "RIFF");
        EXPECT_NE(avi.find("idx1"), std::string::npos);
        EXPECT_EQ(ModeOf(name), 0600u);
    }
}

TEST_F(MonitoringControllerTest, AFolderWhereNoFileCanBeMadeRefusesTheRecordingAndMonitoringGoesOn) {
    settings_.RegAvi_Dir = dir_ / "missing/";
    settings_.RegAvi_RegistraAudio = true;
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    m.StartMonitoring(true, true, ListAndPreselect(m));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
    const uint8_t before = c.videoDetector.State.load();
    std::string name = "unchanged";
    EXPECT_FALSE(m.StartRecording(name));
    EXPECT_EQ(name, "unchanged");
    EXPECT_TRUE(m.GraphRunning());
    EXPECT_GE(c.videoDetector.State.load(), before);  // never paused
    EXPECT_FALSE(testsupport::PathExists(dir_ / "missing"));
    const uint64_t samples = c.VideoSampleGrabber->SampleCount();
    EXPECT_TRUE(WaitUntil([&] { return c.VideoSampleGrabber->SampleCount() > samples + 3; }));
    Stop(m);
}

// Writes to plain files fail past `bytes` while it lives, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        ::getrlimit(RLIMIT_FSIZE, &old_);
        rlimit limited = old_;
        limited.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limited);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit old_{};
    void (*oldHandler_)(int) = SIG_DFL;
};

TEST_F(MonitoringControllerTest, AFileThatCannotBeWrittenIsReportedOnceAndMonitoringGoesOn) {
    settings_.RegAvi_RegistraAudio = true;
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    m.StartMonitoring(true, true, ListAndPreselect(m));
    std::string name;
    std::vector<platform::DeviceNotice> notices;
    {
        FileSizeLimit full(0);
        ASSERT_TRUE(m.StartRecording(name));
        // The file is made; its first write fails.
        EXPECT_TRUE(WaitUntil([&] {
            for (auto& n : m.WatchDevices()) notices.push_back(n);
            return !notices.empty();
        }));
        m.PauseDetectors();
        m.EndRecording();
    }
    m.ReconnectMonitoring();
    m.ResumeDetectors();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, platform::DeviceNotice::Kind::RecordingFailed);
    EXPECT_EQ(notices[0].device, name);
    EXPECT_FALSE(notices[0].detail.empty());
    // Reported once, whatever the rebuild said after it; the monitoring runs on.
    SleepMs(500);
    EXPECT_TRUE(m.WatchDevices().empty());
    EXPECT_TRUE(m.GraphRunning());
    const uint64_t samples = c.VideoSampleGrabber->SampleCount(), audio = c.AudioSampleGrabber->SampleCount();
    EXPECT_TRUE(WaitUntil([&] {
        return c.VideoSampleGrabber->SampleCount() > samples + 3 && c.AudioSampleGrabber->SampleCount() > audio;
    }));
    // Nothing reached it: no empty file is left behind to look like a recording.
    EXPECT_FALSE(testsupport::PathExists(name));

    // The next recording, with room again, is written.
    std::string next;
    RecordBriefly(m, next);
    Stop(m);
    EXPECT_NE(testsupport::ReadFile(next).find("idx1"), std::string::npos);
    EXPECT_TRUE(m.WatchDevices().empty());
}

TEST_F(MonitoringControllerTest, DeviceSettingsAreShownOverALivePicture) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    const CaptureChoice choice = ListAndPreselect(m);
    int shown = 0;
    bool live = false;
    auto show = [&](const std::shared_ptr<platform::SourceFilter>& source) {
        ++shown;
        live = m.GraphRunning() && source == c.VideoSourceFilter && source->HasDevice();
    };

    m.ShowVideoDeviceSettings(-1, show);
    EXPECT_EQ(shown, 0);

    c.videoDetector.State.store(capture::Calibrating);  // saved and put back around the pages
    m.ShowVideoDeviceSettings(choice.videoDevice, show);
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(live);
    EXPECT_FALSE(m.GraphRunning());
    EXPECT_FALSE(c.FilterGraph.IsActive());
    EXPECT_EQ(c.videoDetector.State.load(), capture::Calibrating);

    m.StartMonitoring(true, true, choice);
    m.ShowVideoDeviceSettings(choice.videoDevice, show);
    EXPECT_EQ(shown, 2);
    EXPECT_TRUE(live);
    EXPECT_TRUE(m.GraphRunning());  // the running graph is left alone
    EXPECT_NE(c.videoDetector.State.load(), capture::Idle);
    Stop(m);
}

// Set on the motion detector, it checks when the detector is destroyed
// whether samples still reach the grabber, i.e. whether the graph still runs.
struct GraphStillRunningProbe {
    GraphStillRunningProbe(std::shared_ptr<platform::SampleGrabber> g, std::atomic<int>* v)
        : grabber(std::move(g)), verdict(v) {}
    GraphStillRunningProbe(const GraphStillRunningProbe&) = delete;
    GraphStillRunningProbe& operator=(const GraphStillRunningProbe&) = delete;
    std::shared_ptr<platform::SampleGrabber> grabber;
    std::atomic<int>* verdict;  // 1: still delivering, 0: stopped
    ~GraphStillRunningProbe() {
        const uint64_t before = grabber->SampleCount();
        SleepMs(400);
        verdict->store(grabber->SampleCount() > before ? 1 : 0);
    }
};

TEST_F(MonitoringControllerTest, DestroyedWhileMonitoringStopsTheGraphBeforeTheDetectorsGo) {
    std::atomic<int> verdict{-1};
    std::shared_ptr<platform::SampleGrabber> grabber;
    {
        auto m = std::make_unique<MonitoringController>(settings_);
        capture::CaptureComponents& c = m->Components();
        grabber = c.VideoSampleGrabber;
        m->StartMonitoring(true, true, ListAndPreselect(*m));
        ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
        ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));
        auto probe = std::make_shared<GraphStillRunningProbe>(grabber, &verdict);
        c.videoDetector.onCalibrationStarted = [probe] {};
        probe.reset();
        m.reset();  // while both callbacks are busy
    }
    EXPECT_EQ(verdict.load(), 0);
    const uint64_t after = grabber->SampleCount();
    SleepMs(200);
    EXPECT_EQ(grabber->SampleCount(), after);
}

}  // namespace

TEST_F(MonitoringControllerTest, ALostCameraRestsItsDetectorAloneAndCalibratesAgainWhenBack) {
    MonitoringController m(settings_);
    capture::CaptureComponents& c = m.Components();
    m.StartMonitoring(true, true, ListAndPreselect(m));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.audioDetector.State.load()); }, 8000));

    struct Guard {
        Guard() { platform::SetTestDeviceFault(true, platform::TestDeviceFault::Error); }
        ~Guard() { platform::SetTestDeviceFault(true, platform::TestDeviceFault::None); }
    } fault;
    std::vector<platform::DeviceNotice> notices;
    ASSERT_TRUE(WaitUntil([&] { return !(notices = m.WatchDevices()).empty(); }, 3000));
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, platform::DeviceNotice::Kind::Lost);
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
    // The noise detector never noticed: its buffers keep coming and being measured.
    const uint64_t sound = c.AudioSampleGrabber->SampleCount();
    ASSERT_TRUE(WaitUntil([&] { return c.AudioSampleGrabber->SampleCount() >= sound + 2; }));
    EXPECT_TRUE(Detecting(c.audioDetector.State.load()));

    platform::SetTestDeviceFault(true, platform::TestDeviceFault::None);
    ASSERT_TRUE(WaitUntil([&] { return !(notices = m.WatchDevices()).empty(); },
                          2 * platform::FilterGraph::RetryMs + 3000));
    EXPECT_EQ(notices[0].kind, platform::DeviceNotice::Kind::Restored);
    // From the format check again, through warm-up into calibration.
    ASSERT_TRUE(WaitUntil([&] { return Detecting(c.videoDetector.State.load()); }, 8000));
    Stop(m);
    // A stopped graph reports nothing and restarts nothing.
    EXPECT_TRUE(m.WatchDevices().empty());
    EXPECT_EQ(c.videoDetector.State.load(), capture::Idle);
}
