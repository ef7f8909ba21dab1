#include "support/LocalGateway.h"

#include "platform/Shell.h"

#include <algorithm>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace std::chrono_literals;

namespace testsupport {

namespace {

// False when the client gave up: that is what some cases test.
bool SendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// A peer that has closed its end shows up as readable with nothing to read.
bool PeerClosed(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return false;
    char byte;
    return ::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0 || (p.revents & (POLLHUP | POLLERR)) != 0;
}

}  // namespace

HttpRequest ParseRequest(const std::string& head) {
    HttpRequest r;
    std::istringstream lines(head);
    std::string line;
    std::getline(lines, line);
    std::istringstream(line) >> r.method >> r.target >> r.version;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(), ::tolower);
        const size_t value = line.find_first_not_of(' ', colon + 1);
        r.headers[name] = value == std::string::npos ? "" : line.substr(value);
    }
    return r;
}

std::string Answer(const std::string& body, const std::string& status, const std::string& extraHeaders) {
    return "HTTP/1.0 " + status + "\r\nContent-Type: text/html\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n" + extraHeaders + "\r\n" + body;
}

LocalGateway::LocalGateway(Handler handler) : handler_(std::move(handler)) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (listen_ < 0 || ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::listen(listen_, 16) != 0 || ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
        throw std::runtime_error("local gateway: no socket");
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

LocalGateway::~LocalGateway() {
    stop_ = true;
    thread_.join();
    ::close(listen_);
}

std::vector<HttpRequest> LocalGateway::Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

size_t LocalGateway::RequestCount() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_.size();
}

void LocalGateway::Serve() {
    while (!stop_) {
        pollfd p{listen_, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        Handle(c);
        ::close(c);
    }
}

// Waits in short slices so that the destructor is never held up.
bool LocalGateway::Readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 20) > 0;
}

void LocalGateway::Handle(int c) {
    std::string data;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (data.find("\r\n\r\n") == std::string::npos) {
        if (stop_ || std::chrono::steady_clock::now() > deadline) return;
        if (!Readable(c)) continue;
        char buf[4096];
        const ssize_t n = ::recv(c, buf, sizeof buf, 0);
        if (n <= 0) return;
        data.append(buf, static_cast<size_t>(n));
    }
    const HttpRequest request = ParseRequest(data.substr(0, data.find("\r\n\r\n")));
    size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        index = requests_.size();
        requests_.push_back(request);
    }
    const Reply reply = handler_(request, index);
    const auto until = std::chrono::steady_clock::now() + reply.delay;
    while (!stop_ && std::chrono::steady_clock::now() < until) std::this_thread::sleep_for(5ms);
    switch (reply.action) {
        case Action::Answer:
            SendAll(c, reply.bytes);
            break;
        case Action::Close:
            break;
        case Action::Drip:
            Drip(c, reply);
            break;
        case Action::Hang:
            // Holds the connection without a byte until the client gives up.
            while (!stop_) {
                if (!Readable(c)) continue;
                char buf[256];
                if (::recv(c, buf, sizeof buf, 0) <= 0) break;
            }
            break;
    }
}

void LocalGateway::Drip(int c, const Reply& reply) {
    bool cut = false;
    for (size_t i = 0; i < reply.bytes.size() && !cut && !stop_; ++i) {
        if (i > 0) std::this_thread::sleep_for(reply.interval);
        cut = PeerClosed(c) || !SendAll(c, reply.bytes.substr(i, 1));
    }
    std::lock_guard<std::mutex> lock(mutex_);
    ++dripsEnded_;
    if (cut) ++dripsCut_;
    dripEnded_.notify_all();
}

bool LocalGateway::WaitForDripEnd() {
    std::unique_lock<std::mutex> lock(mutex_);
    dripEnded_.wait(lock, [this] { return dripsEnded_ > 0; });
    return dripsCut_ > 0;
}

LocalGateway::Handler Always(const std::string& bytes) {
    return [bytes](const HttpRequest&, size_t) { return LocalGateway::Reply{LocalGateway::Action::Answer, bytes}; };
}

int UnusedPort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

bool CanConnect(int port) {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const bool ok = ::connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    ::close(s);
    return ok;
}

Tinyproxy::Tinyproxy(const TempDir& dir, const std::string& user, const std::string& password) {
    binary_ = platform::FindOnPath({"tinyproxy", "/usr/bin/tinyproxy", "/usr/sbin/tinyproxy"});
    if (binary_.empty()) return;
    port_ = UnusedPort();
    const std::string config = dir / "tinyproxy.conf";
    WriteFile(config, "Port " + std::to_string(port_) +
                          "\nListen 127.0.0.1\nTimeout 30\nMaxClients 8\n"
                          "Allow 127.0.0.1\nLogLevel Error\nBasicAuth " +
                          user + " " + password + "\n");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string log = dir / "tinyproxy.log";
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<std::string> args{binary_, "-d", "-c", config};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, binary_.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    for (int i = 0; pid_ > 0 && i < 250 && !CanConnect(port_); ++i) std::this_thread::sleep_for(20ms);
    ready_ = pid_ > 0 && CanConnect(port_);
}

Tinyproxy::~Tinyproxy() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
}

}  // namespace testsupport
