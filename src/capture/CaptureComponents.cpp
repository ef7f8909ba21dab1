#include "capture/CaptureComponents.h"

namespace capture {

namespace {

platform::MediaType GrabberDefault(platform::MajorType major, platform::SubType sub, platform::FormatType format) {
    platform::MediaType t;
    t.majortype = major;
    t.subtype = sub;
    t.formattype = format;
    return t;
}

}  // namespace

CaptureComponents::CaptureComponents()
    : VideoSourceFilter(std::make_shared<platform::SourceFilter>()),
      VideoSampleGrabber(std::make_shared<platform::SampleGrabber>()),
      AudioSourceFilter(std::make_shared<platform::SourceFilter>()),
      AudioSampleGrabber(std::make_shared<platform::SampleGrabber>()),
      VideoRenderer(std::make_shared<platform::VideoWindowRenderer>()) {
    // Before any choice: video RGB24 in a VideoInfo header, audio of any
    // subtype in a WAVEFORMATEX, both without a format block.
    VideoSampleGrabber->SetMediaType(
        GrabberDefault(platform::MajorType::Video, platform::SubType::RGB24, platform::FormatType::VideoInfo));
    AudioSampleGrabber->SetMediaType(
        GrabberDefault(platform::MajorType::Audio, platform::SubType::None, platform::FormatType::WaveFormatEx));
}

void CaptureComponents::ActivateGraph() {
    FilterGraph.Activate();
    FilterGraph.AddFilter(VideoSourceFilter, "VideoSourceFilter");
    FilterGraph.AddFilter(VideoSampleGrabber, "VideoSampleGrabber");
    FilterGraph.AddFilter(AudioSourceFilter, "AudioSourceFilter");
    FilterGraph.AddFilter(AudioSampleGrabber, "AudioSampleGrabber");
    FilterGraph.AddFilter(VideoRenderer, "VideoWindow");
}

std::vector<DeviceEntry> DeviceEntries(const std::vector<platform::DeviceInfo>& devices) {
    std::vector<DeviceEntry> entries;
    for (size_t i = 0; i < devices.size(); ++i) {
        std::string name = devices[i].FriendlyName;
        if (name.size() > 255) name.resize(255);
        entries.push_back({name, static_cast<int32_t>(i)});
    }
    return entries;
}

}  // namespace capture
