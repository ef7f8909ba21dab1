#include "notify/Smtp.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <pthread.h>
#include <random>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

namespace notify {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kCrlf = "\r\n";
constexpr size_t kMaxReplyLine = 4096;    // replies are at most 512 by the RFC; be lenient
constexpr size_t kMaxReplyLines = 1000;   // a server that never ends a reply is a failure
constexpr size_t kBase64LineLength = 76;
constexpr size_t kQpLineLength = 76;

bool IsAsciiPrintable(unsigned char c) { return c >= 0x20 && c < 0x7F; }

// Splits on CR LF, a bare CR or a bare LF; a text ending in a line break has
// no empty last line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

std::string Hex2(unsigned char c) {
    static const char* digits = "0123456789ABCDEF";
    return std::string{'=', digits[c >> 4], digits[c & 15]};
}

std::string Base64(const uint8_t* data, size_t size) {
    static const char* table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    size_t i = 0;
    for (; i + 2 < size; i += 3) {
        const uint32_t v = (uint32_t(data[i]) << 16) | (uint32_t(data[i + 1]) << 8) | data[i + 2];
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += table[(v >> 6) & 63];
        out += table[v & 63];
    }
    if (i < size) {
        uint32_t v = uint32_t(data[i]) << 16;
        if (i + 1 < size) v |= uint32_t(data[i + 1]) << 8;
        out += table[(v >> 18) & 63];
        out += table[(v >> 12) & 63];
        out += i + 1 < size ? table[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::string LocalHostName() {
    char buf[256] = {};
    std::string name;
    if (::gethostname(buf, sizeof buf - 1) == 0) {
        for (const char* p = buf; *p; ++p) {
            const unsigned char c = static_cast<unsigned char>(*p);
            if (std::isalnum(c) || c == '-' || c == '.') name += *p;
        }
    }
    return name.empty() ? "localhost" : name;
}

std::string RandomHex(size_t digits) {
    static std::atomic<unsigned> counter{0};
    std::random_device device;
    std::mt19937_64 engine((uint64_t(device()) << 32) ^ device() ^ counter.fetch_add(1));
    static const char* hex = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < digits; ++i) out += hex[engine() & 15];
    return out;
}

bool IsSafeHostName(const std::string& host) {
    if (host.empty()) return false;
    for (unsigned char c : host)
        if (c <= 0x20 || c >= 0x7F) return false;
    return true;
}

std::string TextPartHeaders() {
    return std::string("Content-Type: text/plain; charset=\"utf-8\"") + kCrlf +
           "Content-Transfer-Encoding: quoted-printable" + kCrlf;
}

enum class WaitResult { Ready, TimedOut, Cancelled, Failed };

WaitResult WaitFd(int fd, short events, Clock::time_point deadline, int cancelFd) {
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return WaitResult::TimedOut;
        pollfd fds[2] = {{fd, events, 0}, {cancelFd, POLLIN, 0}};
        const nfds_t count = cancelFd >= 0 ? 2 : 1;
        const int timeout = left.count() > 1000000 ? 1000000 : static_cast<int>(left.count()) + 1;
        const int n = ::poll(fds, count, timeout);
        if (n < 0) {
            if (errno == EINTR) continue;
            return WaitResult::Failed;
        }
        if (n == 0) continue;  // the loop head decides whether time is up
        if (count == 2 && fds[1].revents) return WaitResult::Cancelled;
        if (fds[0].revents & POLLNVAL) return WaitResult::Failed;
        if (fds[0].revents) return WaitResult::Ready;  // errors come out of the next call
    }
}

std::string WaitError(WaitResult r, const char* what) {
    switch (r) {
    case WaitResult::TimedOut: return std::string("time limit reached while ") + what;
    case WaitResult::Cancelled: return "cancelled";
    default: return std::string("wait failed while ") + what;
    }
}

// A connected non-blocking socket, or -1 with `error` set.
int ConnectTo(const std::string& host, uint16_t port, std::chrono::milliseconds limit, int cancelFd,
              std::string& error) {
    const auto deadline = Clock::now() + limit;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* list = nullptr;
    const std::string service = std::to_string(port);
    const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
    if (rc != 0 || !list) {
        error = std::string("cannot resolve ") + host + ": " + ::gai_strerror(rc);
        return -1;
    }
    int connected = -1;
    error = "no address to connect to";
    for (addrinfo* a = list; a && connected < 0; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            continue;
        }
        int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
        if (r != 0 && errno == EINPROGRESS) {
            const WaitResult w = WaitFd(fd, POLLOUT, deadline, cancelFd);
            if (w == WaitResult::Ready) {
                int soError = 0;
                socklen_t len = sizeof soError;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) soError = errno;
                r = soError == 0 ? 0 : -1;
                errno = soError;
            } else {
                error = WaitError(w, "connecting");
                ::close(fd);
                if (w != WaitResult::Failed) break;  // out of time: no point in the next address
                continue;
            }
        }
        if (r == 0) {
            connected = fd;
        } else {
            error = std::string("connect: ") + std::strerror(errno);
            ::close(fd);
        }
    }
    ::freeaddrinfo(list);
    return connected;
}

