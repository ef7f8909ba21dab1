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

// Opening and prerolling a sound file takes milliseconds; a sink that has not
// prerolled by then is not going to play anything.
constexpr GstClockTime kStartTimeout = 5 * GST_SECOND;
// Posted by the stopping thread to wake the bus thread out of its wait.
constexpr const char* kWakeUp = "oculara-sound-stop";

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

// One sound from its start to its teardown.
struct Session {
    std::string file;
    bool loop = false;
    bool wav = false;  // parsed by wavparse, not decodebin
    ElementPtr pipeline;
    BusPtr bus;
    // Runs Player::Watch. Started and joined by the thread that holds the
    // player's call lock; between the two only this thread touches the
    // pipeline.
    std::thread thread;
    std::atomic<unsigned> loops{0};
    // Guarded by Player::stateMutex_.
    bool ended = false;
    bool failed = false;
};

class Player {
public:
    Player() = default;
    Player(const Player&) = delete;
    Player& operator=(const Player&) = delete;
    ~Player() { Stop(); }

    bool Play(const char* file, unsigned flags) {
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> call(callMutex_);
            StopLocked();
            if (!file || !*file) return true;
            session = Start(file, (flags & SND_LOOP) != 0);
            if (!session) return false;
            if (flags & (SND_ASYNC | SND_LOOP)) return true;
        }
        // A synchronous sound is waited for without the call lock, so that
        // another thread can still stop it.
        std::unique_lock<std::mutex> lock(stateMutex_);
        ended_.wait(lock, [&] { return session->ended; });
        return !session->failed;
    }

    void Stop() {
        std::lock_guard<std::mutex> call(callMutex_);
        StopLocked();
    }

    bool Playing() {
        std::lock_guard<std::mutex> lock(stateMutex_);
        return current_ && !current_->ended;
    }

    unsigned Loops() {
        std::lock_guard<std::mutex> lock(stateMutex_);
        return current_ ? current_->loops.load() : 0;
    }

