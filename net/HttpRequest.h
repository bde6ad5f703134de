#pragma once
// The bytes of one GET request head: the request line and the program's fixed header lines, each
// on one line, ready to be sent in one write.
#include <string>
#include <string_view>

namespace vantrel {

class HttpRequest {
  public:
    // The whole head for `target` (the request target), `host` (the "Host" value) and `cookie`
    // (the "Cookie" value; no line when empty). Characters outside US-ASCII in the target are sent
    // as percent-encoded UTF-8, in the other values as UTF-8; control characters in the header
    // values are dropped, so no value can start a line of its own.
    static std::string head(std::u16string_view target, std::u16string_view host, std::u16string_view cookie);

    // True when `url` holds a character below 32 (CR, LF, NUL, tab...): such a URL or location
    // must fail before anything is sent.
    static bool hasControlCharacter(std::u16string_view url);

    // `target` with every character outside US-ASCII written as %XX of its UTF-8 bytes.
    static std::string encodeTarget(std::u16string_view target);
};

}  // namespace vantrel
