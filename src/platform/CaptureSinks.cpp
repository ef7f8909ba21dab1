// The two ends of a branch: the sample grabber (every sample to a callback,
// the last one kept) and the preview renderer (newest frame only).

#include <gst/audio/audio.h>

#include <algorithm>
#include <cstring>

#include "platform/CaptureInternal.h"
#include "platform/MediaTypeUtil.h"
#include "platform/Tick.h"

namespace platform {

// --------------------------------------------------------- SampleGrabber

SampleGrabber::SampleGrabber() : state_(std::make_shared<detail::GrabberState>()) {}
SampleGrabber::~SampleGrabber() = default;

void SampleGrabber::SetMediaType(const MediaType& mt) {
    std::lock_guard lock(state_->formatMutex);
    state_->mediaType = mt;
}

MediaType SampleGrabber::GetMediaType() const {
    std::lock_guard lock(state_->formatMutex);
    return state_->mediaType;
}

std::optional<MediaType> SampleGrabber::GetConnectedMediaType() const {
    std::lock_guard lock(state_->formatMutex);
    return state_->connected;
}

void SampleGrabber::SetCallback(BufferCallback callback) {
    BufferCallback old;
    {
        std::lock_guard lock(state_->callbackMutex);
        old = std::exchange(state_->callback, std::move(callback));
    }
    // `old` (and whatever it captured) dies here, outside the lock.
}

void SampleGrabber::SetBufferSamples(bool on) {
    state_->bufferSamples = on;
    if (!on) {
        std::lock_guard lock(state_->sampleMutex);
        state_->haveLast = false;
        state_->newestRaw.reset();
    }
}

void SampleGrabber::SetFrameGate(FrameGate gate) {
    FrameGate old;
    {
        std::lock_guard lock(state_->callbackMutex);
        old = std::exchange(state_->gate, std::move(gate));
    }
}

bool SampleGrabber::GetCurrentBuffer(std::vector<uint8_t>& bytes, MediaType* type) const {
    GstPtr<GstBuffer> raw;
    GstPtr<GstCaps> rawCaps;
    GstVideoInfo to;
    {
        std::lock_guard lock(state_->sampleMutex);
        if (!state_->haveLast) return false;
        if (type) *type = state_->lastType;
        if (!state_->newestRaw) {
            bytes = state_->last;
            return true;
        }
        raw = state_->newestRaw;
        rawCaps = state_->newestRawCaps;
        to = state_->lastInfo;
    }
    if (detail::ConvertToDib(raw.get(), rawCaps.get(), to, bytes)) return true;
    std::lock_guard lock(state_->sampleMutex);  // the converted frame before it, rather than none
    bytes = state_->last;
    return true;
}

uint64_t SampleGrabber::SampleCount() const { return state_->count.load(); }

// --------------------------------------------------- VideoWindowRenderer

VideoWindowRenderer::VideoWindowRenderer() : state_(std::make_shared<detail::RendererState>()) {}
VideoWindowRenderer::~VideoWindowRenderer() = default;

std::shared_ptr<const VideoFrame> VideoWindowRenderer::NewestFrame() const {
    std::lock_guard lock(state_->mutex);
    state_->MaterializeLocked();
    return state_->frame;
}

uint64_t VideoWindowRenderer::FramesDelivered() const { return state_->delivered.load(); }

void VideoWindowRenderer::Clear() {
    std::lock_guard lock(state_->mutex);
    state_->sample.reset();
    state_->frame.reset();
    state_->spare.reset();
    if (state_->notice) state_->notice();
}

void VideoWindowRenderer::SetFrameNotice(FrameNotice notice) {
    FrameNotice old;
    {
        std::lock_guard lock(state_->mutex);
        old = std::exchange(state_->notice, std::move(notice));
    }
}

namespace detail {

constexpr uint32_t kGateMarginMs = 20;

namespace {

bool IsJpeg(GstCaps* caps) { return gst_structure_has_name(gst_caps_get_structure(caps, 0), "image/jpeg"); }

// Raw BGRx frame rows into `out`.
bool CopyBgrx(GstBuffer* buffer, GstCaps* caps, VideoFrame& out) {
    GstVideoInfo info;
    if (!gst_video_info_from_caps(&info, caps)) return false;
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) return false;
    out.Width = GST_VIDEO_FRAME_WIDTH(&mapped);
    out.Height = GST_VIDEO_FRAME_HEIGHT(&mapped);
    out.Stride = out.Width * 4;
    out.Pixels.resize(size_t(out.Stride) * size_t(out.Height));
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    for (int y = 0; y < out.Height; ++y)
        std::memcpy(out.Pixels.data() + size_t(y) * size_t(out.Stride), src + ptrdiff_t(y) * srcStride,
                    size_t(out.Stride));
    gst_video_frame_unmap(&mapped);
    return true;
}

// The JPEG frame in `buffer` decoded into `out`; false when it is broken.
bool DecodeBuffer(JpegDecoder& decoder, GstBuffer* buffer, const JpegDecoder::Layout& layout,
                  std::vector<uint8_t>& out, int& width, int& height, int& stride) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return false;
    const bool ok = decoder.Decode(map.data, map.size, layout, out, width, height, stride);
    gst_buffer_unmap(buffer, &map);
    return ok;
}

// As wide as the window at least: a wide frame may come out lower, the
// window stretches it as it does every frame of another shape.
bool DecodeBgrx(JpegDecoder& decoder, GstBuffer* buffer, VideoFrame& out) {
    return DecodeBuffer(decoder, buffer, {JpegDecoder::Pixels::Bgrx, false, kPreviewWidth, 0}, out.Pixels, out.Width,
                        out.Height, out.Stride);
}

}  // namespace

