// The real program on the test devices, offscreen, with SMS and e-mail
// switched on: an intruder of the test scene reaches a gateway and a mail
// server on 127.0.0.1, directly, through tinyproxy, and with dial-up on.

#include "ProgramRunner.h"
#include "support/LocalGateway.h"
#include "support/MailTestSupport.h"
#include "support/SmtpRecorder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using integration::ProgramRunner;
using testsupport::HttpRequest;
using testsupport::LocalGateway;
using testsupport::PathExists;
using testsupport::ReadFile;

namespace {

constexpr const char* kSmsSent = "Inviata notifica tramite SMS, SMS rimanenti: 42";
constexpr const char* kMailSent = "Inviata notifica tramite posta elettronica.";
constexpr const char* kDialling = "Attivazione connessione ad Internet in corso ...";
const std::string kGatewayAnswer = testsupport::Answer("<err></err><nr>42</nr><msg>Benvenuto</msg>");

using Values = std::vector<std::pair<std::string, std::string>>;

// Monitoring by itself, the alarm sound off (it would deafen the noise
// detector), SMS and e-mail to the peers of the test.
Values NotifyValues(bool mail) {
    Values v{{"AvviaMonitoraggio", "1"},      {"Allarme_Sonoro", "0"},
             {"Allarme_SMS", "1"},            {"SMS_NumeroCellulare", "3331234567"},
             {"SMS_UserName", "mario"},       {"SMS_Password", "segreto"},
             {"Allarme_Mail", mail ? "1" : "0"}};
    if (mail) {
        v.insert(v.end(), {{"Mail_Indirizzo", "io@example.invalid"},
                           {"Mail_ServerSMTP", "127.0.0.1"},
                           {"Mail_AllegaFoto", "1"}});
    }
    return v;
}

void WriteHive(const ProgramRunner& program, const Values& values) {
    std::filesystem::create_directories(std::filesystem::path(program.HivePath()).parent_path());
    std::string text =
        "Windows Registry Editor Version 5.00\n\n"
        "[HKEY_CURRENT_USER\\Software\\Brevant\\OCL]\n";
    for (const auto& [name, data] : values) text += "\"" + name + "\"=\"" + data + "\"\n";
    testsupport::WriteFile(program.HivePath(), text);
}

// The text of a query value as the gateway reads it: "+" a blank, %XX a byte.
std::string UrlDecode(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '+') {
            out += ' ';
        } else if (s[i] == '%' && i + 2 < s.size()) {
            out += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

// The request of an intruder's SMS: the query in its order with the
// settings' values, and the text of a movement or noise alarm.
void ExpectAlarmSms(const HttpRequest& r) {
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.version, "HTTP/1.0");
    static const std::regex query(
        "/sms/send\\.php\\?az=1&idpc=[0-9A-F]{8}&numserie=[^&]*&un=mario&pwd=segreto&ver=2\\.0"
        "&dest=3331234567&txt=([^&]*)");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(r.target, m, query)) << r.target;
    static const std::regex text(
        "Alle \\d\\d:\\d\\d:\\d\\d del \\d\\d/\\d\\d/\\d{4} Oculara ha rilevato \\d+ "
        "(movimenti sospetti|movimento sospetto|rumori sospetti|rumore sospetto)");
    const std::string txt = UrlDecode(m[1].str());
    EXPECT_TRUE(std::regex_match(txt, text)) << txt;
}

// The one alarm e-mail: the dialogue from RSET on (after `opening` commands
// of greeting, TLS and login), the headers, the body and the frame.
void ExpectAlarmMail(const testsupport::AiosmtpdServer& smtp, size_t opening = 1) {
    const auto commands = smtp.Commands();
    ASSERT_EQ(commands.size(), opening + 5) << smtp.log();
    EXPECT_EQ(commands[0].rfind("EHLO ", 0), 0u);
    EXPECT_EQ(std::vector<std::string>(commands.begin() + opening, commands.end()),
              (std::vector<std::string>{"RSET", "MAIL FROM:<io@example.invalid>", "RCPT TO:<io@example.invalid>",
                                        "DATA", "QUIT"}));
    const auto mime = mailtest::ParseMime(smtp.Message(0));
    const std::string subject = mime.Header("Subject");
    EXPECT_TRUE(subject == "Movimenti sospetti" || subject == "Rumori sospetti") << subject;
    EXPECT_EQ(mime.Header("From"), "io@example.invalid");
    EXPECT_EQ(mime.Header("To"), "io@example.invalid");
    EXPECT_EQ(mime.Header("X-Mailer"), "OCL");
    const auto parts = mailtest::MultipartParts(mime.body, mailtest::BoundaryOf(mime.Header("Content-Type")));
    ASSERT_EQ(parts.size(), 2u) << mime.Header("Content-Type");
    const std::string body = mailtest::QpDecode(mailtest::ParseMime(parts[0]).body);
    static const std::regex text(
        "Alle \\d\\d:\\d\\d:\\d\\d del \\d\\d/\\d\\d/\\d{4} Oculara ha rilevato "
        "(un movimento sospetto|\\d+ movimenti sospetti|un rumore sospetto|\\d+ rumori sospetti)\\.\r\n"
        "\r\nAllegati: foto scattata alle \\d\\d:\\d\\d:\\d\\d\r\n");
    EXPECT_TRUE(std::regex_match(body, text)) << body;
    const auto photo = mailtest::ParseMime(parts[1]);
    EXPECT_EQ(photo.Header("Content-Disposition"), "attachment; filename=\"OCL0.jpg\"");
    const auto jpeg = mailtest::DecodeJpeg(mailtest::Base64Decode(photo.body));
    ASSERT_TRUE(jpeg) << "the attachment is not a whole JPEG";
    EXPECT_EQ(jpeg->width, 352);
    EXPECT_EQ(jpeg->height, 288);
    EXPECT_EQ(jpeg->components, 3);
}

