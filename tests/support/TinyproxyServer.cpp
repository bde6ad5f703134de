#include "support/TinyproxyServer.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/Loopback.h"

namespace vantrel::test {

namespace {

constexpr const char* kTinyproxy = "/usr/bin/tinyproxy";
// Generous: a loaded machine may be slow to start the proxy.
constexpr int kStartWaitSteps = 1000;
constexpr auto kStep = std::chrono::milliseconds(10);

}  // namespace

TinyproxyServer::TinyproxyServer(const std::string& user, const std::string& password) {
    if (::access(kTinyproxy, X_OK) != 0) {
        error = "tinyproxy is not installed (Debian package tinyproxy)";
        installed = false;
        return;
    }
    temp_ = std::make_unique<TempDir>("vantrel-proxy");
    port = FreePorts(1).front();
    std::ofstream config(temp_->file("tinyproxy.conf"));
    // No ConnectPort line: tunnels to every port are allowed, the test servers' among them.
    config << "Listen 127.0.0.1\nPort " << port << "\nTimeout 30\nMaxClients 20\nLogLevel Connect\n"
           << "LogFile \"" << temp_->file("tinyproxy.log") << "\"\nDisableViaHeader Yes\n";
    if (::geteuid() == 0) config << "User root\nGroup root\n";
    if (!user.empty()) config << "BasicAuth " << user << " " << password << "\n";
    config.close();
    pid_ = ::fork();
    if (pid_ == 0) {
        const std::string path = temp_->file("tinyproxy.conf");
        ::execl(kTinyproxy, kTinyproxy, "-d", "-c", path.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    for (int i = 0; i < kStartWaitSteps; ++i) {
        if (Accepts(port)) return;
        if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;
        std::this_thread::sleep_for(kStep);
    }
    std::ifstream log(temp_->file("tinyproxy.log"));
    std::stringstream text;
    text << log.rdbuf();
    error = "tinyproxy did not listen: " + text.str();
}

TinyproxyServer::~TinyproxyServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        for (int i = 0; i < kStartWaitSteps && ::waitpid(pid_, &status, WNOHANG) == 0; ++i)
            std::this_thread::sleep_for(kStep);
        if (::waitpid(pid_, &status, WNOHANG) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
        }
    }
}

int TinyproxyServer::requestsLogged(const std::string& method) const {
    std::ifstream log(temp_->file("tinyproxy.log"));
    std::string line;
    int count = 0;
    while (std::getline(log, line))
        if (line.find("Request (file descriptor") != std::string::npos &&
            line.find("): " + method + " ") != std::string::npos)
            ++count;
    return count;
}

}  // namespace vantrel::test
