#pragma once
// A real nginx on 127.0.0.1 for tests and benchmarks: a temporary directory with pages under www/,
// a config with a plain server on a free port and, unless only plain is asked for, a CA made with
// the openssl command, server certificates (good, wrong name, untrusted) and three TLS servers.
// Stopped by its pid; the directory is removed.
#include <sys/types.h>

#include <filesystem>
#include <memory>
#include <string>

#include "support/TempDir.h"

namespace vantrel::test {

// The credentials of /private.html (Basic authentication); /members answers 403 unless the
// request carries the cookie "session=s3cret".
inline constexpr char kBasicUser[] = "watcher";
inline constexpr char kBasicPassword[] = "open sesame";

class NginxServer {
  public:
    enum class Servers { PlainOnly, PlainAndTls };

    // Leaves `error` set (and nothing running) when anything fails. With `logRequests`, every
    // request is logged to access.log as "<end time, s.ms> <seconds taken> <target>".
    explicit NginxServer(Servers servers = Servers::PlainAndTls, bool logRequests = false);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    std::string error;
    std::filesystem::path dir;
    int plainPort = 0, tlsPort = 0, wrongNamePort = 0, untrustedPort = 0;

    std::string caFile() const { return (dir / "ca.pem").string(); }
    std::u16string url(const std::string& scheme, const std::string& host, int port,
                       const std::string& path) const;
    // `path` on the plain server, as "http://127.0.0.1:port/path".
    std::string plainUrl(const std::string& path) const;
    // Writes a file under the directory; pages go under "www/" and are served at once.
    void writeFile(const std::string& name, const std::string& bytes) const;

  private:
    bool run(const std::string& command) const;
    std::string makeCertificates() const;
    std::string config() const;
    std::string start();
    std::string readFile(const std::string& name) const;
    pid_t pid() const;
    void stop();

    Servers servers_;
    bool logRequests_;
    std::unique_ptr<TempDir> temp_;
};

}  // namespace vantrel::test
