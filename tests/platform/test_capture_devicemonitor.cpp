// The path of real hardware, without hardware: a device provider of our own
// announces cameras and microphones to the GStreamer device monitor, backed
// by test sources, so listing, caps reading, decoding and failures run as
// they do for a webcam.

#include <gst/gst.h>

#include <algorithm>
#include <atomic>

#include "CaptureTestSupport.h"
#include "platform/MediaTypeUtil.h"

using namespace platform;
using capturetest::WaitUntil;

namespace {

enum FakeKind { FakeYuy2Camera, FakeJpegCamera, FakeBrokenCamera, FakeUnpluggedCamera, FakeMicrophone, FakeMonitor };

}  // namespace

G_BEGIN_DECLS
#define FAKE_TYPE_DEVICE (fake_device_get_type())
G_DECLARE_FINAL_TYPE(FakeDevice, fake_device, FAKE, DEVICE, GstDevice)
struct _FakeDevice {
    GstDevice parent;
    int kind;
};
G_DEFINE_TYPE(FakeDevice, fake_device, GST_TYPE_DEVICE)

#define FAKE_TYPE_PROVIDER (fake_provider_get_type())
G_DECLARE_FINAL_TYPE(FakeProvider, fake_provider, FAKE, PROVIDER, GstDeviceProvider)
struct _FakeProvider {
    GstDeviceProvider parent;
};
G_DEFINE_TYPE(FakeProvider, fake_provider, GST_TYPE_DEVICE_PROVIDER)
G_END_DECLS

static GstElement* fake_device_create_element(GstDevice* device, const gchar* name) {
    switch (FAKE_DEVICE(device)->kind) {
    case FakeYuy2Camera: {
        GstElement* e = gst_element_factory_make("videotestsrc", name);
        g_object_set(e, "is-live", TRUE, nullptr);
        return e;
    }
    case FakeJpegCamera: return gst_parse_bin_from_description("videotestsrc is-live=true ! jpegenc", TRUE, nullptr);
    case FakeBrokenCamera: {
        // As a camera that another program holds: it cannot be opened.
        GstElement* e = gst_element_factory_make("filesrc", name);
        g_object_set(e, "location", "/nonexistent/video0", nullptr);
        return e;
    }
    case FakeUnpluggedCamera:
        // Works for a few frames, then fails as a camera pulled out of its socket.
        return gst_parse_bin_from_description("videotestsrc is-live=true ! identity error-after=8", TRUE, nullptr);
    default: {
        GstElement* e = gst_element_factory_make("audiotestsrc", name);
        g_object_set(e, "is-live", TRUE, nullptr);
        return e;
    }
    }
}

static void fake_device_class_init(FakeDeviceClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = fake_device_create_element;
}
static void fake_device_init(FakeDevice*) {}

static GstDevice* MakeFake(int kind, const char* name, const char* caps, const char* klass, const char* path,
                           const char* deviceClass = nullptr) {
    GstCaps* c = gst_caps_from_string(caps);
    GstStructure* props = gst_structure_new("fake-props", "device.path", G_TYPE_STRING, path, nullptr);
    if (deviceClass) gst_structure_set(props, "device.class", G_TYPE_STRING, deviceClass, nullptr);
    auto* d = FAKE_DEVICE(g_object_new(FAKE_TYPE_DEVICE, "display-name", name, "caps", c, "device-class", klass,
                                       "properties", props, nullptr));
    d->kind = kind;
    gst_caps_unref(c);
    gst_structure_free(props);
    return GST_DEVICE(d);
}

static GList* fake_provider_probe(GstDeviceProvider*) {
    GList* list = nullptr;
    // Announced in an order that sorting must not depend on.
    list = g_list_append(list, MakeFake(FakeYuy2Camera, "Webcam finta",
                                        "video/x-raw,format=YUY2,width=640,height=480,framerate=30/1;"
                                        "video/x-raw,format=YUY2,width=320,height=240,framerate={30/1,15/1};"
                                        "video/x-raw,format=BGRx,width=320,height=240,framerate=15/1",
                                        "Video/Source", "/dev/video2"));
    list = g_list_append(list, MakeFake(FakeJpegCamera, "Webcam finta",
                                        "image/jpeg,width=320,height=180,framerate=30/1", "Video/Source",
                                        "/dev/video0"));
    list = g_list_append(list, MakeFake(FakeBrokenCamera, "Camera occupata",
                                        "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1",
                                        "Video/Source", "/dev/video4"));
    list = g_list_append(list, MakeFake(FakeUnpluggedCamera, "Webcam staccata",
                                        "video/x-raw,format=YUY2,width=160,height=120,framerate=30/1",
                                        "Video/Source", "/dev/video6"));
    list = g_list_append(list, MakeFake(FakeMicrophone, "Microfono finto",
                                        "audio/x-raw,format=S16LE,layout=interleaved,rate=[ 16000, 44100 ],"
                                        "channels=[ 1, 2 ]",
                                        "Audio/Source", "mic"));
    list = g_list_append(list, MakeFake(FakeMonitor, "Monitor of Uscita", "audio/x-raw,format=S16LE,rate=44100",
                                        "Audio/Source", "monitor", "monitor"));
    return list;
}