void RendererState::MaterializeLocked() {
    if (!sample) return;
    GstPtr<GstSample> pending = std::move(sample);
    GstCaps* caps = gst_sample_get_caps(pending.get());
    GstBuffer* buffer = gst_sample_get_buffer(pending.get());
    if (!caps || !buffer || gst_caps_get_size(caps) == 0) return;
    // Readers hold frames only by these pointers, and only take them under
    // the lock: a spare nobody else holds can be written over.
    std::shared_ptr<VideoFrame> out = spare && spare.use_count() == 1 ? std::move(spare) : std::make_shared<VideoFrame>();
    if (!(IsJpeg(caps) ? DecodeBgrx(jpeg, buffer, *out) : CopyBgrx(buffer, caps, *out))) {
        spare = std::move(out);
        return;
    }
    out->Sequence = sequence;
    spare = std::move(frame);
    frame = std::move(out);
}

void DeliverToRenderer(RendererState& renderer, GstSample* sample) {
    std::lock_guard lock(renderer.mutex);
    renderer.sample = GstPtr<GstSample>::Ref(sample);
    ++renderer.sequence;
    renderer.delivered.fetch_add(1);
    if (renderer.notice) renderer.notice();
}

namespace {

// The layout of an RGB media type's frames.
bool VideoInfoOf(const MediaType& type, GstVideoInfo& info) {
    const auto vf = ReadVideoFormat(type);
    const char* name = GstFormatForSubType(type.subtype);
    if (!vf || !name) return false;
    return gst_video_info_set_format(&info, gst_video_format_from_string(name), guint(vf->width),
                                     guint(std::abs(vf->height)));
}

// Learns the stream's layout when its caps change. Streaming thread.
bool LearnCaps(GrabberState& g, GstCaps* caps) {
    if (g.streamCaps && gst_caps_is_equal(g.streamCaps.get(), caps)) return true;
    // JPEG frames are decoded here, into the type the branch was built for.
    const bool decodedHere = g.jpegPixels && IsJpeg(caps);
    std::optional<MediaType> type;
    if (decodedHere) {
        std::lock_guard lock(g.formatMutex);
        type = g.connected;
    } else {
        type = MediaTypeFromCaps(caps);
    }
    if (!type) return false;
    g.streamIsVideo = type->majortype == MajorType::Video;
    if (g.streamIsVideo) {
        if (!(decodedHere ? VideoInfoOf(*type, g.videoInfo) : gst_video_info_from_caps(&g.videoInfo, caps)))
            return false;
        g.streamBits = RgbBitCount(type->subtype);
    } else {
        GstAudioInfo info;
        if (!gst_audio_info_from_caps(&info, caps)) return false;
        const size_t frame = size_t(std::max(1, GST_AUDIO_INFO_BPF(&info)));
        g.chunkBytes = std::max<size_t>(1, size_t(GST_AUDIO_INFO_RATE(&info)) / 2) * frame;
        g.pending.clear();
        g.pending.reserve(2 * g.chunkBytes);
    }
    g.streamCaps = GstPtr<GstCaps>::Ref(caps);
    g.streamType = *type;
    {
        std::lock_guard lock(g.sampleMutex);
        g.lastTypeStale = true;
        if (g.streamIsVideo) g.lastInfo = g.videoInfo;
    }
    std::lock_guard lock(g.formatMutex);
    g.connected = std::move(type);
    return true;
}

// The frame as a Windows DIB: rows bottom-up, each padded to 4 bytes.
bool FrameToDib(GstBuffer* buffer, const GstVideoInfo& info, std::vector<uint8_t>& out) {
    GstVideoFrame frame;
    if (!gst_video_frame_map(&frame, &info, buffer, GST_MAP_READ)) return false;
    const int width = GST_VIDEO_FRAME_WIDTH(&frame);
    const int height = GST_VIDEO_FRAME_HEIGHT(&frame);
    const int bits = int(GST_VIDEO_INFO_COMP_PSTRIDE(&info, 0)) * 8;
    const size_t dibStride = DibStride(width, bits);
    const size_t rowBytes = size_t(width) * size_t(bits / 8);
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0));
    const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0);
    out.resize(dibStride * size_t(height));
    for (int y = 0; y < height; ++y) {
        uint8_t* dst = out.data() + size_t(height - 1 - y) * dibStride;
        std::memcpy(dst, src + ptrdiff_t(y) * srcStride, rowBytes);
        if (dibStride > rowBytes) std::memset(dst + rowBytes, 0, dibStride - rowBytes);
    }
    gst_video_frame_unmap(&frame);
    return true;
}

