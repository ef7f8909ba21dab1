#include "notify/SmsGateway.h"

#include "core/Linguaggio.h"
#include "platform/Cp1252.h"
#include "platform/Shell.h"
#include "platform/Utf8.h"

#include <curl/curl.h>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <mutex>

namespace notify {

namespace {

constexpr int kDefaultProxyPort = 8080;
constexpr long kMaxRedirects = 15;

bool AllDigits(const std::string& text) {
    if (text.empty()) return false;
    for (unsigned char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

bool IsAsciiLetterOrDigit(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

void AppendHexByte(std::string& out, unsigned char c) {
    static const char kHex[] = "0123456789ABCDEF";
    out += '%';
    out += kHex[c >> 4];
    out += kHex[c & 0x0F];
}

// A request line cannot carry blanks or control bytes at all; they travel
// percent-encoded, as a browser sends them. Everything else of the URL,
// "%" and "&" included, goes unchanged.
std::string RequestLineSafe(const std::string& url) {
    std::string out;
    out.reserve(url.size());
    for (unsigned char c : url) {
        if (c <= 0x20 || c == 0x7F)
            AppendHexByte(out, c);
        else
            out += static_cast<char>(c);
    }
    return out;
}

void GlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct Transfer {
    std::string body;
    const std::atomic<bool>* aborted = nullptr;
};

// Curl's thread, inside curl_easy_perform.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    if (length > HttpClient::kMaxAnswerBytes - transfer->body.size()) return 0;  // ends as an error
    transfer->body.append(data, length);
    return length;
}

int OnProgress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<Transfer*>(user)->aborted->load() ? 1 : 0;
}

// Any failed option makes the request fail rather than go out differently.
template <typename T>
bool Set(CURL* curl, CURLoption option, T value) {
    return curl_easy_setopt(curl, option, value) == CURLE_OK;
}

}  // namespace

GatewayAddress IndirizzoGateway() {
    const GatewayAddress fallback{Linguaggio::GatewayHost, Linguaggio::GatewayPort};
    const char* env = std::getenv("OCULARA_SMS_GATEWAY");
    if (!env || !*env) return fallback;
    const std::string value = env;
    const size_t colon = value.rfind(':');
    // "[::1]" is a host without a port.
    if (colon == std::string::npos || value.back() == ']') return {value, Linguaggio::GatewayPort};
    const std::string host = value.substr(0, colon);
    const std::string port = value.substr(colon + 1);
    if (host.empty() || !AllDigits(port) || port.size() > 5) return fallback;
    const int number = std::stoi(port);
    if (number < 1 || number > 65535) return fallback;
    return {host, number};
}

GatewayFields CampiGateway(const std::string& numero, const std::string& utente,
                           const std::string& password) {
    return GatewayFields{IdentificativoPC, Linguaggio::NumeroSerie, utente, password, numero};
}

std::string TrimControls(const std::string& text) {
    size_t begin = 0;
    size_t end = text.size();
    while (begin < end && static_cast<unsigned char>(text[begin]) <= 32) ++begin;
    while (end > begin && static_cast<unsigned char>(text[end - 1]) <= 32) --end;
    return text.substr(begin, end - begin);
}

std::string CodificaTesto(const std::string& utf8) {
    const std::string bytes = platform::Utf8ToCp1252(utf8);
    std::string out;
    out.reserve(bytes.size() * 3);
    for (unsigned char c : bytes) {
        if (IsAsciiLetterOrDigit(c))
            out += static_cast<char>(c);
        else if (c == ' ')
            out += '+';
        else
            AppendHexByte(out, c);
    }
    return out;
}

std::string UrlGateway(int az, const GatewayFields& fields, const std::string* testo,
                       const GatewayAddress& address) {
    using platform::Utf8ToCp1252;
    std::string url = "http://" + address.host + ":" + std::to_string(address.port) +
                      Linguaggio::GatewayPath;
    url += "?az=" + std::to_string(az);
    url += "&idpc=" + Utf8ToCp1252(fields.idpc);
    url += "&numserie=" + Utf8ToCp1252(fields.numserie);
    url += "&un=" + Utf8ToCp1252(TrimControls(fields.un));
    url += "&pwd=" + Utf8ToCp1252(TrimControls(fields.pwd));
    url += std::string("&ver=") + Linguaggio::Versione;
    url += "&dest=" + Utf8ToCp1252(TrimControls(fields.dest));
    if (testo) url += "&txt=" + CodificaTesto(TrimControls(*testo));
    return url;
}

std::string UrlInvioSMS(const GatewayFields& fields, const std::string& testo) {
    return UrlGateway(1, fields, &testo, IndirizzoGateway());
}

std::string UrlVerificaCredito(const GatewayFields& fields) {
    return UrlGateway(2, fields, nullptr, IndirizzoGateway());
}

std::string UrlAcquistaSMS(const GatewayFields& fields) {
    return UrlGateway(3, fields, nullptr, IndirizzoGateway());
}

std::string ValoreTag(const std::string& answer, const std::string& tag) {
    const std::string open = "<" + tag + ">";
    const std::string close = "</" + tag + ">";
    const size_t openAt = answer.find(open);
    const size_t closeAt = answer.find(close);
    if (openAt == std::string::npos || closeAt == std::string::npos) return "";
    const size_t contentAt = openAt + open.size();
    if (closeAt <= openAt || closeAt < contentAt) return "";
    return TrimControls(answer.substr(contentAt, closeAt - contentAt));
}

int ProxyPort(const std::string& porta) {
    // A valid integer: an optional sign and decimal digits, nothing around
    // them, within 32 bits.
    const char* first = porta.data();
    const char* last = porta.data() + porta.size();
    if (last - first > 1 && *first == '+' && first[1] != '-') ++first;
    int value = 0;
    const auto [end, error] = std::from_chars(first, last, value);
    if (first == last || error != std::errc() || end != last) return kDefaultProxyPort;
    return value;
}

const char* const HttpClient::kUserAgent = "Mozilla/4.0 (compatible; MSIE 6.0; Windows NT 5.1)";

HttpClient::HttpClient(std::chrono::milliseconds timeLimit, std::chrono::milliseconds deadline)
    : timeLimit_(timeLimit), deadline_(deadline) {
    GlobalInit();
    CURL* curl = curl_easy_init();
    if (curl) {
        // An empty file name switches the cookie engine on without a file:
        // the cookies live in this handle for the client's life.
        curl_easy_setopt(curl, CURLOPT_COOKIEFILE, "");
    }
    curl_ = curl;
}

HttpClient::~HttpClient() {
    if (curl_) curl_easy_cleanup(static_cast<CURL*>(curl_));
}

std::string HttpClient::Get(const std::string& url) {
    CURL* curl = static_cast<CURL*>(curl_);
    if (!curl || aborted_) return "";

    Transfer transfer;
    transfer.aborted = &aborted_;
    const std::string target = RequestLineSafe(url);
    const long limitMs = static_cast<long>(std::max<std::chrono::milliseconds::rep>(timeLimit_.count(), 1));
    const long limitSeconds = std::max(1L, (limitMs + 999) / 1000);
    const long deadlineMs = static_cast<long>(std::max<std::chrono::milliseconds::rep>(deadline_.count(), 1));

    curl_slist* headers = nullptr;
    headers = curl_slist_append(headers, "Accept: text/html, */*");
    headers = curl_slist_append(headers, "Content-Type: text/html");
    if (!headers) return "";

    // Every option is set on every request: the handle is kept (for its
    // cookies), so nothing of an earlier request may carry over.
    bool ok = Set(curl, CURLOPT_URL, target.c_str()) &&
              Set(curl, CURLOPT_PROTOCOLS_STR, "http,https") &&
              Set(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") &&
              Set(curl, CURLOPT_HTTPGET, 1L) &&
              Set(curl, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_0)) &&
              Set(curl, CURLOPT_HTTPHEADER, headers) &&
              Set(curl, CURLOPT_USERAGENT, kUserAgent) &&
              Set(curl, CURLOPT_FOLLOWLOCATION, 1L) &&
              Set(curl, CURLOPT_MAXREDIRS, kMaxRedirects) &&
              Set(curl, CURLOPT_NOSIGNAL, 1L) &&
              Set(curl, CURLOPT_CONNECTTIMEOUT_MS, limitMs) &&
              Set(curl, CURLOPT_LOW_SPEED_LIMIT, 1L) &&
              Set(curl, CURLOPT_LOW_SPEED_TIME, limitSeconds) &&
              Set(curl, CURLOPT_TIMEOUT_MS, deadlineMs) &&
              Set(curl, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxAnswerBytes)) &&
              Set(curl, CURLOPT_WRITEFUNCTION, OnBody) &&
              Set(curl, CURLOPT_WRITEDATA, &transfer) &&
              Set(curl, CURLOPT_NOPROGRESS, 0L) &&
              Set(curl, CURLOPT_XFERINFOFUNCTION, OnProgress) &&
              Set(curl, CURLOPT_XFERINFODATA, &transfer);
    if (ok && !proxy.server.empty()) {
        // An empty no-proxy list: the proxy also serves hosts that the
        // environment's no_proxy would exempt.
        ok = Set(curl, CURLOPT_PROXY, proxy.server.c_str()) &&
             Set(curl, CURLOPT_PROXYPORT, static_cast<long>(proxy.port)) &&
             Set(curl, CURLOPT_NOPROXY, "") &&
             Set(curl, CURLOPT_PROXYTYPE, static_cast<long>(CURLPROXY_HTTP));
        if (ok && proxy.basicAuthentication) {
            ok = Set(curl, CURLOPT_PROXYAUTH, static_cast<long>(CURLAUTH_BASIC)) &&
                 Set(curl, CURLOPT_PROXYUSERNAME, proxy.username.c_str()) &&
                 Set(curl, CURLOPT_PROXYPASSWORD, proxy.password.c_str());
        } else if (ok) {
            ok = Set(curl, CURLOPT_PROXYUSERNAME, static_cast<const char*>(nullptr)) &&
                 Set(curl, CURLOPT_PROXYPASSWORD, static_cast<const char*>(nullptr));
        }
    } else if (ok) {
        // "" rather than unset: no proxy from the environment either.
        ok = Set(curl, CURLOPT_PROXY, "") &&
             Set(curl, CURLOPT_PROXYUSERNAME, static_cast<const char*>(nullptr)) &&
             Set(curl, CURLOPT_PROXYPASSWORD, static_cast<const char*>(nullptr));
    }

