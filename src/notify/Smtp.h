#pragma once
// The e-mail side of the notification transport: a MIME message built as
// plain text, and the fixed SMTP dialogue that delivers it over a POSIX
// socket: in the clear on port 25 by default, or inside TLS (STARTTLS or
// from the first byte) with a login on a submission port.
//
// Body text is UTF-8 and goes out as quoted-printable with charset utf-8:
// 7-bit on the wire, so it passes servers without 8BITMIME and the HELO
// fallback alike, and "à" arrives readable.

#include <chrono>
#include <cstdint>
#include <ctime>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

struct ssl_st;      // OpenSSL's SSL
struct ssl_ctx_st;  // OpenSSL's SSL_CTX

namespace notify {

// ---------------------------------------------------------------- message

struct MailMessage {
    std::string address;  // From, Reply-To and To at once
    std::string subject;  // UTF-8
    std::string body;     // UTF-8, lines ended by CR LF (a bare CR or LF counts as one)
    std::string attachmentName;       // e.g. "OCL0.jpg"; empty: a single text part
    std::vector<uint8_t> attachment;  // JPEG bytes
};

// Values that change with every message; tests fix them.
struct MessageStamp {
    std::string date;       // "Date:" value, RFC 5322
    std::string messageId;  // "Message-ID:" value, with its angle brackets
    std::string boundary;   // multipart boundary
};

// A fresh stamp for a message from `address`, dated now.
MessageStamp NewMessageStamp(const std::string& address);

// "Thu, 01 Feb 2024 10:00:00 +0100" in local time, English names whatever the locale.
std::string RfcDate(std::time_t t);

// True for an address that can stand in "MAIL FROM:<...>" and in a header:
// not empty, printable ASCII without blanks or angle brackets.
bool IsSafeAddress(const std::string& address);
// True for a header value without CR, LF or other control characters (tab allowed).
bool IsSafeHeaderText(const std::string& text);

// The whole message, headers and body, every line ended by CR LF, not yet
// dot-stuffed. nullopt when the address or subject would break the headers
// (CR/LF injection): such a message is refused, never cleaned up.
std::optional<std::string> ComposeMessage(const MailMessage& message, const MessageStamp& stamp);

// Encoders, exposed for the tests.
std::string Base64Lines(const std::vector<uint8_t>& bytes);  // lines of 76, each ended by CR LF
std::string QuotedPrintable(const std::string& text);        // lines at most 76, CR LF
std::string EncodeHeaderWord(const std::string& text);       // RFC 2047 when not plain ASCII
// Lines starting with "." get a second one (the data transparency of RFC 5321, 4.5.2).
std::string DotStuff(const std::string& message);

// ---------------------------------------------------------------- transport

struct SmtpLimits {
    std::chrono::milliseconds connect{60000};  // whole connect, all addresses
    std::chrono::milliseconds reply{60000};    // each reply, and each stalled write
};

// Mail_Sicurezza's meaning on the wire.
enum class SmtpSecurity { None = 0, StartTls = 1, Tls = 2 };

struct SmtpEnvelope {
    std::string host;  // Mail_ServerSMTP: host name or address; the certificate must name it
    uint16_t port = 25;
    std::string from;
    std::vector<std::string> recipients;
    SmtpSecurity security = SmtpSecurity::None;
    std::string user;  // empty: no login
    std::string password;
};

struct SmtpOutcome {
    bool ok = false;
    std::string error;  // what went wrong, for diagnostics; empty on success
};

// OCULARA_SMTP_PORT when it holds a valid port (tests only), else
// `configured` when it is one, else 25.
uint16_t SmtpPort(int32_t configured = 25);

// One complete exchange: connect (TLS at once with SmtpSecurity::Tls), 220
// greeting, EHLO (HELO when EHLO is not answered 250); with StartTls the
// EHLO must offer STARTTLS, and EHLO is sent again inside TLS; a login
// (AUTH PLAIN, or LOGIN when only that is offered) when `user` is set, never
// in the clear; then RSET, MAIL FROM, RCPT TO for each recipient, DATA, the
// dot-stuffed message, ".", QUIT. Success is the 250 after the final ".";
// the reply to QUIT does not matter. The server's certificate is checked
// against the system's trusted authorities (SSL_CERT_FILE / SSL_CERT_DIR
// honoured) and against `host`. Every wait is bounded by `limits`; a
// readable `cancelFd` (-1: none) aborts at the next wait. Never throws.
SmtpOutcome SendMail(const SmtpEnvelope& envelope, const std::string& message,
                     const SmtpLimits& limits = {}, int cancelFd = -1);

// A parsed reply: code and the text of each line.
struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;
};

// One SMTP line over `fd`, in the clear or, after StartTls, inside TLS:
// replies read whole ("250-..." up to "250 ...") with one deadline for all
// of a reply. Exposed for the tests.
class SmtpConnection {
public:
    SmtpConnection(int fd, std::chrono::milliseconds replyLimit, int cancelFd);
    ~SmtpConnection();
    SmtpConnection(const SmtpConnection&) = delete;
    SmtpConnection& operator=(const SmtpConnection&) = delete;

    std::optional<SmtpReply> ReadReply(std::string& error);
    bool SendAll(const std::string& bytes, std::string& error);
    // SendAll then ReadReply; true when the reply's code is one of `accepted`.
    // A refusal names the command by `label`, or by the line's first word.
    bool Command(const std::string& line, std::initializer_list<int> accepted, SmtpReply& reply,
                 std::string& error, const std::string& label = "");
    // The TLS handshake, the certificate checked against the trusted
    // authorities and `host`. Bytes the server sent ahead of it are refused:
    // they were not protected.
    bool StartTls(const std::string& host, std::string& error);

private:
    enum class Io { Done, WantRead, WantWrite, Closed, Failed };
    // Waits as an Io asks; false with `error` set when the wait did not end ready.
    bool WaitForIo(Io io, std::chrono::steady_clock::time_point deadline, const char* what, std::string& error);
    Io ReadSome(char* data, size_t size, size_t& got, std::string& error);
    Io WriteSome(const char* data, size_t size, size_t& put, std::string& error);
    // What an SSL_read or SSL_write that returned `n` means.
    Io TlsIo(int n, size_t& count, const char* call, std::string& error);
    std::optional<std::string> ReadLine(std::chrono::steady_clock::time_point deadline, std::string& error);

    int fd_;
    std::chrono::milliseconds replyLimit_;
    int cancelFd_;
    std::string buffer_;
    ssl_ctx_st* ctx_ = nullptr;
    ssl_st* ssl_ = nullptr;  // set once the handshake is under way
};

}  // namespace notify
