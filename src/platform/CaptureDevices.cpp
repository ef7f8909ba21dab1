// Device lists and what each device offers: frame sizes and PCM formats read
// from GStreamer caps, the test devices, the video file camera.

#include <gst/video/video.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

#include "platform/CaptureInternal.h"
#include "platform/MediaTypeUtil.h"
#include "platform/TestDevices.h"

namespace platform {

void InitCaptureLayer() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (!gst_is_initialized()) gst_init(nullptr, nullptr);
    });
}

namespace {

bool EnvIs(const char* name, const char* value) {
    const char* v = std::getenv(name);
    return v && std::strcmp(v, value) == 0;
}

std::string EnvString(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string DeviceString(const GstStructure* props, const char* key) {
    if (!props) return "";
    const char* v = gst_structure_get_string(props, key);
    return v ? v : "";
}

// A key that tells apart two devices with the same friendly name and stays
// the same between listings (the device node or the sound server's name).
std::string StableKey(GstDevice* device) {
    GstPtr<GstStructure> props(gst_device_get_properties(device));
    for (const char* key : {"api.v4l2.path", "device.path", "object.path", "node.name", "device.string",
                            "alsa.card"}) {
        std::string v = DeviceString(props.get(), key);
        if (!v.empty()) return v;
    }
    GstPtr<gchar> text(props ? gst_structure_to_string(props.get()) : nullptr);
    return text ? text.get() : "";
}

bool IsMonitorOfOutput(GstDevice* device) {
    GstPtr<GstStructure> props(gst_device_get_properties(device));
    if (DeviceString(props.get(), "device.class") == "monitor") return true;
    std::string mediaClass = DeviceString(props.get(), "media.class");
    return mediaClass.find("Sink") != std::string::npos;
}

// The factory name of the provider that listed the device ("" when unknown).
std::string ProviderOf(GstDevice* device) {
    GstPtr<GstObject> parent(gst_object_get_parent(GST_OBJECT(device)));
    if (!parent || !GST_IS_DEVICE_PROVIDER(parent.get())) return "";
    GstDeviceProviderFactory* factory = gst_device_provider_get_factory(GST_DEVICE_PROVIDER(parent.get()));
    return factory ? GST_OBJECT_NAME(factory) : "";
}

struct FoundDevice {
    std::string name, key, provider;
    GstPtr<GstDevice> device;
};

// The capture devices of a medium in a list of devices, monitors of outputs left out.
void CollectInputs(GList* list, MajorType medium, std::vector<FoundDevice>& found) {
    for (GList* l = list; l; l = l->next) {
        GstDevice* device = GST_DEVICE(l->data);
        if (!gst_device_has_classes(device, medium == MajorType::Video ? "Video/Source" : "Audio/Source")) continue;
        if (medium == MajorType::Audio && IsMonitorOfOutput(device)) continue;
        GstPtr<gchar> name(gst_device_get_display_name(device));
        found.push_back({name ? name.get() : "", StableKey(device), ProviderOf(device), GstPtr<GstDevice>::Ref(device)});
    }
}

std::shared_ptr<DeviceHandle> RealHandle(MajorType medium, FoundDevice& f) {
    auto handle = std::make_shared<DeviceHandle>();
    handle->kind = DeviceKind::Real;
    handle->medium = medium;
    handle->name = f.name;
    handle->key = f.key;
    handle->provider = f.provider;
    handle->device = std::move(f.device);
    return handle;
}

std::vector<DeviceInfo> RealInputs(MajorType medium) {
    GstPtr<GstDeviceMonitor> monitor(gst_device_monitor_new());
    gst_device_monitor_add_filter(monitor.get(), medium == MajorType::Video ? "Video/Source" : "Audio/Source",
                                  nullptr);
    std::vector<FoundDevice> found;
    GList* list = gst_device_monitor_get_devices(monitor.get());
    CollectInputs(list, medium, found);
    g_list_free_full(list, gst_object_unref);

    std::stable_sort(found.begin(), found.end(), [](const FoundDevice& a, const FoundDevice& b) {
        return std::tie(a.name, a.key) < std::tie(b.name, b.key);
    });
    std::vector<DeviceInfo> out;
    for (auto& f : found) out.push_back({f.name, RealHandle(medium, f)});
    return out;
}

std::shared_ptr<DeviceHandle> TestHandle(DeviceKind kind, MajorType medium, const char* name) {
    auto h = std::make_shared<DeviceHandle>();
    h->kind = kind;
    h->medium = medium;
    h->name = name;
    return h;
}

// The sink pad template of avimux for one medium ("video_%u" / "audio_%u").
GstPtr<GstCaps> AviMuxSinkCaps(const char* prefix) {
    GstPtr<GstElementFactory> mux(gst_element_factory_find("avimux"));
    if (!mux) return {};
    for (const GList* l = gst_element_factory_get_static_pad_templates(mux.get()); l; l = l->next) {
        auto* templ = static_cast<GstStaticPadTemplate*>(l->data);
        if (templ->direction == GST_PAD_SINK && g_str_has_prefix(templ->name_template, prefix))
            return GstPtr<GstCaps>(gst_static_pad_template_get_caps(templ));
    }
    return {};
}

std::string ToLower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::vector<DeviceInfo> Compressors(MajorType medium) {
    GstPtr<GstCaps> accepted = AviMuxSinkCaps(medium == MajorType::Video ? "video" : "audio");
    if (!accepted) return {};
    GstElementFactoryListType type =
        medium == MajorType::Video ? GST_ELEMENT_FACTORY_TYPE_VIDEO_ENCODER : GST_ELEMENT_FACTORY_TYPE_AUDIO_ENCODER;
    GList* factories = gst_element_factory_list_get_elements(type, GST_RANK_NONE);
    struct Found {
        std::string name, lower, factory;
    };
    std::vector<Found> found;
    for (GList* l = factories; l; l = l->next) {
        auto* factory = GST_ELEMENT_FACTORY(l->data);
        if (!gst_element_factory_can_src_any_caps(factory, accepted.get())) continue;
        const char* longName = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        std::string name = longName ? longName : GST_OBJECT_NAME(factory);
        found.push_back({name, ToLower(name), GST_OBJECT_NAME(factory)});
    }
    gst_plugin_feature_list_free(factories);
    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        return std::tie(a.lower, a.name, a.factory) < std::tie(b.lower, b.name, b.factory);
    });
    std::vector<DeviceInfo> out;
    for (auto& f : found) {
        auto h = std::make_shared<DeviceHandle>();
        h->kind = DeviceKind::Compressor;
        h->medium = medium;
        h->name = f.name;
        h->factoryName = f.factory;
        out.push_back({f.name, h});
    }
    return out;
}

}  // namespace

