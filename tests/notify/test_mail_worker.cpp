// The e-mail worker against real servers on 127.0.0.1: aiosmtpd for the
// normal dialogue, small scripted servers for a refused EHLO, a hung server
// and a run that is still under way when the next one starts.

#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "core/Globali.h"
#include "notify/MailWorker.h"
#include "platform/DateTime.h"
#include "support/TestSupport.h"
#include "support/MailTestSupport.h"
#include "support/SmtpRecorder.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <regex>
#include <sstream>
#include <cstdio>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace notify;
using testsupport::PathExists;
using testsupport::ReadFile;

namespace {

constexpr const char* kSent = "Inviata notifica tramite posta elettronica.";
constexpr const char* kFailed =
    "Impossibile inviare la mail. Impossibile stabilire la connessione con il server di posta in uscita!";
const std::string kDetail = "Dettaglio dell'errore: ";

// ---------------------------------------------------------------- scripted server

int ListenOnLoopback(uint16_t& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(fd);
        return -1;
    }
    port = ntohs(addr.sin_port);
    return fd;
}

// A port on which nothing listens.
uint16_t ClosedPort() {
    uint16_t port = 0;
    close(ListenOnLoopback(port));
    return port;
}

class ScriptedServer {
public:
    enum class Mode { RefuseEhlo, Hang, Gated };

    explicit ScriptedServer(Mode mode) : mode_(mode) {
        listen_ = ListenOnLoopback(port_);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        stop_ = true;
        Release();
        thread_.join();
        close(listen_);
    }
    uint16_t port() const { return port_; }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        cv_.notify_all();
    }
    int Sessions() {
        std::lock_guard<std::mutex> lock(mutex_);
        return sessions_;
    }
    std::vector<std::string> Commands() {
        std::lock_guard<std::mutex> lock(mutex_);
        return commands_;
    }
    std::vector<std::string> Messages() {
        std::lock_guard<std::mutex> lock(mutex_);
        return messages_;
    }

private:
    // A line without its CR LF; nullopt when the client left or we stop.
    std::optional<std::string> ReadLine(int fd, std::string& buffer) {
        for (;;) {
            const size_t nl = buffer.find("\r\n");
            if (nl != std::string::npos) {
                std::string line = buffer.substr(0, nl);
                buffer.erase(0, nl + 2);
                return line;
            }
            pollfd p{fd, POLLIN, 0};
            if (stop_) return std::nullopt;
            if (poll(&p, 1, 50) <= 0) continue;
            char chunk[4096];
            const ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return std::nullopt;
            buffer.append(chunk, size_t(n));
        }
    }
    static void Say(int fd, const std::string& text) { (void)!send(fd, text.data(), text.size(), MSG_NOSIGNAL); }

    void Session(int fd) {
        if (mode_ == Mode::Hang) {
            std::string ignored;
            while (ReadLine(fd, ignored)) {
            }
            return;
        }
        if (mode_ == Mode::Gated) {
            std::unique_lock<std::mutex> lock(mutex_);
            cv_.wait(lock, [this] { return released_; });
        }
        Say(fd, "220-scripted\r\n220 ready\r\n");
        std::string buffer;
        while (auto line = ReadLine(fd, buffer)) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                commands_.push_back(*line);
            }
            const std::string verb = line->substr(0, 4);
            if (verb == "EHLO")
                Say(fd, mode_ == Mode::RefuseEhlo ? "502 5.5.2 not here\r\n" : "250-scripted\r\n250 8BITMIME\r\n");
            else if (verb == "DATA") {
                Say(fd, "354 go on\r\n");
                std::string message;
                while (auto data = ReadLine(fd, buffer)) {
                    if (*data == ".") break;
                    message += (data->rfind("..", 0) == 0 ? data->substr(1) : *data) + "\r\n";
                }
                std::lock_guard<std::mutex> lock(mutex_);
                messages_.push_back(message);
                Say(fd, "250 queued\r\n");
            } else if (verb == "QUIT") {
                Say(fd, "221 bye\r\n");
                return;
            } else {
                Say(fd, "250 ok\r\n");
            }
        }
    }

    void Serve() {
        while (!stop_) {
            pollfd p{listen_, POLLIN, 0};
            if (poll(&p, 1, 50) <= 0) continue;
            const int fd = accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                ++sessions_;
            }
            Session(fd);
            close(fd);
        }
    }

    Mode mode_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::condition_variable cv_;
    bool released_ = false;
    int sessions_ = 0;
    std::vector<std::string> commands_;
    std::vector<std::string> messages_;
    std::thread thread_;
};

