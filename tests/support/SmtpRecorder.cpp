#include "support/SmtpRecorder.h"

#include <chrono>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>

extern char** environ;

#ifndef OCULARA_SMTP_RECORDER
#error "OCULARA_SMTP_RECORDER must name smtp_recorder.py"
#endif

namespace testsupport {

pid_t Spawn(const std::vector<std::string>& args, const std::string& output) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

std::string PythonWithAiosmtpd() {
    for (const char* python : {"/usr/bin/python3", "python3"}) {
        const pid_t pid = Spawn({python, "-c", "import aiosmtpd.controller"}, "/dev/null");
        int status = 0;
        if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0)
            return python;
    }
    return "";
}

AiosmtpdServer::AiosmtpdServer(const std::string& python, const std::string& rcptReply,
                               const std::vector<std::string>& options) {
    std::vector<std::string> args{python, OCULARA_SMTP_RECORDER, dir_.path()};
    if (!rcptReply.empty()) args.push_back(rcptReply);
    args.insert(args.end(), options.begin(), options.end());
    pid_ = Spawn(args, dir_ / "server.log");
    for (int i = 0; i < 600 && pid_ > 0 && !PathExists(dir_ / "port"); ++i) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    if (PathExists(dir_ / "port")) port_ = static_cast<uint16_t>(std::stoi(ReadFile(dir_ / "port")));
}

AiosmtpdServer::~AiosmtpdServer() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status;
        if (waitpid(pid_, &status, WNOHANG) == pid_) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
}

std::string AiosmtpdServer::log() const { return ReadFile(dir_ / "server.log"); }

std::vector<std::string> AiosmtpdServer::Commands() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(dir_ / "commands.txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string AiosmtpdServer::Message(int n) const {
    return ReadFile(dir_ / ("message" + std::to_string(n) + ".eml"));
}

std::string AiosmtpdServer::Envelope(int n) const {
    return ReadFile(dir_ / ("envelope" + std::to_string(n) + ".json"));
}

// The envelope is written after the message, so a counted message is whole.
int AiosmtpdServer::MessageCount() const {
    int n = 0;
    while (PathExists(dir_ / ("envelope" + std::to_string(n) + ".json"))) ++n;
    return n;
}

bool TestAuthority::Run(const std::vector<std::string>& args) {
    const std::string log = dir_ / "openssl.log";
    const pid_t pid = Spawn(args, log);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0) return true;
    error_ = "openssl failed: " + ReadFile(log);
    return false;
}

TestAuthority::TestAuthority() {
    // Elliptic-curve keys: made in milliseconds, unlike RSA.
    Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
         "-keyout", dir_ / "ca.key", "-out", CaFile(), "-days", "2", "-subj", "/CN=Oculara test authority",
         "-addext", "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

bool TestAuthority::Issue(const std::string& stem, const std::vector<std::string>& names) {
    if (!error_.empty()) return false;
    std::string alt = "subjectAltName=";
    for (size_t i = 0; i < names.size(); ++i) {
        const bool address = names[i].find_first_not_of("0123456789.:") == std::string::npos;
        alt += (i ? "," : "") + std::string(address ? "IP:" : "DNS:") + names[i];
    }
    WriteFile(dir_ / (stem + ".ext"), alt + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n");
    return Run({"openssl", "req", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                Key(stem), "-out", dir_ / (stem + ".csr"), "-subj", "/CN=" + names.front()}) &&
           Run({"openssl", "x509", "-req", "-in", dir_ / (stem + ".csr"), "-CA", CaFile(), "-CAkey", dir_ / "ca.key",
                "-CAcreateserial", "-out", Cert(stem), "-days", "2", "-extfile", dir_ / (stem + ".ext")});
}

}  // namespace testsupport