std::vector<DeviceInfo> EnumerateDevices(DeviceCategory category) {
    InitCaptureLayer();
    const bool testOnly = EnvIs("OCULARA_TEST_DEVICES", "1");
    std::vector<DeviceInfo> out;
    switch (category) {
    case DeviceCategory::VideoInput: {
        if (testOnly)
            out.push_back({TestCameraName, TestHandle(DeviceKind::TestCamera, MajorType::Video, TestCameraName)});
        else
            out = RealInputs(MajorType::Video);
        std::string file = EnvString("OCULARA_TEST_VIDEO_FILE");
        if (!file.empty()) {
            auto h = TestHandle(DeviceKind::TestFileCamera, MajorType::Video, TestFileCameraName);
            h->filePath = file;
            out.push_back({TestFileCameraName, h});
        }
        break;
    }
    case DeviceCategory::AudioInput:
        if (testOnly)
            out.push_back(
                {TestMicrophoneName, TestHandle(DeviceKind::TestMicrophone, MajorType::Audio, TestMicrophoneName)});
        else
            out = RealInputs(MajorType::Audio);
        break;
    case DeviceCategory::VideoCompressor: out = Compressors(MajorType::Video); break;
    case DeviceCategory::AudioCompressor: out = Compressors(MajorType::Audio); break;
    }
    return out;
}