static void fake_provider_class_init(FakeProviderClass* klass) {
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = fake_provider_probe;
    gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass), "Fake capture devices",
                                                  "Source/Video/Audio", "Cameras and microphones for tests",
                                                  "Oculara");
}
static void fake_provider_init(FakeProvider*) {}

static gboolean fake_plugin_init(GstPlugin* plugin) {
    return gst_device_provider_register(plugin, "ocularafakeprovider", GST_RANK_PRIMARY, FAKE_TYPE_PROVIDER);
}

namespace {

class CaptureDeviceMonitor : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!gst_is_initialized()) gst_init(nullptr, nullptr);
        static bool registered = gst_plugin_register_static(
            GST_VERSION_MAJOR, GST_VERSION_MINOR, "ocularafake", "Fake capture devices", fake_plugin_init, "1.0",
            "LGPL", "tests", "Oculara", "https://127.0.0.1/");
        ASSERT_TRUE(registered);
    }
    testsupport::ScopedEnv real_{"OCULARA_TEST_DEVICES", std::nullopt};
    testsupport::ScopedEnv noFile_{"OCULARA_TEST_VIDEO_FILE", std::nullopt};

    // Our devices among whatever else the machine has.
    static std::vector<DeviceInfo> Fakes(DeviceCategory c) {
        std::vector<DeviceInfo> out;
        for (auto& d : EnumerateDevices(c))
            if (d.FriendlyName.find("fint") != std::string::npos || d.FriendlyName == "Camera occupata" ||
                d.FriendlyName == "Webcam staccata" ||
                d.FriendlyName.find("Monitor of") == 0)
                out.push_back(d);
        return out;
    }
};

struct OneSource {
    FilterGraph graph;
    std::shared_ptr<SourceFilter> source = std::make_shared<SourceFilter>();
    std::shared_ptr<SampleGrabber> grabber = std::make_shared<SampleGrabber>();

    bool Run(const DeviceInfo& device, const MediaType& format) {
        graph.Activate();
        if (!source->SetDevice(device) || !source->OutputPin()->SetFormat(format)) return false;
        grabber->SetMediaType(format.majortype == MajorType::Audio || RgbBitCount(format.subtype)
                                  ? format
                                  : MakeRgbVideoType(SubType::RGB24, 0, 0));
        CaptureGraphBuilder builder(graph);
        return builder.RenderStream(PinCategory::Preview, MajorType::None, source, grabber, nullptr) && graph.Run();
    }
};

TEST_F(CaptureDeviceMonitor, ListsSourcesSortedByNameAndSkipsMonitorsOfOutputs) {
    auto video = Fakes(DeviceCategory::VideoInput);
    ASSERT_EQ(video.size(), 4u);
    EXPECT_EQ(video[0].FriendlyName, "Camera occupata");
    EXPECT_EQ(video[1].FriendlyName, "Webcam finta");
    EXPECT_EQ(video[2].FriendlyName, "Webcam finta");
    EXPECT_EQ(video[3].FriendlyName, "Webcam staccata");
    // Two cameras of one name keep their places: the one on /dev/video0 first.
    SourceFilter first;
    ASSERT_TRUE(first.SetDevice(video[1]));
    EXPECT_EQ(first.OutputPin()->EnumMediaTypes()[0].subtype, SubType::RGB24);
    EXPECT_EQ(ReadVideoFormat(first.OutputPin()->EnumMediaTypes()[0])->width, 320);
    EXPECT_EQ(ReadVideoFormat(first.OutputPin()->EnumMediaTypes()[0])->height, 180);

    auto audio = Fakes(DeviceCategory::AudioInput);
    ASSERT_EQ(audio.size(), 1u);
    EXPECT_EQ(audio[0].FriendlyName, "Microfono finto");
}

