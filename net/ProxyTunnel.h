#pragma once
// The way through a proxy: its connection opened, a CONNECT tunnel asked for on it, and every
// failure on that way told as the proxy's ("Proxy: 407 Proxy Authentication Required"), so that a
// page behind a failing proxy is never reported with a reason that blames the page's server.
#include <string>
#include <string_view>

#include "net/FetchError.h"

namespace vantrel {

class ByteStream;
class Connection;

class ProxyTunnel {
  public:
    // Asks the proxy on `stream` for a tunnel to `authority` (RFC 9110 section 9.3.6) and reads
    // its answer under the waits of `waits` (which reads from the same stream). Returns when the
    // tunnel stands (a 2xx answer); throws FetchError(Proxy) with the proxy's status otherwise.
    static void open(Connection& waits, std::string_view authority, std::string_view proxyAuthorization);

    // A failure on the way to the proxy, rewritten as the proxy's: "Proxy: connection refused".
    // A cancel stays a cancel.
    static FetchError failure(const FetchError& error);
    // "Proxy: 407 Proxy Authentication Required" from the proxy's status line.
    static FetchError refusal(std::string_view statusLine);
};

}  // namespace vantrel