std::shared_ptr<const DeviceHandle> ListedNow(const DeviceHandle& device) {
    InitCaptureLayer();
    std::vector<FoundDevice> found;
    GstPtr<GstDeviceProviderFactory> factory(
        device.provider.empty() ? nullptr : gst_device_provider_factory_find(device.provider.c_str()));
    if (device.kind == DeviceKind::Real && factory) {
        // Only the device's own provider is asked: asking another one (a
        // sound device's retry asking the camera's server) would disturb
        // the streams it serves.
        GstPtr<GstDeviceProvider> provider(gst_device_provider_factory_get(factory.get()));
        // The PipeWire provider's probe shares the connection of the running
        // sources and leaves its listeners there, which fire into freed
        // memory when a device goes away later; started and stopped, it
        // cleans up after itself.
        const bool startStop = device.provider == "pipewiredeviceprovider";
        GList* list = nullptr;
        if (provider && startStop && gst_device_provider_start(provider.get())) {
            list = gst_device_provider_get_devices(provider.get());
            gst_device_provider_stop(provider.get());
        } else if (provider && !startStop) {
            list = gst_device_provider_get_devices(provider.get());
        }
        CollectInputs(list, device.medium, found);
        g_list_free_full(list, gst_object_unref);
    }
    std::shared_ptr<const DeviceHandle> byName;
    auto consider = [&](const std::shared_ptr<const DeviceHandle>& h) {
        if (!h || h->name != device.name) return false;
        if (h->key == device.key) return true;
        if (!byName) byName = h;
        return false;
    };
    if (factory) {
        for (auto& f : found)
            if (auto h = RealHandle(device.medium, f); consider(h)) return h;
        return byName;
    }
    for (const DeviceInfo& d : EnumerateDevices(device.medium == MajorType::Video ? DeviceCategory::VideoInput
                                                                                  : DeviceCategory::AudioInput))
        if (consider(d.Handle)) return d.Handle;
    return byName;
}

std::string CompressorFactoryName(const DeviceInfo& device) {
    if (!device.Handle || device.Handle->kind != DeviceKind::Compressor) return "";
    return device.Handle->factoryName;
}