struct FdCloser {
    int fd;
    ~FdCloser() {
        if (fd >= 0) ::close(fd);
    }
};

}  // namespace

// ---------------------------------------------------------------- message

std::string RfcDate(std::time_t t) {
    static const char* days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm tm{};
    ::localtime_r(&t, &tm);
    long offset = tm.tm_gmtoff / 60;
    const char sign = offset < 0 ? '-' : '+';
    if (offset < 0) offset = -offset;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", days[tm.tm_wday % 7],
                  tm.tm_mday, months[tm.tm_mon % 12], tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  sign, offset / 60, offset % 60);
    return buf;
}

MessageStamp NewMessageStamp(const std::string& address) {
    const std::time_t now = std::time(nullptr);
    MessageStamp stamp;
    stamp.date = RfcDate(now);
    std::string domain;
    const size_t at = address.rfind('@');
    if (at != std::string::npos && IsSafeAddress(address)) domain = address.substr(at + 1);
    if (domain.empty()) domain = LocalHostName();
    stamp.messageId = "<" + std::to_string(static_cast<long long>(now)) + "." + std::to_string(::getpid()) + "." +
                      RandomHex(16) + "@" + domain + ">";
    // "=_" cannot occur in quoted-printable or base64 text, so the boundary
    // never clashes with a part's content.
    stamp.boundary = "=_OCL_" + RandomHex(24);
    return stamp;
}

bool IsSafeAddress(const std::string& address) {
    if (address.empty()) return false;
    for (unsigned char c : address)
        if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>') return false;
    return true;
}

bool IsSafeHeaderText(const std::string& text) {
    for (unsigned char c : text)
        if ((c < 0x20 && c != '\t') || c == 0x7F) return false;
    return true;
}

std::string Base64Lines(const std::vector<uint8_t>& bytes) {
    const std::string all = Base64(bytes.data(), bytes.size());
    std::string out;
    out.reserve(all.size() + all.size() / kBase64LineLength * 2 + 2);
    for (size_t i = 0; i < all.size(); i += kBase64LineLength) {
        out.append(all, i, kBase64LineLength);
        out += kCrlf;
    }
    return out;
}

std::string QuotedPrintable(const std::string& text) {
    std::string out;
    for (const std::string& line : SplitLines(text)) {
        std::string segment;
        for (size_t i = 0; i < line.size(); ++i) {
            const unsigned char c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            std::string piece;
            if ((c >= 33 && c <= 126 && c != '=') || ((c == ' ' || c == '\t') && !last))
                piece = std::string(1, static_cast<char>(c));
            else
                piece = Hex2(c);
            // Room for the "=" of a soft line break.
            if (segment.size() + piece.size() > kQpLineLength - 1) {
                out += segment + "=" + kCrlf;
                segment.clear();
            }
            segment += piece;
        }
        out += segment + kCrlf;
    }
    return out;
}

