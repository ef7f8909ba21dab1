#include "platform/PlaySound.h"

#include <gst/gst.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace platform {
namespace {

struct ObjectUnref {
    void operator()(gpointer object) const { gst_object_unref(object); }
};
struct MessageUnref {
    void operator()(GstMessage* message) const { gst_message_unref(message); }
};
using ElementPtr = std::unique_ptr<GstElement, ObjectUnref>;
using BusPtr = std::unique_ptr<GstBus, ObjectUnref>;
using PadPtr = std::unique_ptr<GstPad, ObjectUnref>;
using MessagePtr = std::unique_ptr<GstMessage, MessageUnref>;

// Opening and prerolling a sound file takes milliseconds, and a sound server
// that is busy may take seconds; one that has not started the sink by then
// is not going to play anything. Nobody waits for it but the player's thread.
constexpr GstClockTime kStartTimeout = 30 * GST_SECOND;
// Posted by a caller with a new request to wake the player's thread out of
// its wait on the bus of the sound under way.
constexpr const char* kWakeUp = "oculara-sound-request";

void Complain(const std::string& file, const std::string& why) {
    std::fprintf(stderr, "Oculara: impossibile riprodurre \"%s\": %s\n", file.c_str(), why.c_str());
}

std::string ErrorText(GstMessage* message) {
    GError* error = nullptr;
    gchar* debug = nullptr;
    gst_message_parse_error(message, &error, &debug);
    std::string text = error && error->message ? error->message : "errore sconosciuto";
    if (error) g_error_free(error);
    g_free(debug);
    return text;
}

// The first error already on the bus, for a state change that failed at once.
std::string PendingError(GstBus* bus) {
    MessagePtr message(gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR));
    return message ? ErrorText(message.get()) : "formato non riconosciuto";
}

// A WAV file of plain samples, which wavparse hands straight to the
// converter. Compressed WAVs (mu-law, ADPCM...) and everything else go
// through decodebin.
bool IsPcmWav(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    char head[12] = {};
    if (!in.read(head, sizeof head) || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    unsigned char chunk[10];
    while (in.read(reinterpret_cast<char*>(chunk), 8)) {
        const uint32_t size = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | uint32_t{chunk[7]} << 24;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            if (!in.read(reinterpret_cast<char*>(chunk + 8), 2)) return false;
            const unsigned tag = chunk[8] | chunk[9] << 8;
            return tag == 1 || tag == 3 || tag == 0xFFFE;  // PCM, float, extensible
        }
        in.seekg(size + (size & 1), std::ios::cur);  // chunks are word-aligned
    }
    return false;
}

// Streaming thread of decodebin. Links the first audio stream to the
// converter; other streams stay unlinked, and a file with no audio at all
// then fails with a not-linked error.
void OnDecodedPad(GstElement*, GstPad* pad, gpointer converter) {
    PadPtr sink(gst_element_get_static_pad(static_cast<GstElement*>(converter), "sink"));
    if (!sink || gst_pad_is_linked(sink.get())) return;
    GstCaps* caps = gst_pad_get_current_caps(pad);
    if (!caps) caps = gst_pad_query_caps(pad, nullptr);
    const bool audio = caps && gst_caps_get_size(caps) > 0 &&
                       g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
    if (caps) gst_caps_unref(caps);
    if (audio) gst_pad_link(pad, sink.get());
}

std::string SinkDescription() {
    const char* env = std::getenv("OCULARA_AUDIO_SINK");
    return env && *env ? env : "autoaudiosink";
}

// One sound from its request to its teardown. Built by the caller, then
// started, watched and torn down by the player's thread alone.
struct Session {
    std::string file;
    bool loop = false;
    bool wav = false;  // parsed by wavparse, not decodebin
    ElementPtr pipeline;
    BusPtr bus;
    std::atomic<unsigned> loops{0};
    // Guarded by Player::mutex_: the sound no longer counts as playing
    // (ended, failed, stopped or replaced).
    bool ended = false;
    bool failed = false;
};

// Callers only build a sound and hand it over: the pipeline starts, loops and
// stops on the player's own thread, so no caller waits for the audio sink
// (a sound server may take seconds to open one). The latest request wins.
class Player {
public:
    Player() = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player() { Shutdown(); }

