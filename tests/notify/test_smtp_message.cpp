#include "notify/Smtp.h"
#include "support/TestSupport.h"
#include "support/MailTestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <optional>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace notify;
using mailtest::Base64Decode;
using mailtest::ParseMime;
using mailtest::QpDecode;

namespace {

MessageStamp FixedStamp() {
    return {"Thu, 01 Feb 2024 10:00:00 +0100", "<1.2.abc@example.org>", "=_OCL_test"};
}

MailMessage TextOnly() {
    MailMessage m;
    m.address = "casa@example.org";
    m.subject = "Movimenti sospetti";
    m.body = "Alle 10:00:00 del 01/02/2024 Oculara ha rilevato 3 movimenti sospetti.\r\n";
    return m;
}

}  // namespace

TEST(SmtpMessage, TextOnlyMessageHasTheHeadersAndOneQuotedPrintablePart) {
    MailMessage m = TextOnly();
    m.body = "Attività sospetta: caffè = 2€\r\nseconda riga \r\n";
    const auto raw = ComposeMessage(m, FixedStamp());
    ASSERT_TRUE(raw);
    EXPECT_TRUE(mailtest::EveryLineEndsWithCrlf(*raw));
    for (unsigned char c : *raw) ASSERT_LT(c, 0x80) << "the wire text must be 7-bit";

    const auto mime = ParseMime(*raw);
    EXPECT_EQ(mime.Header("From"), "casa@example.org");
    EXPECT_EQ(mime.Header("Reply-To"), "casa@example.org");
    EXPECT_EQ(mime.Header("To"), "casa@example.org");
    EXPECT_EQ(mime.Header("Subject"), "Movimenti sospetti");
    EXPECT_EQ(mime.Header("X-Mailer"), "OCL");
    EXPECT_EQ(mime.Header("Date"), "Thu, 01 Feb 2024 10:00:00 +0100");
    EXPECT_EQ(mime.Header("Message-ID"), "<1.2.abc@example.org>");
    EXPECT_EQ(mime.Header("MIME-Version"), "1.0");
    EXPECT_EQ(mime.Header("Content-Type"), "text/plain; charset=\"utf-8\"");
    EXPECT_EQ(mime.Header("Content-Transfer-Encoding"), "quoted-printable");
    for (const char* once : {"From", "To", "Subject", "Date", "Content-Type"}) EXPECT_EQ(mime.Count(once), 1) << once;
    EXPECT_EQ(mime.Count("Cc") + mime.Count("Bcc") + mime.Count("Disposition-Notification-To"), 0);
    // The trailing blank must survive transport: it is encoded.
    EXPECT_NE(mime.body.find("riga=20\r\n"), std::string::npos);
    EXPECT_EQ(QpDecode(mime.body), m.body);
}

TEST(SmtpMessage, PhotoMakesAMultipartWithTheBodyThenTheBase64Jpeg) {
    MailMessage m = TextOnly();
    m.attachmentName = "OCL0.jpg";
    for (int i = 0; i < 1000; ++i) m.attachment.push_back(uint8_t(i * 37));
    const auto raw = ComposeMessage(m, FixedStamp());
    ASSERT_TRUE(raw);
    EXPECT_TRUE(mailtest::EveryLineEndsWithCrlf(*raw));

    const auto mime = ParseMime(*raw);
    EXPECT_EQ(mime.Header("Content-Type"), "multipart/mixed; boundary=\"=_OCL_test\"");
    EXPECT_EQ(mime.Header("X-Mailer"), "OCL");
    const auto parts = mailtest::MultipartParts(mime.body, "=_OCL_test");
    ASSERT_EQ(parts.size(), 2u);

    const auto text = ParseMime(parts[0]);
    EXPECT_EQ(text.Header("Content-Type"), "text/plain; charset=\"utf-8\"");
    EXPECT_EQ(QpDecode(text.body), m.body);

    const auto photo = ParseMime(parts[1]);
    EXPECT_EQ(photo.Header("Content-Type"), "image/jpeg; name=\"OCL0.jpg\"");
    EXPECT_EQ(photo.Header("Content-Transfer-Encoding"), "base64");
    EXPECT_EQ(photo.Header("Content-Disposition"), "attachment; filename=\"OCL0.jpg\"");
    EXPECT_EQ(Base64Decode(photo.body), m.attachment);
}