std::string EncodeHeaderWord(const std::string& text) {
    bool plain = text.size() <= 900 && text.find("=?") == std::string::npos;
    for (unsigned char c : text)
        if (!IsAsciiPrintable(c)) plain = false;
    if (plain) return text;
    // Encoded words of at most 75 characters, never splitting a UTF-8
    // sequence, folded onto continuation lines.
    constexpr size_t kChunk = 45;  // 45 bytes -> 60 base64 characters + 12 of framing
    std::string out;
    size_t i = 0;
    while (i < text.size()) {
        size_t end = std::min(text.size(), i + kChunk);
        while (end < text.size() && end > i + 1 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
        if (!out.empty()) out += "\r\n ";
        out += "=?utf-8?B?" + Base64(reinterpret_cast<const uint8_t*>(text.data()) + i, end - i) + "?=";
        i = end;
    }
    return out;
}

std::string DotStuff(const std::string& message) {
    std::string out;
    out.reserve(message.size() + 16);
    bool lineStart = true;
    for (const char c : message) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::optional<std::string> ComposeMessage(const MailMessage& message, const MessageStamp& stamp) {
    if (!IsSafeAddress(message.address) || !IsSafeHeaderText(message.subject)) return std::nullopt;
    if (!IsSafeHeaderText(stamp.date) || !IsSafeHeaderText(stamp.messageId) || stamp.boundary.empty() ||
        !IsSafeHeaderText(stamp.boundary) || stamp.boundary.find('"') != std::string::npos)
        return std::nullopt;
    const bool withAttachment = !message.attachmentName.empty();
    if (withAttachment && (!IsSafeHeaderText(message.attachmentName) ||
                           message.attachmentName.find_first_of("\"\\") != std::string::npos))
        return std::nullopt;

    std::string out;
    out += "Date: " + stamp.date + kCrlf;
    out += "From: " + message.address + kCrlf;
    out += "Reply-To: " + message.address + kCrlf;
    out += "To: " + message.address + kCrlf;
    out += "Subject: " + EncodeHeaderWord(message.subject) + kCrlf;
    out += "Message-ID: " + stamp.messageId + kCrlf;
    out += std::string("X-Mailer: OCL") + kCrlf;
    out += std::string("MIME-Version: 1.0") + kCrlf;

    const std::string body = QuotedPrintable(message.body);
    if (!withAttachment) {
        out += TextPartHeaders() + kCrlf + body;
        return out;
    }
    const std::string& b = stamp.boundary;
    out += "Content-Type: multipart/mixed; boundary=\"" + b + "\"" + kCrlf;
    out += kCrlf;
    out += std::string("This is a multi-part message in MIME format.") + kCrlf;
    out += kCrlf + std::string("--") + b + kCrlf;
    out += TextPartHeaders() + kCrlf + body;
    // The CR LF before a delimiter belongs to it: one more keeps the body's own line end.
    out += kCrlf + std::string("--") + b + kCrlf;
    out += "Content-Type: image/jpeg; name=\"" + message.attachmentName + "\"" + kCrlf;
    out += std::string("Content-Transfer-Encoding: base64") + kCrlf;
    out += "Content-Disposition: attachment; filename=\"" + message.attachmentName + "\"" + kCrlf;
    out += kCrlf;
    out += Base64Lines(message.attachment);
    out += kCrlf + std::string("--") + b + "--" + kCrlf;
    return out;
}

// ---------------------------------------------------------------- transport

uint16_t SmtpPort(int32_t configured) {
    const uint16_t fallback = configured >= 1 && configured <= 65535 ? static_cast<uint16_t>(configured) : 25;
    const char* text = std::getenv("OCULARA_SMTP_PORT");
    if (!text || !*text) return fallback;
    long value = 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return fallback;
        value = value * 10 + (*p - '0');
        if (value > 65535) return fallback;
    }
    return value == 0 ? fallback : static_cast<uint16_t>(value);
}

namespace {

// SSL_write writes with write(2), which raises SIGPIPE on a line the server
// has closed; the signal is held back on this thread for the call and any
// that it caused is taken off before the mask is restored.
class SigpipeHeld {
public:
    SigpipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
        pthread_sigmask(SIG_BLOCK, &pipe_, &old_);
    }
    ~SigpipeHeld() {
        if (!wasPending_) {
            const timespec zero{0, 0};
            while (sigtimedwait(&pipe_, nullptr, &zero) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &old_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

private:
    sigset_t pipe_{};
    sigset_t old_{};
    bool wasPending_ = false;
};

// The first error OpenSSL queued on this thread, readable; the queue is emptied.
std::string TlsErrorText() {
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0) return "unknown TLS error";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

bool IsAddressLiteral(const std::string& host) {
    unsigned char bytes[16];
    return ::inet_pton(AF_INET, host.c_str(), bytes) == 1 || ::inet_pton(AF_INET6, host.c_str(), bytes) == 1;
}

}  // namespace

SmtpConnection::SmtpConnection(int fd, std::chrono::milliseconds replyLimit, int cancelFd)
    : fd_(fd), replyLimit_(replyLimit), cancelFd_(cancelFd) {}

SmtpConnection::~SmtpConnection() {
    if (ssl_) {
        // One close_notify, not waited for: the line is being dropped anyway.
        SigpipeHeld held;
        ERR_clear_error();
        if (SSL_is_init_finished(ssl_)) (void)SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ERR_clear_error();
    }
    if (ctx_) SSL_CTX_free(ctx_);
}

bool SmtpConnection::WaitForIo(Io io, Clock::time_point deadline, const char* what, std::string& error) {
    const WaitResult w = WaitFd(fd_, io == Io::WantWrite ? POLLOUT : POLLIN, deadline, cancelFd_);
    if (w == WaitResult::Ready) return true;
    error = WaitError(w, what);
    return false;
}

SmtpConnection::Io SmtpConnection::ReadSome(char* data, size_t size, size_t& got, std::string& error) {
    got = 0;
    if (!ssl_) {
        const ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
        if (n > 0) {
            got = static_cast<size_t>(n);
            return Io::Done;
        }
        if (n == 0) return Io::Closed;
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) return Io::WantRead;
        error = std::string("recv: ") + std::strerror(errno);
        return Io::Failed;
    }
    ERR_clear_error();
    return TlsIo(SSL_read(ssl_, data, static_cast<int>(std::min<size_t>(size, INT32_MAX))), got, "recv", error);
}

SmtpConnection::Io SmtpConnection::TlsIo(int n, size_t& count, const char* call, std::string& error) {
    if (n > 0) {
        count = static_cast<size_t>(n);
        return Io::Done;
    }
    switch (SSL_get_error(ssl_, n)) {
    case SSL_ERROR_WANT_READ: return Io::WantRead;
    case SSL_ERROR_WANT_WRITE: return Io::WantWrite;
    case SSL_ERROR_ZERO_RETURN: return Io::Closed;
    case SSL_ERROR_SYSCALL:
        if (errno == 0 || errno == ECONNRESET || errno == EPIPE) return Io::Closed;
        error = std::string(call) + ": " + std::strerror(errno);
        return Io::Failed;
    default:
        error = "TLS: " + TlsErrorText();
        return Io::Failed;
    }
}

SmtpConnection::Io SmtpConnection::WriteSome(const char* data, size_t size, size_t& put, std::string& error) {
    put = 0;
    if (!ssl_) {
        const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            put = static_cast<size_t>(n);
            return Io::Done;
        }
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return Io::WantWrite;
        error = std::string("send: ") + std::strerror(errno);
        return Io::Failed;
    }
    SigpipeHeld held;
    ERR_clear_error();
    return TlsIo(SSL_write(ssl_, data, static_cast<int>(std::min<size_t>(size, INT32_MAX))), put, "send", error);
}

std::optional<std::string> SmtpConnection::ReadLine(Clock::time_point deadline, std::string& error) {
    for (;;) {
        const size_t nl = buffer_.find('\n');
        if (nl != std::string::npos) {
            std::string line = buffer_.substr(0, nl);
            buffer_.erase(0, nl + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (buffer_.size() > kMaxReplyLine) {
            error = "reply line too long";
            return std::nullopt;
        }
        char chunk[2048];
        size_t got = 0;
        const Io io = ReadSome(chunk, sizeof chunk, got, error);
        if (io == Io::Done) {
            buffer_.append(chunk, got);
        } else if (io == Io::Closed) {
            error = "connection closed by the server";
            return std::nullopt;
        } else if (io == Io::Failed || !WaitForIo(io, deadline, "waiting for a reply", error)) {
            return std::nullopt;
        }
    }
}

std::optional<SmtpReply> SmtpConnection::ReadReply(std::string& error) {
    const auto deadline = Clock::now() + replyLimit_;
    SmtpReply reply;
    for (size_t count = 0; count < kMaxReplyLines; ++count) {
        const auto line = ReadLine(deadline, error);
        if (!line) return std::nullopt;
        if (line->size() < 3 || !std::isdigit(static_cast<unsigned char>((*line)[0])) ||
            !std::isdigit(static_cast<unsigned char>((*line)[1])) ||
            !std::isdigit(static_cast<unsigned char>((*line)[2]))) {
            error = "malformed reply: " + *line;
            return std::nullopt;
        }
        const int code = std::atoi(line->substr(0, 3).c_str());
        if (count > 0 && code != reply.code) {
            error = "reply code changed inside a multi-line reply";
            return std::nullopt;
        }
        reply.code = code;
        reply.lines.push_back(line->size() > 4 ? line->substr(4) : "");
        if (line->size() == 3 || (*line)[3] != '-') return reply;
    }
    error = "reply without an end";
    return std::nullopt;
}

bool SmtpConnection::SendAll(const std::string& bytes, std::string& error) {
    size_t done = 0;
    auto deadline = Clock::now() + replyLimit_;
    while (done < bytes.size()) {
        size_t put = 0;
        const Io io = WriteSome(bytes.data() + done, bytes.size() - done, put, error);
        if (io == Io::Done) {
            done += put;
            deadline = Clock::now() + replyLimit_;  // the limit is on a stall, not on the whole message
        } else if (io == Io::Failed || io == Io::Closed || !WaitForIo(io, deadline, "sending", error)) {
            if (io == Io::Closed) error = "connection closed by the server";
            return false;
        }
    }
    return true;
}

bool SmtpConnection::StartTls(const std::string& host, std::string& error) {
    if (!buffer_.empty()) {
        error = "the server sent more than its answer before the TLS handshake";
        return false;
    }
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_) {
        error = "TLS: " + TlsErrorText();
        return false;
    }
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    // The system's authorities, or SSL_CERT_FILE / SSL_CERT_DIR when set.
    if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
        error = "cannot load the trusted certificates: " + TlsErrorText();
        return false;
    }
    SSL_CTX_set_mode(ctx_, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    ssl_ = SSL_new(ctx_);
    if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) {
        error = "TLS: " + TlsErrorText();
        return false;
    }
    const bool literal = IsAddressLiteral(host);
    const bool named = literal ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host.c_str()) == 1
                               : SSL_set1_host(ssl_, host.c_str()) == 1 &&
                                     SSL_set_tlsext_host_name(ssl_, host.c_str()) == 1;
    if (!named) {
        error = "TLS: cannot check the certificate against " + host + ": " + TlsErrorText();
        return false;
    }

    const auto deadline = Clock::now() + replyLimit_;
    for (;;) {
        SigpipeHeld held;
        ERR_clear_error();
        const int r = SSL_connect(ssl_);
        if (r == 1) return true;
        const int kind = SSL_get_error(ssl_, r);
        if (kind == SSL_ERROR_WANT_READ || kind == SSL_ERROR_WANT_WRITE) {
            if (!WaitForIo(kind == SSL_ERROR_WANT_READ ? Io::WantRead : Io::WantWrite, deadline,
                           "starting TLS", error))
                return false;
            continue;
        }
        const long verdict = SSL_get_verify_result(ssl_);
        if (verdict != X509_V_OK)
            error = "certificate of " + host + " refused: " + X509_verify_cert_error_string(verdict);
        else if (kind == SSL_ERROR_SYSCALL && ERR_peek_error() == 0)
            error = "connection closed by the server during the TLS handshake";
        else
            error = "TLS handshake failed: " + TlsErrorText();
        ERR_clear_error();
        return false;
    }
}