// Seconds of the day of the log rows whose type names `kind`.
std::vector<int> EventSeconds(const std::string& log, const std::string& kind) {
    std::vector<int> seconds;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const size_t tab = line.find('\t');
        if (tab == std::string::npos || line.find(kind + "\t", tab) == std::string::npos) continue;
        int h = 0, m = 0, s = 0;
        if (std::sscanf(line.substr(line.find(' ') + 1, 8).c_str(), "%d:%d:%d", &h, &m, &s) == 3)
            seconds.push_back(h * 3600 + m * 60 + s);
    }
    return seconds;
}

size_t Occurrences(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class ProgramNotify : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(tmp_);
        program_.env["TMPDIR"] = tmp_;
        program_.env["OCULARA_TEST_INTRUDER_SECONDS"] = "25";
    }

    std::string Log() const { return ReadFile(program_.LogPath()); }
    bool LogHas(const std::string& text) const { return Log().find(text) != std::string::npos; }

    // No temporary photo outlives its e-mail.
    void ExpectNoTemporaryPhoto() const {
        for (const auto& e : std::filesystem::directory_iterator(tmp_))
            if (e.path().filename().string().rfind("OCL", 0) == 0) ADD_FAILURE() << "left behind: " << e.path();
    }

    void StopCleanly() {
        ASSERT_TRUE(program_.Stop(SIGTERM)) << "no end within the limit after SIGTERM";
        EXPECT_TRUE(WIFEXITED(program_.ExitStatus())) << "status " << program_.ExitStatus();
        EXPECT_EQ(WEXITSTATUS(program_.ExitStatus()), 0);
    }

    testsupport::TempDir home_;
    ProgramRunner program_{home_.path()};
    std::string tmp_ = home_ / "tmp";
};

}  // namespace

TEST_F(ProgramNotify, AnIntruderGivesOneSmsAndOneMailWithTheFrame) {
    REQUIRE_AIOSMTPD(smtp);
    LocalGateway gateway(testsupport::Always(kGatewayAnswer));
    program_.env["OCULARA_SMS_GATEWAY"] = gateway.Address();
    program_.env["OCULARA_SMTP_PORT"] = std::to_string(smtp.port());
    WriteHive(program_, NotifyValues(/*mail=*/true));
    program_.Start();

    // Monitoring within ~20 s, the first intruder at 25 s.
    const bool sent = integration::WaitFor(
        [&] { return gateway.RequestCount() >= 1 && smtp.MessageCount() >= 1 && LogHas(kSmsSent) && LogHas(kMailSent); },
        60s);
    ASSERT_TRUE(sent) << Log() << smtp.log();
    // The second intruder (50 s) comes within the five minutes of both
    // channels: nothing more goes out for it.
    const bool second = integration::WaitFor(
        [&] {
            const auto s = EventSeconds(Log(), "movimenti sospetti");
            return !s.empty() && (s.back() - s.front() + 86400) % 86400 >= 20;
        },
        40s);
    std::this_thread::sleep_for(3s);
    const std::string log = Log();
    EXPECT_TRUE(second) << log;

    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 1u);
    ExpectAlarmSms(requests[0]);
    EXPECT_EQ(requests[0].Header("host"), gateway.Address());
    EXPECT_FALSE(requests[0].Has("via"));
    EXPECT_EQ(smtp.MessageCount(), 1);
    ExpectAlarmMail(smtp);
    EXPECT_EQ(Occurrences(log, kSmsSent), 1u) << log;
    EXPECT_EQ(Occurrences(log, kMailSent), 1u) << log;
    EXPECT_NE(log.find("\tInformazione\tBenvenuto\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Errore"), std::string::npos) << log;
    ExpectNoTemporaryPhoto();
    StopCleanly();
}