TEST(SmtpMessage, Base64LinesAreSeventySixCharactersAndPadded) {
    for (size_t size : {0u, 1u, 2u, 3u, 56u, 57u, 58u, 200u}) {
        std::vector<uint8_t> bytes;
        for (size_t i = 0; i < size; ++i) bytes.push_back(uint8_t(255 - i * 7));
        const std::string b64 = Base64Lines(bytes);
        EXPECT_EQ(Base64Decode(b64), bytes) << size;
        size_t start = 0, chars = 0;
        while (start < b64.size()) {
            const size_t eol = b64.find("\r\n", start);
            ASSERT_NE(eol, std::string::npos);
            const size_t len = eol - start;
            chars += len;
            if (eol + 2 < b64.size()) {
                EXPECT_EQ(len, 76u) << size;  // all but the last are full
            }
            EXPECT_LE(len, 76u);
            start = eol + 2;
        }
        EXPECT_EQ(chars, (size + 2) / 3 * 4) << "padded to whole quads, size " << size;
    }
    EXPECT_EQ(Base64Lines({'M', 'a'}), "TWE=\r\n");
}

TEST(SmtpMessage, QuotedPrintableKeepsLinesShortAndNeverSplitsAnEscape) {
    std::string line;
    for (int i = 0; i < 60; ++i) line += "àb=";
    const std::string qp = QuotedPrintable(line + "\nfine\r");
    size_t start = 0;
    while (start < qp.size()) {
        const size_t eol = qp.find("\r\n", start);
        ASSERT_NE(eol, std::string::npos);
        const std::string l = qp.substr(start, eol - start);
        EXPECT_LE(l.size(), 76u);
        const size_t eq = l.rfind('=');
        if (eq != std::string::npos) {
            EXPECT_TRUE(eq == l.size() - 1 || eq + 3 <= l.size()) << l;
        }
        start = eol + 2;
    }
    EXPECT_EQ(QpDecode(qp), line + "\r\nfine\r\n");  // bare LF and CR became CR LF
}

TEST(SmtpMessage, DotStuffingDoublesEveryLeadingDot) {
    EXPECT_EQ(DotStuff(".\r\n"), "..\r\n");
    EXPECT_EQ(DotStuff("a.b\r\n.x\r\n..y\r\nz.\r\n"), "a.b\r\n..x\r\n...y\r\nz.\r\n");
    // A body line "." must not end the message early once composed.
    MailMessage m = TextOnly();
    m.body = "prima\r\n.\r\n.nascosta\r\n";
    const std::string stuffed = DotStuff(*ComposeMessage(m, FixedStamp()));
    EXPECT_EQ(stuffed.find("\r\n.\r\n"), std::string::npos);
    EXPECT_NE(stuffed.find("\r\n..nascosta\r\n"), std::string::npos);
}

TEST(SmtpMessage, HeaderInjectionIsRefusedNotCleaned) {
    const std::vector<std::string> badAddresses = {
        "", "a@b.it\r\nRCPT TO:<x@y.it>", "a@b.it\n", "a@b.it\rBcc: x", "a b@c.it", "a@b.it>", "<a@b.it", "à@b.it"};
    for (const auto& address : badAddresses) {
        MailMessage m = TextOnly();
        m.address = address;
        EXPECT_FALSE(ComposeMessage(m, FixedStamp())) << address;
        EXPECT_FALSE(IsSafeAddress(address)) << address;
    }
    const std::vector<std::string> badSubjects = {"Rumori\r\nBcc: x@y.it", "Rumori\nX: y", "Rumori\r",
                                                  std::string("a\0b", 3)};
    for (const auto& subject : badSubjects) {
        MailMessage m = TextOnly();
        m.subject = subject;
        EXPECT_FALSE(ComposeMessage(m, FixedStamp()));
    }
    MailMessage m = TextOnly();
    m.attachmentName = "OCL0.jpg\"\r\nX: y";
    m.attachment = {1, 2, 3};
    EXPECT_FALSE(ComposeMessage(m, FixedStamp()));
}

