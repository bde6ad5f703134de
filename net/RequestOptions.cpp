#include "net/RequestOptions.h"

#include "text/Text.h"

namespace vantrel {

namespace {

// RFC 9110 section 5.6.2: tchar.
bool isTokenChar(unsigned char c) {
    if (c >= '0' && c <= '9') return true;
    if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
    return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) != std::string_view::npos;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string HeaderProblem(std::string_view name, std::string_view value) {
    if (name.empty()) return "the header has no name";
    for (unsigned char c : name)
        if (!isTokenChar(c)) return "\"" + std::string(name) + "\" is not a valid header name";
    for (unsigned char c : value) {
        if (c == '\r' || c == '\n') return "the value of " + std::string(name) + " holds a line break";
        if ((c < 32 && c != '\t') || c == 127)
            return "the value of " + std::string(name) + " holds a control character";
    }
    if (EqualsIgnoreAsciiCase(name, "Host")) return "Host is always the page's own";
    if (EqualsIgnoreAsciiCase(name, "Content-Length")) return "a GET request has no Content-Length";
    if (EqualsIgnoreAsciiCase(name, "Transfer-Encoding")) return "a GET request has no body to encode";
    if (EqualsIgnoreAsciiCase(name, "Connection")) return "the program decides on Connection itself";
    return {};
}

std::string ParseHeaderLines(std::string_view lines,
                             std::vector<std::pair<std::string, std::string>>& headers) {
    headers.clear();
    std::vector<std::pair<std::string, std::string>> found;
    int number = 0;
    while (!lines.empty()) {
        const size_t end = lines.find('\n');
        const std::string_view line = trimmed(lines.substr(0, end));
        lines = end == std::string_view::npos ? std::string_view() : lines.substr(end + 1);
        ++number;
        if (line.empty()) continue;
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos)
            return "Line " + std::to_string(number) + ": \"Name: value\" expected";
        const std::string_view name = trimmed(line.substr(0, colon));
        const std::string_view value = trimmed(line.substr(colon + 1));
        if (std::string problem = HeaderProblem(name, value); !problem.empty())
            return "Line " + std::to_string(number) + ": " + problem;
        found.emplace_back(name, value);
    }
    headers = std::move(found);
    return {};
}

std::string BasicCredentials(std::string_view user, std::string_view password) {
    static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    const std::string plain = std::string(user) + ":" + std::string(password);
    std::string out = "Basic ";
    size_t i = 0;
    for (; i + 2 < plain.size(); i += 3) {
        const unsigned v = (static_cast<unsigned char>(plain[i]) << 16) |
                           (static_cast<unsigned char>(plain[i + 1]) << 8) |
                           static_cast<unsigned char>(plain[i + 2]);
        for (int shift = 18; shift >= 0; shift -= 6) out += kAlphabet[(v >> shift) & 63];
    }
    if (const size_t rest = plain.size() - i; rest > 0) {
        unsigned v = static_cast<unsigned char>(plain[i]) << 16;
        if (rest == 2) v |= static_cast<unsigned char>(plain[i + 1]) << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

}  // namespace vantrel
