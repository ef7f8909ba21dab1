// The filter graph: filters and connections recorded on the main thread,
// turned into pipelines at Run (one per source, one per recording file),
// watched while they run, and torn down at Stop.

#include <algorithm>
#include <cstdio>

#include "platform/CaptureRuntime.h"
#include "platform/MediaTypeUtil.h"

namespace platform {
namespace detail {

namespace {

struct Stream {
    PinCategory category;
    std::shared_ptr<SourceFilter> source;
    std::shared_ptr<SampleGrabber> grabber;
    std::shared_ptr<VideoWindowRenderer> renderer;
    std::shared_ptr<CompressorFilter> compressor;  // recording connections only
    std::shared_ptr<AviMuxFilter> mux;             // set for a recording connection

    bool Uses(const Filter& f) const {
        return source.get() == &f || grabber.get() == &f || renderer.get() == &f || compressor.get() == &f ||
               mux.get() == &f;
    }
};

struct FilterEntry {
    std::shared_ptr<Filter> filter;
    std::string name;
    bool byBuilder = false;
};


// One source of the running graph: its pipeline while it delivers, and
// what it takes to build that pipeline again after a loss.
struct SourceSlot {
    std::shared_ptr<SourceState> state;
    std::vector<BranchPlan> monitoring;  // a source built again leaves its recordings ended
    std::unique_ptr<SourceRuntime> live;  // null while lost
    uint64_t nextRetryMs = 0;
    std::string notListed;  // why it did not start, to be reported
};

std::string LossDetail(const SourceRuntime& rt, LossCause cause) {
    switch (cause) {
    case LossCause::Failed:
        return rt.Error();
    case LossCause::Silent:
        return "no data for " + std::to_string(FilterGraph::SilentMs / 1000) + " s";
    case LossCause::Moved: {
        GstPtr<gchar> current;
        g_object_get(rt.deviceElement.get(), "current-device", current.out(), nullptr);
        return "the sound server moved the stream to " + std::string(current ? current.get() : "another device");
    }
    case LossCause::None:
        break;
    }
    return "";
}

DeviceNotice::Cause PublicCause(LossCause cause) {
    switch (cause) {
    case LossCause::Failed: return DeviceNotice::Cause::Failed;
    case LossCause::Silent: return DeviceNotice::Cause::Silent;
    case LossCause::Moved: return DeviceNotice::Cause::Moved;
    case LossCause::None: break;
    }
    return DeviceNotice::Cause::None;
}

}  // namespace

// ------------------------------------------------------------------ graph

struct GraphImpl {
    bool active = false;
    bool running = false;
    std::vector<FilterEntry> filters;
    std::vector<Stream> streams;
    std::shared_ptr<FailureState> failure = std::make_shared<FailureState>();
    // Running: recordings first, so that they outlive the sources feeding them.
    std::vector<std::unique_ptr<RecordingRuntime>> recordings;
    std::vector<SourceSlot> slots;

    FilterEntry* Find(const Filter& f) {
        for (auto& e : filters)
            if (e.filter.get() == &f) return &e;
        return nullptr;
    }

    void ForgetStream(Stream& s) {
        if (s.grabber) {
            std::lock_guard lock(s.grabber->state_->formatMutex);
            s.grabber->state_->connected.reset();
            s.grabber->state_->inStream = false;
        }
        if (s.renderer) {
            s.renderer->Clear();
            s.renderer->state_->inStream = false;
        }
        if (s.compressor) s.compressor->inStream_ = false;
    }

    void ClearStreams() {
        for (auto& s : streams) ForgetStream(s);
        streams.clear();
    }

