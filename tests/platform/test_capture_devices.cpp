// Device lists and the formats and lines each device offers.

#include <gst/gst.h>

#include <algorithm>

#include "CaptureTestSupport.h"
#include "platform/CaptureInternal.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"
#include "support/RealDevices.h"

using namespace platform;
using capturetest::CaptureTest;

// A camera of this test, listed by a device provider of its own: 320x240 as
// YUY2 at 10 frames a second or JPEG at 30, like a webcam whose USB link is
// too slow for raw frames. What it delivers follows what its element is
// linked to, as a driver would.
extern "C" {
struct FakeCamera {
    GstDevice parent;
};
struct FakeCameraClass {
    GstDeviceClass parent_class;
};
struct FakeCameraProvider {
    GstDeviceProvider parent;
};
struct FakeCameraProviderClass {
    GstDeviceProviderClass parent_class;
};
}

G_DEFINE_TYPE(FakeCamera, fake_camera, GST_TYPE_DEVICE)
G_DEFINE_TYPE(FakeCameraProvider, fake_camera_provider, GST_TYPE_DEVICE_PROVIDER)

namespace {

constexpr const char* FakeCameraName = "Videocamera lenta in YUY2";
constexpr const char* FakeProviderName = "ocularatestslowrawcameras";
constexpr const char* FakeCameraCaps =
    "video/x-raw,format=YUY2,width=320,height=240,framerate={ 10/1, 5/1 };"
    "image/jpeg,width=320,height=240,framerate={ 30/1, 15/1 }";

// Whoever links the camera's pad decides its mode: JPEG when it takes JPEG.
void OnFakeCameraLinked(GstPad* ghost, GstPad* peer, gpointer bin) {
    GstPtr<GstCaps> wanted(gst_pad_query_caps(peer, nullptr));
    GstPtr<GstCaps> jpeg(gst_caps_from_string("image/jpeg"));
    const bool asJpeg = wanted && gst_caps_can_intersect(wanted.get(), jpeg.get());
    const std::string chain = std::string("videotestsrc is-live=true pattern=ball ! ") +
                              (asJpeg ? "video/x-raw,format=I420,width=320,height=240,framerate=30/1 ! jpegenc"
                                      : "video/x-raw,format=YUY2,width=320,height=240,framerate=10/1");
    GstElement* inner = gst_parse_bin_from_description(chain.c_str(), TRUE, nullptr);
    if (!inner) return;
    gst_bin_add(GST_BIN(bin), inner);
    GstPtr<GstPad> src(gst_element_get_static_pad(inner, "src"));
    gst_ghost_pad_set_target(GST_GHOST_PAD(ghost), src.get());
}

GstElement* CreateFakeCameraElement(GstDevice*, const gchar* name) {
    GstElement* bin = gst_bin_new(name);
    GstPad* ghost = gst_ghost_pad_new_no_target("src", GST_PAD_SRC);
    g_signal_connect(ghost, "linked", G_CALLBACK(OnFakeCameraLinked), bin);
    gst_element_add_pad(bin, ghost);
    return bin;
}

GList* ProbeFakeCameras(GstDeviceProvider*) {
    GstPtr<GstCaps> caps(gst_caps_from_string(FakeCameraCaps));
    gpointer camera = g_object_new(fake_camera_get_type(), "display-name", FakeCameraName, "device-class",
                                   "Video/Source", "caps", caps.get(), nullptr);
    return g_list_append(nullptr, camera);
}

}  // namespace

static void fake_camera_init(FakeCamera*) {}
static void fake_camera_class_init(FakeCameraClass* klass) {
    GST_DEVICE_CLASS(klass)->create_element = CreateFakeCameraElement;
}
static void fake_camera_provider_init(FakeCameraProvider*) {}
static void fake_camera_provider_class_init(FakeCameraProviderClass* klass) {
    GST_DEVICE_PROVIDER_CLASS(klass)->probe = ProbeFakeCameras;
    gst_device_provider_class_set_static_metadata(GST_DEVICE_PROVIDER_CLASS(klass), "Slow raw test cameras",
                                                  "Source/Video", "A camera whose raw mode is slow", "Oculara");
}

