#pragma once
// Monitoring without the window: device and format lists, the capture graph
// for monitoring, preview and recording, and the detectors it feeds. The main
// window hands it what its lists show and keeps the widgets, timers and
// message boxes; tests drive it directly on the test devices.

#include "capture/CaptureComponents.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct TSettings;

namespace capture {

enum class GraphMode { Monitoring, Preview };
enum class Medium { Video, Audio };

// The entries chosen in the device panel, as positions in the controller's
// lists (-1: none), and the format texts the detectors compare with.
struct CaptureChoice {
    int videoDevice = -1;
    int videoFormat = -1;
    int audioDevice = -1;
    int audioFormat = -1;
    int audioLine = -1;
    std::string videoFormatText;
    std::string audioFormatText;
};

// What choosing an audio device offers.
struct AudioDeviceOffer {
    FormatList formats;
    std::vector<std::string> lines;  // input lines, in pin order
    int line = -1;                   // the line to select
};

class MonitoringController {
public:
    // Reads and writes the device choices and reads the detector and
    // recording settings of `settings`, which must outlive the controller.
    explicit MonitoringController(TSettings& settings);
    // Stops the graph before the detectors and the event queue go.
    ~MonitoringController();
    MonitoringController(const MonitoringController&) = delete;
    MonitoringController& operator=(const MonitoringController&) = delete;

    CaptureComponents& Components() { return c_; }
    const CaptureComponents& Components() const { return c_; }

    // Device lists. Refresh lists the category again; the preselected device
    // is the stored one when listed, else the first (-1: no device).
    const std::vector<DeviceEntry>& RefreshVideoDevices();
    const std::vector<DeviceEntry>& RefreshAudioDevices();
    int PreselectedVideoDevice() const;
    int PreselectedAudioDevice() const;
    // A device was chosen: its name is stored and its formats (and lines)
    // listed with the stored choices applied. nullopt for no device.
    std::optional<FormatList> SelectVideoDevice(int device);
    std::optional<AudioDeviceOffer> SelectAudioDevice(int device);

    // Copies what the detectors read into them; the graph must be stopped.
    void ConfigureDetectors(const CaptureChoice& choice);
    // Results of the graph operations are not examined: a graph that cannot
    // be built leaves the detectors waiting in their format check.
    void BuildCaptureGraph(bool video, bool audio, GraphMode mode, const CaptureChoice& choice);
    void ConnectBranches(bool video, bool audio, GraphMode mode);

    // Start (Button1Click) and preview (BitBtn1Click), from the event queue
    // reset to the running graph.
    void StartMonitoring(bool video, bool audio, const CaptureChoice& choice);
    void StartPreview(bool video, bool audio, const CaptureChoice& choice);
    // Both detectors Idle and the graph emptied, before it is built again.
    void IdleAndClearGraph();

    // Stop (Button2Click), in three steps; the caller lets running callbacks
    // return (100 ms) between the first two.
    void DetachDetectors();  // both Idle, callbacks detached, pending events dropped
    void StopGraph();        // stopped and deactivated; ends a recording
    void ResetDetectors();   // both Idle with Busy 0

    // One medium's detector, so that one can rest while the other detects.
    void StartVideoDetector();  // CheckFormat
    void StartAudioDetector();  // CheckFormat
    void IdleDetector(Medium medium);
    void StopDetector(Medium medium);  // Idle, Busy 0

    // Main thread, about once a second while the graph runs: the devices
    // that stopped watching or came back. A lost medium's detector rests
    // while the other goes on; one that comes back starts again from its
    // format check (warm-up and calibration as at a start), or measures the
    // meter's level again in a preview.
    std::vector<platform::DeviceNotice> WatchDevices();

    // Around rebuilding the graph: states kept and set Idle, then restored
    // with the next analyses 3000 ms (video) and 500 ms (audio) away.
    void PauseDetectors();
    void ResumeDetectors();

    // StartRecording: false (nothing changed) unless the settings and the
    // detector states allow it and the new file can be created in the
    // folder; else `nomeFileAvi` names the new file and the graph runs with
    // the recording branch. A file that fails later is reported by
    // WatchDevices.
    bool StartRecording(std::string& nomeFileAvi);
    // StopRecording's graph work, between PauseDetectors and ResumeDetectors:
    // the file closed with every filter rendering added, then the monitoring
    // branches back and running (only while monitoring runs).
    void EndRecording();
    void ReconnectMonitoring();

    // The video device's own settings pages (Button5Click): over the running
    // graph, or over a live preview of that device built for the purpose.
    void ShowVideoDeviceSettings(int device,
                                 const std::function<void(const std::shared_ptr<platform::SourceFilter>&)>& showPages);

    bool GraphRunning() const { return c_.FilterGraph.IsRunning(); }

private:
    bool ValidVideoDevice(int device) const;
    bool ValidAudioDevice(int device) const;
    bool CreateRecordingFile(std::string& nomeFileAvi) const;

    TSettings& settings_;
    CaptureComponents c_;
    std::vector<std::shared_ptr<platform::Filter>> extraFilters_;  // compressors of the recording
    uint8_t savedAudioState_ = 0;  // the video detector keeps its own
    std::optional<GraphMode> running_;  // what the graph was started for
};

}  // namespace capture
