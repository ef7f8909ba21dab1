#pragma once
// Owning wrappers for GStreamer handles, so that no business code calls
// gst_object_unref by hand: GstPtr<T> holds one reference, SignalConnection
// one signal handler id.

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <utility>

namespace platform {

namespace gstptr_detail {
inline void Release(GstElement* p) { gst_object_unref(p); }
inline void Release(GstPad* p) { gst_object_unref(p); }
inline void Release(GstBus* p) { gst_object_unref(p); }
inline void Release(GstDevice* p) { gst_object_unref(p); }
inline void Release(GstDeviceMonitor* p) { gst_object_unref(p); }
inline void Release(GstDeviceProvider* p) { gst_object_unref(p); }
inline void Release(GstDeviceProviderFactory* p) { gst_object_unref(p); }
inline void Release(GstObject* p) { gst_object_unref(p); }
inline void Release(GstElementFactory* p) { gst_object_unref(p); }
inline void Release(GstPluginFeature* p) { gst_object_unref(p); }
inline void Release(GstClock* p) { gst_object_unref(p); }
inline void Release(GstDiscoverer* p) { g_object_unref(p); }
inline void Release(GstDiscovererInfo* p) { g_object_unref(p); }
inline void Release(GstCaps* p) { gst_caps_unref(p); }
inline void Release(GstSample* p) { gst_sample_unref(p); }
inline void Release(GstBuffer* p) { gst_buffer_unref(p); }
inline void Release(GstMessage* p) { gst_message_unref(p); }
inline void Release(GstStructure* p) { gst_structure_free(p); }
inline void Release(GError* p) { g_error_free(p); }
inline void Release(gchar* p) { g_free(p); }

inline GstElement* AddRef(GstElement* p) { return GST_ELEMENT(gst_object_ref(p)); }
inline GstPad* AddRef(GstPad* p) { return GST_PAD(gst_object_ref(p)); }
inline GstBus* AddRef(GstBus* p) { return GST_BUS(gst_object_ref(p)); }
inline GstDevice* AddRef(GstDevice* p) { return GST_DEVICE(gst_object_ref(p)); }
inline GstElementFactory* AddRef(GstElementFactory* p) { return GST_ELEMENT_FACTORY(gst_object_ref(p)); }
inline GstCaps* AddRef(GstCaps* p) { return gst_caps_ref(p); }
inline GstSample* AddRef(GstSample* p) { return gst_sample_ref(p); }
inline GstBuffer* AddRef(GstBuffer* p) { return gst_buffer_ref(p); }
}  // namespace gstptr_detail

template <typename T>
class GstPtr {
public:
    GstPtr() = default;
    // Takes over a reference the caller owns (a "transfer full" return).
    explicit GstPtr(T* owned) : p_(owned) {}
    // Adds a reference of its own ("transfer none" returns).
    static GstPtr Ref(T* borrowed) { return GstPtr(borrowed ? gstptr_detail::AddRef(borrowed) : nullptr); }

    GstPtr(const GstPtr& o) : p_(o.p_ ? gstptr_detail::AddRef(o.p_) : nullptr) {}
    GstPtr(GstPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
    GstPtr& operator=(GstPtr o) noexcept {
        std::swap(p_, o.p_);
        return *this;
    }
    ~GstPtr() { reset(); }

    void reset(T* owned = nullptr) {
        if (p_) gstptr_detail::Release(p_);
        p_ = owned;
    }
    T* release() { return std::exchange(p_, nullptr); }
    T* get() const { return p_; }
    T* operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For out-parameters: T** of an empty holder.
    T** out() {
        reset();
        return &p_;
    }

private:
    T* p_ = nullptr;
};

// The answer of a bus sync handler that handles every message itself: a
// dropped message belongs to the handler, and one left unreleased keeps its
// source element, and with it the whole pipeline and its bus, alive.
inline GstBusSyncReply DropBusMessage(GstMessage* message) {
    gst_message_unref(message);
    return GST_BUS_DROP;
}

// One signal handler on an object; disconnected when the guard goes.
class SignalConnection {
public:
    SignalConnection() = default;
    SignalConnection(gpointer instance, gulong id) : instance_(instance), id_(id) {
        if (instance_) g_object_ref(instance_);
    }
    SignalConnection(const SignalConnection&) = delete;
    SignalConnection& operator=(const SignalConnection&) = delete;
    SignalConnection(SignalConnection&& o) noexcept
        : instance_(std::exchange(o.instance_, nullptr)), id_(std::exchange(o.id_, 0)) {}
    SignalConnection& operator=(SignalConnection&& o) noexcept {
        if (this != &o) {
            Disconnect();
            instance_ = std::exchange(o.instance_, nullptr);
            id_ = std::exchange(o.id_, 0);
        }
        return *this;
    }
    ~SignalConnection() { Disconnect(); }

    void Disconnect() {
        if (instance_) {
            if (id_ && g_signal_handler_is_connected(instance_, id_)) g_signal_handler_disconnect(instance_, id_);
            g_object_unref(instance_);
        }
        instance_ = nullptr;
        id_ = 0;
    }

private:
    gpointer instance_ = nullptr;
    gulong id_ = 0;
};

}  // namespace platform