TEST_F(ProgramNotify, ARefusedMailIsExplainedInTheRowAfterTheFailure) {
    REQUIRE_AIOSMTPD(smtp, "550 5.7.1 Relaying denied");
    LocalGateway gateway(testsupport::Always(kGatewayAnswer));
    program_.env["OCULARA_SMS_GATEWAY"] = gateway.Address();
    program_.env["OCULARA_SMTP_PORT"] = std::to_string(smtp.port());
    WriteHive(program_, NotifyValues(/*mail=*/true));
    program_.Start();

    const std::string failed =
        "\tErrore\tImpossibile inviare la mail. Impossibile stabilire la connessione con il server di posta in "
        "uscita!\r\n";
    const std::string detail = "\tErrore\tDettaglio dell'errore: RCPT refused: 550 5.7.1 Relaying denied\r\n";
    const bool logged = integration::WaitFor([&] { return LogHas(detail) && LogHas(kSmsSent); }, 60s);
    const std::string log = Log();
    ASSERT_TRUE(logged) << log << smtp.log();
    // The failure row as ever, and right after it, stamped alike, the reason.
    const size_t at = log.find(failed);
    ASSERT_NE(at, std::string::npos) << log;
    const size_t lineStart = log.rfind('\n', at) + 1;
    const std::string stamp = log.substr(lineStart, at - lineStart);
    EXPECT_EQ(log.find(stamp + detail), at + failed.size()) << log;
    EXPECT_EQ(smtp.MessageCount(), 0);
    EXPECT_EQ(Log().find(kMailSent), std::string::npos);
    ExpectNoTemporaryPhoto();
    StopCleanly();
}

TEST_F(ProgramNotify, TheMailGoesThroughStartTlsAndALoginAsTheSettingsSay) {
    testsupport::TestAuthority authority;
    ASSERT_TRUE(authority.Issue("localhost", {"localhost"})) << authority.error();
    REQUIRE_AIOSMTPD(smtp, "",
                     {"--tls", "starttls", "--cert", authority.Cert("localhost"), "--key", authority.Key("localhost"),
                      "--login", "io:app-password"});
    program_.env["SSL_CERT_FILE"] = authority.CaFile();
    Values values = NotifyValues(/*mail=*/true);
    for (auto& [name, data] : values) {
        if (name == "Allarme_SMS") data = "0";
        if (name == "Mail_ServerSMTP") data = "localhost";
    }
    values.insert(values.end(), {{"Mail_Porta", std::to_string(smtp.port())},
                                 {"Mail_Sicurezza", "1"},
                                 {"Mail_Utente", "io"},
                                 {"Mail_PasswordSMTP", "app-password"}});
    WriteHive(program_, values);
    program_.Start();

    const bool sent = integration::WaitFor([&] { return smtp.MessageCount() >= 1 && LogHas(kMailSent); }, 60s);
    ASSERT_TRUE(sent) << Log() << smtp.log();
    ExpectAlarmMail(smtp, 4);
    const auto commands = smtp.Commands();
    EXPECT_EQ(commands[1], "STARTTLS");
    EXPECT_EQ(commands[3], "AUTH PLAIN io accepted");
    ExpectNoTemporaryPhoto();
    StopCleanly();
}

TEST_F(ProgramNotify, ThroughTinyproxyWithBasicAuthentication) {
    testsupport::TempDir proxyDir;
    testsupport::Tinyproxy proxy(proxyDir, "utente", "chiave");
    if (!proxy.Installed()) GTEST_SKIP() << "tinyproxy is not installed";
    ASSERT_TRUE(proxy.Ready()) << ReadFile(proxyDir / "tinyproxy.log");
    LocalGateway gateway(testsupport::Always(kGatewayAnswer));
    program_.env["OCULARA_SMS_GATEWAY"] = gateway.Address();
    Values values = NotifyValues(/*mail=*/false);
    values.insert(values.end(), {{"Conn_UsaProxy", "1"},
                                 {"Conn_ProxyServer", "127.0.0.1"},
                                 {"Conn_ProxyPorta", std::to_string(proxy.Port())},
                                 {"Conn_ProxyAuth", "1"},
                                 {"Conn_ProxyUsername", "utente"},
                                 {"Conn_ProxyPassword", "chiave"}});
    WriteHive(program_, values);
    program_.Start();

    const bool sent = integration::WaitFor([&] { return gateway.RequestCount() >= 1 && LogHas(kSmsSent); }, 60s);
    ASSERT_TRUE(sent) << Log() << ReadFile(proxyDir / "tinyproxy.log");
    const auto requests = gateway.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].Header("via").find("tinyproxy"), std::string::npos)
        << "the request did not come through the proxy";
    ExpectAlarmSms(requests[0]);
    EXPECT_EQ(Log().find("Errore"), std::string::npos) << Log();
    StopCleanly();
}