namespace detail {

const char* GstFormatForSubType(SubType subtype) {
    switch (subtype) {
    case SubType::RGB24: return "BGR";
    case SubType::RGB32: return "BGRx";
    // Windows RGB555 keeps red in bits 10-14 of a little-endian word: GStreamer's RGB15.
    case SubType::RGB555: return "RGB15";
    case SubType::RGB565: return "RGB16";
    default: return nullptr;
    }
}

std::optional<MediaType> MediaTypeFromCaps(const GstCaps* caps) {
    if (!caps || gst_caps_get_size(caps) == 0) return std::nullopt;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const char* name = gst_structure_get_name(s);
    const char* format = gst_structure_get_string(s, "format");
    if (!format) return std::nullopt;
    if (std::strcmp(name, "video/x-raw") == 0) {
        SubType sub = SubType::None;
        for (SubType candidate : {SubType::RGB24, SubType::RGB32, SubType::RGB555, SubType::RGB565})
            if (std::strcmp(format, GstFormatForSubType(candidate)) == 0) sub = candidate;
        int w = 0, h = 0, n = 0, d = 1;
        if (sub == SubType::None || !gst_structure_get_int(s, "width", &w) || !gst_structure_get_int(s, "height", &h))
            return std::nullopt;
        int64_t avg = 0;
        if (gst_structure_get_fraction(s, "framerate", &n, &d) && n > 0) avg = int64_t(10000000) * d / n;
        return MakeRgbVideoType(sub, w, h, avg);
    }
    if (std::strcmp(name, "audio/x-raw") == 0) {
        int bits = std::strcmp(format, "S16LE") == 0 ? 16 : std::strcmp(format, "U8") == 0 ? 8 : 0;
        int rate = 0, channels = 0;
        if (!bits || !gst_structure_get_int(s, "rate", &rate) || !gst_structure_get_int(s, "channels", &channels))
            return std::nullopt;
        return MakePcmAudioType(rate, bits, channels);
    }
    return std::nullopt;
}

FileVideoInfo DiscoverVideoFile(const std::string& path) {
    InitCaptureLayer();
    struct stat st {};
    if (path.empty() || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        FileVideoInfo bad;
        bad.error = "cannot read " + path;
        return bad;
    }
    // Listing formats happens at every device choice: learn each file once.
    static std::mutex cacheMutex;
    static std::map<std::tuple<std::string, int64_t, int64_t>, FileVideoInfo> cache;
    auto key = std::make_tuple(path, int64_t(st.st_mtime), int64_t(st.st_size));
    {
        std::lock_guard lock(cacheMutex);
        if (auto it = cache.find(key); it != cache.end()) return it->second;
    }

    FileVideoInfo info;
    GstPtr<GError> error;
    GstPtr<gchar> uri(gst_filename_to_uri(path.c_str(), error.out()));
    GstPtr<GstDiscoverer> discoverer(uri ? gst_discoverer_new(5 * GST_SECOND, error.out()) : nullptr);
    GstPtr<GstDiscovererInfo> result;
    if (discoverer) result.reset(gst_discoverer_discover_uri(discoverer.get(), uri.get(), error.out()));
    if (result && gst_discoverer_info_get_result(result.get()) == GST_DISCOVERER_OK) {
        GList* streams = gst_discoverer_info_get_video_streams(result.get());
        for (GList* l = streams; l; l = l->next) {
            auto* v = GST_DISCOVERER_VIDEO_INFO(l->data);
            if (gst_discoverer_video_info_is_image(v)) continue;
            info.width = int(gst_discoverer_video_info_get_width(v));
            info.height = int(gst_discoverer_video_info_get_height(v));
            info.fpsN = int(gst_discoverer_video_info_get_framerate_num(v));
            info.fpsD = int(gst_discoverer_video_info_get_framerate_denom(v));
            if (info.fpsD <= 0) info.fpsD = 1;
            info.ok = info.width > 0 && info.height > 0;
            break;
        }
        gst_discoverer_stream_info_list_free(streams);
        if (!info.ok) info.error = path + " holds no video stream";
    } else {
        info.error = path + ": " + (error ? error->message : "not a readable video file");
    }
    std::lock_guard lock(cacheMutex);
    cache[key] = info;
    return info;
}

// ------------------------------------------------------------ offered types

namespace {

constexpr int TestCameraFps = 15;
constexpr int64_t TestCameraFrameTime = 10000000 / TestCameraFps;

struct Fraction {
    int n = 0, d = 1;
    bool Better(const Fraction& o) const { return int64_t(n) * o.d > int64_t(o.n) * d; }
};

// The best frame rate a caps structure allows.
Fraction MaxRate(const GstStructure* s) {
    Fraction best;
    const GValue* v = gst_structure_get_value(s, "framerate");
    if (!v) return best;
    auto take = [&](const GValue* f) {
        if (GST_VALUE_HOLDS_FRACTION(f)) {
            Fraction c{gst_value_get_fraction_numerator(f), gst_value_get_fraction_denominator(f)};
            if (c.d > 0 && c.Better(best)) best = c;
        } else if (GST_VALUE_HOLDS_FRACTION_RANGE(f)) {
            const GValue* max = gst_value_get_fraction_range_max(f);
            Fraction c{gst_value_get_fraction_numerator(max), gst_value_get_fraction_denominator(max)};
            if (c.d > 0 && c.Better(best)) best = c;
        }
    };
    if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) take(gst_value_list_get_value(v, i));
    } else {
        take(v);
    }
    return best;
}

bool Allows(const GValue* v, int x) {
    GValue probe = G_VALUE_INIT;
    g_value_init(&probe, G_TYPE_INT);
    g_value_set_int(&probe, x);
    bool ok = v && gst_value_can_intersect(v, &probe);
    g_value_unset(&probe);
    return ok;
}

std::vector<int> FixedInts(const GValue* v) {
    std::vector<int> out;
    if (!v) return out;
    if (G_VALUE_HOLDS_INT(v)) {
        out.push_back(g_value_get_int(v));
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            auto more = FixedInts(gst_value_list_get_value(v, i));
            out.insert(out.end(), more.begin(), more.end());
        }
    }
    return out;
}

