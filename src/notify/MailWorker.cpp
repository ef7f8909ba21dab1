#include "notify/MailWorker.h"

#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "alarms/Photo.h"
#include "platform/DateTime.h"
#include "platform/KnownFolders.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace notify {

namespace {

constexpr const char* kLogTimeFormat = "d/m/yy hh:nn:ss";
constexpr const char* kSentText = "Inviata notifica tramite posta elettronica.";
constexpr const char* kFailedText =
    "Impossibile inviare la mail. Impossibile stabilire la connessione con il server di posta in uscita!";
// The failure row above is the same whatever went wrong; this second row
// says what, in the event list where the user looks, not on a stderr that
// a desktop start hides.
constexpr const char* kDetailPrefix = "Dettaglio dell'errore: ";
constexpr size_t kMaxDetail = 300;  // a server's reply is the peer's text: bounded
constexpr unsigned kMaxTemporaryNumber = 100000;  // an unwritable folder must not loop for ever
constexpr off_t kMaxAttachment = 64 * 1024 * 1024;

std::string NowText(const char* pattern) { return platform::FormatDateTime(pattern, platform::Now()); }

bool WriteAllToFd(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// The attachment's bytes; false when the file is missing, not a regular
// file or cannot be read whole.
bool ReadAttachment(const std::string& path, std::vector<uint8_t>& out) {
    out.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxAttachment;
    if (ok) {
        out.resize(static_cast<size_t>(st.st_size));
        size_t done = 0;
        while (ok && done < out.size()) {
            const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ok = false;
            else done += static_cast<size_t>(n);
        }
    }
    ::close(fd);
    if (!ok) out.clear();
    return ok;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// ASCII only: the text may come from the server and need not be valid UTF-8.
// Line breaks are left to the log, which makes every row one line.
std::string DetailText(const std::string& error) {
    std::string text = kDetailPrefix;
    for (size_t i = 0; i < error.size() && i < kMaxDetail; ++i)
        text += static_cast<unsigned char>(error[i]) < 0x80 ? error[i] : '?';
    if (error.size() > kMaxDetail) text += "...";
    return text;
}

void RemoveIfPresent(const std::string& path) {
    if (!path.empty()) (void)::unlink(path.c_str());  // a missing file is no error
}

SmtpOutcome ComposeAndSend(const TSettings& s, const MailMessage& message, const SmtpLimits& limits, int cancelFd) {
    SmtpOutcome outcome;
    // A value no list item stands for must not fall back to the clear.
    if (!IsMailSicurezza(s.Mail_Sicurezza))
        outcome.error = "unknown mail security setting " + std::to_string(s.Mail_Sicurezza) +
                        " (0 none, 1 STARTTLS, 2 SSL/TLS)";
    // A CR or LF in the address or subject refuses the message: it fails like the exchange.
    else if (const auto text = ComposeMessage(message, NewMessageStamp(s.Mail_Indirizzo)))
        outcome = SendMail(EnvelopeFor(s), *text, limits, cancelFd);
    else
        outcome.error = "the address or the subject cannot stand in a message header";
    return outcome;
}

}  // namespace

SmtpEnvelope EnvelopeFor(const TSettings& s) {
    SmtpEnvelope envelope;
    envelope.host = s.Mail_ServerSMTP;
    envelope.port = SmtpPort(s.Mail_Porta);
    envelope.from = s.Mail_Indirizzo;
    envelope.recipients = {s.Mail_Indirizzo};
    envelope.security = s.Mail_Sicurezza == MailTls        ? SmtpSecurity::Tls
                        : s.Mail_Sicurezza == MailStartTls ? SmtpSecurity::StartTls
                                                           : SmtpSecurity::None;
    envelope.user = s.Mail_Utente;
    envelope.password = s.Mail_PasswordSMTP;
    return envelope;
}

SmtpOutcome InviaMailDiProva(const TSettings& settings, const SmtpLimits& limits, int cancelFd) {
    MailMessage message;
    message.address = settings.Mail_Indirizzo;
    message.subject = kOggettoMailDiProva;
    message.body = kTestoMailDiProva;
    return ComposeAndSend(settings, message, limits, cancelFd);
}

// ---------------------------------------------------------------- worker

MailWorker::MailWorker(std::atomic<int>& busyTag, const std::atomic<int>& otherWorkerTag, TimeStamp& oraUltimoInvio,
                       MailWorkerHooks hooks)
    : busyTag_(busyTag), otherWorkerTag_(otherWorkerTag), oraUltimoInvio_(oraUltimoInvio), hooks_(std::move(hooks)) {
    if (::pipe2(cancelPipe_, O_CLOEXEC | O_NONBLOCK) != 0) cancelPipe_[0] = cancelPipe_[1] = -1;
    thread_ = std::thread([this] { Loop(); });
}

MailWorker::~MailWorker() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
        queue_.clear();
    }
    cancelled_.store(true);
    if (cancelPipe_[1] >= 0) {
        const char byte = 1;
        (void)!::write(cancelPipe_[1], &byte, 1);
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
    for (int fd : cancelPipe_)
        if (fd >= 0) ::close(fd);
}

void MailWorker::Start(MailJob job) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (stopping_) {
            RemoveIfPresent(job.fotoAllegata);
            return;
        }
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void MailWorker::WaitIdle() {
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, [this] { return (queue_.empty() && !running_) || stopping_; });
}