TEST_F(CaptureDeviceMonitor, CameraListsRgb24PerSizeThenNativeRgbThenItsOwnFormats) {
    auto video = Fakes(DeviceCategory::VideoInput);
    ASSERT_EQ(video.size(), 4u);
    SourceFilter camera;
    ASSERT_TRUE(camera.SetDevice(video[2]));
    auto types = camera.OutputPin()->EnumMediaTypes();
    std::vector<std::string> seen;
    for (auto& t : types) seen.push_back(DescribeMediaType(t));
    EXPECT_EQ(seen, (std::vector<std::string>{"Video RGB24 320x240 24 bits", "Video RGB32 320x240 32 bits",
                                              "Video YUY2 320x240 16 bits", "Video RGB24 640x480 24 bits",
                                              "Video YUY2 640x480 16 bits"}));
    ASSERT_EQ(types.size(), 5u);
    auto yuy2 = *ReadVideoFormat(types[2]);
    EXPECT_EQ(yuy2.compression, MakeFourCC('Y', 'U', 'Y', '2'));
    EXPECT_EQ(ReadVideoFormat(types[0])->compression, BI_RGB);
    EXPECT_EQ(ReadVideoFormat(types[0])->avgTimePerFrame, 10000000 / 30);  // the best rate at that size

    SourceFilter jpeg;
    ASSERT_TRUE(jpeg.SetDevice(video[1]));
    auto jtypes = jpeg.OutputPin()->EnumMediaTypes();
    ASSERT_EQ(jtypes.size(), 2u);
    EXPECT_EQ(jtypes[1].subtype, SubType::MJPG);
    EXPECT_EQ(ReadVideoFormat(jtypes[1])->compression, MakeFourCC('M', 'J', 'P', 'G'));
}

TEST_F(CaptureDeviceMonitor, CamerasDeliverRgbWhateverTheirOwnFormat) {
    auto video = Fakes(DeviceCategory::VideoInput);
    ASSERT_EQ(video.size(), 4u);
    struct Case {
        size_t device;
        MediaType format;
        size_t bytes;
    };
    for (const Case& c : {Case{2, MakeRgbVideoType(SubType::RGB24, 640, 480), 640 * 480 * 3},
                          Case{2, MakeRgbVideoType(SubType::RGB32, 320, 240), 320 * 240 * 4},
                          Case{1, MakeRgbVideoType(SubType::RGB24, 320, 180), 320 * 180 * 3}}) {
        SCOPED_TRACE(DescribeMediaType(c.format));
        OneSource s;
        std::atomic<size_t> size{0};
        s.grabber->SetCallback([&](const uint8_t*, size_t length) { size = length; });
        ASSERT_TRUE(s.Run(video[c.device], c.format)) << s.graph.LastError();
        ASSERT_TRUE(WaitUntil([&] { return s.grabber->SampleCount() >= 2; }));
        s.graph.Stop();
        EXPECT_EQ(size, c.bytes);
        EXPECT_TRUE(SameFormat(*s.grabber->GetConnectedMediaType(), c.format));
        EXPECT_FALSE(s.graph.Failed());
    }
    // The device's own YUY2, chosen on the pin, still reaches the grabber as RGB24.
    OneSource s;
    ASSERT_TRUE(s.Run(video[2], MakeNativeVideoType(SubType::YUY2, MakeFourCC('Y', 'U', 'Y', '2'), 16, 320, 240)))
        << s.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return s.grabber->SampleCount() >= 1; }));
    s.graph.Stop();
    EXPECT_EQ(s.grabber->GetConnectedMediaType()->subtype, SubType::RGB24);
    std::vector<uint8_t> frame;
    ASSERT_TRUE(s.grabber->GetCurrentBuffer(frame));
    EXPECT_EQ(frame.size(), size_t(320 * 240 * 3));
    // A device without colour balance has nothing for the settings dialog.
    EXPECT_TRUE(s.source->GetControls().empty());
}

