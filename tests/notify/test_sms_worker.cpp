// The SMS worker against a gateway on 127.0.0.1 written here, directly and
// through tinyproxy with Basic authentication.

#include "notify/SmsWorker.h"

#include "alarms/EventLog.h"
#include "alarms/OutgoingTexts.h"
#include "core/Globali.h"
#include "platform/DateTime.h"
#include "support/LocalGateway.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

using namespace notify;
using namespace std::chrono_literals;
using testsupport::Always;
using testsupport::Answer;
using testsupport::HttpRequest;
using testsupport::LocalGateway;
using testsupport::ScopedEnv;
using testsupport::Tinyproxy;
using testsupport::UnusedPort;

namespace {

std::vector<std::string> LogRows() {
    std::vector<std::string> out;
    for (const auto& r : alarms::TheEventLog().Rows())
        out.push_back(std::to_string(r.icon) + "|" + r.dateTime + "|" + r.type + "|" + r.description);
    return out;
}

const std::string kSent95 = "6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS, SMS rimanenti: 95";
const std::string kNoServer =
    "2|15/3/24 10:42:07|Errore|Impossibile inviare l'SMS. Impossibile stabilire la connessione con il server!";
const std::string kStampNow = "202403151042";

class SmsWorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        Settings.ScriviLog = false;
        alarms::TheEventLog().ClearRows();
        platform::SetNowForTests(platform::DateTime{2024, 3, 15, 10, 42, 7, 0});
    }
    void TearDown() override {
        platform::ClearNowForTests();
        alarms::TheEventLog().ClearRows();
    }

    static TSettings SmsSettings() {
        TSettings s;
        s.SMS_UserName = "mario";
        s.SMS_Password = "se&gre%to";
        s.SMS_NumeroCellulare = " 3331234567 ";
        return s;
    }
    static SmsJob Job(const TSettings& s = SmsSettings(), const std::string& testo = "Prova") {
        return SmsJob{s, testo, "0A1B2C3D", "SN-1"};
    }

    // One job through a fresh worker; the rows and stamp it left.
    void RunOne(const SmsJob& job, std::chrono::milliseconds limit = HttpClient::kDefaultTimeLimit,
                std::chrono::milliseconds deadline = HttpClient::kDefaultDeadline) {
        ThreadSMS worker(smsTag, mailTag, stamp, limit, deadline);
        worker.Start(job);
        worker.WaitIdle();
        EXPECT_EQ(smsTag, 0);
    }

    std::atomic<int> smsTag{0};
    std::atomic<int> mailTag{0};
    TimeStamp stamp;
};

}  // namespace

TEST_F(SmsWorkerTest, RequestCarriesTheExactQueryAndHeaders) {
    LocalGateway gateway(Always(Answer("<html><nr>95</nr></html>")));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());

    RunOne(Job(SmsSettings(), " Perché è così & 50% +1\r\n"));

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const HttpRequest& r = requests[0];
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.target,
              "/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=mario&pwd=se&gre%to&ver=2.0"
              "&dest=3331234567&txt=Perch%E9+%E8+cos%EC+%26+50%25+%2B1");
    EXPECT_EQ(r.version, "HTTP/1.0");
    EXPECT_EQ(r.Header("host"), gateway.Address());
    EXPECT_EQ(r.Header("accept"), "text/html, */*");
    EXPECT_EQ(r.Header("content-type"), "text/html");
    EXPECT_EQ(r.Header("user-agent"), HttpClient::kUserAgent);
    EXPECT_NE(r.Header("user-agent").find("Mozilla/4.0 (compatible; MSIE 6.0; Windows"), std::string::npos);
    EXPECT_FALSE(r.Has("authorization"));
    EXPECT_FALSE(r.Has("proxy-authorization"));
    EXPECT_FALSE(r.Has("via"));

    EXPECT_EQ(LogRows(), std::vector<std::string>{kSent95});
    EXPECT_EQ(stamp.Get(), kStampNow);
}

TEST_F(SmsWorkerTest, UnencodedValuesReachTheRequestLineAsTheyAre) {
    LocalGateway gateway(Always(Answer("<nr>1</nr>")));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    TSettings s = SmsSettings();

    // A "#" starts the URL's fragment: the request line ends before it.
    s.SMS_Password = "ab#cd";
    RunOne(Job(s));
    // A blank cannot stand in a request line; it travels as %20.
    s.SMS_Password = "p w";
    s.SMS_UserName = "utènte";
    RunOne(Job(s));

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].target, "/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=mario&pwd=ab");
    EXPECT_EQ(requests[1].target,
              "/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=ut\xE8nte&pwd=p%20w&ver=2.0"
              "&dest=3331234567&txt=Prova");
}

