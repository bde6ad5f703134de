#pragma once
// The bytes of one GET request head: the request line and the program's fixed header lines, each
// on one line, ready to be sent in one write.
#include <string>
#include <string_view>

#include "net/RequestOptions.h"

namespace vantrel {

class HttpRequest {
  public:
    // The whole head for `target` (the request target), `host` (the "Host" value) and `cookie`
    // (the "Cookie" value; no line when empty). Characters outside US-ASCII in the target are sent
    // as percent-encoded UTF-8, in the other values as UTF-8; control characters in the header
    // values are dropped, so no value can start a line of its own.
    static std::string head(std::u16string_view target, std::u16string_view host, std::u16string_view cookie);
    // The same with a page's options: a header of the user's that names one of the fixed lines
    // replaces its value there, the others follow the fixed lines; a "Cookie" of the user's joins
    // the stored cookies in one line (RFC 6265 section 5.4 allows one). `authorization` and
    // `proxyAuthorization` are whole values ("Basic ..."), no line when empty. With empty options
    // and credentials the bytes are exactly those of the plain head.
    static std::string head(std::u16string_view target, std::u16string_view host, std::u16string_view cookie,
                            const RequestOptions& options, std::string_view authorization,
                            std::string_view proxyAuthorization);

    // The CONNECT request that asks a proxy for a tunnel to `authority` ("host:port"),
    // RFC 9110 section 9.3.6.
    static std::string connect(std::string_view authority, std::string_view proxyAuthorization);

    // `head` as the user may see it: the credentials of Authorization and Proxy-Authorization and
    // the value of every cookie replaced by "****".
    static std::string masked(std::string_view head);

    // True when `url` holds a character below 32 (CR, LF, NUL, tab...): such a URL or location
    // must fail before anything is sent.
    static bool hasControlCharacter(std::u16string_view url);

    // `target` with every character outside US-ASCII written as %XX of its UTF-8 bytes.
    static std::string encodeTarget(std::u16string_view target);
};

}  // namespace vantrel