// ---------------------------------------------------------------- frames and JPEG

constexpr int kWidth = 160, kHeight = 120;

platform::MediaType Rgb24Type() {
    platform::VIDEOINFOHEADER vih;
    vih.bmiHeader.biWidth = kWidth;
    vih.bmiHeader.biHeight = kHeight;
    vih.bmiHeader.biBitCount = 24;
    vih.bmiHeader.biSizeImage = kWidth * 3 * kHeight;
    platform::MediaType type;
    type.majortype = platform::MajorType::Video;
    type.subtype = platform::SubType::RGB24;
    type.SetFormat(platform::FormatType::VideoInfo, vih);
    return type;
}

// ---------------------------------------------------------------- fixture

class MailWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        oldScriviLog_ = Settings.ScriviLog;
        Settings.ScriviLog = false;
        alarms::TheEventLog().ClearRows();
        platform::SetNowForTests({2024, 2, 1, 10, 5, 7, 0});
        settings_.Mail_Indirizzo = "casa@example.org";
        settings_.Mail_ServerSMTP = "127.0.0.1";
        settings_.Mail_AllegaFoto = true;
        settings_.Attiva_VideoSorveglianza = true;
        stamp_ = std::string("202401010000");
        frame_.resize(size_t(kWidth) * 3 * kHeight);
        for (size_t i = 0; i < frame_.size(); ++i) frame_[i] = uint8_t(i * 7 + i / 480);
        alarms::OggettoMail = "Movimenti sospetti";
        alarms::TestoMail = "Alle 10:05:07 del 01/02/2024 Oculara ha rilevato 3 movimenti sospetti.\r\n";
    }
    void TearDown() override {
        platform::ClearNowForTests();
        Settings.ScriviLog = oldScriviLog_;
    }

    std::unique_ptr<MailWorker> MakeWorker(MailWorkerHooks hooks = {}) {
        hooks.dialBefore = hooks.dialBefore ? hooks.dialBefore : [](const ConnectionSettings&) {};
        hooks.hangUpAfter = hooks.hangUpAfter ? hooks.hangUpAfter
                                              : [](const ConnectionSettings&, const std::atomic<int>&) {};
        return std::make_unique<MailWorker>(busy_, other_, stamp_, std::move(hooks));
    }

    // The timer step as the window runs it, then the worker to its end.
    void Send(MailWorker& worker, uint16_t port, uint8_t kind = 2, bool monitoring = true) {
        testsupport::ScopedEnv env("OCULARA_SMTP_PORT", std::to_string(port));
        InviaMail_TimerTimer(worker, settings_, kind, monitoring, grab_);
        worker.WaitIdle();
    }

    std::vector<alarms::LogRow> Rows() { return alarms::TheEventLog().Rows(); }

    std::vector<std::string> TempPhotos() {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(tmp_.path()))
            if (e.path().filename().string().rfind("OCL", 0) == 0) names.push_back(e.path().filename().string());
        return names;
    }

    // The one message on `server` is the alarm with the frame as JPEG, logged as sent.
    void ExpectTheAlarmWithItsPhotoDelivered(const testsupport::AiosmtpdServer& server) {
        EXPECT_EQ(server.Envelope(0), R"({"from": "casa@example.org", "to": ["casa@example.org"]})");

        const auto mime = mailtest::ParseMime(server.Message(0));
        EXPECT_EQ(mime.Header("From"), "casa@example.org");
        EXPECT_EQ(mime.Header("Reply-To"), "casa@example.org");
        EXPECT_EQ(mime.Header("To"), "casa@example.org");
        EXPECT_EQ(mime.Header("Subject"), "Movimenti sospetti");
        EXPECT_EQ(mime.Header("X-Mailer"), "OCL");
        EXPECT_FALSE(mime.Header("Date").empty());
        EXPECT_FALSE(mime.Header("Message-ID").empty());
        const std::string boundary = mailtest::BoundaryOf(mime.Header("Content-Type"));
        ASSERT_FALSE(boundary.empty()) << mime.Header("Content-Type");
        const auto parts = mailtest::MultipartParts(mime.body, boundary);
        ASSERT_EQ(parts.size(), 2u);

        const auto text = mailtest::ParseMime(parts[0]);
        EXPECT_EQ(mailtest::QpDecode(text.body), alarms::TestoMail + "\r\nAllegati: foto scattata alle 10:05:07\r\n");
        const auto photo = mailtest::ParseMime(parts[1]);
        EXPECT_EQ(photo.Header("Content-Disposition"), "attachment; filename=\"OCL0.jpg\"");
        const auto jpeg = mailtest::DecodeJpeg(mailtest::Base64Decode(photo.body));
        ASSERT_TRUE(jpeg) << "the attachment is not a whole JPEG";
        EXPECT_EQ(jpeg->width, kWidth);
        EXPECT_EQ(jpeg->height, kHeight);
        EXPECT_EQ(jpeg->components, 3);

        const auto rows = Rows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0].dateTime, "1/2/24 10:05:07");
        EXPECT_EQ(rows[0].type, "Allarme");
        EXPECT_EQ(rows[0].icon, alarms::IconMail);
        EXPECT_EQ(rows[0].description, kSent);
        EXPECT_EQ(stamp_.Get(), "202402011005");
    }

    // The fixed failure row, then a row of the same kind with what went wrong.
    void ExpectTheErrorRowsAndCleanUp(const std::string& what, const std::string& detail) {
        const auto rows = Rows();
        ASSERT_EQ(rows.size(), 2u) << what;
        for (const auto& row : rows) {
            EXPECT_EQ(row.type, "Errore") << what;
            EXPECT_EQ(row.icon, alarms::IconErrore) << what;
            EXPECT_EQ(row.dateTime, "1/2/24 10:05:07") << what;
        }
        EXPECT_EQ(rows[0].description, kFailed) << what;
        EXPECT_EQ(rows[1].description.rfind(kDetail, 0), 0u) << what << ": " << rows[1].description;
        EXPECT_NE(rows[1].description.find(detail), std::string::npos) << what << ": " << rows[1].description;
        EXPECT_EQ(stamp_.Get(), "202401010000") << what;
        EXPECT_TRUE(TempPhotos().empty()) << what;
        EXPECT_EQ(busy_.load(), 0) << what;
    }

    testsupport::TempDir tmp_;
    testsupport::ScopedEnv tmpdir_{"TMPDIR", tmp_.path()};
    bool oldScriviLog_ = true;
    TSettings settings_;
    std::atomic<int> busy_{0};
    std::atomic<int> other_{0};
    TimeStamp stamp_;
    std::vector<uint8_t> frame_;
    std::atomic<int> grabs_{0};
    FrameGrabber grab_ = [this](std::vector<uint8_t>& frame, platform::MediaType& type) {
        ++grabs_;
        frame = frame_;
        type = Rgb24Type();
        return true;
    };
};

}  // namespace