private:
    // Call lock held.
    void StopLocked() {
        std::shared_ptr<Session> session;
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            session = std::move(current_);
        }
        if (!session) return;
        if (session->thread.joinable()) {
            // A bus the watcher already flushed on its way out drops this.
            gst_bus_post(session->bus.get(),
                         gst_message_new_application(nullptr, gst_structure_new_empty(kWakeUp)));
            session->thread.join();
        }
        gst_element_set_state(session->pipeline.get(), GST_STATE_NULL);
        Finish(*session, false);
    }

    // Call lock held. Returns the session playing, or null after complaining.
    std::shared_ptr<Session> Start(const std::string& file, bool loop) {
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
        if (!Build(*session, why) || !Preroll(*session, why)) {
            if (session->pipeline) gst_element_set_state(session->pipeline.get(), GST_STATE_NULL);
            Complain(file, why);
            return nullptr;
        }
        GstElement* pipeline = session->pipeline.get();
        // A segment seek ends each pass with SEGMENT_DONE instead of EOS, and
        // the next pass is queued behind the data still in the pipeline: no
        // gap. Only the WAV parser, which pulls from the file, does this
        // reliably; parsers fed through decodebin may answer a segment seek
        // with an instant SEGMENT_DONE in bytes and nothing played, so there
        // each EOS restarts the pipeline instead (Rewind).
        if (loop && session->wav)
            gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME,
                             GstSeekFlags(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_SEGMENT), GST_SEEK_TYPE_SET, 0,
                             GST_SEEK_TYPE_SET, -1);
        if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
            why = PendingError(session->bus.get());
            gst_element_set_state(pipeline, GST_STATE_NULL);
            Complain(file, why);
            return nullptr;
        }
        session->thread = std::thread(&Player::Watch, this, session.get());
        std::lock_guard<std::mutex> lock(stateMutex_);
        current_ = session;
        return session;
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
    // decoder or a corrupt file shows, while the caller still gets the answer.
    static bool Preroll(Session& session, std::string& why) {
        const GstStateChangeReturn change = gst_element_set_state(session.pipeline.get(), GST_STATE_PAUSED);
        if (change == GST_STATE_CHANGE_FAILURE) {
            why = PendingError(session.bus.get());
            return false;
        }
        if (change != GST_STATE_CHANGE_ASYNC) return true;
        MessagePtr message(gst_bus_timed_pop_filtered(session.bus.get(), kStartTimeout,
                                                      GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_ASYNC_DONE)));
        if (!message) {
            why = "l'uscita audio non risponde";
            return false;
        }
        if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_ERROR) {
            why = ErrorText(message.get());
            return false;
        }
        return true;
    }

    // The session's bus thread. Leaves when the sound ends or fails (then the
    // pipeline is stopped here, releasing the audio device at once) or when
    // StopLocked wakes it.
    void Watch(Session* session) {
        GstElement* pipeline = session->pipeline.get();
        const auto wanted =
            GstMessageType(GST_MESSAGE_ERROR | GST_MESSAGE_EOS | GST_MESSAGE_SEGMENT_DONE | GST_MESSAGE_APPLICATION);
        for (;;) {
            MessagePtr message(gst_bus_timed_pop_filtered(session->bus.get(), GST_CLOCK_TIME_NONE, wanted));
            if (!message) {  // bus flushing: the pipeline is going down
                Finish(*session, false);
                return;
            }
            switch (GST_MESSAGE_TYPE(message.get())) {
            case GST_MESSAGE_APPLICATION:
                if (gst_message_has_name(message.get(), kWakeUp)) return;
                break;
            case GST_MESSAGE_SEGMENT_DONE: {
                GstFormat format;
                gint64 end;
                gst_message_parse_segment_done(message.get(), &format, &end);
                // A pass that ended at 0 played nothing: repeating it would
                // only spin.
                if (format != GST_FORMAT_TIME || end <= 0) {
                    End(*session, false);
                    return;
                }
                ++session->loops;
                if (!gst_element_seek(pipeline, 1.0, GST_FORMAT_TIME, GST_SEEK_FLAG_SEGMENT, GST_SEEK_TYPE_SET, 0,
                                      GST_SEEK_TYPE_SET, -1) &&
                    !Rewind(*session))
                    return;
                break;
            }
            case GST_MESSAGE_EOS: {
                gint64 end = 0;
                if (!session->loop || !gst_element_query_position(pipeline, GST_FORMAT_TIME, &end) || end <= 0) {
                    End(*session, false);
                    return;
                }
                ++session->loops;
                if (!Rewind(*session)) return;
                break;
            }
            case GST_MESSAGE_ERROR:
                Complain(session->file, ErrorText(message.get()));
                End(*session, true);
                return;
            default:
                break;
            }
        }
    }

    // Bus thread. Starts a pass that ended with EOS again; on failure ends
    // the sound. Not a seek: a parser fed through decodebin (auparse is one)
    // may take a seek back after EOS and end again at once, with nothing
    // played. Going through READY restarts every parser from the file's first
    // byte, at the price of a short gap.
    bool Rewind(Session& session) {
        GstElement* pipeline = session.pipeline.get();
        if (gst_element_set_state(pipeline, GST_STATE_READY) != GST_STATE_CHANGE_FAILURE &&
            gst_element_set_state(pipeline, GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE)
            return true;
        Complain(session.file, "impossibile ripartire dall'inizio");
        End(session, true);
        return false;
    }

    // Bus thread.
    void End(Session& session, bool failed) {
        gst_element_set_state(session.pipeline.get(), GST_STATE_NULL);
        Finish(session, failed);
    }

    void Finish(Session& session, bool failed) {
        {
            std::lock_guard<std::mutex> lock(stateMutex_);
            if (session.ended) return;
            session.ended = true;
            session.failed = failed;
        }
        ended_.notify_all();
    }

    // Serialises PlaySound calls: its holder builds, starts and tears down
    // pipelines.
    std::mutex callMutex_;
    // Guards current_ and each session's ended/failed; ended_ signals them.
    std::mutex stateMutex_;
    std::condition_variable ended_;
    std::shared_ptr<Session> current_;
};

Player& ThePlayer() {
    static Player player;
    return player;
}

}  // namespace

bool PlaySound(const char* file, unsigned flags) { return ThePlayer().Play(file, flags); }

void ShutdownSound() { ThePlayer().Stop(); }

bool SoundPlaying() { return ThePlayer().Playing(); }

unsigned SoundLoopsCompleted() { return ThePlayer().Loops(); }

}  // namespace platform