// The frame sizes a caps structure allows: its own values, or for a device
// with a range of sizes the common sizes inside it and the largest.
std::vector<std::pair<int, int>> FrameSizes(const GstStructure* s) {
    const GValue* wv = gst_structure_get_value(s, "width");
    const GValue* hv = gst_structure_get_value(s, "height");
    std::vector<std::pair<int, int>> out;
    if (!wv || !hv) return out;
    if (GST_VALUE_HOLDS_INT_RANGE(wv) || GST_VALUE_HOLDS_INT_RANGE(hv)) {
        static const std::pair<int, int> common[] = {{160, 120}, {176, 144}, {320, 240},  {352, 288},  {640, 480},
                                                     {800, 600}, {1024, 768}, {1280, 720}, {1920, 1080}};
        for (auto [w, h] : common)
            if (Allows(wv, w) && Allows(hv, h)) out.push_back({w, h});
        if (GST_VALUE_HOLDS_INT_RANGE(wv) && GST_VALUE_HOLDS_INT_RANGE(hv)) {
            int w = gst_value_get_int_range_max(wv), h = gst_value_get_int_range_max(hv);
            if (w <= 8192 && h <= 8192) out.push_back({w, h});
        }
        return out;
    }
    for (int w : FixedInts(wv))
        for (int h : FixedInts(hv)) out.push_back({w, h});
    return out;
}

std::vector<std::string> StringValues(const GValue* v) {
    std::vector<std::string> out;
    if (!v) return out;
    if (G_VALUE_HOLDS_STRING(v)) {
        out.push_back(g_value_get_string(v));
    } else if (GST_VALUE_HOLDS_LIST(v)) {
        for (guint i = 0; i < gst_value_list_get_size(v); ++i) {
            auto more = StringValues(gst_value_list_get_value(v, i));
            out.insert(out.end(), more.begin(), more.end());
        }
    }
    return out;
}

// One frame size in one of the device's own formats.
struct NativeEntry {
    int width, height;
    bool raw;   // video/x-raw
    bool jpeg;  // image/jpeg
    std::string format;
    SubType subtype;
    uint32_t fourcc;
    int bitCount;
    Fraction rate;
    GstPtr<GstCaps> caps;  // this format at this size, any rate the device has
};

uint32_t FourccOf(const std::string& text) {
    char c[4] = {' ', ' ', ' ', ' '};
    for (size_t i = 0; i < 4 && i < text.size(); ++i) c[i] = char(std::toupper(static_cast<unsigned char>(text[i])));
    return MakeFourCC(c[0], c[1], c[2], c[3]);
}

void ClassifyNative(NativeEntry& e, const char* mediaName) {
    e.raw = std::strcmp(mediaName, "video/x-raw") == 0;
    e.jpeg = std::strcmp(mediaName, "image/jpeg") == 0;
    e.fourcc = 0;
    e.bitCount = 24;
    if (e.jpeg) {
        e.subtype = SubType::MJPG;
        e.fourcc = MakeFourCC('M', 'J', 'P', 'G');
        return;
    }
    if (!e.raw) {
        std::string n = mediaName;
        auto slash = n.find("/x-");
        e.subtype = SubType::Other;
        e.fourcc = FourccOf(slash == std::string::npos ? n : n.substr(slash + 3));
        return;
    }
    if (e.format == "BGR") e.subtype = SubType::RGB24;
    else if (e.format == "BGRx") e.subtype = SubType::RGB32;
    else if (e.format == "RGB15") e.subtype = SubType::RGB555;
    else if (e.format == "YUY2") e.subtype = SubType::YUY2;
    else if (e.format == "I420") e.subtype = SubType::I420;
    else e.subtype = SubType::Other;
    e.bitCount = RgbBitCount(e.subtype);
    if (e.bitCount == 0) {
        GstVideoInfo vinfo;
        GstVideoFormat f = gst_video_format_from_string(e.format.c_str());
        if (f != GST_VIDEO_FORMAT_UNKNOWN && gst_video_info_set_format(&vinfo, f, guint(e.width), guint(e.height)))
            e.bitCount = int(GST_VIDEO_INFO_SIZE(&vinfo) * 8 / (size_t(e.width) * size_t(e.height)));
        e.fourcc = gst_video_format_to_fourcc(f);
        if (e.fourcc == 0) e.fourcc = FourccOf(e.format);
        if (e.bitCount == 0) e.bitCount = 16;
    }
}