TEST_F(MailWorkerTest, AlarmWithPhotoReachesARealServer) {
    REQUIRE_AIOSMTPD(server);
    alarms::TestoMail += ".\r\n.nascosta\r\nUn'ultima riga con l'accento: è così.\r\n";
    auto worker = MakeWorker();
    Send(*worker, server.port());

    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 6u) << server.log();
    EXPECT_EQ(commands[0].rfind("EHLO ", 0), 0u);
    // A fully qualified name, or the address literal of this end: a bare host name is refused by many servers.
    static const std::regex greeting(R"(EHLO (\[127\.0\.0\.1\]|[A-Za-z0-9-]+(\.[A-Za-z0-9-]+)+))");
    EXPECT_TRUE(std::regex_match(commands[0], greeting)) << commands[0];
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 1, commands.end()),
              (std::vector<std::string>{"RSET", "MAIL FROM:<casa@example.org>", "RCPT TO:<casa@example.org>", "DATA",
                                        "QUIT"}));
    ExpectTheAlarmWithItsPhotoDelivered(server);
    EXPECT_EQ(busy_.load(), 0);
    EXPECT_TRUE(TempPhotos().empty()) << "the temporary photo outlived the run";
}

TEST_F(MailWorkerTest, WithoutMonitoringOrWithoutTheSwitchTheMailIsPlainText) {
    REQUIRE_AIOSMTPD(server);
    auto worker = MakeWorker();
    Send(*worker, server.port(), 3, /*monitoring=*/false);
    settings_.Mail_AllegaFoto = false;
    platform::SetNowForTests({2024, 2, 1, 10, 5, 8, 0});  // the log drops a repeated row of the same second
    Send(*worker, server.port(), 1, /*monitoring=*/true);
    settings_.Mail_AllegaFoto = true;
    settings_.Attiva_VideoSorveglianza = false;
    platform::SetNowForTests({2024, 2, 1, 10, 5, 9, 0});
    Send(*worker, server.port(), 2, /*monitoring=*/true);
    EXPECT_EQ(grabs_.load(), 0) << "no frame is taken when no photo goes";

    for (int n = 0; n < 3; ++n) {
        const auto mime = mailtest::ParseMime(server.Message(n));
        EXPECT_EQ(mime.Header("Content-Type"), "text/plain; charset=\"utf-8\"") << n;
        EXPECT_EQ(mailtest::QpDecode(mime.body), alarms::TestoMail) << n;
    }
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].type, "Notifica");
    EXPECT_EQ(rows[1].type, "Allarme");
    EXPECT_EQ(rows[2].type, "Allarme");
    for (const auto& r : rows) EXPECT_EQ(r.description, kSent);
}