TEST_F(SmsWorkerTest, AnswerVariantsGiveTheirEntriesAndTheStampRule) {
    struct Case {
        std::string body;
        std::vector<std::string> rows;
        bool stamped;
    };
    const std::string sent = "6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS.";
    const std::vector<Case> cases{
        {"<nr>95</nr>", {kSent95}, true},
        {"<html>fatto</html>", {sent}, true},
        {"</nr>5<nr>", {sent}, true},
        {"<err> </err><nr>4</nr>",
         {"6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS, SMS rimanenti: 4"}, true},
        {"<msg>Offerta: 100 SMS</msg><nr>3</nr>",
         {"6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS, SMS rimanenti: 3",
          "3|15/3/24 10:42:07|Informazione|Offerta: 100 SMS"},
         true},
        {"<err>Credito esaurito</err><nr>0</nr><msg>Acquista altri SMS</msg>",
         {"2|15/3/24 10:42:07|Errore|Credito esaurito",
          "3|15/3/24 10:42:07|Informazione|Acquista altri SMS"},
         false},
        // A gateway that answers in Windows-1252 and one that answers in UTF-8.
        {"<err>Credito non \xE8 sufficiente</err>", {"2|15/3/24 10:42:07|Errore|Credito non è sufficiente"}, false},
        {"<err>Credito non è sufficiente</err>", {"2|15/3/24 10:42:07|Errore|Credito non è sufficiente"}, false},
        // Line breaks and TABs from the peer stay inside their own row and column.
        {"<err>Credito\r\n15/3/24 10:42:08\tAllarme\tInviata</err><msg>a\tb\rc</msg>",
         {"2|15/3/24 10:42:07|Errore|Credito  15/3/24 10:42:08 Allarme Inviata",
          "3|15/3/24 10:42:07|Informazione|a b c"},
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        alarms::TheEventLog().ClearRows();
        stamp.Set(TimeStamp::Never);
        LocalGateway gateway(Always(Answer(c.body)));
        ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
        RunOne(Job());
        EXPECT_EQ(gateway.RequestCount(), 1u);
        EXPECT_EQ(LogRows(), c.rows);
        EXPECT_EQ(stamp.Get(), c.stamped ? kStampNow : TimeStamp::Never);
    }
}

TEST_F(SmsWorkerTest, TransportFailuresGiveTheOneErrorEntryAndNoStamp) {
    using Action = LocalGateway::Action;
    const std::string tooLong(HttpClient::kMaxAnswerBytes + 1, 'x');
    struct Case {
        const char* name;
        LocalGateway::Reply reply;
    };
    const std::vector<Case> cases{
        {"error status with a tagged body", {Action::Answer, Answer("<nr>5</nr>", "500 Internal Server Error")}},
        {"not found", {Action::Answer, Answer("<nr>5</nr>", "404 Not Found")}},
        {"closed without an answer", {Action::Close, ""}},
        {"never answers", {Action::Hang, ""}},
        {"answer over the bound, announced", {Action::Answer, Answer("<nr>5</nr>" + tooLong)}},
        {"answer over the bound, unannounced",
         {Action::Answer, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\n\r\n<nr>5</nr>" + tooLong}},
        {"broken transfer", {Action::Answer, "HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\n<nr>5</nr>"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        alarms::TheEventLog().ClearRows();
        const LocalGateway::Reply reply = c.reply;
        LocalGateway gateway([reply](const HttpRequest&, size_t) { return reply; });
        ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
        // A short limit of the test's own, so the hung case takes a second.
        RunOne(Job(), 1000ms);
        EXPECT_EQ(gateway.RequestCount(), 1u);
        EXPECT_EQ(LogRows(), std::vector<std::string>{kNoServer});
        EXPECT_EQ(stamp.Get(), TimeStamp::Never);
    }

    alarms::TheEventLog().ClearRows();
    ScopedEnv refused("OCULARA_SMS_GATEWAY", "127.0.0.1:" + std::to_string(UnusedPort()));
    RunOne(Job());
    EXPECT_EQ(LogRows(), std::vector<std::string>{kNoServer});
    EXPECT_EQ(stamp.Get(), TimeStamp::Never);
}

// Five bytes a second pass every minimum-speed test; only a deadline for
// the whole exchange frees the channel before the gateway is done.
TEST_F(SmsWorkerTest, AGatewayDrippingItsAnswerRunsIntoTheDeadline) {
    LocalGateway::Reply drip{LocalGateway::Action::Drip, Answer("<nr>95</nr>"), 0ms, 200ms};
    LocalGateway gateway([drip](const HttpRequest&, size_t) { return drip; });
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());

    RunOne(Job(), HttpClient::kDefaultTimeLimit, 1000ms);

    EXPECT_EQ(LogRows(), std::vector<std::string>{kNoServer});
    EXPECT_EQ(stamp.Get(), TimeStamp::Never);
    EXPECT_TRUE(gateway.WaitForDripEnd()) << "the client waited for the whole drip";
}

TEST_F(SmsWorkerTest, AnAnswerOfExactlyTheBoundIsRead) {
    std::string body = "<nr>95</nr>";
    body.resize(HttpClient::kMaxAnswerBytes, ' ');
    LocalGateway gateway(Always(Answer(body)));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    RunOne(Job());
    EXPECT_EQ(LogRows(), std::vector<std::string>{kSent95});
}

TEST_F(SmsWorkerTest, RedirectsAreFollowedAndCookiesKeptForTheClientsLife) {
    LocalGateway* self = nullptr;
    LocalGateway gateway([&self](const HttpRequest& r, size_t) {
        if (r.target.rfind("/sms/send.php?", 0) == 0 && r.Header("cookie").empty())
            return LocalGateway::Reply{
                LocalGateway::Action::Answer,
                Answer("", "302 Found",
                       "Set-Cookie: sessione=abc123; Path=/\r\nLocation: http://" + self->Address() +
                           "/sms/esito.php\r\n")};
        return LocalGateway::Reply{LocalGateway::Action::Answer, Answer("<nr>95</nr>")};
    });
    self = &gateway;
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());

    ThreadSMS worker(smsTag, mailTag, stamp);
    worker.Start(Job());
    worker.WaitIdle();
    worker.Start(Job());
    worker.WaitIdle();

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("cookie"), "");
    EXPECT_EQ(requests[1].target, "/sms/esito.php");
    EXPECT_EQ(requests[1].Header("cookie"), "sessione=abc123");
    EXPECT_EQ(requests[2].target.rfind("/sms/send.php?az=1&", 0), 0u);
    EXPECT_EQ(requests[2].Header("cookie"), "sessione=abc123");
    EXPECT_EQ(LogRows(), (std::vector<std::string>{kSent95, kSent95}));
}

TEST_F(SmsWorkerTest, AStartDuringARunIsRunAfterItAndTheMarkClearsLast) {
    std::atomic<bool> release{false};
    std::atomic<int> tagDuringSecond{-1};
    LocalGateway gateway([&](const HttpRequest& r, size_t) {
        const bool first = r.target.find("txt=primo") != std::string::npos;
        // The first request waits until the second start has been made.
        while (first && !release) std::this_thread::sleep_for(5ms);
        if (!first) tagDuringSecond = smsTag.load();
        const std::string nr = first ? "2" : "1";
        return LocalGateway::Reply{LocalGateway::Action::Answer, Answer("<nr>" + nr + "</nr>")};
    });
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());

    ThreadSMS worker(smsTag, mailTag, stamp);
    worker.Start(Job(SmsSettings(), "primo"));
    while (gateway.RequestCount() == 0) std::this_thread::sleep_for(5ms);
    EXPECT_EQ(smsTag, 1);
    worker.Start(Job(SmsSettings(), "secondo"));
    release = true;
    worker.WaitIdle();

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].target.find("&txt=primo"), std::string::npos);
    EXPECT_NE(requests[1].target.find("&txt=secondo"), std::string::npos);
    EXPECT_EQ(LogRows(),
              (std::vector<std::string>{"6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS, SMS rimanenti: 2",
                                        "6|15/3/24 10:42:07|Allarme|Inviata notifica tramite SMS, SMS rimanenti: 1"}));
    // The first run's end left the mark alone: the second was already queued.
    EXPECT_EQ(tagDuringSecond, 1);
    EXPECT_EQ(smsTag, 0);
}