namespace {

std::vector<std::string> Names(const std::vector<DeviceInfo>& devices) {
    std::vector<std::string> names;
    for (const auto& d : devices) names.push_back(d.FriendlyName);
    return names;
}

using CaptureDevices = CaptureTest;

TEST_F(CaptureDevices, TestModeListsOnlyTheTestDevicesInAStableOrder) {
    auto video = EnumerateDevices(DeviceCategory::VideoInput);
    auto audio = EnumerateDevices(DeviceCategory::AudioInput);
    EXPECT_EQ(Names(video), std::vector<std::string>{"Videocamera di prova"});
    EXPECT_EQ(Names(audio), std::vector<std::string>{"Microfono di prova"});

    testsupport::ScopedEnv file("OCULARA_TEST_VIDEO_FILE", "/nonexistent/clip.avi");
    const std::vector<std::string> expected{"Videocamera di prova", "File video di prova"};
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Names(EnumerateDevices(DeviceCategory::VideoInput)), expected);

    // An index found at listing names the same device at a later listing.
    auto first = EnumerateDevices(DeviceCategory::VideoInput);
    auto later = EnumerateDevices(DeviceCategory::VideoInput);
    SourceFilter a, b;
    ASSERT_TRUE(a.SetDevice(first[1]));
    ASSERT_TRUE(b.SetDevice(later[1]));
    EXPECT_EQ(a.FriendlyName(), b.FriendlyName());
    EXPECT_EQ(a.Medium(), MajorType::Video);
}

TEST_F(CaptureDevices, TestCameraOffersFourRgb24SizesAsVideoInfoHeaders) {
    SourceFilter camera;
    ASSERT_TRUE(camera.SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    auto pins = camera.EnumPins();
    ASSERT_EQ(pins.size(), 1u);
    EXPECT_EQ(pins[0]->Direction(), PinDirection::Output);

    auto types = pins[0]->EnumMediaTypes();
    const std::pair<int, int> sizes[] = {{160, 120}, {320, 240}, {352, 288}, {640, 480}};
    ASSERT_EQ(types.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        const auto [w, h] = sizes[i];
        SCOPED_TRACE(DescribeMediaType(types[i]));
        EXPECT_EQ(types[i].majortype, MajorType::Video);
        EXPECT_EQ(types[i].subtype, SubType::RGB24);
        EXPECT_EQ(types[i].formattype, FormatType::VideoInfo);
        ASSERT_EQ(types[i].cbFormat(), 88u);
        auto vih = types[i].FormatAs<VIDEOINFOHEADER>();
        ASSERT_TRUE(vih);
        EXPECT_EQ(vih->bmiHeader.biSize, 40u);
        EXPECT_EQ(vih->bmiHeader.biWidth, w);
        EXPECT_EQ(vih->bmiHeader.biHeight, h);  // positive: bottom-up
        EXPECT_EQ(vih->bmiHeader.biBitCount, 24);
        EXPECT_EQ(vih->bmiHeader.biCompression, BI_RGB);
        EXPECT_EQ(vih->bmiHeader.biSizeImage, uint32_t(w * h * 3));
        EXPECT_EQ(vih->AvgTimePerFrame, 10000000 / 15);
    }
}

TEST_F(CaptureDevices, SetFormatTakesOnlyListedTypesAndPinsOfAnOldDeviceGoDead) {
    SourceFilter camera;
    ASSERT_TRUE(camera.SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    auto pin = camera.OutputPin();
    EXPECT_FALSE(pin->GetFormat());
    // A type built by the caller matches the listed one with the same fields.
    EXPECT_TRUE(pin->SetFormat(MakeRgbVideoType(SubType::RGB24, 352, 288)));
    ASSERT_TRUE(pin->GetFormat());
    EXPECT_EQ(pin->GetFormat()->FormatAs<VIDEOINFOHEADER>()->bmiHeader.biWidth, 352);
    EXPECT_FALSE(pin->SetFormat(MakeRgbVideoType(SubType::RGB24, 800, 600)));
    EXPECT_FALSE(pin->SetFormat(MakeRgbVideoType(SubType::RGB32, 352, 288)));
    EXPECT_FALSE(pin->SetFormat(MakePcmAudioType(44100, 16, 2)));
    EXPECT_EQ(pin->GetFormat()->FormatAs<VIDEOINFOHEADER>()->bmiHeader.biWidth, 352);

    ASSERT_TRUE(camera.SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestCameraName)));
    EXPECT_TRUE(pin->EnumMediaTypes().empty());
    EXPECT_FALSE(pin->SetFormat(MakeRgbVideoType(SubType::RGB24, 160, 120)));
    EXPECT_FALSE(camera.OutputPin()->GetFormat());  // the new binding starts without a choice

    // A compressor is not a capture device.
    auto codecs = EnumerateDevices(DeviceCategory::VideoCompressor);
    ASSERT_FALSE(codecs.empty());
    EXPECT_FALSE(camera.SetDevice(codecs[0]));
    EXPECT_FALSE(camera.SetDevice(DeviceInfo{}));
}