TEST_F(MailWorkerTest, ARefusedMailSaysInASecondRowWhatTheServerAnswered) {
    REQUIRE_AIOSMTPD(server, "550 5.7.1 Relaying denied");
    auto worker = MakeWorker();
    Send(*worker, server.port());

    EXPECT_EQ(server.MessageCount(), 0);
    EXPECT_EQ(server.Commands().back(), "RCPT TO:<casa@example.org>") << server.log();
    ExpectTheErrorRowsAndCleanUp("refused recipient", "");
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[1].description, kDetail + "RCPT refused: 550 5.7.1 Relaying denied");
}

TEST_F(MailWorkerTest, RefusedEhloFallsBackToHelo) {
    ScriptedServer server(ScriptedServer::Mode::RefuseEhlo);
    auto worker = MakeWorker();
    Send(*worker, server.port());
    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 7u);
    EXPECT_EQ(commands[0].substr(0, 5), "EHLO ");
    EXPECT_EQ(commands[1], "HELO " + commands[0].substr(5));
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 2, commands.end()),
              (std::vector<std::string>{"RSET", "MAIL FROM:<casa@example.org>", "RCPT TO:<casa@example.org>", "DATA",
                                        "QUIT"}));
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].description, kSent);
    EXPECT_EQ(stamp_.Get(), "202402011005");
}

