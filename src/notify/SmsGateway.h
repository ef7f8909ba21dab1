#pragma once
// The SMS gateway: request URLs, the answer's tagged values, and the HTTP
// client (http1) that carries the requests, directly or through the proxy.

#include "core/Globali.h"
#include "platform/MessageBox.h"

#include <atomic>
#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

namespace notify {

// Where the requests go: Linguaggio's default, or OCULARA_SMS_GATEWAY as
// "host:port" ("host" alone keeps port 80; a port that is not 1..65535
// makes the whole value ignored).
struct GatewayAddress {
    std::string host;
    int port = 80;
};
GatewayAddress IndirizzoGateway();

// The values of one request, in UTF-8 as the program holds them.
struct GatewayFields {
    std::string idpc;      // IdentificativoPC
    std::string numserie;  // NumeroSerie
    std::string un;        // user name
    std::string pwd;       // password
    std::string dest;      // mobile number, without the country prefix
};
// For the dialog's az=2 and az=3: its number, user name and password, saved
// or not, beside this computer's identifier and serial number.
GatewayFields CampiGateway(const std::string& numero, const std::string& utente,
                           const std::string& password);

// Leading and trailing characters with codes up to 32 removed.
std::string TrimControls(const std::string& text);

// The text in Windows-1252, byte by byte: letters and digits stay, a blank
// becomes "+", every other byte "%XX" in upper-case hexadecimal.
std::string CodificaTesto(const std::string& utf8);

// "http://host:port/sms/send.php?az=N&idpc=...&numserie=...&un=...&pwd=...
// &ver=2.0&dest=..." and for az=1 "&txt=" with the encoded text. Only txt is
// encoded; the other values go in trimmed and converted to Windows-1252 but
// otherwise as they are, so a "#" in a password ends the request line there.
std::string UrlGateway(int az, const GatewayFields& fields, const std::string* testo,
                       const GatewayAddress& address);
std::string UrlInvioSMS(const GatewayFields& fields, const std::string& testo);  // az=1
std::string UrlVerificaCredito(const GatewayFields& fields);                     // az=2
std::string UrlAcquistaSMS(const GatewayFields& fields);                         // az=3

// The trimmed content of the first <tag>...</tag>, case-sensitive; "" when
// either tag is missing or the first close tag does not follow the first
// open tag.
std::string ValoreTag(const std::string& answer, const std::string& tag);

struct ProxySettings {
    std::string server;  // "" = direct connection
    int port = 0;
    bool basicAuthentication = false;
    std::string username;
    std::string password;
};

// The decimal value of Conn_ProxyPorta; 8080 when it is not an integer.
int ProxyPort(const std::string& porta);

// One client's life keeps one cookie store. One thread at a time; Abort
// alone may come from any thread.
class HttpClient {
public:
    // Connecting, and each wait for the server's next bytes, must end within
    // this limit: a server that accepts and never answers must not hold the
    // channel's busy mark for ever.
    static constexpr std::chrono::milliseconds kDefaultTimeLimit{60000};
    // The whole exchange (connect, request, answer, redirects) must end
    // within this: a gateway that drips its answer byte by byte would pass
    // every wait above and still hold the channel for as long as it likes.
    static constexpr std::chrono::milliseconds kDefaultDeadline{60000};
    // A longer answer is a failure, not unbounded memory.
    static constexpr size_t kMaxAnswerBytes = 1048576;
    static const char* const kUserAgent;

    explicit HttpClient(std::chrono::milliseconds timeLimit = kDefaultTimeLimit,
                        std::chrono::milliseconds deadline = kDefaultDeadline);
    ~HttpClient();
    HttpClient(const HttpClient&) = delete;
    HttpClient& operator=(const HttpClient&) = delete;

    // Set by ApplicaProxy right before each request.
    ProxySettings proxy;

    // HTTP/1.0 GET, redirects followed. Blanks and control bytes of the URL,
    // which no request line can carry, travel as %XX; nothing else is
    // touched. The body of a 2xx answer; "" for any failure: no connection,
    // time limit or deadline, broken transfer, error status, an answer over
    // kMaxAnswerBytes, or Abort.
    std::string Get(const std::string& url);

    // Ends the transfer under way, and every later one, as a failure.
    void Abort() { aborted_ = true; }
    bool Aborted() const { return aborted_; }

private:
    void* curl_ = nullptr;  // CURL*, kept for the cookies
    std::chrono::milliseconds timeLimit_;
    std::chrono::milliseconds deadline_;
    std::atomic<bool> aborted_{false};
};

// Conn_UsaProxy on: Conn_ProxyServer and its port, with Basic credentials
// only when Conn_ProxyAuth is on. Off: direct, and no credentials left over.
void ApplicaProxy(const TSettings& settings, HttpClient& http);

// ApplicaProxy, then GET; the answer as UTF-8 text ("" on any failure).
std::string RichiestaGateway(HttpClient& http, const TSettings& settings, const std::string& url);

// "Verifica credito": the az=2 exchange, without dialling (the dialog dials
// around it with the hourglass), and the box its answer calls for: nullopt
// when the answer has neither err nor msg.
std::string ChiediCredito(HttpClient& http, const TSettings& settings, const GatewayFields& fields);
std::optional<platform::MessageBoxRequest> EsitoVerificaCredito(const std::string& answer);

// "Acquista SMS": the az=3 address opened in the web browser, through a
// private page, so the password is on no command line. False when nothing
// could be started.
bool AcquistaSMS(const GatewayFields& fields);

}  // namespace notify