TEST_F(CaptureDevices, TestMicrophoneOffersPcmFormatsAndTwoExclusiveLines) {
    SourceFilter mic;
    ASSERT_TRUE(mic.SetDevice(capturetest::OnlyDevice(DeviceCategory::AudioInput, TestMicrophoneName)));
    EXPECT_EQ(mic.Medium(), MajorType::Audio);
    auto pins = mic.EnumPins();
    ASSERT_EQ(pins.size(), 3u);
    EXPECT_EQ(pins[0]->Direction(), PinDirection::Output);

    auto types = pins[0]->EnumMediaTypes();
    ASSERT_EQ(types.size(), 8u);
    int i = 0;
    for (int rate : {44100, 22050}) {
        for (int bits : {16, 8}) {
            for (int channels : {2, 1}) {
                const MediaType& mt = types[size_t(i++)];
                SCOPED_TRACE(DescribeMediaType(mt));
                EXPECT_EQ(mt.majortype, MajorType::Audio);
                EXPECT_EQ(mt.subtype, SubType::PCM);
                EXPECT_EQ(mt.formattype, FormatType::WaveFormatEx);
                ASSERT_EQ(mt.cbFormat(), 18u);
                auto wfx = *mt.FormatAs<WAVEFORMATEX>();
                EXPECT_EQ(wfx.wFormatTag, WAVE_FORMAT_PCM);
                EXPECT_EQ(int(wfx.nSamplesPerSec), rate);
                EXPECT_EQ(wfx.wBitsPerSample, bits);
                EXPECT_EQ(wfx.nChannels, channels);
                EXPECT_EQ(wfx.nBlockAlign, channels * bits / 8);
                EXPECT_EQ(int(wfx.nAvgBytesPerSec), rate * channels * bits / 8);
            }
        }
    }

    EXPECT_EQ(pins[1]->Direction(), PinDirection::Input);
    EXPECT_EQ(pins[1]->Name(), "Microfono");
    EXPECT_EQ(pins[2]->Name(), "Ingresso linea");
    EXPECT_TRUE(pins[1]->GetEnable());
    EXPECT_FALSE(pins[2]->GetEnable());
    EXPECT_TRUE(pins[1]->EnumMediaTypes().empty());
    EXPECT_FALSE(pins[1]->SetFormat(types[0]));

    EXPECT_TRUE(pins[2]->PutEnable(true));
    EXPECT_FALSE(pins[1]->GetEnable());
    EXPECT_TRUE(pins[2]->GetEnable());
    // Fresh pins see the same mixer state.
    EXPECT_TRUE(mic.EnumPins()[2]->GetEnable());
    EXPECT_FALSE(pins[0]->PutEnable(true));
}

TEST_F(CaptureDevices, FileCameraListsTheFileSizeAndAnUnreadableFileOffersNothing) {
    testsupport::TempDir dir;
    const std::string clip = dir / "clip.avi";
    ASSERT_TRUE(capturetest::MakeTestVideo(clip, 176, 144, 30, 30));
    {
        testsupport::ScopedEnv file("OCULARA_TEST_VIDEO_FILE", clip);
        SourceFilter camera;
        ASSERT_TRUE(camera.SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestFileCameraName)));
        auto types = camera.OutputPin()->EnumMediaTypes();
        ASSERT_EQ(types.size(), 1u);
        auto vih = *types[0].FormatAs<VIDEOINFOHEADER>();
        EXPECT_EQ(types[0].subtype, SubType::RGB24);
        EXPECT_EQ(vih.bmiHeader.biWidth, 176);
        EXPECT_EQ(vih.bmiHeader.biHeight, 144);
        EXPECT_EQ(vih.AvgTimePerFrame, 10000000 / 30);
    }
    const std::string junk = dir / "junk.avi";
    testsupport::WriteFile(junk, std::string(4096, '\x5a'));
    for (const std::string& path : {junk, dir / "missing.avi", dir.path()}) {
        SCOPED_TRACE(path);
        testsupport::ScopedEnv file("OCULARA_TEST_VIDEO_FILE", path);
        SourceFilter camera;
        ASSERT_TRUE(camera.SetDevice(capturetest::OnlyDevice(DeviceCategory::VideoInput, TestFileCameraName)));
        EXPECT_TRUE(camera.OutputPin()->EnumMediaTypes().empty());
    }
}