TEST_F(MailWorkerTest, UnreachableOrHungServerLogsOneErrorAndDeletesThePhoto) {
    bool photoDuringRun = false;
    MailWorkerHooks hooks;
    hooks.limits = {std::chrono::milliseconds(2000), std::chrono::milliseconds(300)};
    hooks.dialBefore = [&](const ConnectionSettings&) { photoDuringRun = PathExists(tmp_ / "OCL0.jpg"); };
    {
        auto worker = MakeWorker(hooks);
        Send(*worker, ClosedPort());
        EXPECT_TRUE(photoDuringRun);
        ExpectTheErrorRowsAndCleanUp("closed port", "connect: Connection refused");
    }
    alarms::TheEventLog().ClearRows();
    {
        ScriptedServer hung(ScriptedServer::Mode::Hang);
        auto worker = MakeWorker(hooks);
        photoDuringRun = false;
        Send(*worker, hung.port());
        EXPECT_TRUE(photoDuringRun);
        EXPECT_EQ(hung.Sessions(), 1);
        ExpectTheErrorRowsAndCleanUp("hung server", "time limit reached while waiting for a reply");
    }
}

TEST_F(MailWorkerTest, EmptyOrInjectedFieldsFailWithoutASingleCommand) {
    ScriptedServer server(ScriptedServer::Mode::RefuseEhlo);
    auto worker = MakeWorker();
    const TSettings good = settings_;
    struct Case {
        const char* what;
        std::function<void()> spoil;
        const char* detail;
    };
    const std::vector<Case> cases = {
        {"empty server", [&] { settings_.Mail_ServerSMTP = ""; }, "no usable server name"},
        {"empty address", [&] { settings_.Mail_Indirizzo = ""; }, "cannot stand in a message header"},
        {"address with CR LF", [&] { settings_.Mail_Indirizzo = "casa@example.org>\r\nRCPT TO:<altro@example.org"; },
         "cannot stand in a message header"},
        {"server with LF", [&] { settings_.Mail_ServerSMTP = "127.0.0.1\nQUIT"; }, "no usable server name"},
        {"subject with CR LF", [&] { alarms::OggettoMail = "Rumori sospetti\r\nBcc: altro@example.org"; },
         "cannot stand in a message header"},
    };
    for (const auto& c : cases) {
        settings_ = good;
        alarms::OggettoMail = "Rumori sospetti";
        alarms::TheEventLog().ClearRows();
        c.spoil();
        Send(*worker, server.port());
        ExpectTheErrorRowsAndCleanUp(c.what, c.detail);
    }
    EXPECT_EQ(server.Sessions(), 0) << "a refused message must not reach the server at all";
}

TEST_F(MailWorkerTest, DialsBeforeAndHangsUpAfterWithTheOtherWorkersTag) {
    ScriptedServer server(ScriptedServer::Mode::RefuseEhlo);
    std::vector<std::string> events;
    MailWorkerHooks hooks;
    hooks.dialBefore = [&](const ConnectionSettings&) {
        events.push_back("dial, sessions " + std::to_string(server.Sessions()));
    };
    hooks.hangUpAfter = [&](const ConnectionSettings&, const std::atomic<int>& otherTag) {
        events.push_back(std::string("hang up") + (&otherTag == &other_ ? ", other tag" : ", wrong tag") +
                         (busy_.load() == 1 ? ", still busy" : ", not busy") + ", rows " +
                         std::to_string(alarms::TheEventLog().Rows().size()) +
                         (TempPhotos().empty() ? ", photo gone" : ", photo left"));
    };
    auto worker = MakeWorker(hooks);
    Send(*worker, server.port());
    EXPECT_EQ(events, (std::vector<std::string>{"dial, sessions 0",
                                                "hang up, other tag, still busy, rows 1, photo gone"}));
    EXPECT_EQ(busy_.load(), 0);
}