    bool Play(const char* file, unsigned flags) {
        if (!file || !*file) {
            Request(nullptr);
            return true;
        }
        std::shared_ptr<Session> session = Open(file, (flags & SND_LOOP) != 0);
        Request(session);  // a failed one stops the sound all the same
        if (!session) return false;
        if (flags & (SND_ASYNC | SND_LOOP)) return true;
        std::unique_lock<std::mutex> lock(mutex_);
        ended_.wait(lock, [&] { return session->ended; });
        return !session->failed;
    }

    // Stops the sound and joins the player's thread, which a later Play starts again.
    void Shutdown() {
        std::thread thread;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            quit_ = true;
            thread = std::move(thread_);
        }
        Request(nullptr);
        if (thread.joinable()) thread.join();
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = false;
    }

    bool Playing() {
        std::lock_guard<std::mutex> lock(mutex_);
        return current_ && !current_->ended;
    }

    unsigned Loops() {
        std::lock_guard<std::mutex> lock(mutex_);
        return current_ && !current_->ended ? current_->loops.load() : 0;
    }

private:
    // Caller's thread. The checks that need no running pipeline: the file,
    // the elements, the sink description. Null after complaining.
    static std::shared_ptr<Session> Open(const std::string& file, bool loop) {
        GError* initError = nullptr;
        if (!gst_init_check(nullptr, nullptr, &initError)) {
            Complain(file, initError ? initError->message : "GStreamer non disponibile");
            if (initError) g_error_free(initError);
            return nullptr;
        }
        struct stat st;
        if (stat(file.c_str(), &st) != 0) {
            Complain(file, errno == ENOENT ? "file non trovato" : std::strerror(errno));
            return nullptr;
        }
        if (!S_ISREG(st.st_mode)) {
            Complain(file, "non è un file");
            return nullptr;
        }
        auto session = std::make_shared<Session>();
        session->file = file;
        session->loop = loop;
        std::string why;
        if (!Build(*session, why)) {
            Complain(file, why);
            return nullptr;
        }
        return session;
    }

    // Any thread. Makes `session` (null: silence) the sound wanted; the one
    // playing stops counting as playing at once.
    void Request(std::shared_ptr<Session> session) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (current_) MarkEnded(*current_, false);
            if (quit_ && session) {  // shutting down: nothing new starts
                MarkEnded(*session, false);
                session.reset();
            }
            current_ = session;
            wanted_ = std::move(session);
            requested_ = true;
            if (wanted_ && !thread_.joinable()) thread_ = std::thread(&Player::Run, this);
            // The bus is a queue: posted before the player waits on it, the
            // wake-up is still there when it does.
            if (busy_)
                gst_bus_post(busy_->bus.get(),
                             gst_message_new_application(nullptr, gst_structure_new_empty(kWakeUp)));
        }
        ended_.notify_all();
        wake_.notify_all();
    }

    // The player's thread: takes the latest request, tears down the sound
    // before it, starts and watches the new one until it ends or a request
    // comes.
    void Run() {
        std::shared_ptr<Session> active;
        for (;;) {
            std::shared_ptr<Session> next;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                wake_.wait(lock, [&] { return requested_ || (quit_ && !active); });
                if (!requested_) break;
                requested_ = false;
                next = std::move(wanted_);
                busy_ = next;
            }
            if (active) TearDown(*active);
            active = std::move(next);
            if (!active) {
                std::lock_guard<std::mutex> lock(mutex_);
                if (quit_) break;
                continue;
            }
            Outcome outcome = Start(*active);
            if (outcome == Outcome::Running) outcome = Watch(*active);
            if (outcome == Outcome::Finished) {
                std::lock_guard<std::mutex> lock(mutex_);
                busy_.reset();  // no bus left to wake: a request comes by wake_
            }
        }
        if (active) TearDown(*active);
        std::lock_guard<std::mutex> lock(mutex_);
        busy_.reset();
    }

    enum class Outcome { Running, Finished, Interrupted };

    // Player's thread. Prerolls and plays; a failure ends the sound.
    Outcome Start(Session& session) {
        std::string why;
        const Outcome prerolled = Preroll(session, why);
        if (prerolled != Outcome::Running) {
            if (prerolled == Outcome::Finished) Fail(session, why);
            return prerolled;
        }
        GstElement* pipeline = session.pipeline.get();
        // A segment seek ends each pass with SEGMENT_DONE instead of EOS, and
        // the next pass is queued behind the data still in the pipeline: no
        // gap. Only the WAV parser, which pulls from the file, does this
        // reliably; parsers fed through decodebin may answer a segment seek
        // with an instant SEGMENT_DONE in bytes and nothing played, so there
        // each EOS restarts the pipeline instead (Rewind).
        if (session.loop && session.wav)
            gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME,
                             GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_SEGMENT), GST_SEEK_TYPE_SET, 0,
                             GST_SEEK_TYPE_SET, -1);
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            Fail(session, PendingError(session.bus.get()));
            return Outcome::Finished;
        }
        return Outcome::Running;
    }

    void Fail(Session& session, const std::string& why) {
        gst_element_set_state(session.pipeline.get(), GST_STATE_NULL);
        Complain(session.file, why);
        End(session, true);
    }

    static bool Build(Session& session, std::string& why) {
        session.pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new("oculara-sound"))));
        GstBin* bin = GST_BIN(session.pipeline.get());
        session.bus.reset(gst_element_get_bus(session.pipeline.get()));

        const bool wav = session.wav = IsPcmWav(session.file);
        const char* names[] = {"filesrc", wav ? "wavparse" : "decodebin", "audioconvert", "audioresample"};
        GstElement* elements[4] = {};
        for (int i = 0; i < 4; ++i) {
            elements[i] = gst_element_factory_make(names[i], nullptr);
            if (!elements[i]) {
                why = std::string("manca l'elemento GStreamer ") + names[i];
                return false;
            }
            gst_bin_add(bin, elements[i]);
        }
        g_object_set(elements[0], "location", session.file.c_str(), nullptr);

        const std::string description = SinkDescription();
        GError* error = nullptr;
        GstElement* sink = gst_parse_bin_from_description(description.c_str(), TRUE, &error);
        if (error) {
            why = "uscita audio \"" + description + "\" non valida: " + error->message;
            g_error_free(error);
            if (sink) gst_object_unref(gst_object_ref_sink(sink));
            return false;
        }
        if (!sink) {
            why = "uscita audio \"" + description + "\" non valida";
            return false;
        }
        gst_bin_add(bin, sink);

        bool linked;
        if (wav) {
            linked = gst_element_link_many(elements[0], elements[1], elements[2], elements[3], sink, nullptr);
        } else {
            g_signal_connect(elements[1], "pad-added", G_CALLBACK(OnDecodedPad), elements[2]);
            linked = gst_element_link(elements[0], elements[1]) &&
                     gst_element_link_many(elements[2], elements[3], sink, nullptr);
        }
        if (!linked) why = "uscita audio \"" + description + "\" non collegabile";
        return linked;
    }

    // Opens and decodes the start of the file; this is where a missing
    // decoder, a corrupt file or a sink that never starts shows. A request
    // that comes meanwhile interrupts it.
    static Outcome Preroll(Session& session, std::string& why) {
        const GstStateChangeReturn change = gst_element_set_state(session.pipeline.get(), GST_STATE_PAUSED);
        if (change == GST_STATE_CHANGE_FAILURE) {
            why = PendingError(session.bus.get());
            return Outcome::Finished;
        }
        if (change != GST_STATE_CHANGE_ASYNC) return Outcome::Running;
        MessagePtr message(gst_bus_timed_pop_filtered(
            session.bus.get(), kStartTimeout,
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_APPLICATION)));
        if (!message) {
            why = "l'uscita audio non risponde";
            return Outcome::Finished;
        }
        switch (GST_MESSAGE_TYPE(message.get())) {
        case GST_MESSAGE_ERROR:
            why = ErrorText(message.get());
            return Outcome::Finished;
        case GST_MESSAGE_APPLICATION:
            return Outcome::Interrupted;
        default:
            return Outcome::Running;
        }
    }

    // Player's thread. Watches the bus until the sound ends or fails (then
    // the pipeline is stopped here, releasing the audio device at once) or
    // until a request wakes it.
    Outcome Watch(Session& session) {
        GstElement* pipeline = session.pipeline.get();
        const auto wanted =
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_SEGMENT_DONE | GST_MESSAGE_APPLICATION);
        for (;;) {
            MessagePtr message(gst_bus_timed_pop_filtered(session.bus.get(), GST_CLOCK_TIME_NONE, wanted));
            if (!message) {  // bus flushing: the pipeline is going down
                End(session, false);
                return Outcome::Finished;
            }
            switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_APPLICATION:
                if (gst_message_has_name(message.get(), kWakeUp)) return Outcome::Interrupted;
                break;
            case GST_MESSAGE_SEGMENT_DONE: {
                GstFormat format;
                gint64 end;
                gst_message_parse_segment_done(message.get(), &format, &end);
                // A pass that ended at 0 played nothing: repeating it would
                // only spin.
                if (format != GST_FORMAT_TIME || end <= 0) {
                    Stop(session, false);
                    return Outcome::Finished;
                }
                ++session.loops;
                if (!gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_SEGMENT, GST_SEEK_TYPE_SET, 0,
                                      GST_SEEK_TYPE_SET, -1) &&
                    !Rewind(session))
                    return Outcome::Finished;
                break;
            }
            case GST_MESSAGE_EOS: {
                gint64 end = 0;
                if (!session.loop || !gst_element_query_position(pipeline, GST_FORMAT_TIME, &end) || end <= 0) {
                    Stop(session, false);
                    return Outcome::Finished;
                }
                ++session.loops;
                if (!Rewind(session)) return Outcome::Finished;
                break;
            }
            case GST_MESSAGE_ERROR:
                Complain(session.file, ErrorText(message.get()));
                Stop(session, true);
                return Outcome::Finished;
            default:
                break;
            }
        }
    }

    // Player's thread. Starts a pass that ended with EOS again; on failure
    // ends the sound. Not a seek: a parser fed through decodebin (auparse is
    // one) may take a seek back after EOS and end again at once, with nothing
    // played. Going through READY restarts every parser from the file's first
    // byte, at the price of a short gap.
    bool Rewind(Session& session) {
        GstElement* pipeline = session.pipeline.get();
        if (gst_element_set_state(pipeline, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE &&
            gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
            return true;
        Complain(session.file, "impossibile ripartire dall'inizio");
        Stop(session, true);
        return false;
    }

    // Player's thread.
    void Stop(Session& session, bool failed) {
        gst_element_set_state(session.pipeline.get(), GST_STATE_NULL);
        End(session, failed);
    }

    void TearDown(Session& session) { Stop(session, false); }

    void End(Session& session, bool failed) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            MarkEnded(session, failed);
        }
        ended_.notify_all();
    }

    // mutex_ held. The first end counts: a stopped sound that then fails
    // while going down was still stopped.
    static void MarkEnded(Session& session, bool failed) {
        if (session.ended) return;
        session.ended = true;
        session.failed = failed;
    }

    // Guards everything below but thread_'s own running, and every
    // session's ended/failed; ended_ and wake_ signal them.
    std::mutex mutex_;
    std::condition_variable ended_;
    std::condition_variable wake_;
    std::shared_ptr<Session> current_;  // what SoundPlaying tells about
    std::shared_ptr<Session> wanted_;   // the request not yet taken; null: silence
    bool requested_ = false;            // wanted_ holds a request
    std::shared_ptr<Session> busy_;     // the sound whose bus the player's thread waits on
    bool quit_ = false;                 // Shutdown: the thread leaves once idle
    std::thread thread_;                // the player's thread, started by the first sound
};

Player& ThePlayer() {
    static Player player;
    return player;
}

}  // namespace

bool PlaySound(const char* file, unsigned flags) { return ThePlayer().Play(file, flags); }

void ShutdownSound() { ThePlayer().Shutdown(); }

bool SoundPlaying() { return ThePlayer().Playing(); }

unsigned SoundLoopsCompleted() { return ThePlayer().Loops(); }

}  // namespace platform