TEST(SmtpMessage, NonAsciiSubjectBecomesEncodedWordsThatDecodeBack) {
    EXPECT_EQ(EncodeHeaderWord("Notifica"), "Notifica");
    std::string subject;
    for (int i = 0; i < 20; ++i) subject += "Attività ";
    const std::string encoded = EncodeHeaderWord(subject);
    std::string decoded;
    size_t pos = 0;
    while ((pos = encoded.find("=?utf-8?B?", pos)) != std::string::npos) {
        const size_t end = encoded.find("?=", pos + 10);
        ASSERT_NE(end, std::string::npos);
        EXPECT_LE(end + 2 - pos, 75u);
        const auto bytes = Base64Decode(encoded.substr(pos + 10, end - pos - 10));
        ASSERT_FALSE(bytes.empty());
        EXPECT_NE(bytes.front() & 0xC0, 0x80) << "a word must not start inside a UTF-8 sequence";
        decoded.append(bytes.begin(), bytes.end());
        pos = end + 2;
    }
    EXPECT_EQ(decoded, subject);
    for (size_t eol = encoded.find("\r\n"); eol != std::string::npos; eol = encoded.find("\r\n", eol + 2))
        EXPECT_EQ(encoded[eol + 2], ' ') << "continuation lines are folded";
}

TEST(SmtpMessage, DateAndStampsAreWellFormed) {
    {
        testsupport::ScopedEnv tz("TZ", "CET-1");
        tzset();
        EXPECT_EQ(RfcDate(0), "Thu, 01 Jan 1970 01:00:00 +0100");
        EXPECT_EQ(RfcDate(1700000000), "Tue, 14 Nov 2023 23:13:20 +0100");
    }
    {
        testsupport::ScopedEnv tz("TZ", "<-0330>3:30");
        tzset();
        EXPECT_EQ(RfcDate(0), "Wed, 31 Dec 1969 20:30:00 -0330");
    }
    tzset();
    const MessageStamp a = NewMessageStamp("casa@example.org");
    const MessageStamp b = NewMessageStamp("casa@example.org");
    EXPECT_NE(a.messageId, b.messageId);
    EXPECT_NE(a.boundary, b.boundary);
    EXPECT_EQ(a.messageId.front(), '<');
    EXPECT_NE(a.messageId.find("@example.org>"), std::string::npos);
    EXPECT_EQ(a.boundary.rfind("=_", 0), 0u);
}

TEST(SmtpMessage, PortComesFromTheTestVariableOnlyWhenValidElseFromTheSetting) {
    const std::vector<std::pair<std::optional<std::string>, uint16_t>> cases = {
        {std::nullopt, 25}, {"2525", 2525}, {"", 25}, {"abc", 25}, {"70000", 25}, {"0", 25}, {"25x", 25}};
    for (const auto& [value, port] : cases) {
        testsupport::ScopedEnv env("OCULARA_SMTP_PORT", value);
        EXPECT_EQ(SmtpPort(), port) << value.value_or("(unset)");
        EXPECT_EQ(SmtpPort(587), value && port != 25 ? port : 587) << value.value_or("(unset)");
    }
    testsupport::ScopedEnv env("OCULARA_SMTP_PORT", std::nullopt);
    for (const int32_t bad : {0, -1, 65536, INT32_MAX}) EXPECT_EQ(SmtpPort(bad), 25) << bad;
    EXPECT_EQ(SmtpPort(65535), 65535);
    EXPECT_EQ(SmtpPort(465), 465);
}

// Replies read from one end of a socket pair, written in pieces from the other.
TEST(SmtpReplies, MultiLineRepliesAreReadWholeAndBadOnesFail) {
    int sv[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
    SmtpConnection c(sv[0], std::chrono::milliseconds(300), -1);
    std::string error;

    std::thread writer([fd = sv[1]] {
        for (const char* piece : {"250-oculara", "-test\r\n250-SIZE 100\r", "\n250 HELP\r\n"}) {
            (void)!write(fd, piece, strlen(piece));
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        const char* more = "220 ready\r\n354 go on\n250-a\r\n251 b\r\nabc\r\n";
        (void)!write(fd, more, strlen(more));
    });
    auto r = c.ReadReply(error);
    ASSERT_TRUE(r) << error;
    EXPECT_EQ(r->code, 250);
    EXPECT_EQ(r->lines, (std::vector<std::string>{"oculara-test", "SIZE 100", "HELP"}));
    writer.join();
    r = c.ReadReply(error);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 220);
    r = c.ReadReply(error);
    ASSERT_TRUE(r) << "a bare LF still ends a line";
    EXPECT_EQ(r->code, 354);
    EXPECT_FALSE(c.ReadReply(error)) << "the code changed inside one reply";
    EXPECT_FALSE(c.ReadReply(error)) << "no code at all";
    EXPECT_FALSE(c.ReadReply(error));
    EXPECT_NE(error.find("time limit"), std::string::npos) << error;

    close(sv[1]);
    EXPECT_FALSE(c.ReadReply(error));
    EXPECT_NE(error.find("closed"), std::string::npos) << error;
    close(sv[0]);
}