// The sample in g.work to the callback, keeping a copy of it.
void Hand(GrabberState& g) {
    const uint8_t* data = g.work.data();
    size_t length = g.work.size();
    if (g.bufferSamples) {
        // The kept copy is the delivered bytes themselves: swap instead of copying.
        // Only this thread writes `last`, so reading it below without the lock is safe.
        std::lock_guard lock(g.sampleMutex);
        std::swap(g.work, g.last);
        g.newestRaw.reset();  // this one is newer
        if (g.lastTypeStale) g.lastType = g.streamType;
        g.lastTypeStale = false;
        g.haveLast = true;
        data = g.last.data();
        length = g.last.size();
    }
    std::lock_guard lock(g.callbackMutex);
    if (g.passedPending) {
        const uint32_t took = timeGetTime() - g.passedAtMs;
        g.leadMs = std::max(took, g.leadMs - g.leadMs / 16);
        g.passedPending = false;
    }
    g.count.fetch_add(1);
    if (g.callback) g.callback(data, length);
}

// Sound goes out in half seconds whatever the device's own period: the
// noise detector measures at most four buffers a second, so the 10 ms
// buffers of real sources would leave most of the sound unheard.
void HandSound(GrabberState& g, GstBuffer* buffer) {
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return;
    g.pending.insert(g.pending.end(), map.data, map.data + map.size);
    gst_buffer_unmap(buffer, &map);
    size_t used = 0;
    while (g.pending.size() - used >= g.chunkBytes) {
        g.work.assign(g.pending.begin() + ptrdiff_t(used), g.pending.begin() + ptrdiff_t(used + g.chunkBytes));
        used += g.chunkBytes;
        Hand(g);
    }
    g.pending.erase(g.pending.begin(), g.pending.begin() + ptrdiff_t(used));
}

// A frame the gate refused, kept unconverted as the newest for a photo.
void KeepRefused(GrabberState& g, GstBuffer* buffer, GstCaps* caps) {
    if (!g.bufferSamples) return;
    std::lock_guard lock(g.sampleMutex);
    g.newestRaw = GstPtr<GstBuffer>::Ref(buffer);
    g.newestRawCaps = GstPtr<GstCaps>::Ref(caps);
}

enum class Decoded { Frame, Broken, OtherSize };