TEST_F(MailWorkerTest, StartDuringARunningRunIsRunAfterwards) {
    ScriptedServer server(ScriptedServer::Mode::Gated);
    // Set once: the environment must not change while a run is under way.
    testsupport::ScopedEnv env("OCULARA_SMTP_PORT", std::to_string(server.port()));
    auto worker = MakeWorker();
    InviaMail_TimerTimer(*worker, settings_, 2, true, grab_);
    for (int i = 0; i < 200 && server.Sessions() == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(server.Sessions(), 1) << "the first run never connected";
    EXPECT_EQ(busy_.load(), 1);
    // The first photo is still there, so the second takes the next number.
    InviaMail_TimerTimer(*worker, settings_, 3, true, grab_);
    server.Release();
    worker->WaitIdle();

    const auto messages = server.Messages();
    ASSERT_EQ(messages.size(), 2u);
    EXPECT_NE(messages[0].find("filename=\"OCL0.jpg\""), std::string::npos);
    EXPECT_NE(messages[1].find("filename=\"OCL1.jpg\""), std::string::npos);
    const auto rows = Rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].type, "Allarme");
    EXPECT_EQ(rows[1].type, "Notifica");
    EXPECT_EQ(busy_.load(), 0);
    EXPECT_TRUE(TempPhotos().empty());
}

TEST_F(MailWorkerTest, TemporaryNamesSkipTakenNamesAndNeverFollowALink) {
    testsupport::TempDir elsewhere;
    testsupport::WriteFile(tmp_ / "OCL0.jpg", "old");
    ASSERT_EQ(symlink((elsewhere / "target").c_str(), (tmp_ / "OCL1.jpg").c_str()), 0);  // dangling
    ASSERT_EQ(symlink((elsewhere / "existing").c_str(), (tmp_ / "OCL2.jpg").c_str()), 0);
    testsupport::WriteFile(elsewhere / "existing", "keep");

    TemporaryFile file = NomeFileTemporaneo("", "jpg");
    ASSERT_GE(file.fd, 0);
    close(file.fd);
    EXPECT_EQ(file.path, tmp_.path() + "/OCL3.jpg");
    struct stat st {};
    ASSERT_EQ(lstat(file.path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_FALSE(PathExists(elsewhere / "target"));
    EXPECT_EQ(ReadFile(elsewhere / "existing"), "keep");
    EXPECT_EQ(ReadFile(tmp_ / "OCL0.jpg"), "old");

    // A folder that does not exist falls back to the program's folder.
    const std::string oldProgramDir = ProgramDir;
    ProgramDir = elsewhere.path() + "/";
    file = NomeFileTemporaneo(tmp_.path() + "/missing/", "jpg");
    ProgramDir = oldProgramDir;
    ASSERT_GE(file.fd, 0);
    close(file.fd);
    EXPECT_EQ(file.path, elsewhere.path() + "/OCL0.jpg");

    // An unwritable folder gives no name instead of looping.
    testsupport::TempDir locked;
    chmod(locked.path().c_str(), 0500);
    if (geteuid() != 0) {
        file = NomeFileTemporaneo(locked.path() + "/", "jpg");
        EXPECT_TRUE(file.path.empty());
        EXPECT_LT(file.fd, 0);
    }
}

// ---------------------------------------------------------------- submission: TLS and a login

namespace {

constexpr const char* kPassword = "segreta à";

class MailSubmissionTest : public MailWorkerTest {
protected:
    void SetUp() override {
        MailWorkerTest::SetUp();
        ASSERT_TRUE(authority_.Issue("localhost", {"localhost", "127.0.0.1"})) << authority_.error();
        ASSERT_TRUE(authority_.Issue("other", {"mail.other.test"})) << authority_.error();
        settings_.Mail_ServerSMTP = "localhost";
        settings_.Mail_Utente = "casa";
        settings_.Mail_PasswordSMTP = kPassword;
    }

    // smtp_recorder.py's options for a server that takes the mail inside TLS
    // and after a login as casa.
    std::vector<std::string> Submission(const std::string& tls, const std::string& certificate = "localhost") {
        return {"--tls", tls, "--cert", authority_.Cert(certificate), "--key", authority_.Key(certificate),
                "--login", std::string("casa:") + kPassword};
    }

    static std::vector<std::string> Delivery() {
        return {"RSET", "MAIL FROM:<casa@example.org>", "RCPT TO:<casa@example.org>", "DATA", "QUIT"};
    }

    testsupport::TestAuthority authority_;
    testsupport::ScopedEnv trust_{"SSL_CERT_FILE", authority_.CaFile()};
};

}  // namespace

TEST_F(MailSubmissionTest, StartTlsThenALoginDeliversTheSameAlarmWithItsPhoto) {
    REQUIRE_AIOSMTPD(server, "", Submission("starttls"));
    settings_.Mail_Sicurezza = MailStartTls;
    auto worker = MakeWorker();
    Send(*worker, server.port());

    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 9u) << server.log();
    EXPECT_EQ(commands[0].rfind("EHLO ", 0), 0u);
    EXPECT_EQ(commands[1], "STARTTLS");
    EXPECT_EQ(commands[2], commands[0]) << "the offer is asked again inside TLS";
    EXPECT_EQ(commands[3], "AUTH PLAIN casa accepted");
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 4, commands.end()), Delivery());
    ExpectTheAlarmWithItsPhotoDelivered(server);
    EXPECT_TRUE(TempPhotos().empty());
}

