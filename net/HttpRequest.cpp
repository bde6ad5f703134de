#include "net/HttpRequest.h"

#include "text/Text.h"

namespace vantrel {

namespace {

void appendValue(std::string& out, std::u16string_view value) {
    for (unsigned char c : ToUtf8(value))
        if (c >= 32 && c != 127) out += static_cast<char>(c);
}

}  // namespace

bool HttpRequest::hasControlCharacter(std::u16string_view url) {
    for (char16_t c : url)
        if (c < 32) return true;
    return false;
}

std::string HttpRequest::encodeTarget(std::u16string_view target) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(target.size());
    size_t i = 0;
    while (i < target.size()) {
        size_t j = i;
        while (j < target.size() && target[j] < 128) out += static_cast<char>(target[j++]);
        if (j == target.size()) break;
        // RFC 3986 section 2.5: characters beyond US-ASCII go out as the percent-encoded octets
        // of their UTF-8 form.
        i = j;
        while (j < target.size() && target[j] >= 128) ++j;
        for (unsigned char c : ToUtf8(target.substr(i, j - i))) {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        i = j;
    }
    return out;
}

std::string HttpRequest::head(std::u16string_view target, std::u16string_view host,
                              std::u16string_view cookie) {
    std::string out;
    out.reserve(256 + target.size() + cookie.size());
    out += "GET ";
    out += encodeTarget(target);
    out += " HTTP/1.1\r\nContent-Type: text/html\r\nHost: ";
    appendValue(out, host);
    out +=
        "\r\nAccept: */*\r\nAccept-Encoding: identity\r\n"
        "User-Agent: Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)\r\n";
    // Never folded: RFC 7230 section 3.2.4 made line folding obsolete, and servers reject it.
    if (!cookie.empty()) {
        out += "Cookie: ";
        appendValue(out, cookie);
        out += "\r\n";
    }
    out += "\r\n";
    return out;
}

}  // namespace vantrel