namespace {

// The code and the reply's text as the server gave it, lines joined.
std::string ReplyText(const SmtpReply& reply) {
    std::string text = std::to_string(reply.code);
    for (const auto& line : reply.lines) text += " " + line;
    return text;
}

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// What an EHLO reply offers: its extension lines after the greeting line.
struct Extensions {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;
};

Extensions ExtensionsOf(const SmtpReply& ehlo) {
    Extensions e;
    for (size_t i = 1; i < ehlo.lines.size(); ++i) {
        const std::string line = Upper(ehlo.lines[i]);
        if (line == "STARTTLS") e.startTls = true;
        // "AUTH=" is how some older servers announce the same list.
        if (line.rfind("AUTH ", 0) == 0 || line.rfind("AUTH=", 0) == 0) {
            const std::string list = " " + line.substr(5) + " ";
            e.authPlain = e.authPlain || list.find(" PLAIN ") != std::string::npos;
            e.authLogin = e.authLogin || list.find(" LOGIN ") != std::string::npos;
        }
    }
    return e;
}

std::string Base64Of(const std::string& text) {
    return Base64(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// A fully qualified name of this host, else the address literal of the
// local end of `fd`: a bare host name is refused by many servers.
std::string EhloName(int fd) {
    const std::string host = LocalHostName();
    addrinfo hints{};
    hints.ai_flags = AI_CANONNAME;
    addrinfo* list = nullptr;
    std::string canonical;
    if (::getaddrinfo(host.c_str(), nullptr, &hints, &list) == 0 && list && list->ai_canonname)
        canonical = list->ai_canonname;
    if (list) ::freeaddrinfo(list);
    for (const std::string& name : {canonical, host}) {
        const size_t dot = name.find('.');
        if (dot != std::string::npos && dot > 0 && name.back() != '.' && IsSafeHostName(name) &&
            !IsAddressLiteral(name))
            return name;
    }
    sockaddr_storage local{};
    socklen_t len = sizeof local;
    char text[INET6_ADDRSTRLEN] = {};
    if (::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &len) == 0) {
        if (local.ss_family == AF_INET &&
            ::inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&local)->sin_addr, text, sizeof text))
            return "[" + std::string(text) + "]";
        if (local.ss_family == AF_INET6 &&
            ::inet_ntop(AF_INET6, &reinterpret_cast<sockaddr_in6*>(&local)->sin6_addr, text, sizeof text))
            return "[IPv6:" + std::string(text) + "]";
    }
    return host;
}