TEST_F(MailSubmissionTest, TlsFromTheFirstByteToAnAddressLogsInWithLoginWhenThatIsAllOnOffer) {
    auto options = Submission("implicit");
    options.push_back("--only-login");
    REQUIRE_AIOSMTPD(server, "", options);
    settings_.Mail_Sicurezza = MailTls;
    settings_.Mail_ServerSMTP = "127.0.0.1";  // checked against the certificate's address
    auto worker = MakeWorker();
    Send(*worker, server.port(), 3);

    const auto commands = server.Commands();
    ASSERT_EQ(commands.size(), 7u) << server.log();
    EXPECT_EQ(commands[1], "AUTH LOGIN casa accepted");
    EXPECT_EQ(std::vector<std::string>(commands.begin() + 2, commands.end()), Delivery());
    ASSERT_EQ(server.MessageCount(), 1);
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].type, "Notifica");
    EXPECT_EQ(Rows()[0].description, kSent);
}

// Each refusal ends in the error rows with its reason, no mail, the stamp
// untouched, the photo deleted, and the password never where it could be read.
TEST_F(MailSubmissionTest, EveryRefusalSaysWhyAndNeverLetsThePasswordOutInTheClear) {
    struct Case {
        const char* what;
        int32_t security;
        std::vector<std::string> options;
        const char* detail;
        std::vector<std::string> commands;  // what the server saw
    };
    auto wrongName = Submission("starttls", "other");
    const std::vector<Case> cases = {
        {"certificate for another name", MailStartTls, wrongName, "certificate of localhost refused: hostname mismatch",
         {"EHLO"}},  // the server records STARTTLS once the handshake is done
        {"no STARTTLS on offer", MailStartTls, {"--login", "casa:x"}, "the server does not offer STARTTLS", {"EHLO"}},
        {"wrong password", MailTls, Submission("implicit"),
         "login refused: 535 5.7.8 Authentication credentials invalid", {"EHLO", "AUTH"}},
        {"login asked for in the clear", MailNessuna, {"--login", "casa:x"}, "never sent unencrypted", {}},
        {"unknown security", 7, Submission("implicit"), "unknown mail security setting 7", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        REQUIRE_AIOSMTPD(server, "", c.options);
        alarms::TheEventLog().ClearRows();
        settings_.Mail_Sicurezza = c.security;
        settings_.Mail_PasswordSMTP = std::string(c.what) == "wrong password" ? "sbagliata" : kPassword;
        auto worker = MakeWorker();
        Send(*worker, server.port());

        ExpectTheErrorRowsAndCleanUp(c.what, c.detail);
        EXPECT_EQ(server.MessageCount(), 0);
        auto commands = server.Commands();
        for (auto& line : commands) line = line.substr(0, line.find(' '));
        EXPECT_EQ(commands, c.commands) << server.log();
        EXPECT_EQ(server.log().find("segreta"), std::string::npos);
        for (const auto& row : Rows()) EXPECT_EQ(row.description.find("segreta"), std::string::npos);
    }
}