TEST_F(CaptureDevices, CompressorsAreEncodersThatAviMuxAcceptsSortedByName) {
    auto video = EnumerateDevices(DeviceCategory::VideoCompressor);
    auto audio = EnumerateDevices(DeviceCategory::AudioCompressor);
    auto names = Names(video);
    EXPECT_NE(std::find(names.begin(), names.end(), "JPEG image encoder"), names.end());
    auto audioNames = Names(audio);
    EXPECT_EQ(std::find(audioNames.begin(), audioNames.end(), "FLAC audio encoder"), audioNames.end());
    EXPECT_EQ(std::find(names.begin(), names.end(), "FLAC audio encoder"), names.end());
    for (size_t i = 1; i < names.size(); ++i)
        EXPECT_LE(g_ascii_strcasecmp(names[i - 1].c_str(), names[i].c_str()), 0) << names[i - 1] << " / " << names[i];
    EXPECT_EQ(Names(EnumerateDevices(DeviceCategory::VideoCompressor)), names);

    // The entries really connect to avimux: encode one frame through the JPEG entry.
    auto jpeg = std::find_if(video.begin(), video.end(), [](auto& d) { return d.FriendlyName == "JPEG image encoder"; });
    ASSERT_NE(jpeg, video.end());
    EXPECT_EQ(CompressorFactoryName(*jpeg), "jpegenc");
    EXPECT_EQ(CompressorFactoryName(EnumerateDevices(DeviceCategory::VideoInput)[0]), "");
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        ("videotestsrc num-buffers=2 ! " + CompressorFactoryName(*jpeg) + " ! avimux ! fakesink").c_str(), &error);
    ASSERT_TRUE(pipeline) << (error ? error->message : "");
    ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE);
    GstBus* bus = gst_element_get_bus(pipeline);
    GstMessage* msg = gst_bus_timed_pop_filtered(bus, 5 * GST_SECOND, GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
    ASSERT_TRUE(msg);
    EXPECT_EQ(GST_MESSAGE_TYPE(msg), GST_MESSAGE_EOS);
    gst_message_unref(msg);
    gst_object_unref(bus);
    gst_element_set_state(pipeline, GST_STATE_NULL);
    gst_object_unref(pipeline);
}

// A camera's caps as its driver would list them, turned into the pin's types.
struct CameraListing {
    std::vector<MediaType> types;
    std::vector<detail::NativeChoice> natives;

    explicit CameraListing(const char* caps) {
        if (!gst_is_initialized()) gst_init(nullptr, nullptr);
        GstPtr<GstCaps> parsed(gst_caps_from_string(caps));
        EXPECT_TRUE(parsed) << caps;
        detail::CameraTypesFromCaps(parsed.get(), types, natives);
        EXPECT_EQ(types.size(), natives.size());
    }

    // The index of the type with this subtype and size.
    size_t Find(SubType subtype, int w, int h) const {
        for (size_t i = 0; i < types.size(); ++i) {
            auto vf = ReadVideoFormat(types[i]);
            if (types[i].subtype == subtype && vf && vf->width == w && vf->height == h) return i;
        }
        ADD_FAILURE() << "no type " << int(subtype) << " " << w << "x" << h;
        return 0;
    }

    int64_t FrameTime(size_t i) const { return ReadVideoFormat(types.at(i))->avgTimePerFrame; }