TEST_F(ProgramNotify, DialUpIsHungUpOnceByTheWorkerThatEndsLast) {
    REQUIRE_AIOSMTPD(smtp);
    const std::string fakebin = home_ / "fakebin";
    const std::string calls = home_ / "nmcli.log";
    const std::string smsAnswered = home_ / "sms-answered";
    std::filesystem::create_directories(fakebin);
    const std::string up = home_ / "nmcli-up";
    // Every call is logged with what had gone out by then. Like
    // NetworkManager it knows whether the profile (a mobile one) is up.
    testsupport::WriteFile(fakebin + "/nmcli",
                           "#!/bin/sh\n"
                           "sms=no; mail=no\n"
                           "[ -e " + smsAnswered + " ] && sms=yes\n"
                           "[ -e " + smtp.folder() + "/envelope0.json ] && mail=yes\n"
                           "echo \"$* | sms=$sms mail=$mail\" >> " + calls + "\n"
                           "case \"$*\" in\n"
                           "  *'connection show --active') [ -e " + up + " ] && echo Prova ;;\n"
                           "  *'connection.type connection show id '*) echo gsm ;;\n"
                           "  *'connection up id '*) : > " + up + " ;;\n"
                           "  *'connection down id '*) rm -f " + up + " ;;\n"
                           "esac\n"
                           "exit 0\n");
    ASSERT_EQ(chmod((fakebin + "/nmcli").c_str(), 0755), 0);

    // The gateway answers after 2 s, so the e-mail ends while the SMS is
    // still under way and the SMS worker is the one to hang up.
    LocalGateway gateway([&](const HttpRequest&, size_t) {
        std::this_thread::sleep_for(2s);
        testsupport::WriteFile(smsAnswered, "");
        return LocalGateway::Reply{LocalGateway::Action::Answer, kGatewayAnswer};
    });
    const char* path = std::getenv("PATH");
    program_.env["PATH"] = fakebin + ":" + (path ? path : "/usr/bin:/bin");
    program_.env["OCULARA_SMS_GATEWAY"] = gateway.Address();
    program_.env["OCULARA_SMTP_PORT"] = std::to_string(smtp.port());
    Values values = NotifyValues(/*mail=*/true);
    values.insert(values.end(),
                  {{"Conn_AttivaConnessione", "1"}, {"Conn_NomeConnessione", "Prova"}, {"Conn_Disconnetti", "1"},
                   {"Conn_Username", "mario"}});
    WriteHive(program_, values);
    program_.Start();

    const bool done = integration::WaitFor(
        [&] { return LogHas(kSmsSent) && LogHas(kMailSent) && ReadFile(calls).find("connection down") != std::string::npos; },
        60s);
    ASSERT_TRUE(done) << Log() << ReadFile(calls);
    std::this_thread::sleep_for(3s);  // room for a second, wrong hang-up

    const std::string log = Log();
    EXPECT_NE(log.find("\tConnessione\t" + std::string(kDialling) + "\r\n"), std::string::npos) << log;
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(calls));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    size_t ups = 0, userNames = 0;
    std::vector<std::string> downs;
    for (const auto& line : lines) {
        userNames += line.find("connection modify --temporary id Prova gsm.username mario |") != std::string::npos;
        if (line.find("connection up id Prova") != std::string::npos) {
            ++ups;
            EXPECT_TRUE(downs.empty()) << "dialled after the hang-up: " << line;
        }
        if (line.find("connection down") != std::string::npos) downs.push_back(line);
    }
    // Both workers dial; the second finds the line up and leaves it be.
    EXPECT_EQ(ups, 1u) << ReadFile(calls);
    EXPECT_EQ(userNames, 1u) << ReadFile(calls);
    ASSERT_EQ(downs.size(), 1u) << ReadFile(calls);
    EXPECT_NE(downs[0].find("connection down id Prova | sms=yes mail=yes"), std::string::npos)
        << "hung up before both went out: " << downs[0];
    EXPECT_EQ(gateway.RequestCount(), 1u);
    EXPECT_EQ(smtp.MessageCount(), 1);
    EXPECT_EQ(log.find("Errore"), std::string::npos) << log;
    ExpectNoTemporaryPhoto();
    StopCleanly();
}