TEST_F(CaptureDeviceMonitor, ACameraThatCannotBeOpenedFailsTheRunWithAReason) {
    auto video = Fakes(DeviceCategory::VideoInput);
    ASSERT_EQ(video.size(), 4u);
    OneSource s;
    EXPECT_FALSE(s.Run(video[0], MakeRgbVideoType(SubType::RGB24, 160, 120)));
    EXPECT_TRUE(s.graph.Failed());
    EXPECT_NE(s.graph.LastError().find("Camera occupata"), std::string::npos) << s.graph.LastError();
    // Still watching: the device is reported lost once and tried again.
    EXPECT_TRUE(s.graph.IsRunning());
    auto notices = s.graph.WatchDevices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Lost);
    EXPECT_EQ(notices[0].cause, DeviceNotice::Cause::Failed);
    EXPECT_EQ(notices[0].medium, MajorType::Video);
    EXPECT_EQ(notices[0].device, "Camera occupata");
    EXPECT_TRUE(s.graph.WatchDevices().empty());
    EXPECT_EQ(s.grabber->SampleCount(), 0u);
    s.graph.Stop();
    // The graph recovers with another device.
    ASSERT_TRUE(s.source->SetDevice(video[2]));
    ASSERT_TRUE(s.source->OutputPin()->SetFormat(MakeRgbVideoType(SubType::RGB24, 320, 240)));
    s.grabber->SetMediaType(MakeRgbVideoType(SubType::RGB24, 320, 240));
    ASSERT_TRUE(s.graph.Run()) << s.graph.LastError();
    EXPECT_FALSE(s.graph.Failed());
    ASSERT_TRUE(WaitUntil([&] { return s.grabber->SampleCount() >= 1; }));
    s.graph.Stop();
}

TEST_F(CaptureDeviceMonitor, ACameraLostWhileRunningStopsDeliveringAndSaysWhy) {
    auto video = Fakes(DeviceCategory::VideoInput);
    ASSERT_EQ(video.size(), 4u);
    OneSource s;
    std::atomic<int> calls{0};
    s.grabber->SetCallback([&](const uint8_t*, size_t) { ++calls; });
    ASSERT_TRUE(s.Run(video[3], MakeRgbVideoType(SubType::RGB24, 160, 120))) << s.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return s.graph.Failed(); }));
    EXPECT_NE(s.graph.LastError().find("Webcam staccata"), std::string::npos) << s.graph.LastError();
    EXPECT_LE(calls, 8);
    const int atFailure = calls;
    capturetest::SleepMs(300);
    EXPECT_EQ(calls, atFailure);
    EXPECT_TRUE(s.graph.IsRunning());  // until the caller stops it
    auto notices = s.graph.WatchDevices();
    ASSERT_EQ(notices.size(), 1u);
    EXPECT_EQ(notices[0].kind, DeviceNotice::Kind::Lost);
    EXPECT_EQ(notices[0].device, "Webcam staccata");
    EXPECT_FALSE(notices[0].detail.empty());
    s.graph.Stop();
    EXPECT_TRUE(s.graph.Failed());  // the reason stays readable after the stop
    std::vector<uint8_t> last;
    EXPECT_EQ(s.grabber->GetCurrentBuffer(last), atFailure > 0);
}

TEST_F(CaptureDeviceMonitor, MicrophoneOffersTheRatesItTakesAndOneLineNamedAfterIt) {
    auto audio = Fakes(DeviceCategory::AudioInput);
    ASSERT_EQ(audio.size(), 1u);
    SourceFilter mic;
    ASSERT_TRUE(mic.SetDevice(audio[0]));
    auto pins = mic.EnumPins();
    ASSERT_EQ(pins.size(), 2u);
    EXPECT_EQ(pins[1]->Name(), "Microfono finto");
    EXPECT_TRUE(pins[1]->GetEnable());
    std::vector<int> rates;
    for (auto& t : pins[0]->EnumMediaTypes()) {
        int r = int(ReadAudioFormat(t)->nSamplesPerSec);
        if (rates.empty() || rates.back() != r) rates.push_back(r);
    }
    EXPECT_EQ(rates, (std::vector<int>{44100, 22050}));

    OneSource s;
    std::atomic<size_t> bytes{0};
    s.grabber->SetCallback([&](const uint8_t*, size_t length) { bytes += length; });
    ASSERT_TRUE(s.Run(audio[0], MakePcmAudioType(22050, 8, 1))) << s.graph.LastError();
    ASSERT_TRUE(WaitUntil([&] { return bytes >= 2205; }));
    s.graph.Stop();
    EXPECT_TRUE(SameFormat(*s.grabber->GetConnectedMediaType(), MakePcmAudioType(22050, 8, 1)));
}

}  // namespace
