#pragma once
// Real HTTP peers on 127.0.0.1 for the SMS tests: a gateway written here and
// tinyproxy with Basic authentication in front of it.

#include "support/TestSupport.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace testsupport {

struct HttpRequest {
    std::string method, target, version;
    std::map<std::string, std::string> headers;  // names in lower case
    bool Has(const std::string& name) const { return headers.count(name) != 0; }
    std::string Header(const std::string& name) const {
        auto it = headers.find(name);
        return it == headers.end() ? "" : it->second;
    }
};

// The request line and headers of `head` (without the empty line).
HttpRequest ParseRequest(const std::string& head);

// An HTTP/1.0 answer with a Content-Length.
std::string Answer(const std::string& body, const std::string& status = "200 OK",
                   const std::string& extraHeaders = "");

// An HTTP gateway on 127.0.0.1 with an ephemeral port, one connection at a time.
class LocalGateway {
public:
    // Drip: `bytes` one at a time, `interval` apart, until all are sent or
    // the client has gone.
    enum class Action { Answer, Close, Hang, Drip };
    struct Reply {
        Action action = Action::Answer;
        std::string bytes;
        std::chrono::milliseconds delay{0};
        std::chrono::milliseconds interval{200};
    };
    // Called on the gateway's thread for every request, `index` counting from 0.
    using Handler = std::function<Reply(const HttpRequest&, size_t index)>;

    explicit LocalGateway(Handler handler);
    ~LocalGateway();
    LocalGateway(const LocalGateway&) = delete;
    LocalGateway& operator=(const LocalGateway&) = delete;

    int Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
    std::vector<HttpRequest> Requests();
    size_t RequestCount();
    // Blocks until a drip has ended; true when the client left before its
    // last byte, false when every byte went out.
    bool WaitForDripEnd();

private:
    void Serve();
    bool Readable(int fd);
    void Handle(int c);
    void Drip(int c, const Reply& reply);

    Handler handler_;
    int listen_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<HttpRequest> requests_;
    std::condition_variable dripEnded_;
    int dripsEnded_ = 0;  // guarded by mutex_, like dripsCut_
    int dripsCut_ = 0;
    std::thread thread_;
};

// A handler that gives every request the same bytes.
LocalGateway::Handler Always(const std::string& bytes);

// A loopback port on which nothing listens (at the moment of the call).
int UnusedPort();
bool CanConnect(int port);

// tinyproxy in the foreground on 127.0.0.1, Basic authentication required.
// Its configuration and log live in `dir`.
class Tinyproxy {
public:
    Tinyproxy(const TempDir& dir, const std::string& user, const std::string& password);
    ~Tinyproxy();
    Tinyproxy(const Tinyproxy&) = delete;
    Tinyproxy& operator=(const Tinyproxy&) = delete;
    bool Installed() const { return !binary_.empty(); }
    bool Ready() const { return ready_; }
    int Port() const { return port_; }

private:
    std::string binary_;
    pid_t pid_ = -1;
    int port_ = 0;
    bool ready_ = false;
};

}  // namespace testsupport