// EHLO, or HELO when EHLO is refused; the EHLO reply, empty after HELO.
bool Greet(SmtpConnection& c, const std::string& me, SmtpReply& ehlo, std::string& error) {
    if (c.Command("EHLO " + me, {250}, ehlo, error)) return true;
    if (ehlo.code == 0) return false;  // the line broke, not a refusal
    SmtpReply helo;
    ehlo = SmtpReply{};
    return c.Command("HELO " + me, {250}, helo, error);
}

bool LogIn(SmtpConnection& c, const Extensions& offered, const SmtpEnvelope& envelope, std::string& error) {
    SmtpReply reply;
    if (offered.authPlain)
        return c.Command("AUTH PLAIN " + Base64Of(std::string(1, '\0') + envelope.user + '\0' + envelope.password),
                         {235}, reply, error, "login");
    if (offered.authLogin)
        return c.Command("AUTH LOGIN", {334}, reply, error, "login") &&
               c.Command(Base64Of(envelope.user), {334}, reply, error, "login") &&
               c.Command(Base64Of(envelope.password), {235}, reply, error, "login");
    error = "the server offers no login this program can use (AUTH PLAIN or LOGIN)";
    return false;
}

bool HasLineBreak(const std::string& text) { return text.find_first_of("\r\n") != std::string::npos; }

}  // namespace