TEST_F(SmsWorkerTest, TimerSnapshotsSettingsTextAndIdentifier) {
    // The answer waits until the mark has been read, or a quick run clears it first.
    std::atomic<bool> release{false};
    LocalGateway gateway([&](const HttpRequest&, size_t) {
        while (!release) std::this_thread::sleep_for(5ms);
        return LocalGateway::Reply{LocalGateway::Action::Answer, Answer("<nr>95</nr>")};
    });
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    const TSettings savedSettings = Settings;
    const std::string savedText = alarms::TestoSMS;
    const std::string savedId = IdentificativoPC;
    Settings.SMS_UserName = "mario";
    Settings.SMS_Password = "pw";
    Settings.SMS_NumeroCellulare = "333";
    Settings.SMS_OraUltimoInvio.Set(TimeStamp::Never);
    alarms::TestoSMS = "Allarme casa";
    IdentificativoPC = "CAFE0123";
    std::string target;
    std::string stamped;
    {
        ThreadSMS worker(smsTag, mailTag, Settings.SMS_OraUltimoInvio);
        InviaSMS_TimerTimer(worker);
        EXPECT_EQ(smsTag, 1);
        // The dispatcher may compose the next text once the run has its copy.
        alarms::TestoSMS = "altro";
        Settings.SMS_UserName = "altro";
        release = true;
        worker.WaitIdle();
        stamped = Settings.SMS_OraUltimoInvio.Get();
    }
    Settings = savedSettings;
    alarms::TestoSMS = savedText;
    IdentificativoPC = savedId;

    ASSERT_EQ(gateway.RequestCount(), 1u);
    EXPECT_EQ(gateway.Requests()[0].target,
              "/sms/send.php?az=1&idpc=CAFE0123&numserie=&un=mario&pwd=pw&ver=2.0&dest=333&txt=Allarme+casa");
    EXPECT_EQ(stamped, kStampNow);
    EXPECT_EQ(smsTag, 0);
}