std::vector<NativeEntry> NativeEntries(GstCaps* caps) {
    std::vector<NativeEntry> out;
    if (!caps || gst_caps_is_any(caps)) return out;
    for (guint i = 0; i < gst_caps_get_size(caps); ++i) {
        const GstStructure* s = gst_caps_get_structure(caps, i);
        const char* mediaName = gst_structure_get_name(s);
        if (!g_str_has_prefix(mediaName, "video/") && !g_str_has_prefix(mediaName, "image/")) continue;
        // Special memory (DMA buffers and the like) cannot be read by the grabber.
        GstCapsFeatures* features = gst_caps_get_features(caps, i);
        if (features && !gst_caps_features_is_any(features) &&
            !gst_caps_features_contains(features, GST_CAPS_FEATURE_MEMORY_SYSTEM_MEMORY))
            continue;
        auto formats = StringValues(gst_structure_get_value(s, "format"));
        if (formats.empty()) formats.push_back("");
        for (const auto& format : formats) {
            for (auto [w, h] : FrameSizes(s)) {
                if (w <= 0 || h <= 0) continue;
                NativeEntry e;
                e.width = w;
                e.height = h;
                e.format = format;
                ClassifyNative(e, mediaName);
                e.rate = MaxRate(s);
                GstStructure* fixed = gst_structure_copy(s);
                gst_structure_set(fixed, "width", G_TYPE_INT, w, "height", G_TYPE_INT, h, nullptr);
                if (!format.empty()) gst_structure_set(fixed, "format", G_TYPE_STRING, format.c_str(), nullptr);
                GstCaps* one = gst_caps_new_empty();
                gst_caps_append_structure(one, fixed);
                e.caps.reset(one);
                out.push_back(std::move(e));
            }
        }
    }
    return out;
}

int64_t FrameTime(const Fraction& f) { return f.n > 0 ? int64_t(10000000) * f.d / f.n : 0; }

// The format's caps at its best rate: a device asked for a list or a range
// of rates may settle on its slowest, and the entry is labelled with the best.
GstPtr<GstCaps> AtBestRate(const NativeEntry& e) {
    GstPtr<GstCaps> caps(gst_caps_copy(e.caps.get()));
    if (e.rate.n > 0)
        gst_caps_set_simple(caps.get(), "framerate", GST_TYPE_FRACTION, e.rate.n, e.rate.d, nullptr);
    return caps;
}

NativeChoice ChoiceOf(const NativeEntry& e) {
    return {AtBestRate(e), e.raw    ? NativeChoice::Decoder::None
                           : e.jpeg ? NativeChoice::Decoder::Jpeg
                                    : NativeChoice::Decoder::Any};
}

int DecodeCost(const NativeEntry& e) { return e.raw ? 0 : e.jpeg ? 1 : 2; }

// Whether `a` makes a better source for the converted RGB24 type than `b`:
// more frames first, then less decoding (raw, then JPEG). Other compressed
// formats serve only when there is neither: their decoders cannot start at
// any frame.
bool BetterRgb24Source(const NativeEntry& a, const NativeEntry& b) {
    const bool aOther = DecodeCost(a) == 2, bOther = DecodeCost(b) == 2;
    if (aOther != bOther) return bOther;
    if (a.rate.Better(b.rate) || b.rate.Better(a.rate)) return a.rate.Better(b.rate);
    return DecodeCost(a) < DecodeCost(b);
}

const NativeEntry* Rgb24Source(const std::vector<NativeEntry>& entries, int w, int h) {
    const NativeEntry* source = nullptr;
    for (const auto& e : entries)
        if (e.width == w && e.height == h && (!source || BetterRgb24Source(e, *source))) source = &e;
    return source;
}

}  // namespace

