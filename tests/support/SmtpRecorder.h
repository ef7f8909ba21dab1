#pragma once
// aiosmtpd on 127.0.0.1 as a real mail server for the tests: every command
// and every accepted message is recorded in a folder of its own.

#include "support/TestSupport.h"

#include <cstdint>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// Starts `args` with stdout and stderr into `output`; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, const std::string& output);

// A python3 that has aiosmtpd, or "" when there is none.
std::string PythonWithAiosmtpd();

class AiosmtpdServer {
public:
    // A non-empty `rcptReply` refuses every recipient with that reply.
    // `options` are smtp_recorder.py's: TLS, certificate, login.
    explicit AiosmtpdServer(const std::string& python, const std::string& rcptReply = "",
                            const std::vector<std::string>& options = {});
    ~AiosmtpdServer();
    AiosmtpdServer(const AiosmtpdServer&) = delete;
    AiosmtpdServer& operator=(const AiosmtpdServer&) = delete;

    uint16_t port() const { return port_; }  // 0 when it did not start
    std::string log() const;
    const std::string& folder() const { return dir_.path(); }
    std::vector<std::string> Commands() const;
    // The n-th accepted message as sent (from 0); "" when there is none.
    std::string Message(int n) const;
    std::string Envelope(int n) const;
    int MessageCount() const;

private:
    TempDir dir_;
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

// An authority of the test's own, made with the openssl tool, and the
// server certificates it signs; trusted through SSL_CERT_FILE.
class TestAuthority {
public:
    TestAuthority();
    const std::string& error() const { return error_; }  // empty when the authority was made
    std::string CaFile() const { return dir_ / "ca.pem"; }
    // A certificate for `names` (host names or addresses), signed by this
    // authority, in <stem>.pem with its key in <stem>.key; false on failure.
    bool Issue(const std::string& stem, const std::vector<std::string>& names);
    std::string Cert(const std::string& stem) const { return dir_ / (stem + ".pem"); }
    std::string Key(const std::string& stem) const { return dir_ / (stem + ".key"); }

private:
    bool Run(const std::vector<std::string>& args);
    TempDir dir_;
    std::string error_;
};

}  // namespace testsupport

// In a test body: skips without aiosmtpd, fails when it does not start.
// A second argument is the reply that refuses every recipient.
#define REQUIRE_AIOSMTPD(server, ...)                                             \
    const std::string python = testsupport::PythonWithAiosmtpd();                 \
    if (python.empty()) GTEST_SKIP() << "python3 with aiosmtpd is not installed"; \
    testsupport::AiosmtpdServer server(python __VA_OPT__(, ) __VA_ARGS__);        \
    ASSERT_NE(server.port(), 0) << server.log()