    long status = 0;
    if (ok) ok = curl_easy_perform(curl) == CURLE_OK;
    if (ok) ok = curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status) == CURLE_OK;
    // The list and the transfer go out of scope: leave no pointer to them.
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_XFERINFODATA, static_cast<void*>(nullptr));
    curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 1L);
    curl_slist_free_all(headers);
    if (!ok || aborted_ || status < 200 || status > 299) return "";
    return std::move(transfer.body);
}

void ApplicaProxy(const TSettings& settings, HttpClient& http) {
    ProxySettings proxy;
    if (settings.Conn_UsaProxy) {
        proxy.server = settings.Conn_ProxyServer;
        proxy.port = ProxyPort(settings.Conn_ProxyPorta);
        if (settings.Conn_ProxyAuth) {
            proxy.basicAuthentication = true;
            proxy.username = settings.Conn_ProxyUsername;
            proxy.password = settings.Conn_ProxyPassword;
        }
    }
    http.proxy = proxy;
}

std::string RichiestaGateway(HttpClient& http, const TSettings& settings, const std::string& url) {
    ApplicaProxy(settings, http);
    std::string answer = http.Get(url);
    // The gateway may answer in Windows-1252, as the program's own texts
    // travel, or in UTF-8; well-formed UTF-8 is taken for what it is.
    if (platform::IsWellFormedUtf8(answer)) return answer;
    return platform::Cp1252ToUtf8(answer);
}

