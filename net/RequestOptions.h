#pragma once
// What one page's request adds to the program's fixed request head: header lines of the user's,
// another User-Agent and Basic credentials for the page's own server. Empty options leave the
// request exactly as the program always sends it.
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vantrel {

struct RequestOptions {
    // Name and value (UTF-8), each checked by HeaderProblem before it gets here.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string userAgent;  // empty: the program's own
    // Basic authentication (RFC 7617), sent only to the host and port of the page's own URL,
    // never to a server a redirect leads to; none when `user` is empty.
    std::string user, password;

    bool empty() const { return headers.empty() && userAgent.empty() && user.empty(); }
    friend bool operator==(const RequestOptions&, const RequestOptions&) = default;
};

// Why the header line `name: value` cannot be sent, in words for the user; empty when it can.
// RFC 9110 section 5.1 asks for a token as the name; CR and LF would end the line early and let
// the value inject lines of its own; Host and Content-Length belong to the request itself.
std::string HeaderProblem(std::string_view name, std::string_view value);

// "Name: value" lines (LF or CR LF ends a line; blank lines are skipped) as header pairs, both
// parts trimmed. Returns the first problem as "Line N: ..." and leaves `headers` empty then.
std::string ParseHeaderLines(std::string_view lines,
                             std::vector<std::pair<std::string, std::string>>& headers);

// The value of an Authorization or Proxy-Authorization header for Basic credentials:
// "Basic " + base64(user ":" password), RFC 7617 section 2.
std::string BasicCredentials(std::string_view user, std::string_view password);

}  // namespace vantrel
