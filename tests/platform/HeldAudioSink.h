#pragma once
// "ocularaheldsink": an audio sink that does not start until the test lets it,
// as a sound server that takes its time to open a device. Include it in one
// source file per test executable (it defines its GObject type there).

#include <gst/base/gstbasesink.h>
#include <gst/gst.h>

#include <condition_variable>
#include <mutex>

namespace testsupport {

// The gate every held sink waits at before it takes its first buffer.
class HeldSinkGate {
public:
    static HeldSinkGate& Get() {
        static HeldSinkGate gate;
        return gate;
    }
    void Close() {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
        rendered_ = 0;
    }
    void Open() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    unsigned Rendered() {
        std::lock_guard<std::mutex> lock(mutex_);
        return rendered_;
    }
    void CountRendered() {
        std::lock_guard<std::mutex> lock(mutex_);
        ++rendered_;
    }
    // Streaming thread: false when the sink is being stopped first.
    bool WaitOpen(const bool& unlocked) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return open_ || unlocked; });
        return !unlocked;
    }
    // Any thread: lets a waiting sink out because it is being stopped.
    void Unlock(bool& unlocked, bool value) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            unlocked = value;
        }
        changed_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    unsigned rendered_ = 0;
};

struct HeldSink {
    GstBaseSink parent;
    bool unlocked;  // guarded by the gate's lock
};
struct HeldSinkClass {
    GstBaseSinkClass parent_class;
};

G_DEFINE_TYPE(HeldSink, held_sink, GST_TYPE_BASE_SINK)

static GstFlowReturn HeldSinkPreroll(GstBaseSink* sink, GstBuffer*) {
    auto* self = reinterpret_cast<HeldSink*>(sink);
    return HeldSinkGate::Get().WaitOpen(self->unlocked) ? GST_FLOW_OK : GST_FLOW_FLUSHING;
}

static GstFlowReturn HeldSinkRender(GstBaseSink*, GstBuffer*) {
    HeldSinkGate::Get().CountRendered();
    return GST_FLOW_OK;
}

static gboolean HeldSinkUnlock(GstBaseSink* sink) {
    HeldSinkGate::Get().Unlock(reinterpret_cast<HeldSink*>(sink)->unlocked, true);
    return TRUE;
}

static gboolean HeldSinkUnlockStop(GstBaseSink* sink) {
    HeldSinkGate::Get().Unlock(reinterpret_cast<HeldSink*>(sink)->unlocked, false);
    return TRUE;
}

static void held_sink_class_init(HeldSinkClass* klass) {
    static GstStaticPadTemplate sinkTemplate =
        GST_STATIC_PAD_TEMPLATE("sink", GST_PAD_SINK, GST_PAD_ALWAYS, GST_STATIC_CAPS_ANY);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    gst_element_class_set_static_metadata(element, "Held sink", "Sink/Audio", "Starts when the test lets it",
                                          "Oculara tests");
    GstBaseSinkClass* base = GST_BASE_SINK_CLASS(klass);
    base->preroll = HeldSinkPreroll;
    base->render = HeldSinkRender;
    base->unlock = HeldSinkUnlock;
    base->unlock_stop = HeldSinkUnlockStop;
}

static void held_sink_init(HeldSink* self) {
    self->unlocked = false;
    gst_base_sink_set_sync(GST_BASE_SINK(self), TRUE);
}

// Registers the element with this process's GStreamer (once) and closes the
// gate; the gate opens when the object goes, so no sink stays held.
class HeldAudioSink {
public:
    HeldAudioSink() {
        gst_init(nullptr, nullptr);
        static const bool registered =
            gst_element_register(nullptr, "ocularaheldsink", GST_RANK_NONE, held_sink_get_type());
        (void)registered;
        HeldSinkGate::Get().Close();
    }
    ~HeldAudioSink() { HeldSinkGate::Get().Open(); }
    HeldAudioSink(const HeldAudioSink&) = delete;
    HeldAudioSink& operator=(const HeldAudioSink&) = delete;

    void Let() { HeldSinkGate::Get().Open(); }
    unsigned Rendered() { return HeldSinkGate::Get().Rendered(); }
};

}  // namespace testsupport
