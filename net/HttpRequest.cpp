#include "net/HttpRequest.h"

#include <algorithm>
#include <vector>

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
    return head(target, host, cookie, RequestOptions{}, {}, {});
}

std::string HttpRequest::head(std::u16string_view target, std::u16string_view host,
                              std::u16string_view cookie, const RequestOptions& options,
                              std::string_view authorization, std::string_view proxyAuthorization) {
    std::vector<std::pair<std::string, std::string>> fixed = {
        {"Content-Type", "text/html"},
        {"Host", {}},
        {"Accept", "*/*"},
        {"Accept-Encoding", "identity"},
        {"User-Agent",
         options.userAgent.empty() ? "Mozilla/4.0 (compatible; MSIE 5.00; Windows 98)" : options.userAgent},
    };
    std::string cookieValue = ToUtf8(cookie);
    std::vector<const std::pair<std::string, std::string>*> extra;
    for (const auto& header : options.headers) {
        auto same = std::find_if(fixed.begin(), fixed.end(), [&](const auto& line) {
            return EqualsIgnoreAsciiCase(line.first, header.first);
        });
        if (same != fixed.end() && same->first != "Host") {
            same->second = header.second;
        } else if (EqualsIgnoreAsciiCase(header.first, "Cookie")) {
            cookieValue += (cookieValue.empty() ? "" : "; ") + header.second;
        } else {
            extra.push_back(&header);
        }
    }
    std::string out;
    out.reserve(256 + target.size() + cookieValue.size());
    out += "GET ";
    out += encodeTarget(target);
    out += " HTTP/1.1\r\n";
    const auto line = [&out](std::string_view name, std::string_view value) {
        out += name;
        out += ": ";
        appendValue(out, FromUtf8(value));
        out += "\r\n";
    };
    for (const auto& [name, value] : fixed) {
        if (name == "Host") {
            out += "Host: ";
            appendValue(out, host);
            out += "\r\n";
        } else {
            line(name, value);
        }
    }
    if (!authorization.empty()) line("Authorization", authorization);
    if (!proxyAuthorization.empty()) line("Proxy-Authorization", proxyAuthorization);
    // Never folded: RFC 7230 section 3.2.4 made line folding obsolete, and servers reject it.
    if (!cookieValue.empty()) line("Cookie", cookieValue);
    for (const auto* header : extra) line(header->first, header->second);
    out += "\r\n";
    return out;
}

std::string HttpRequest::connect(std::string_view authority, std::string_view proxyAuthorization) {
    // RFC 9110 section 9.3.6: the request target is the authority form, and Host names it too.
    std::string out =
        "CONNECT " + std::string(authority) + " HTTP/1.1\r\nHost: " + std::string(authority) + "\r\n";
    if (!proxyAuthorization.empty())
        out += "Proxy-Authorization: " + std::string(proxyAuthorization) + "\r\n";
    return out + "\r\n";
}

std::string HttpRequest::masked(std::string_view head) {
    std::string out;
    while (!head.empty()) {
        const size_t end = head.find('\n');
        std::string_view line = head.substr(0, end == std::string_view::npos ? head.size() : end + 1);
        head.remove_prefix(line.size());
        const size_t colon = line.find(':');
        const std::string_view name =
            colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
        if (EqualsIgnoreAsciiCase(name, "Authorization") ||
            EqualsIgnoreAsciiCase(name, "Proxy-Authorization")) {
            // The scheme stays readable; the credentials do not.
            const std::string_view value = TrimBytes(line.substr(colon + 1));
            const size_t space = value.find(' ');
            out +=
                std::string(name) + ": " +
                (space == std::string_view::npos ? std::string() : std::string(value.substr(0, space + 1))) +
                "****\r\n";
        } else if (EqualsIgnoreAsciiCase(name, "Cookie")) {
            std::string value = std::string(TrimBytes(line.substr(colon + 1)));
            std::string shown;
            size_t at = 0;
            while (at <= value.size()) {
                size_t semicolon = value.find(';', at);
                if (semicolon == std::string::npos) semicolon = value.size();
                const std::string_view pair = TrimBytes(std::string_view(value).substr(at, semicolon - at));
                const size_t eq = pair.find('=');
                if (!shown.empty()) shown += "; ";
                shown += std::string(pair.substr(0, eq)) + "=****";
                at = semicolon + 1;
            }
            out += std::string(name) + ": " + shown + "\r\n";
        } else {
            out += line;
        }
    }
    return out;
}

}  // namespace vantrel
