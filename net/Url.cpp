#include "net/Url.h"

#include <algorithm>

#include "net/FetchError.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr auto npos = std::u16string::npos;

// Splits the query off `rest`: at the first "?", or, without one, at the first "=".
void splitQuery(std::u16string& rest, UrlParts& parts) {
    size_t q = rest.find(u'?');
    if (q == npos) q = rest.find(u'=');
    if (q == npos) return;
    parts.params = rest.substr(q + 1);
    rest.erase(q);
}

void splitAuthority(std::u16string authority, UrlParts& parts) {
    const size_t at = authority.find(u'@');
    if (at != npos) {
        const std::u16string userInfo = authority.substr(0, at);
        const size_t colon = userInfo.find(u':');
        parts.user = userInfo.substr(0, colon);
        // A password without a user name is dropped.
        if (colon != npos && !parts.user.empty()) parts.password = userInfo.substr(colon + 1);
        authority.erase(0, at + 1);
    }
    const size_t open = authority.find(u'[');
    const size_t close = open == npos ? npos : authority.find(u']', open + 1);
    if (close != npos) {
        parts.host = authority.substr(open + 1, close - open - 1);
        const size_t colon = authority.find(u':', close + 1);
        if (colon != npos) parts.port = authority.substr(colon + 1);
        parts.ipVersion = 6;
    } else {
        const size_t colon = authority.find(u':');
        parts.host = authority.substr(0, colon);
        if (colon != npos) parts.port = authority.substr(colon + 1);
        parts.ipVersion = 4;
    }
}

}  // namespace

UrlParts Url::split(std::u16string_view input) {
    UrlParts parts;
    std::u16string text(input);
    std::replace(text.begin(), text.end(), u'\\', u'/');

    std::u16string rest;
    const size_t schemeEnd = text.find(u"://");
    if (schemeEnd != npos) {
        parts.scheme = text.substr(0, schemeEnd);
        rest = text.substr(schemeEnd + 3);
        splitQuery(rest, parts);
        const size_t slash = rest.find(u'/');
        splitAuthority(rest.substr(0, slash), parts);
        rest = slash == npos ? std::u16string() : rest.substr(slash + 1);
        const size_t last = rest.rfind(u'/');
        if (last != npos) {
            parts.path = u"/" + rest.substr(0, last + 1);
            rest.erase(0, last + 1);
        } else {
            parts.path = u"/";
        }
    } else {
        rest = std::move(text);
        splitQuery(rest, parts);
        const size_t last = rest.rfind(u'/');
        if (last != npos) {
            parts.path = rest.substr(0, last + 1);
            rest.erase(0, last + 1);
        }
    }
    const size_t hash = rest.find(u'#');
    parts.document = rest.substr(0, hash);
    if (hash != npos) parts.fragment = rest.substr(hash + 1);
    return parts;
}

UrlParts Url::resolve(const UrlParts& current, std::u16string_view text) {
    const UrlParts next = split(text);
    UrlParts result = current;
    result.path = resolvePath(current.path, next.path);
    result.document = next.document;
    result.fragment = next.fragment;
    result.params = next.params;
    if (!next.host.empty()) {
        result.host = next.host;
        // The credentials and the address family belong to the host they came with: a relative
        // URL keeps them, a new host never inherits them (a bracketed literal stays IPv6 across
        // a relative redirect).
        result.user = next.user;
        result.password = next.password;
        result.ipVersion = next.ipVersion;
    }
    if (!next.scheme.empty()) {
        result.scheme = next.scheme;
    } else {
        result.scheme = EqualsIgnoreAsciiCase(current.scheme, u"https") ? u"https" : u"http";
    }
    if (!next.port.empty()) {
        result.port = next.port;
    } else if (EqualsIgnoreAsciiCase(next.scheme, u"http")) {
        result.port = u"80";
    } else if (EqualsIgnoreAsciiCase(next.scheme, u"https")) {
        result.port = u"443";
    } else if (result.port.empty()) {
        throw FetchError(FetchErrorKind::UnknownProtocol);
    }
    return result;
}

std::u16string Url::requestTarget(const UrlParts& url) {
    std::u16string target = url.path + url.document;
    if (!url.params.empty()) target += u"?" + url.params;
    return target;
}

std::u16string Url::hostValue(const UrlParts& url) {
    // RFC 7230 section 5.4 with RFC 3986 section 3.2.2: an IPv6 literal is written in brackets.
    std::u16string host = url.ipVersion == 6 ? u"[" + url.host + u"]" : url.host;
    if (url.port == u"80") return host;
    return host + u":" + url.port;
}

std::u16string Url::connectionKey(std::u16string_view url) {
    // The same steps as a page's first request, so the key names what the fetcher opens: the URL
    // resolved from nothing, the port read as a number (falling back to 80 as the fetcher does),
    // TLS for https alone, and the host compared without regard to ASCII case.
    UrlParts parts;
    try {
        parts = resolve(UrlParts{}, url);
    } catch (const FetchError&) {
        return {};
    }
    const std::u16string host = ToLowerAscii(parts.host);
    std::u16string key = parts.ipVersion == 6 ? u"[" + host + u"]" : host;
    key += u":" + IntToText(IntFromText(Trim(parts.port), 80));
    if (EqualsIgnoreAsciiCase(parts.scheme, u"https")) key += u" tls";
    return key;
}

std::u16string Url::resolvePath(std::u16string_view base, std::u16string_view path) {
    if (!path.empty() && path.front() == u'/') return std::u16string(path);
    const bool keepTrailing = path.empty() || path.back() == u'/';
    std::u16string walk(base);
    if (!walk.empty() && walk.back() != u'/') walk += u'/';
    walk += path;

    std::u16string result;
    result.reserve(walk.size());
    for (size_t i = 0; i < walk.size(); ++i) {
        const char16_t c = walk[i];
        if (c == u'/') {
            if (i == 0) {
                result = u"/";
            } else if (result.empty() || result.back() != u'/') {
                result += u'/';
            }
        } else if (c == u'.' && !result.empty() && result.back() == u'/' && i + 1 < walk.size() &&
                   walk[i + 1] == u'.') {
            // ".." drops the last segment of what is built so far.
            result.pop_back();
            while (!result.empty() && result.back() != u'/') result.pop_back();
            ++i;
        } else {
            result += c;
        }
    }
    if (result != u"/" && !result.empty() && result.back() == u'/' && !keepTrailing) result.pop_back();
    return result;
}

}  // namespace vantrel
