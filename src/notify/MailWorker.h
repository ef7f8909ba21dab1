#pragma once
// The e-mail sender in two steps: InviaMail_TimerTimer prepares body and
// photo on the main thread, the worker thread thrdMail dials if needed,
// talks SMTP, logs the outcome and hangs up.

#include "core/Globali.h"
#include "notify/Ras.h"
#include "notify/Smtp.h"
#include "platform/MediaType.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace notify {

// Everything one run needs, taken on the main thread at the timer step, so
// the worker reads nothing that the main thread may be changing.
struct MailJob {
    TSettings settings;        // snapshot of Settings
    ConnectionSettings connection;
    std::string oggetto;       // OggettoMail
    std::string corpo;         // the body: TestoMail, with the photo line when a photo was taken
    std::string fotoAllegata;  // FotoAllegata: the temporary JPEG, empty when none
    uint8_t tipoEvento = 0;    // of the notified event: 3 is a periodic notification
};

// What the worker calls around the exchange; tests replace them.
struct MailWorkerHooks {
    std::function<void(const ConnectionSettings&)> dialBefore = DialBeforeExchange;
    std::function<void(const ConnectionSettings&, const std::atomic<int>&)> hangUpAfter = HangUpAfterExchange;
    SmtpLimits limits;
};

// The worker component thrdMail: one thread for the window's lifetime, fed
// through a queue, so a start that comes while the previous run is still
// ending runs after it instead of being lost.
class MailWorker {
public:
    // busyTag: InviaMail_Timer's Tag, cleared as the last step of each run.
    // otherWorkerTag: InviaSMS_Timer's Tag, for the hang-up test.
    // oraUltimoInvio: Settings.Mail_OraUltimoInvio, stamped on success.
    // All three must outlive the worker.
    MailWorker(std::atomic<int>& busyTag, const std::atomic<int>& otherWorkerTag, TimeStamp& oraUltimoInvio,
               MailWorkerHooks hooks = {});
    // Stop mode "terminate": runs not yet begun are dropped and a running
    // exchange is cut off at its next wait; that run then only deletes its
    // photo (no log entry, stamp, hang-up or Tag). A dial under way is
    // waited for.
    ~MailWorker();
    MailWorker(const MailWorker&) = delete;
    MailWorker& operator=(const MailWorker&) = delete;

    // Any thread. Each start is one run.
    void Start(MailJob job);
    // Blocks until every run started so far has ended.
    void WaitIdle();

    std::atomic<int>& BusyTag() { return busyTag_; }

private:
    void Loop();
    // The run handler, worker thread.
    void thrdMailRun(const MailJob& job);

    std::atomic<int>& busyTag_;
    const std::atomic<int>& otherWorkerTag_;
    TimeStamp& oraUltimoInvio_;
    MailWorkerHooks hooks_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<MailJob> queue_;
    bool running_ = false;
    bool stopping_ = false;
    std::atomic<bool> cancelled_{false};
    int cancelPipe_[2] = {-1, -1};  // written once by the destructor to cut off a wait
    std::thread thread_;
};

// The last frame of the video sample grabber and its media type; false when
// there is none.
using FrameGrabber = std::function<bool(std::vector<uint8_t>& frame, platform::MediaType& type)>;

// The main-thread half of InviaMail_Timer's handler; disabling the timer is
// the window's job. Sets the Tag to 1, builds the body from TestoMail, takes
// the photo when Mail_AllegaFoto and Attiva_VideoSorveglianza are on and the
// video detector is in Monitoring, and starts thrdMail. A photo that cannot
// be had is silently left out.
void InviaMail_TimerTimer(MailWorker& thrdMail, const TSettings& settings, uint8_t tipoEvento,
                          bool videoDetectorMonitoring, const FrameGrabber& grabFrame);

// Where and how a message from and to Mail_Indirizzo goes: Mail_ServerSMTP,
// Mail_Porta (see SmtpPort), Mail_Sicurezza and the account.
SmtpEnvelope EnvelopeFor(const TSettings& settings);

// The subject and body of the alarm dialog's test message.
inline constexpr const char* kOggettoMailDiProva = "Oculara: e-mail di prova";
inline constexpr const char* kTestoMailDiProva =
    "Questa è un'e-mail di prova inviata da Oculara con le impostazioni di posta elettronica.\r\n";

// "Invia e-mail di prova": the test message, with these settings, on the
// calling thread, which it blocks for the whole exchange. No dial-up, no
// photo, no log row, no stamp: the outcome is the caller's to show.
SmtpOutcome InviaMailDiProva(const TSettings& settings, const SmtpLimits& limits = {}, int cancelFd = -1);

// A free temporary file, created and opened for writing by this call.
struct TemporaryFile {
    std::string path;  // empty when none could be created
    int fd = -1;       // the caller closes it
};

// folder + "OCL" + n + "." + extension for n = 0, 1, ...: the first name that
// can be created exclusively (never through an existing file or link), mode
// 0600. An empty folder means the temporary folder; a folder that does not
// exist means ProgramDir. A given folder ends with "/".
TemporaryFile NomeFileTemporaneo(const std::string& folder, const std::string& extension);

}  // namespace notify
