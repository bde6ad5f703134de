#pragma once
// Reads one HTTP/1.1 response head from a connection: the status line, its code, and the header
// lines with continuation lines joined, within the head limits.
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

class Connection;

// Line texts hold the bytes as received; bytes of 128 and above are read as Latin-1 characters.
struct ResponseHead {
    std::string statusLine;
    int statusCode = -1;
    // Name as written (a blank before the colon belongs to it), value without blanks at its ends.
    std::vector<std::pair<std::string, std::string>> fields;
    // The head ended with its empty line, not with a time-out or the peer's close.
    bool complete = false;

    // The first occurrence of `name` (ignoring ASCII case); empty when absent.
    std::string_view value(std::string_view name) const;
    // Every occurrence of `name` in order, as text.
    std::vector<std::u16string> values(std::string_view name) const;
    // "Content-Length" by IntFromText with default -1; -1 also for a negative value (none).
    long long contentLength() const;
    bool chunked() const;
    // True when the head says exactly where its message ends (RFC 7230 section 3.3.3): a complete
    // HTTP/1.1 head with a three-digit code and either one "Transfer-Encoding: chunked" without
    // Content-Length, or no Transfer-Encoding and every Content-Length the same decimal number.
    bool framedExactly() const;
    // The status line is exactly "HTTP/1.1", one space, three digits, then a space or nothing.
    bool statusLineExact() const;
};

class HttpResponseReader {
  public:
    // The next head, or nothing when the peer closed before any byte of the status line. A
    // status line whose wait passes the read time-out reads as empty (code -1); so does the end
    // of the head. Throws FetchError: "Max line length exceeded.", "Max header lines exceeded.",
    // "Max header size exceeded.", "Read timed out." (deadline), socket failures.
    static std::optional<ResponseHead> readHead(Connection& connection);

    // The second word of the status line by IntFromText, default -1.
    static int statusCodeOf(std::string_view statusLine);
};

}  // namespace vantrel
