#pragma once
// https: a TLS 1.2+ session over a connected socket, with the system's trusted certificates (and
// an optional CA file), SNI and host name verification. Built without TLS, https is refused.
#include <memory>
#include <string>

#include "net/ByteStream.h"

namespace vantrel {

class CancelSignal;
class SocketStream;

class TlsStream {
  public:
    // False in a build without TLS: every https target then fails with "IOHandler value is not
    // valid" before anything is sent.
    static bool supported();

    // The trusted certificates and settings shared by a fetcher's sessions.
    class Context;
    // Throws FetchError when `caFile` is given and cannot be read.
    static std::shared_ptr<Context> makeContext(const std::string& caFile);

    // Runs the handshake over `socket` for `host` (a name, or an IPv4/IPv6 literal checked against
    // the certificate's addresses), each wait at most `waitMs`. Returns the session; throws
    // FetchError("TLS handshake failed: <reason>"), "Read timed out.", "Cancelled" or a socket error.
    static std::unique_ptr<ByteStream> open(const std::shared_ptr<Context>& context,
                                            std::unique_ptr<SocketStream> socket, const std::string& host,
                                            int waitMs);
};

}  // namespace vantrel
