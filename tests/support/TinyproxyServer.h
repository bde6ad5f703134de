#pragma once
// A real HTTP proxy (Debian's tinyproxy) on 127.0.0.1 for tests: its configuration in a temporary
// directory, run in the foreground as a child of the test and stopped by its pid.
#include <sys/types.h>

#include <memory>
#include <string>

#include "support/TempDir.h"

namespace vantrel::test {

class TinyproxyServer {
  public:
    // With a user, the proxy asks for Basic authentication (407 without it); neither may hold a
    // blank. Leaves `error` set (and nothing running) when the proxy cannot start.
    explicit TinyproxyServer(const std::string& user = "", const std::string& password = "");
    ~TinyproxyServer();
    TinyproxyServer(const TinyproxyServer&) = delete;
    TinyproxyServer& operator=(const TinyproxyServer&) = delete;

    std::string error;
    bool installed = true;  // false: `error` says so, and tests skip
    int port = 0;
    // Lines of the proxy's log that name a request it forwarded ("CONNECT" or "GET").
    int requestsLogged(const std::string& method) const;

  private:
    std::unique_ptr<TempDir> temp_;
    pid_t pid_ = -1;
};

}  // namespace vantrel::test