void CameraTypesFromCaps(GstCaps* caps, std::vector<MediaType>& types, std::vector<NativeChoice>& natives) {
    auto entries = NativeEntries(caps);
    std::set<std::pair<int, int>> sizes;
    for (const auto& e : entries) sizes.insert({e.width, e.height});
    for (auto [w, h] : sizes) {
        const NativeEntry* source = Rgb24Source(entries, w, h);
        types.push_back(MakeRgbVideoType(SubType::RGB24, w, h, FrameTime(source->rate)));
        natives.push_back(ChoiceOf(*source));
        for (SubType native : {SubType::RGB32, SubType::RGB555}) {
            for (const auto& e : entries) {
                if (e.width == w && e.height == h && e.subtype == native) {
                    types.push_back(MakeRgbVideoType(native, w, h, FrameTime(e.rate)));
                    natives.push_back(ChoiceOf(e));
                    break;
                }
            }
        }
        std::set<std::pair<SubType, uint32_t>> listed;
        for (const auto& e : entries) {
            if (e.width != w || e.height != h || RgbBitCount(e.subtype) != 0) continue;
            if (!listed.insert({e.subtype, e.fourcc}).second) continue;
            types.push_back(MakeNativeVideoType(e.subtype, e.fourcc, e.bitCount, w, h, FrameTime(e.rate)));
            natives.push_back(ChoiceOf(e));
        }
    }
}

namespace {

void CameraTypes(GstDevice* device, std::vector<MediaType>& types, std::vector<NativeChoice>& natives) {
    GstPtr<GstCaps> caps(gst_device_get_caps(device));
    CameraTypesFromCaps(caps.get(), types, natives);
}

void PcmTypes(const std::vector<int>& rates, std::vector<MediaType>& types) {
    for (int rate : rates)
        for (int bits : {16, 8})
            for (int channels : {2, 1}) types.push_back(MakePcmAudioType(rate, bits, channels));
}

std::vector<int> DeviceRates(GstDevice* device) {
    GstPtr<GstCaps> caps(gst_device_get_caps(device));
    std::vector<int> rates;
    for (int rate : {48000, 44100, 22050, 11025, 8000}) {
        if (!caps || gst_caps_is_any(caps.get()) || gst_caps_is_empty(caps.get())) {
            rates.push_back(rate);
            continue;
        }
        GstPtr<GstCaps> probe(gst_caps_new_simple("audio/x-raw", "rate", G_TYPE_INT, rate, nullptr));
        if (gst_caps_can_intersect(caps.get(), probe.get())) rates.push_back(rate);
    }
    return rates;
}

}  // namespace

void SourceState::EnsureTypesLocked() {
    if (typesKnown || !device) return;
    typesKnown = true;
    types.clear();
    natives.clear();
    lines.clear();
    switch (device->kind) {
    case DeviceKind::TestCamera:
        for (auto [w, h] : {std::pair{160, 120}, {320, 240}, {352, 288}, {640, 480}}) {
            types.push_back(MakeRgbVideoType(SubType::RGB24, w, h, TestCameraFrameTime));
            natives.push_back({});
        }
        break;
    case DeviceKind::TestFileCamera: {
        FileVideoInfo info = DiscoverVideoFile(device->filePath);
        if (info.ok) {
            int64_t avg = info.fpsN > 0 ? int64_t(10000000) * info.fpsD / info.fpsN : 0;
            types.push_back(MakeRgbVideoType(SubType::RGB24, info.width, info.height, avg));
            natives.push_back({});
        }
        break;
    }
    case DeviceKind::TestMicrophone:
        PcmTypes({44100, 22050}, types);
        lines = {{"Microfono", true}, {"Ingresso linea", false}};
        break;
    case DeviceKind::Real:
        if (device->medium == MajorType::Video) {
            CameraTypes(device->device.get(), types, natives);
        } else {
            PcmTypes(DeviceRates(device->device.get()), types);
            // The device monitor does not say which ports a sound device has:
            // the device is its own single, recording line.
            lines = {{device->name, true}};
        }
        break;
    case DeviceKind::Compressor: break;
    }
}

std::optional<size_t> SourceState::EffectiveFormatLocked() {
    EnsureTypesLocked();
    if (formatIndex && *formatIndex < types.size()) return formatIndex;
    if (types.empty()) return std::nullopt;
    return size_t(0);
}

}  // namespace detail
}  // namespace platform