// A whole JPEG frame decoded as the connected type's DIB into g.work.
Decoded DecodeToWork(GrabberState& g, GstBuffer* buffer) {
    int width = 0, height = 0, stride = 0;
    if (!DecodeBuffer(g.jpeg, buffer, {*g.jpegPixels, true, 0, 0}, g.work, width, height, stride))
        return Decoded::Broken;  // cameras send one now and then; the next frame comes
    const bool same = width == GST_VIDEO_INFO_WIDTH(&g.videoInfo) && height == GST_VIDEO_INFO_HEIGHT(&g.videoInfo);
    return same ? Decoded::Frame : Decoded::OtherSize;
}

}  // namespace

bool DeliverToGrabber(GrabberState& g, GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !LearnCaps(g, caps)) return true;
    if (!g.streamIsVideo) {
        HandSound(g, buffer);
        return true;
    }
    if (g.jpegPixels && IsJpeg(caps)) {
        // The frame is here: the detector says whether it wants it once
        // decoded, so a frame it would pass over is not decoded at all.
        {
            std::lock_guard lock(g.callbackMutex);
            if (g.gate && !g.gate(g.decodeMs + 1)) {
                KeepRefused(g, buffer, caps);
                return true;
            }
        }
        const uint32_t start = timeGetTime();
        const Decoded decoded = DecodeToWork(g, buffer);
        g.decodeMs = std::max(timeGetTime() - start, g.decodeMs - g.decodeMs / 16);
        if (decoded == Decoded::Frame) Hand(g);
        return decoded != Decoded::OtherSize;
    }
    if (FrameToDib(buffer, g.videoInfo, g.work)) Hand(g);
    return true;
}

bool GrabberTakesFrame(GrabberState& g, GstPad* pad, GstBuffer* buffer) {
    {
        std::lock_guard lock(g.callbackMutex);
        // A margin over the measured way, for the frame that takes longer.
        if (!g.gate || g.gate(g.leadMs + kGateMarginMs)) {
            g.passedAtMs = timeGetTime();
            g.passedPending = true;
            return true;
        }
    }
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (caps) KeepRefused(g, buffer, caps.get());
    return false;
}

namespace {

// A raw frame of layout `from` as a DIB of layout `to`.
bool ConvertRawToDib(GstBuffer* raw, const GstVideoInfo& from, const GstVideoInfo& to, std::vector<uint8_t>& out) {
    GstVideoConverter* converter =
        gst_video_converter_new(const_cast<GstVideoInfo*>(&from), const_cast<GstVideoInfo*>(&to), nullptr);
    if (!converter) return false;
    GstPtr<GstBuffer> converted(gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&to), nullptr));
    GstVideoFrame in, result;
    bool ok = false;
    if (gst_video_frame_map(&in, &from, raw, GST_MAP_READ)) {
        if (gst_video_frame_map(&result, &to, converted.get(), GST_MAP_WRITE)) {
            gst_video_converter_frame(converter, &in, &result);
            gst_video_frame_unmap(&result);
            ok = true;
        }
        gst_video_frame_unmap(&in);
    }
    gst_video_converter_free(converter);
    return ok && FrameToDib(converted.get(), to, out);
}

}  // namespace

// Only for a photo or an e-mail: the frame a refusing gate left unconverted,
// decoded first when it is still a JPEG.
bool ConvertToDib(GstBuffer* frame, GstCaps* from, const GstVideoInfo& to, std::vector<uint8_t>& out) {
    if (!frame || !from) return false;
    GstVideoInfo info;
    if (!IsJpeg(from)) return gst_video_info_from_caps(&info, from) && ConvertRawToDib(frame, info, to, out);
    JpegDecoder decoder;
    std::vector<uint8_t> bgr;
    int width = 0, height = 0, stride = 0;
    if (!DecodeBuffer(decoder, frame, {JpegDecoder::Pixels::Bgr, false, 0, 0}, bgr, width, height, stride))
        return false;
    gst_video_info_set_format(&info, GST_VIDEO_FORMAT_BGR, guint(width), guint(height));
    GST_VIDEO_INFO_PLANE_STRIDE(&info, 0) = stride;  // packed rows, as decoded
    GST_VIDEO_INFO_SIZE(&info) = bgr.size();
    GstPtr<GstBuffer> wrapped(
        gst_buffer_new_wrapped_full(GST_MEMORY_FLAG_READONLY, bgr.data(), bgr.size(), 0, bgr.size(), nullptr, nullptr));
    return ConvertRawToDib(wrapped.get(), info, to, out);
}

}  // namespace detail
}  // namespace platform