    bool RenderStream(PinCategory category, MajorType mediaType, const std::shared_ptr<SourceFilter>& source,
                      const std::shared_ptr<Filter>& intermediate, const std::shared_ptr<Filter>& sink);
    bool RenderRecording(const std::shared_ptr<SourceFilter>& source, const std::shared_ptr<Filter>& intermediate,
                         const std::shared_ptr<AviMuxFilter>& mux);
    std::shared_ptr<AviMuxFilter> SetOutputFileName(const std::string& path);
    void RemoveFilter(const Filter& filter);
    bool Run();
    void Stop();
    std::vector<DeviceNotice> WatchDevices();
    // A new watch starts with every device presumed present.
    void ForgetLosses() {
        for (const auto& e : filters) {
            if (e.filter->Kind() != FilterKind::Source) continue;
            auto& st = *static_cast<SourceFilter&>(*e.filter).state_;
            std::lock_guard lock(st.mutex);
            st.lost = false;
        }
    }

private:
    void StartRecordings();
    void StartSources();
    // A real device is opened only as listed now; false when it is not listed.
    bool Relisted(SourceSlot& slot);
    void Retry(SourceSlot& slot);
};

void GraphImpl::StartRecordings() {
    std::vector<const AviMuxFilter*> files;
    for (const auto& s : streams)
        if (s.mux && std::find(files.begin(), files.end(), s.mux.get()) == files.end()) files.push_back(s.mux.get());
    for (const AviMuxFilter* mux : files) {
        std::vector<RecordingStreamPlan> plans;
        for (const auto& s : streams) {
            if (s.mux.get() != mux) continue;
            RecordingStreamPlan p{s.source->state_.get(), PlanOf(*s.source->state_), "", ""};
            if (!p.plan.device || !p.plan.format) continue;  // the source reports it
            if (s.compressor) {
                p.encoderFactory = s.compressor->FactoryName();
                p.encoderLabel = s.compressor->FriendlyName();
            }
            plans.push_back(std::move(p));
        }
        // A recording that cannot start is left out: the detectors go on without it.
        if (auto rec = StartRecordingFile(mux->FileName(), plans, failure)) recordings.push_back(std::move(rec));
    }
}

void GraphImpl::StartSources() {
    for (const auto& s : streams) {
        const auto& state = s.source->state_;
        auto slot = std::find_if(slots.begin(), slots.end(), [&](const SourceSlot& x) { return x.state == state; });
        if (slot == slots.end()) {
            slots.push_back({state, {}, nullptr, 0, ""});
            slot = slots.end() - 1;
        }
        if (!s.mux)
            slot->monitoring.push_back({s.grabber ? s.grabber->state_ : nullptr,
                                        s.grabber ? s.grabber->GetMediaType() : MediaType{},
                                        s.renderer ? s.renderer->state_ : nullptr, nullptr});
    }
    for (auto& slot : slots) {
        std::vector<BranchPlan> branches = slot.monitoring;
        for (auto& rec : recordings)
            for (auto& in : rec->inputs)
                if (in->source == slot.state.get()) branches.push_back({nullptr, {}, nullptr, in.get()});
        {
            std::lock_guard lock(slot.state->mutex);
            ++slot.state->running;
        }
        // A device known to be away is opened only once it is listed again;
        // one presumed present is opened as chosen (listing again right
        // before a PipeWire source starts leaves the plugin's listeners on
        // the source's connection, which crash when a device goes away).
        if (slot.state->lost && !Relisted(slot)) {
            slot.notListed = "the device is not connected";
            failure->Report(slot.state->device ? slot.state->device->name : "", slot.notListed);
            for (auto& in : branches)
                if (in.input) in.input->End();
            continue;
        }
        slot.live = StartSource(slot.state, branches, failure);
    }
}

bool GraphImpl::Relisted(SourceSlot& slot) {
    std::shared_ptr<const DeviceHandle> device;
    {
        std::lock_guard lock(slot.state->mutex);
        device = slot.state->device;
    }
    if (!device || device->kind != DeviceKind::Real) return true;
    auto listed = ListedNow(*device);
    if (!listed) return false;
    std::lock_guard lock(slot.state->mutex);
    slot.state->device = listed;
    return true;
}

bool GraphImpl::Run() {
    if (running) return true;
    failure->Reset();
    if (!active) {
        failure->Report("", "the graph is not active");
        return false;
    }
    running = true;
    if (streams.empty()) return true;
    StartRecordings();
    StartSources();
    return !failure->failed;
}

void GraphImpl::Stop() {
    for (auto& rec : recordings) FinishRecordingFile(*rec, FilterGraph::RecordingFinishMs);
    for (auto& slot : slots) {
        if (slot.live) StopSource(*slot.live);
        std::lock_guard lock(slot.state->mutex);
        --slot.state->running;
    }
    slots.clear();
    for (auto& rec : recordings) StopRecordingFile(*rec);
    recordings.clear();
    running = false;
}

void GraphImpl::Retry(SourceSlot& slot) {
    if (Relisted(slot)) slot.live = StartSource(slot.state, slot.monitoring, failure);
}

std::vector<DeviceNotice> GraphImpl::WatchDevices() {
    std::vector<DeviceNotice> notices;
    const uint64_t now = SteadyMs();
    for (auto& slot : slots) {
        if (!slot.live && !slot.notListed.empty()) {
            if (!slot.state->lost) {
                slot.state->lost = true;
                const DeviceHandle& d = *slot.state->device;
                notices.push_back({DeviceNotice::Kind::Lost, DeviceNotice::Cause::Failed, d.medium, d.name, slot.notListed});
            }
            slot.notListed.clear();
            slot.nextRetryMs = now + FilterGraph::RetryMs;
            continue;
        }
        if (!slot.live) {
            if (now < slot.nextRetryMs) continue;
            slot.nextRetryMs = now + FilterGraph::RetryMs;
            Retry(slot);
            continue;
        }
        SourceRuntime& rt = *slot.live;
        const LossCause cause = CheckSource(rt, now, FilterGraph::SilentMs);
        if (cause == LossCause::None) {
            if (slot.state->lost && rt.lastDataMs != 0) {
                slot.state->lost = false;
                notices.push_back({DeviceNotice::Kind::Restored, DeviceNotice::Cause::None, rt.medium, rt.label, ""});
            }
            continue;
        }
        const std::string detail = LossDetail(rt, cause);
        StopSource(rt);
        // A lost camera shows no picture rather than a frozen one.
        for (auto& r : rt.renderers) {
            std::lock_guard lock(r->mutex);
            r->sample.reset();
            r->frame.reset();
        }
        if (!slot.state->lost) {
            slot.state->lost = true;
            std::fprintf(stderr, "Oculara: %s lost: %s\n", rt.label.c_str(), detail.c_str());
            notices.push_back({DeviceNotice::Kind::Lost, PublicCause(cause), rt.medium, rt.label, detail});
        }
        slot.live.reset();
        slot.nextRetryMs = now + FilterGraph::RetryMs;
    }
    return notices;
}

bool GraphImpl::RenderStream(PinCategory category, MajorType mediaType, const std::shared_ptr<SourceFilter>& source,
                             const std::shared_ptr<Filter>& intermediate, const std::shared_ptr<Filter>& sink) {
    if (!active || running || !source || !source->HasDevice()) return false;
    const MajorType medium = source->Medium();
    if (mediaType != MajorType::None && mediaType != medium) return false;
    if (sink && sink->Kind() == FilterKind::Multiplexer) {
        if (!RenderRecording(source, intermediate, std::static_pointer_cast<AviMuxFilter>(sink))) return false;
        streams.back().category = category;
        return true;
    }
    std::shared_ptr<SampleGrabber> grabber;
    if (intermediate) {
        if (intermediate->Kind() != FilterKind::SampleGrabber) return false;
        grabber = std::static_pointer_cast<SampleGrabber>(intermediate);
    }
    std::shared_ptr<VideoWindowRenderer> window;
    if (sink) {
        if (sink->Kind() != FilterKind::VideoRenderer || medium != MajorType::Video) return false;
        window = std::static_pointer_cast<VideoWindowRenderer>(sink);
        if (window->state_->inStream) return false;
    }
    if (medium == MajorType::Audio && !grabber) return false;
    if (medium == MajorType::Video && !grabber && !window) return false;
    if (grabber) {
        if (grabber->state_->inStream) return false;
        MajorType wanted = grabber->GetMediaType().majortype;
        if (wanted != MajorType::None && wanted != medium) return false;
    }
    for (const std::shared_ptr<Filter>& f : {std::static_pointer_cast<Filter>(source), intermediate, sink}) {
        if (f && !Find(*f)) filters.push_back({f, "", true});
    }
    if (grabber) grabber->state_->inStream = true;
    if (window) window->state_->inStream = true;
    streams.push_back({category, source, grabber, window, nullptr, nullptr});
    return true;
}

bool GraphImpl::RenderRecording(const std::shared_ptr<SourceFilter>& source,
                                const std::shared_ptr<Filter>& intermediate,
                                const std::shared_ptr<AviMuxFilter>& mux) {
    const MajorType medium = source->Medium();
    if (!Find(*mux) || !mux->Writer() || !Find(*mux->Writer())) return false;
    std::shared_ptr<CompressorFilter> compressor;
    if (intermediate) {
        if (intermediate->Kind() != FilterKind::Compressor) return false;
        compressor = std::static_pointer_cast<CompressorFilter>(intermediate);
        if (compressor->Medium() != medium || compressor->inStream_) return false;
    }
    for (const auto& s : streams)
        if (s.mux == mux && s.source->Medium() == medium) return false;
    for (const std::shared_ptr<Filter>& f : {std::static_pointer_cast<Filter>(source), intermediate}) {
        if (f && !Find(*f)) filters.push_back({f, "", true});
    }
    if (compressor) compressor->inStream_ = true;
    streams.push_back({PinCategory::None, source, nullptr, nullptr, compressor, mux});
    return true;
}

std::shared_ptr<AviMuxFilter> GraphImpl::SetOutputFileName(const std::string& path) {
    if (!active || running || path.empty()) return nullptr;
    auto writer = std::shared_ptr<FileWriterFilter>(new FileWriterFilter(path));
    auto mux = std::shared_ptr<AviMuxFilter>(new AviMuxFilter(path, writer));
    filters.push_back({mux, "AVI Mux", true});
    filters.push_back({writer, path, true});
    return mux;
}

void GraphImpl::RemoveFilter(const Filter& filter) {
    Stop();
    // A multiplexer and its file writer are one filter pair.
    std::vector<const Filter*> gone{&filter};
    for (const auto& e : filters) {
        if (e.filter->Kind() != FilterKind::Multiplexer) continue;
        const auto& mux = static_cast<const AviMuxFilter&>(*e.filter);
        if (&mux == &filter && mux.Writer()) gone.push_back(mux.Writer().get());
        if (mux.Writer().get() == &filter) gone.push_back(&mux);
    }
    auto isGone = [&](const Filter& f) { return std::find(gone.begin(), gone.end(), &f) != gone.end(); };
    for (auto it = streams.begin(); it != streams.end();) {
        bool uses = false;
        for (const Filter* f : gone) uses = uses || it->Uses(*f);
        if (uses) {
            ForgetStream(*it);
            it = streams.erase(it);
        } else {
            ++it;
        }
    }
    std::erase_if(filters, [&](const FilterEntry& e) { return isGone(*e.filter); });
}

}  // namespace detail

// ---------------------------------------------------------- FilterGraph

FilterGraph::FilterGraph() : impl_(std::make_unique<detail::GraphImpl>()) { InitCaptureLayer(); }

FilterGraph::~FilterGraph() { Deactivate(); }

void FilterGraph::Activate() { impl_->active = true; }

void FilterGraph::Deactivate() {
    impl_->Stop();
    impl_->ForgetLosses();
    impl_->ClearStreams();
    impl_->filters.clear();
    impl_->active = false;
}

bool FilterGraph::IsActive() const { return impl_->active; }

bool FilterGraph::AddFilter(std::shared_ptr<Filter> filter, const std::string& name) {
    if (!filter || !impl_->active || impl_->running || impl_->Find(*filter)) return false;
    impl_->filters.push_back({std::move(filter), name, false});
    return true;
}

bool FilterGraph::RemoveFilter(const Filter& filter) {
    if (!impl_->Find(filter)) return false;
    impl_->RemoveFilter(filter);
    return true;
}

bool FilterGraph::Contains(const Filter& filter) const { return impl_->Find(filter) != nullptr; }

std::vector<std::shared_ptr<Filter>> FilterGraph::Filters() const {
    std::vector<std::shared_ptr<Filter>> out;
    for (const auto& e : impl_->filters) out.push_back(e.filter);
    return out;
}

bool FilterGraph::Run() { return impl_->Run(); }
void FilterGraph::Stop() { impl_->Stop(); }
bool FilterGraph::IsRunning() const { return impl_->running; }

void FilterGraph::StopAndClear() {
    impl_->Stop();
    impl_->ClearStreams();
    std::erase_if(impl_->filters, [](const detail::FilterEntry& e) {
        return e.byBuilder || e.filter->Kind() == FilterKind::Compressor;
    });
}

std::vector<DeviceNotice> FilterGraph::WatchDevices() {
    std::vector<DeviceNotice> notices;
    if (impl_->running) notices = impl_->WatchDevices();
    for (auto& f : impl_->failure->TakeRecordingFailures())
        notices.push_back({DeviceNotice::Kind::RecordingFailed, DeviceNotice::Cause::Failed, MajorType::None,
                           std::move(f.file), std::move(f.reason)});
    return notices;
}

bool FilterGraph::Failed() const { return impl_->failure->failed; }
std::string FilterGraph::LastError() const { return impl_->failure->Text(); }

// --------------------------------------------------- CaptureGraphBuilder

bool CaptureGraphBuilder::RenderStream(PinCategory category, MajorType mediaType,
                                       const std::shared_ptr<SourceFilter>& source,
                                       const std::shared_ptr<Filter>& intermediate,
                                       const std::shared_ptr<Filter>& sink) {
    return graph_.impl_->RenderStream(category, mediaType, source, intermediate, sink);
}

std::shared_ptr<AviMuxFilter> CaptureGraphBuilder::SetOutputFileName(const std::string& path) {
    return graph_.impl_->SetOutputFileName(path);
}

}  // namespace platform