    // What the camera is asked for at Run: the caps' media name, format and fixed rate.
    std::string Asks(size_t i) const {
        const GstCaps* caps = natives.at(i).caps.get();
        if (!caps || gst_caps_get_size(caps) != 1) return "not one structure";
        const GstStructure* s = gst_caps_get_structure(caps, 0);
        int n = 0, d = 0;
        if (!gst_structure_get_fraction(s, "framerate", &n, &d)) return "no fixed rate";
        const char* format = gst_structure_get_string(s, "format");
        return std::string(gst_structure_get_name(s)) + (format ? std::string(" ") + format : "") + " " +
               std::to_string(n) + "/" + std::to_string(d);
    }
};

constexpr int64_t At30 = 10000000 / 30, At10 = 10000000 / 10, At5 = 10000000 / 5;

TEST(CameraFormats, Rgb24ReadsTheFormatWithTheBestRateAndIsLabelledWithIt) {
    // 720p: raw at 10 or 5 fps, JPEG at 30 or 15; VGA: both at 30; 1080p:
    // JPEG from a range of rates, raw slower; QVGA: raw only.
    CameraListing cam(
        "video/x-raw,format=YUY2,width=1280,height=720,framerate={ 10/1, 5/1 };"
        "image/jpeg,width=1280,height=720,framerate={ 15/1, 30/1 };"
        "image/jpeg,width=640,height=480,framerate=30/1;"
        "video/x-raw,format=YUY2,width=640,height=480,framerate={ 30/1, 15/1 };"
        "video/x-raw,format=YUY2,width=1920,height=1080,framerate=5/1;"
        "image/jpeg,width=1920,height=1080,framerate=[ 1/1, 30/1 ];"
        "video/x-raw,format=YUY2,width=320,height=240,framerate={ 30/1, 15/1 }");

    const size_t hd = cam.Find(SubType::RGB24, 1280, 720);
    EXPECT_EQ(cam.FrameTime(hd), At30);
    EXPECT_EQ(cam.natives[hd].decoder, detail::NativeChoice::Decoder::Jpeg);
    EXPECT_EQ(cam.Asks(hd), "image/jpeg 30/1");

    // As fast raw as JPEG: raw, which needs no decoding.
    const size_t vga = cam.Find(SubType::RGB24, 640, 480);
    EXPECT_EQ(cam.FrameTime(vga), At30);
    EXPECT_EQ(cam.natives[vga].decoder, detail::NativeChoice::Decoder::None);
    EXPECT_EQ(cam.Asks(vga), "video/x-raw YUY2 30/1");

    const size_t fhd = cam.Find(SubType::RGB24, 1920, 1080);
    EXPECT_EQ(cam.FrameTime(fhd), At30);
    EXPECT_EQ(cam.Asks(fhd), "image/jpeg 30/1");

    const size_t qvga = cam.Find(SubType::RGB24, 320, 240);
    EXPECT_EQ(cam.FrameTime(qvga), At30);
    EXPECT_EQ(cam.Asks(qvga), "video/x-raw YUY2 30/1");

    // The device's own types keep their own rates, and ask for them.
    const size_t yuy2 = cam.Find(SubType::YUY2, 1280, 720);
    EXPECT_EQ(cam.FrameTime(yuy2), At10);
    EXPECT_EQ(cam.Asks(yuy2), "video/x-raw YUY2 10/1");
    const size_t mjpg = cam.Find(SubType::MJPG, 1280, 720);
    EXPECT_EQ(cam.FrameTime(mjpg), At30);
    EXPECT_EQ(cam.Asks(mjpg), "image/jpeg 30/1");
    EXPECT_EQ(cam.FrameTime(cam.Find(SubType::YUY2, 1920, 1080)), At5);
}

TEST(CameraFormats, OtherCompressedFormatsServeRgb24OnlyWithoutRawOrJpeg) {
    CameraListing cam(
        "video/x-raw,format=YUY2,width=1280,height=720,framerate=5/1;"
        "video/x-h264,stream-format=byte-stream,alignment=au,width=1280,height=720,framerate=30/1;"
        "video/x-h264,stream-format=byte-stream,alignment=au,width=640,height=480,framerate=30/1");
    const size_t hd = cam.Find(SubType::RGB24, 1280, 720);
    EXPECT_EQ(cam.FrameTime(hd), At5);
    EXPECT_EQ(cam.Asks(hd), "video/x-raw YUY2 5/1");
    const size_t vga = cam.Find(SubType::RGB24, 640, 480);
    EXPECT_EQ(cam.FrameTime(vga), At30);
    EXPECT_EQ(cam.natives[vga].decoder, detail::NativeChoice::Decoder::Any);
    EXPECT_EQ(cam.Asks(vga), "video/x-h264 30/1");
}