void MailWorker::Loop() {
    for (;;) {
        MailJob job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_) break;
            job = std::move(queue_.front());
            queue_.pop_front();
            running_ = true;
        }
        try {
            thrdMailRun(job);
        } catch (...) {
            // A run must never take the thread down: the next start still has to run.
            RemoveIfPresent(job.fotoAllegata);
            busyTag_.store(0);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            running_ = false;
        }
        idle_.notify_all();
    }
    idle_.notify_all();
}

void MailWorker::thrdMailRun(const MailJob& job) {
    const TSettings& s = job.settings;
    // A failed dial is not reported by itself: the exchange below fails instead.
    if (hooks_.dialBefore) hooks_.dialBefore(job.connection);

    MailMessage message;
    message.address = s.Mail_Indirizzo;
    message.subject = job.oggetto;
    message.body = job.corpo;
    if (s.Mail_AllegaFoto && s.Attiva_VideoSorveglianza && !job.fotoAllegata.empty()) {
        // Attaching is best effort: the mail goes without the photo rather than not at all.
        if (ReadAttachment(job.fotoAllegata, message.attachment))
            message.attachmentName = BaseName(job.fotoAllegata);
    }

    const SmtpOutcome outcome = ComposeAndSend(s, message, hooks_.limits, cancelPipe_[0]);
    const bool sent = outcome.ok;

    if (cancelled_.load()) {
        RemoveIfPresent(job.fotoAllegata);
        return;
    }

    if (sent) {
        alarms::WriteLogEntry(NowText(kLogTimeFormat), job.tipoEvento == 3 ? "Notifica" : "Allarme",
                              alarms::IconMail, kSentText);
        oraUltimoInvio_.Set(NowText("yyyymmddhhnn"));
    } else {
        const std::string now = NowText(kLogTimeFormat);
        alarms::WriteLogEntry(now, "Errore", alarms::IconErrore, kFailedText);
        if (!outcome.error.empty())
            alarms::WriteLogEntry(now, "Errore", alarms::IconErrore, DetailText(outcome.error));
    }
    RemoveIfPresent(job.fotoAllegata);
    EndExchange(job.connection, otherWorkerTag_, [this] { busyTag_.store(0); }, hooks_.hangUpAfter);
}

// ---------------------------------------------------------------- main thread

TemporaryFile NomeFileTemporaneo(const std::string& folder, const std::string& extension) {
    std::string dir = folder;
    if (dir.empty()) {
        dir = platform::TempFolder();
        if (dir.empty()) dir = ProgramDir;
        if (!dir.empty() && dir.back() != '/') dir += '/';
    }
    if (!platform::DirectoryExists(dir)) dir = ProgramDir;

    TemporaryFile file;
    for (unsigned n = 0; n < kMaxTemporaryNumber; ++n) {
        const std::string path = dir + "OCL" + std::to_string(n) + "." + extension;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            file.path = path;
            file.fd = fd;
            return file;
        }
        if (errno == EINTR) {
            --n;
            continue;
        }
        if (errno != EEXIST) break;  // the folder itself is the trouble: no other number helps
    }
    return file;
}

void InviaMail_TimerTimer(MailWorker& thrdMail, const TSettings& settings, uint8_t tipoEvento,
                          bool videoDetectorMonitoring, const FrameGrabber& grabFrame) {
    thrdMail.BusyTag().store(1);
    MailJob job;
    job.corpo = alarms::TestoMail;

    if (settings.Mail_AllegaFoto && settings.Attiva_VideoSorveglianza && videoDetectorMonitoring && grabFrame) {
        try {
            std::vector<uint8_t> frame;
            platform::MediaType type;
            if (grabFrame(frame, type)) {
                job.corpo = alarms::TestoMail + "\r\nAllegati: foto scattata alle " + NowText("hh:nn:ss") + "\r\n";
                // Encoded before the file is made, so a frame that cannot be
                // encoded leaves no empty file to be attached.
                std::vector<uint8_t> jpeg;
                if (alarms::EncodeJpeg(type, frame.data(), frame.size(), jpeg)) {
                    TemporaryFile file = NomeFileTemporaneo("", "jpg");
                    if (file.fd >= 0) {
                        const bool written = WriteAllToFd(file.fd, jpeg);
                        const bool closed = ::close(file.fd) == 0;
                        if (written && closed)
                            job.fotoAllegata = file.path;
                        else
                            RemoveIfPresent(file.path);
                    }
                }
            }
        } catch (...) {
            // No photo then; the mail still goes.
        }
    }

    job.settings = settings;
    job.connection = ConnectionSettings::From(settings);
    job.oggetto = alarms::OggettoMail;
    job.tipoEvento = tipoEvento;
    thrdMail.Start(std::move(job));
}

}  // namespace notify
