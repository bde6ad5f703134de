#pragma once
// The failure of a get: its kind, which the fetcher's decisions test, and the message the user
// sees, which is the kind's text from one table followed by the detail of this failure.
#include <string>
#include <string_view>

#include "text/Error.h"

namespace vantrel {

enum class FetchErrorKind {
    ReadTimedOut,      // a wait or the whole get passed its time
    ConnectionClosed,  // the peer closed before a response head, or inside a chunked body
    Socket,            // a socket call failed; detail: number, CR LF, text
    HostNotFound,      // the name has no address (the name servers answered so)
    NameLookupFailed,  // the name servers could not be asked or gave no answer now (EAI_AGAIN)
    Cancelled,
    ResponseTooLarge,
    LineTooLong,
    TooManyHeadLines,
    HeadTooLarge,
    TooManyInterimResponses,
    InvalidUrl,       // a control character in the URL or a Location
    UnknownProtocol,  // no port can be known for the URL
    PortOutOfRange,
    TlsUnavailable,  // https in a build without TLS
    TlsHandshake,    // detail: the reason
    Tls,             // a TLS session failed after its handshake; detail: the reason
    HttpStatus,      // detail: the status line as received
    Proxy,           // the proxy refused or could not be reached; detail: its reason
};

// The text of `kind`: the whole message, or for kinds with a detail the text before it.
std::string_view to_string(FetchErrorKind kind);

class FetchError : public Error {
  public:
    explicit FetchError(FetchErrorKind kind, std::string_view detail = {});

    // A failed socket call by its errno value, with the numbers and texts users know for refused,
    // timed-out and reset connections: "Socket Error # 10061\r\nConnection refused.".
    static FetchError socket(int error);
    // A final response that is not a success: the status line (bytes above 127 as Latin-1),
    // its code and its body decoded as text.
    static FetchError status(std::string_view statusLine, int code, std::u16string body);

    FetchErrorKind kind() const { return kind_; }
    // For HttpStatus; 0 otherwise.
    int statusCode() const { return statusCode_; }
    // For Socket: the errno value of the failed call; 0 otherwise.
    int systemError() const { return systemError_; }
    const std::u16string& body() const { return body_; }

  private:
    FetchError(FetchErrorKind kind, const std::string& message, int statusCode, std::u16string body);

    FetchErrorKind kind_;
    int statusCode_ = 0;
    int systemError_ = 0;
    std::u16string body_;
};

}  // namespace vantrel