// The slow-raw camera as the capture layer lists it, through its own provider.
DeviceInfo SlowRawCamera() {
    static const bool registered = gst_device_provider_register(nullptr, FakeProviderName, GST_RANK_NONE,
                                                                fake_camera_provider_get_type());
    EXPECT_TRUE(registered);
    DeviceHandle wanted;
    wanted.kind = DeviceKind::Real;
    wanted.medium = MajorType::Video;
    wanted.name = FakeCameraName;
    wanted.provider = FakeProviderName;
    auto listed = ListedNow(wanted);
    EXPECT_TRUE(listed && listed->device);
    return {FakeCameraName, listed};
}

using CameraFormatsOnRun = CaptureTest;

TEST_F(CameraFormatsOnRun, ARecordingOfACameraWhoseRawModeIsSlowHoldsADistinctFrameForEveryLabelledOne) {
    auto camera = std::make_shared<SourceFilter>();
    ASSERT_TRUE(camera->SetDevice(SlowRawCamera()));
    const MediaType rgb = MakeRgbVideoType(SubType::RGB24, 320, 240);
    ASSERT_TRUE(camera->OutputPin()->SetFormat(rgb));
    EXPECT_EQ(ReadVideoFormat(*camera->OutputPin()->GetFormat())->avgTimePerFrame, 10000000 / 30);

    testsupport::TempDir dir;
    const std::string path = dir / "OCL-slowraw.avi";
    FilterGraph graph;
    graph.Activate();
    CaptureGraphBuilder builder(graph);
    auto mux = builder.SetOutputFileName(path);
    ASSERT_TRUE(mux);
    ASSERT_TRUE(builder.RenderStream(PinCategory::Capture, MajorType::None, camera, nullptr, mux));
    ASSERT_TRUE(graph.Run()) << graph.LastError();
    capturetest::SleepMs(3000);
    graph.Stop();
    EXPECT_FALSE(graph.Failed()) << graph.LastError();

    // About 90 frames, each a new picture of the moving ball: a camera
    // giving fewer frames than its label would be padded with repeats.
    const auto frames = testsupport::ReadAviVideoFrames(path);
    ASSERT_EQ(frames.error, "");
    EXPECT_EQ(frames.rate, 30u * frames.scale);
    EXPECT_GT(frames.frames, 45u);
    EXPECT_GE(frames.distinct, frames.frames * 9 / 10) << frames.frames << " frames";
}

TEST(CaptureMediaTypes, RgbTypesCarryDibRowPaddingAndReadBackFromBothHeaders) {
    EXPECT_EQ(DibStride(175, 24), 528u);
    EXPECT_EQ(DibStride(175, 16), 352u);
    EXPECT_EQ(DibStride(175, 32), 700u);
    auto rgb555 = MakeRgbVideoType(SubType::RGB555, 175, 10);
    EXPECT_EQ(rgb555.FormatAs<VIDEOINFOHEADER>()->bmiHeader.biBitCount, 16);
    EXPECT_EQ(rgb555.FormatAs<VIDEOINFOHEADER>()->bmiHeader.biSizeImage, 3520u);

    MediaType v2;
    v2.majortype = MajorType::Video;
    v2.subtype = SubType::RGB32;
    VIDEOINFOHEADER2 block;
    block.bmiHeader.biWidth = 640;
    block.bmiHeader.biHeight = -480;
    block.bmiHeader.biBitCount = 32;
    v2.SetFormat(FormatType::VideoInfo2, block);
    auto info = ReadVideoFormat(v2);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->width, 640);
    EXPECT_EQ(info->height, -480);
    EXPECT_TRUE(SameFormat(v2, MakeRgbVideoType(SubType::RGB32, 640, 480)));
    v2.pbFormat.resize(88);  // a block of the wrong size for its format type
    EXPECT_FALSE(ReadVideoFormat(v2));
    EXPECT_FALSE(SameFormat(MakePcmAudioType(44100, 16, 2), MakePcmAudioType(44100, 16, 1)));
}

}  // namespace
