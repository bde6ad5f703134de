#include "net/CookieFile.h"

#include "net/HttpDate.h"
#include "text/Text.h"

namespace vantrel {

namespace {

std::vector<std::string_view> splitTabs(std::string_view line) {
    std::vector<std::string_view> fields;
    for (;;) {
        const size_t tab = line.find('\t');
        fields.push_back(line.substr(0, tab));
        if (tab == std::string_view::npos) return fields;
        line.remove_prefix(tab + 1);
    }
}

// The flags are written as TRUE and FALSE; other case is accepted as curl accepts it.
int flag(std::string_view text) {
    if (EqualsIgnoreAsciiCase(text, "TRUE")) return 1;
    if (EqualsIgnoreAsciiCase(text, "FALSE")) return 0;
    return -1;
}

std::string checkLine(std::string_view line, long long now, std::u16string_view onlyHost,
                      StoredCookie& cookie, CookieLine& told) {
    const std::vector<std::string_view> fields = splitTabs(line);
    // Six fields: a cookie with an empty value, which some writers leave without its tab.
    if (fields.size() != 7 && fields.size() != 6) return "not seven fields separated by tabs";
    std::string_view domain = fields[0];
    told.domain = std::string(domain);
    told.name = std::string(fields[5]);
    const int subdomains = flag(fields[1]);
    const int secure = flag(fields[3]);
    if (subdomains < 0 || secure < 0) return "a flag is neither TRUE nor FALSE";
    if (domain.empty() || domain == ".") return "it has no domain";
    if (fields[2].empty() || fields[2].front() != '/') return "its path does not start with \"/\"";
    if (fields[5].empty()) return "it has no name";
    const std::string_view expiryText = TrimBytes(fields[4]);
    if (expiryText.empty() || expiryText.find_first_not_of("0123456789") != std::string_view::npos ||
        expiryText.size() > 18)
        return "its expiry is not a number of seconds";
    const long long expiry = std::stoll(std::string(expiryText));
    if (expiry != 0 && expiry <= now) return "it has expired";
    // A cookie for the subdomains too has the store's leading dot; one for the host alone none.
    if (domain.front() == '.') domain.remove_prefix(1);
    cookie.domain = FromUtf8(subdomains ? "." + std::string(domain) : std::string(domain));
    cookie.path = FromUtf8(fields[2]);
    cookie.secure = secure == 1;
    cookie.name = FromUtf8(fields[5]);
    cookie.value = fields.size() == 7 ? FromUtf8(fields[6]) : std::u16string();
    if (expiry != 0) cookie.expires = HttpDate::format(expiry);
    if (!onlyHost.empty() && !CookieStore::domainMatch(onlyHost, cookie.domain) &&
        !EqualsIgnoreAsciiCase(onlyHost, FromUtf8(domain)))
        return "it is not for " + ToUtf8(onlyHost);
    return {};
}

}  // namespace

CookieFileContents CookieFile::parse(std::string_view text, long long now, std::u16string_view onlyHost) {
    CookieFileContents contents;
    int number = 0;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        constexpr std::string_view kHttpOnly = "#HttpOnly_";
        if (line.starts_with(kHttpOnly)) {
            line.remove_prefix(kHttpOnly.size());
        } else if (line.starts_with("#") || TrimBytes(line).empty()) {
            continue;
        }
        StoredCookie cookie;
        CookieLine told;
        told.line = number;
        told.refused = checkLine(line, now, onlyHost, cookie, told);
        if (told.refused.empty()) contents.cookies.push_back(std::move(cookie));
        contents.lines.push_back(std::move(told));
    }
    return contents;
}

std::vector<CookieLine> CookieFile::import(CookieStore& store, std::string_view text, long long now,
                                           std::u16string_view onlyHost) {
    CookieFileContents contents = parse(text, now, onlyHost);
    size_t next = 0;
    for (CookieLine& line : contents.lines) {
        if (!line.refused.empty()) continue;
        line.refused = store.add(std::move(contents.cookies[next++]));
    }
    return contents.lines;
}

}  // namespace vantrel
