// Source filters and their pins: stream configuration, input lines, device settings.

#include <gst/video/colorbalance.h>

#include <algorithm>

#include "platform/CaptureInternal.h"
#include "platform/MediaTypeUtil.h"

namespace platform {

Filter::~Filter() = default;

// ------------------------------------------------------------------ Pin

Pin::Pin(std::shared_ptr<detail::SourceState> state, uint64_t binding, PinDirection dir, std::string name, int line)
    : state_(std::move(state)), binding_(binding), direction_(dir), name_(std::move(name)), line_(line) {}

PinDirection Pin::Direction() const { return direction_; }
const std::string& Pin::Name() const { return name_; }

std::vector<MediaType> Pin::EnumMediaTypes() const {
    if (direction_ != PinDirection::Output) return {};
    std::lock_guard lock(state_->mutex);
    if (state_->binding != binding_) return {};
    state_->EnsureTypesLocked();
    return state_->types;
}

bool Pin::SetFormat(const MediaType& mt) {
    if (direction_ != PinDirection::Output) return false;
    std::lock_guard lock(state_->mutex);
    if (state_->binding != binding_) return false;
    state_->EnsureTypesLocked();
    for (size_t i = 0; i < state_->types.size(); ++i) {
        if (SameFormat(state_->types[i], mt)) {
            state_->formatIndex = i;
            return true;
        }
    }
    return false;
}

std::optional<MediaType> Pin::GetFormat() const {
    if (direction_ != PinDirection::Output) return std::nullopt;
    std::lock_guard lock(state_->mutex);
    if (state_->binding != binding_ || !state_->formatIndex || *state_->formatIndex >= state_->types.size())
        return std::nullopt;
    return state_->types[*state_->formatIndex];
}

bool Pin::GetEnable() const {
    if (direction_ != PinDirection::Input) return false;
    std::lock_guard lock(state_->mutex);
    if (state_->binding != binding_ || line_ < 0 || size_t(line_) >= state_->lines.size()) return false;
    return state_->lines[size_t(line_)].enabled;
}

bool Pin::PutEnable(bool enable) {
    if (direction_ != PinDirection::Input) return false;
    std::lock_guard lock(state_->mutex);
    if (state_->binding != binding_ || line_ < 0 || size_t(line_) >= state_->lines.size()) return false;
    // A capture mixer records from one line at a time.
    if (enable)
        for (auto& l : state_->lines) l.enabled = false;
    state_->lines[size_t(line_)].enabled = enable;
    return true;
}

// ---------------------------------------------------------- SourceFilter

SourceFilter::SourceFilter() : state_(std::make_shared<detail::SourceState>()) { InitCaptureLayer(); }
SourceFilter::~SourceFilter() = default;

bool SourceFilter::SetDevice(const DeviceInfo& device) {
    if (!device.Handle ||
        (device.Handle->medium != MajorType::Video && device.Handle->medium != MajorType::Audio) ||
        device.Handle->kind == DeviceKind::Compressor)
        return false;
    std::lock_guard lock(state_->mutex);
    if (state_->running > 0) return false;
    state_->device = device.Handle;
    ++state_->binding;
    state_->typesKnown = false;
    state_->types.clear();
    state_->natives.clear();
    state_->lines.clear();
    state_->formatIndex.reset();
    state_->element.reset();
    state_->lost = false;
    state_->brightness = 50;
    state_->contrast = 50;
    return true;
}

bool SourceFilter::HasDevice() const {
    std::lock_guard lock(state_->mutex);
    return state_->device != nullptr;
}

std::string SourceFilter::FriendlyName() const {
    std::lock_guard lock(state_->mutex);
    return state_->device ? state_->device->name : "";
}

MajorType SourceFilter::Medium() const {
    std::lock_guard lock(state_->mutex);
    return state_->device ? state_->device->medium : MajorType::None;
}

std::vector<std::shared_ptr<Pin>> SourceFilter::EnumPins() const {
    std::lock_guard lock(state_->mutex);
    std::vector<std::shared_ptr<Pin>> pins;
    if (!state_->device) return pins;
    state_->EnsureTypesLocked();
    pins.push_back(std::shared_ptr<Pin>(new Pin(state_, state_->binding, PinDirection::Output, "Capture", -1)));
    for (size_t i = 0; i < state_->lines.size(); ++i)
        pins.push_back(std::shared_ptr<Pin>(
            new Pin(state_, state_->binding, PinDirection::Input, state_->lines[i].name, int(i))));
    return pins;
}

std::shared_ptr<Pin> SourceFilter::OutputPin() const {
    auto pins = EnumPins();
    return pins.empty() ? nullptr : pins.front();
}

namespace {
constexpr const char* BrightnessId = "brightness";
constexpr const char* ContrastId = "contrast";
}  // namespace

std::vector<DeviceControl> SourceFilter::GetControls() const {
    std::lock_guard lock(state_->mutex);
    std::vector<DeviceControl> controls;
    if (!state_->device) return controls;
    if (state_->device->kind == DeviceKind::TestCamera) {
        controls.push_back({BrightnessId, "Luminosità", 0, 100, 50, state_->brightness.load()});
        controls.push_back({ContrastId, "Contrasto", 0, 100, 50, state_->contrast.load()});
        return controls;
    }
    GstElement* element = state_->element.get();
    if (!element || !GST_IS_COLOR_BALANCE(element)) return controls;
    GstColorBalance* balance = GST_COLOR_BALANCE(element);
    for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
        if (!channel->label || channel->min_value >= channel->max_value) continue;
        DeviceControl c;
        c.Id = channel->label;
        c.Label = channel->label;
        c.Min = channel->min_value;
        c.Max = channel->max_value;
        c.Default = channel->min_value + (channel->max_value - channel->min_value) / 2;
        c.Value = gst_color_balance_get_value(balance, channel);
        controls.push_back(c);
    }
    return controls;
}

bool SourceFilter::SetControl(const std::string& id, int value) {
    std::lock_guard lock(state_->mutex);
    if (!state_->device) return false;
    if (state_->device->kind == DeviceKind::TestCamera) {
        value = std::clamp(value, 0, 100);
        if (id == BrightnessId) state_->brightness = value;
        else if (id == ContrastId) state_->contrast = value;
        else return false;
        return true;
    }
    GstElement* element = state_->element.get();
    if (!element || !GST_IS_COLOR_BALANCE(element)) return false;
    GstColorBalance* balance = GST_COLOR_BALANCE(element);
    for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next) {
        auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
        if (channel->label && id == channel->label) {
            gst_color_balance_set_value(balance, channel, std::clamp(value, channel->min_value, channel->max_value));
            return true;
        }
    }
    return false;
}

}  // namespace platform