bool SmtpConnection::Command(const std::string& line, std::initializer_list<int> accepted, SmtpReply& reply,
                             std::string& error, const std::string& label) {
    reply = SmtpReply{};
    if (!SendAll(line + kCrlf, error)) return false;
    auto r = ReadReply(error);
    if (!r) return false;
    reply = *r;
    for (int code : accepted)
        if (code == reply.code) return true;
    error = (label.empty() ? line.substr(0, line.find(' ')) : label) + " refused: " + ReplyText(reply);
    return false;
}

SmtpOutcome SendMail(const SmtpEnvelope& envelope, const std::string& message, const SmtpLimits& limits,
                     int cancelFd) {
    SmtpOutcome outcome;
    try {
        if (!IsSafeHostName(envelope.host)) {
            outcome.error = "no usable server name";
            return outcome;
        }
        if (!IsSafeAddress(envelope.from) || envelope.recipients.empty()) {
            outcome.error = "no usable sender or recipient";
            return outcome;
        }
        for (const auto& r : envelope.recipients)
            if (!IsSafeAddress(r)) {
                outcome.error = "no usable recipient";
                return outcome;
            }
        const bool login = !envelope.user.empty();
        if (login && envelope.security == SmtpSecurity::None) {
            outcome.error = "a login needs STARTTLS or SSL/TLS: the password is never sent unencrypted";
            return outcome;
        }
        if (HasLineBreak(envelope.user) || HasLineBreak(envelope.password)) {
            outcome.error = "the user name or the password holds a line break";
            return outcome;
        }

        FdCloser socket{ConnectTo(envelope.host, envelope.port, limits.connect, cancelFd, outcome.error)};
        if (socket.fd < 0) return outcome;
        SmtpConnection c(socket.fd, limits.reply, cancelFd);
        std::string& error = outcome.error;

        if (envelope.security == SmtpSecurity::Tls && !c.StartTls(envelope.host, error)) return outcome;
        const auto greeting = c.ReadReply(error);
        if (!greeting) return outcome;
        if (greeting->code != 220) {
            error = "greeting refused: " + ReplyText(*greeting);
            return outcome;
        }
        const std::string me = EhloName(socket.fd);
        SmtpReply ehlo, reply;
        if (!Greet(c, me, ehlo, error)) return outcome;
        if (envelope.security == SmtpSecurity::StartTls) {
            if (!ExtensionsOf(ehlo).startTls) {
                error = "the server does not offer STARTTLS" +
                        (ehlo.code ? std::string() : std::string(" (it does not answer EHLO)"));
                return outcome;
            }
            if (!c.Command("STARTTLS", {220}, reply, error)) return outcome;
            if (!c.StartTls(envelope.host, error)) return outcome;
            // What the server offered in the clear may have been tampered with.
            if (!c.Command("EHLO " + me, {250}, ehlo, error)) return outcome;
        }
        if (login && !LogIn(c, ExtensionsOf(ehlo), envelope, error)) return outcome;

        if (!c.Command("RSET", {250}, reply, error)) return outcome;
        if (!c.Command("MAIL FROM:<" + envelope.from + ">", {250}, reply, error)) return outcome;
        for (const auto& r : envelope.recipients)
            if (!c.Command("RCPT TO:<" + r + ">", {250, 251}, reply, error)) return outcome;
        if (!c.Command("DATA", {354}, reply, error)) return outcome;

        std::string data = DotStuff(message);
        if (!data.empty() && (data.size() < 2 || data.compare(data.size() - 2, 2, kCrlf) != 0)) data += kCrlf;
        data += std::string(".") + kCrlf;
        if (!c.SendAll(data, error)) return outcome;
        const auto accepted = c.ReadReply(error);
        if (!accepted) return outcome;
        if (accepted->code != 250) {
            error = "message refused: " + ReplyText(*accepted);
            return outcome;
        }
        outcome.ok = true;
        error.clear();

        // The message is delivered; how the server takes the goodbye no longer matters.
        std::string ignored;
        if (c.SendAll(std::string("QUIT") + kCrlf, ignored)) (void)c.ReadReply(ignored);
        return outcome;
    } catch (const std::exception& e) {
        outcome.ok = false;
        outcome.error = e.what();
        return outcome;
    } catch (...) {
        outcome.ok = false;
        outcome.error = "unexpected failure";
        return outcome;
    }
}

}  // namespace notify
