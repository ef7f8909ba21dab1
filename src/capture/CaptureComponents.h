#pragma once
// What the main window owns for capture: the graph with its two sources,
// two grabbers and the preview renderer, the device and format lists with
// the media-type enumerations they index, both detectors and the event queue.

#include "alarms/EventCounters.h"
#include "capture/AudioDetector.h"
#include "capture/FormatLists.h"
#include "capture/VideoDetector.h"
#include "platform/Capture.h"

#include <memory>
#include <vector>

namespace capture {

struct CaptureComponents {
    CaptureComponents();

    // Activate the graph with the components' own filters in it.
    void ActivateGraph();

    // Declared first, destroyed last: the streaming threads call into these
    // until the graph, declared below them, has stopped.
    VideoDetector videoDetector;
    AudioDetector audioDetector;
    alarms::EventCounters EventCounters;

    std::shared_ptr<platform::SourceFilter> VideoSourceFilter;
    std::shared_ptr<platform::SampleGrabber> VideoSampleGrabber;
    std::shared_ptr<platform::SourceFilter> AudioSourceFilter;
    std::shared_ptr<platform::SampleGrabber> AudioSampleGrabber;
    std::shared_ptr<platform::VideoWindowRenderer> VideoRenderer;

    std::vector<platform::DeviceInfo> VideoDeviceInfos, AudioDeviceInfos;
    std::vector<DeviceEntry> VideoDevices, AudioDevices;
    std::vector<FormatEntry> VideoFormats, AudioFormats;
    std::vector<platform::MediaType> VideoMediaTypes, AudioMediaTypes;

    platform::FilterGraph FilterGraph;
};

// The device lists of a category as entries (name and enumeration index).
std::vector<DeviceEntry> DeviceEntries(const std::vector<platform::DeviceInfo>& devices);

}  // namespace capture
