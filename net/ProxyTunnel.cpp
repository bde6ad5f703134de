#include "net/ProxyTunnel.h"

#include "net/Connection.h"
#include "net/HttpRequest.h"
#include "net/HttpResponseReader.h"
#include "text/Text.h"

namespace vantrel {

void ProxyTunnel::open(Connection& waits, std::string_view authority, std::string_view proxyAuthorization) {
    std::optional<ResponseHead> head;
    try {
        waits.send(HttpRequest::connect(authority, proxyAuthorization));
        head = HttpResponseReader::readHead(waits);
    } catch (const FetchError& error) {
        throw failure(error);
    }
    if (!head) throw FetchError(FetchErrorKind::Proxy, "connection closed");
    if (head->statusCode / 100 != 2) throw refusal(head->statusLine);
    // The server speaks first only after the TLS client's hello: a byte already here came from
    // the proxy, and TLS would take it for the server's.
    if (waits.unread() != 0) throw FetchError(FetchErrorKind::Proxy, "bytes after the tunnel's answer");
}

FetchError ProxyTunnel::failure(const FetchError& error) {
    if (error.kind() == FetchErrorKind::Cancelled || error.kind() == FetchErrorKind::Proxy) return error;
    // The last line of the message, without its full stop and with a small first letter:
    // "Socket Error # 10061\r\nConnection refused." gives "connection refused".
    std::string_view message = error.what();
    if (const size_t lineEnd = message.rfind('\n'); lineEnd != std::string_view::npos)
        message.remove_prefix(lineEnd + 1);
    std::string reason(message);
    if (!reason.empty() && reason.back() == '.') reason.pop_back();
    if (!reason.empty() && reason.front() >= 'A' && reason.front() <= 'Z' &&
        (reason.size() < 2 || !(reason[1] >= 'A' && reason[1] <= 'Z')))
        reason.front() = static_cast<char>(reason.front() - 'A' + 'a');
    return FetchError(FetchErrorKind::Proxy, reason);
}

FetchError ProxyTunnel::refusal(std::string_view statusLine) {
    // "HTTP/1.1 407 Proxy Authentication Required" -> "407 Proxy Authentication Required".
    const size_t space = statusLine.find(' ');
    const std::string_view status =
        space == std::string_view::npos ? statusLine : statusLine.substr(space + 1);
    return FetchError(FetchErrorKind::Proxy, ToUtf8(FromLatin1(status)));
}

}  // namespace vantrel
