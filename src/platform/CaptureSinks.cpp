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
    GstVideoInfo from, to;
    {
        std::lock_guard lock(state_->sampleMutex);
        if (!state_->haveLast) return false;
        if (type) *type = state_->lastType;
        if (!state_->newestRaw) {
            bytes = state_->last;
            return true;
        }
        raw = state_->newestRaw;
        from = state_->newestRawInfo;
        to = state_->lastInfo;
    }
    if (detail::ConvertToDib(raw.get(), from, to, bytes)) return true;
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
}

namespace detail {

constexpr uint32_t kGateMarginMs = 20;

void RendererState::MaterializeLocked() {
    if (!sample) return;
    GstPtr<GstSample> pending = std::move(sample);
    GstCaps* caps = gst_sample_get_caps(pending.get());
    GstBuffer* buffer = gst_sample_get_buffer(pending.get());
    GstVideoInfo info;
    if (!caps || !buffer || !gst_video_info_from_caps(&info, caps)) return;
    GstVideoFrame mapped;
    if (!gst_video_frame_map(&mapped, &info, buffer, GST_MAP_READ)) return;
    // Readers hold frames only by these pointers, and only take them under
    // the lock: a spare nobody else holds can be written over.
    std::shared_ptr<VideoFrame> out = spare && spare.use_count() == 1 ? std::move(spare) : std::make_shared<VideoFrame>();
    out->Width = GST_VIDEO_FRAME_WIDTH(&mapped);
    out->Height = GST_VIDEO_FRAME_HEIGHT(&mapped);
    out->Stride = out->Width * 4;
    out->Sequence = sequence;
    out->Pixels.resize(size_t(out->Stride) * size_t(out->Height));
    const auto* src = static_cast<const uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&mapped, 0));
    const int srcStride = GST_VIDEO_FRAME_PLANE_STRIDE(&mapped, 0);
    for (int y = 0; y < out->Height; ++y)
        std::memcpy(out->Pixels.data() + size_t(y) * size_t(out->Stride), src + ptrdiff_t(y) * srcStride,
                    size_t(out->Stride));
    gst_video_frame_unmap(&mapped);
    spare = std::move(frame);
    frame = std::move(out);
}

void DeliverToRenderer(RendererState& renderer, GstSample* sample) {
    std::lock_guard lock(renderer.mutex);
    renderer.sample = GstPtr<GstSample>::Ref(sample);
    ++renderer.sequence;
    renderer.delivered.fetch_add(1);
}

namespace {

// Learns the stream's layout when its caps change. Streaming thread.
bool LearnCaps(GrabberState& g, GstCaps* caps) {
    if (g.streamCaps && gst_caps_is_equal(g.streamCaps.get(), caps)) return true;
    auto type = MediaTypeFromCaps(caps);
    if (!type) return false;
    g.streamIsVideo = type->majortype == MajorType::Video;
    if (g.streamIsVideo) {
        if (!gst_video_info_from_caps(&g.videoInfo, caps)) return false;
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

}  // namespace

void DeliverToGrabber(GrabberState& g, GstSample* sample) {
    GstCaps* caps = gst_sample_get_caps(sample);
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    if (!caps || !buffer || !LearnCaps(g, caps)) return;
    if (!g.streamIsVideo) {
        HandSound(g, buffer);
        return;
    }
    if (FrameToDib(buffer, g.videoInfo, g.work)) Hand(g);
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
    if (!g.bufferSamples) return false;
    GstPtr<GstCaps> caps(gst_pad_get_current_caps(pad));
    if (!caps) return false;
    if (!g.rawCaps || !gst_caps_is_equal(g.rawCaps.get(), caps.get())) {
        if (!gst_video_info_from_caps(&g.rawInfo, caps.get())) return false;
        g.rawCaps = std::move(caps);
    }
    std::lock_guard lock(g.sampleMutex);
    g.newestRaw = GstPtr<GstBuffer>::Ref(buffer);
    g.newestRawInfo = g.rawInfo;
    return false;
}

// Only for a photo or an e-mail: the frame a refusing gate left unconverted.
bool ConvertToDib(GstBuffer* raw, const GstVideoInfo& from, const GstVideoInfo& to, std::vector<uint8_t>& out) {
    GstVideoConverter* converter = gst_video_converter_new(const_cast<GstVideoInfo*>(&from),
                                                           const_cast<GstVideoInfo*>(&to), nullptr);
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

}  // namespace detail
}  // namespace platform
