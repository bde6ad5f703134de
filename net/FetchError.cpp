#include "net/FetchError.h"

#include <cerrno>
#include <cstring>

#include "text/Text.h"

namespace vantrel {

std::string_view to_string(FetchErrorKind kind) {
    // A switch rather than an array, so that a kind added without its text fails the build.
    switch (kind) {
        case FetchErrorKind::ReadTimedOut:
            return "Read timed out.";
        case FetchErrorKind::ConnectionClosed:
            return "Connection Closed Gracefully.";
        case FetchErrorKind::Socket:
            return "Socket Error # ";
        case FetchErrorKind::HostNotFound:
            return "Socket Error # 11001\r\nHost not found.";
        case FetchErrorKind::NameLookupFailed:
            return "Socket Error # 11002\r\nTemporary failure in name resolution.";
        case FetchErrorKind::Cancelled:
            return "Cancelled";
        case FetchErrorKind::ResponseTooLarge:
            return "Response too large";
        case FetchErrorKind::LineTooLong:
            return "Max line length exceeded.";
        case FetchErrorKind::TooManyHeadLines:
            return "Max header lines exceeded.";
        case FetchErrorKind::HeadTooLarge:
            return "Max header size exceeded.";
        case FetchErrorKind::TooManyInterimResponses:
            return "Max interim responses exceeded.";
        case FetchErrorKind::InvalidUrl:
            return "Invalid URL";
        case FetchErrorKind::UnknownProtocol:
            return "Unknown Protocol";
        case FetchErrorKind::PortOutOfRange:
            return "Range check error";
        case FetchErrorKind::TlsUnavailable:
            return "IOHandler value is not valid";
        case FetchErrorKind::TlsHandshake:
            return "TLS handshake failed: ";
        case FetchErrorKind::Tls:
            return "TLS error: ";
        case FetchErrorKind::HttpStatus:
            return "";
        case FetchErrorKind::Proxy:
            return "Proxy: ";
    }
    return "";
}

FetchError::FetchError(FetchErrorKind kind, std::string_view detail)
    : FetchError(kind, std::string(to_string(kind)) + std::string(detail), 0, {}) {}

FetchError::FetchError(FetchErrorKind kind, const std::string& message, int statusCode, std::u16string body)
    : Error(message), kind_(kind), statusCode_(statusCode), body_(std::move(body)) {}

FetchError FetchError::socket(int error) {
    int number = error;
    std::string text;
    switch (error) {
        case ECONNREFUSED:
            number = 10061;
            text = "Connection refused.";
            break;
        case ETIMEDOUT:
            number = 10060;
            text = "Connection timed out.";
            break;
        case ECONNRESET:
        case EPIPE:
            number = 10054;
            text = "Connection reset by peer.";
            break;
        default:
            text = std::strerror(error);
    }
    FetchError failure(FetchErrorKind::Socket, std::to_string(number) + "\r\n" + text);
    failure.systemError_ = error;
    return failure;
}

FetchError FetchError::status(std::string_view statusLine, int code, std::u16string body) {
    return FetchError(FetchErrorKind::HttpStatus, ToUtf8(FromLatin1(statusLine)), code, std::move(body));
}

}  // namespace vantrel