std::string ChiediCredito(HttpClient& http, const TSettings& settings, const GatewayFields& fields) {
    return RichiestaGateway(http, settings, UrlVerificaCredito(fields));
}

std::optional<platform::MessageBoxRequest> EsitoVerificaCredito(const std::string& answer) {
    using platform::MessageBoxRequest;
    if (answer.empty()) {
        return MessageBoxRequest{
            "Impossibile stabilire una connessione con il server. Assicurarsi che la connessione "
            "ad Internet sia attiva.\n"
            "Assicurarsi che non siano presenti firewall che impediscano la connessione ad Internet.\n"
            "Verificare le impostazioni tramite il pulsante \"Configura connessione\".",
            "Attenzione", platform::MB_OK | platform::MB_ICONWARNING};
    }
    const std::string err = ValoreTag(answer, "err");
    if (!err.empty()) return MessageBoxRequest{err, "Attenzione", platform::MB_OK | platform::MB_ICONWARNING};
    const std::string msg = ValoreTag(answer, "msg");
    if (!msg.empty()) return MessageBoxRequest{msg, "OK", platform::MB_OK | platform::MB_ICONINFORMATION};
    return std::nullopt;
}

// The address holds the SMS password: it must not show in the process list.
bool AcquistaSMS(const GatewayFields& fields) { return platform::ShellOpenPrivately(UrlAcquistaSMS(fields)); }

}  // namespace notify