TEST_F(SmsWorkerTest, DialUpIsAnnouncedBeforeTheExchange) {
    LocalGateway gateway(Always(Answer("<nr>95</nr>")));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    TSettings s = SmsSettings();
    s.Conn_AttivaConnessione = true;
    s.Conn_Disconnetti = true;
    RunOne(Job(s));
    EXPECT_EQ(LogRows(), (std::vector<std::string>{
                             "10|15/3/24 10:42:07|Connessione|Attivazione connessione ad Internet in corso ...",
                             kSent95}));
}

TEST_F(SmsWorkerTest, ClosingCutsAHungExchangeShortWithoutAnEntry) {
    LocalGateway gateway([](const HttpRequest&, size_t) { return LocalGateway::Reply{LocalGateway::Action::Hang, "", 0ms}; });
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    {
        ThreadSMS worker(smsTag, mailTag, stamp);  // the program's own 60 s limit
        worker.Start(Job());
        worker.Start(Job());  // never begun
        while (gateway.RequestCount() == 0) std::this_thread::sleep_for(5ms);
    }
    EXPECT_EQ(gateway.RequestCount(), 1u);
    EXPECT_EQ(LogRows(), std::vector<std::string>{});
    EXPECT_EQ(smsTag, 0);
}

TEST_F(SmsWorkerTest, ThroughTinyproxyWithAndWithoutCredentials) {
    testsupport::TempDir dir;
    Tinyproxy proxy(dir, "utente", "chiave");
    if (!proxy.Installed()) GTEST_SKIP() << "tinyproxy is not installed; the proxy cases are skipped";
    ASSERT_TRUE(proxy.Ready()) << testsupport::ReadFile(dir / "tinyproxy.log");

    LocalGateway gateway(Always(Answer("<nr>95</nr>")));
    ScopedEnv env("OCULARA_SMS_GATEWAY", gateway.Address());
    ThreadSMS worker(smsTag, mailTag, stamp);
    auto runRows = [&](const TSettings& s) {
        alarms::TheEventLog().ClearRows();
        worker.Start(Job(s));
        worker.WaitIdle();
        return LogRows();
    };

    TSettings s = SmsSettings();
    s.Conn_UsaProxy = true;
    s.Conn_ProxyServer = "127.0.0.1";
    s.Conn_ProxyPorta = std::to_string(proxy.Port());
    s.Conn_ProxyAuth = true;
    s.Conn_ProxyUsername = "utente";
    s.Conn_ProxyPassword = "chiave";
    EXPECT_EQ(runRows(s), std::vector<std::string>{kSent95});
    ASSERT_EQ(gateway.RequestCount(), 1u);
    const HttpRequest proxied = gateway.Requests()[0];
    EXPECT_NE(proxied.Header("via").find("tinyproxy"), std::string::npos);
    EXPECT_EQ(proxied.target,
              "/sms/send.php?az=1&idpc=0A1B2C3D&numserie=SN-1&un=mario&pwd=se&gre%to&ver=2.0"
              "&dest=3331234567&txt=Prova");
    EXPECT_EQ(proxied.Header("user-agent"), HttpClient::kUserAgent);
    EXPECT_EQ(proxied.Header("accept"), "text/html, */*");

    // No credentials now, though the last request through the same client had them.
    s.Conn_ProxyAuth = false;
    EXPECT_EQ(runRows(s), std::vector<std::string>{kNoServer});
    s.Conn_ProxyAuth = true;
    s.Conn_ProxyPassword = "sbagliata";
    EXPECT_EQ(runRows(s), std::vector<std::string>{kNoServer});
    EXPECT_EQ(gateway.RequestCount(), 1u);

    // Proxy switched off: direct again.
    s.Conn_UsaProxy = false;
    EXPECT_EQ(runRows(s), std::vector<std::string>{kSent95});
    ASSERT_EQ(gateway.RequestCount(), 2u);
    EXPECT_FALSE(gateway.Requests()[1].Has("via"));
    EXPECT_FALSE(gateway.Requests()[1].Has("proxy-authorization"));
}
