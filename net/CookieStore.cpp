#include "net/CookieStore.h"

#include <algorithm>
#include <chrono>

#include "net/HttpDate.h"
#include "text/Text.h"

namespace vantrel {
namespace {

constexpr auto npos = std::u16string::npos;

long long systemNow() {
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// One attribute item after its name was put in capitals.
struct Attribute {
    std::u16string name;   // the text before the first "=", or the whole item without one
    std::u16string value;  // the text after the first "="
    bool hasValue = false;
};

class Attributes {
  public:
    explicit Attributes(std::vector<Attribute> items) : items_(std::move(items)) {}

    // The value of the first "name=value" item with this name, ignoring case; empty when none.
    std::u16string value(std::u16string_view name) const {
        for (const Attribute& a : items_) {
            if (a.hasValue && EqualsIgnoreAsciiCase(a.name, name)) return a.value;
        }
        return {};
    }
    bool hasFlag(std::u16string_view upperName) const {
        return std::any_of(items_.begin(), items_.end(),
                           [&](const Attribute& a) { return !a.hasValue && a.name == upperName; });
    }

  private:
    std::vector<Attribute> items_;
};

std::vector<std::u16string> splitItems(std::u16string_view text) {
    std::vector<std::u16string> items;
    size_t start = 0;
    while (true) {
        const size_t semicolon = text.find(u';', start);
        items.push_back(Trim(text.substr(start, semicolon == npos ? npos : semicolon - start)));
        if (semicolon == npos) return items;
        start = semicolon + 1;
    }
}

// "Port" of a Set-cookie2 value: a comma-separated list in double quotes, else port 80 alone.
std::vector<int> parsePorts(std::u16string_view text) {
    std::vector<int> ports;
    if (text.size() >= 2 && text.front() == u'"' && text.back() == u'"') {
        const std::u16string_view list = text.substr(1, text.size() - 2);
        size_t start = 0;
        while (start <= list.size()) {
            const size_t comma = list.find(u',', start);
            const int port = IntFromText(Trim(list.substr(start, comma == npos ? npos : comma - start)), -1);
            if (port >= 0) ports.push_back(port);
            if (comma == npos) break;
            start = comma + 1;
        }
    }
    if (ports.empty()) ports.push_back(80);
    return ports;
}

// RFC 6265bis ignores a cookie line holding a control character other than tab; echoing one in
// the "Cookie" request header would let a server inject header lines into our next request.
bool hasControlCharacter(std::u16string_view text) {
    return std::any_of(text.begin(), text.end(),
                       [](char16_t c) { return (c < 0x20 && c != u'\t') || c == 0x7F; });
}

StoredCookie parseCookie(std::u16string_view text, bool setCookie2, long long now) {
    std::vector<std::u16string> items = splitItems(text);
    StoredCookie cookie;
    const size_t eq = items.front().find(u'=');
    if (eq != npos) {
        cookie.name = items.front().substr(0, eq);
        cookie.value = items.front().substr(eq + 1);
    }
    std::vector<Attribute> attributes;
    for (size_t i = 1; i < items.size(); ++i) {
        const std::u16string& item = items[i];
        const size_t split = item.find(u'=');
        if (split == npos) {
            attributes.push_back({ToUpperAscii(item), {}, false});
        } else {
            attributes.push_back({ToUpperAscii(item.substr(0, split)), item.substr(split + 1), true});
        }
    }
    const Attributes attrs(std::move(attributes));

    cookie.path = attrs.value(u"PATH");
    if (cookie.path.empty()) {
        cookie.path = u"/";
    } else {
        if (cookie.path.front() == u'"') cookie.path.erase(0, 1);
        if (!cookie.path.empty() && cookie.path.back() == u'"') cookie.path.pop_back();
    }
    cookie.expires = attrs.value(u"EXPIRES");
    cookie.domain = attrs.value(u"DOMAIN");
    cookie.secure = attrs.hasFlag(u"SECURE");
    cookie.maxAge = IntFromText(Trim(attrs.value(u"MAX-AGE")), -1);
    cookie.version = attrs.value(u"VERSION");
    cookie.comment = attrs.value(u"COMMENT");
    if (cookie.expires.empty() && cookie.maxAge >= 0) cookie.expires = HttpDate::format(now + cookie.maxAge);
    if (setCookie2) {
        cookie.commentUrl = attrs.value(u"CommentURL");
        cookie.discard = attrs.hasFlag(u"DISCARD");
        cookie.ports = parsePorts(attrs.value(u"Port"));
    }
    return cookie;
}

bool isIpv4Address(std::u16string_view host) {
    const std::u16string text = Trim(host);
    std::u16string_view rest = text;
    for (int part = 0; part < 4; ++part) {
        const size_t dot = rest.find(u'.');
        if (part < 3 && dot == npos) return false;
        const int value = IntFromText(rest.substr(0, dot), -1);
        if (value < 0 || value > 255) return false;
        rest = dot == npos ? std::u16string_view() : rest.substr(dot + 1);
    }
    return true;
}

}  // namespace

CookieStore::CookieStore(Now now) : now_(now ? now : &systemNow) {}

bool CookieStore::domainMatch(std::u16string_view host, std::u16string_view domain) {
    if (isIpv4Address(host)) return domain == host;
    if (!host.empty() && host.front() == u'.') return false;
    if (!domain.empty() && domain.front() == u'.') {
        return host.size() >= domain.size() &&
               EqualsIgnoreAsciiCase(host.substr(host.size() - domain.size()), domain);
    }
    return EqualsIgnoreAsciiCase(host, domain);
}

void CookieStore::storeFrom(const std::vector<std::u16string>& setCookie,
                            const std::vector<std::u16string>& setCookie2, std::u16string_view host) {
    std::lock_guard lock(mutex_);
    const long long now = now_();
    for (const std::u16string& value : setCookie) accept(parseCookie(value, false, now), host);
    for (const std::u16string& value : setCookie2) accept(parseCookie(value, true, now), host);
}

void CookieStore::accept(StoredCookie cookie, std::u16string_view host) {
    if (cookie.domain.empty()) cookie.domain = host;
    if (!domainMatch(host, cookie.domain)) return;
    insert(std::move(cookie));
}

std::string CookieStore::add(StoredCookie cookie) {
    std::lock_guard lock(mutex_);
    if (cookie.domain.empty()) return "it has no domain";
    return insert(std::move(cookie));
}

std::string CookieStore::insert(StoredCookie cookie) {
    if (hasControlCharacter(cookie.name) || hasControlCharacter(cookie.value))
        return "its name or value holds a control character";
    if (cookie.name.size() + cookie.value.size() > kMaxCookieNameValueChars)
        return "its name and value are longer than " + std::to_string(kMaxCookieNameValueChars) +
               " characters";

    auto findEntry = [&] {
        return std::find_if(domains_.begin(), domains_.end(),
                            [&](const Domain& d) { return EqualsIgnoreAsciiCase(d.domain, cookie.domain); });
    };
    auto entry = findEntry();
    if (entry != domains_.end()) {
        auto same = std::find_if(entry->cookies.begin(), entry->cookies.end(), [&](const StoredCookie& c) {
            return EqualsIgnoreAsciiCase(c.name, cookie.name);
        });
        if (same != entry->cookies.end()) {
            *same = std::move(cookie);
            return {};
        }
        if (entry->cookies.size() >= kMaxCookiesPerDomain) {
            entry->cookies.erase(entry->cookies.begin());
            --count_;
        }
    }
    if (count_ >= kMaxCookies) {
        evictOldestOfFullest();
        entry = findEntry();
    }
    if (entry == domains_.end()) {
        domains_.push_back(Domain{cookie.domain, {}});
        entry = std::prev(domains_.end());
    }
    entry->cookies.push_back(std::move(cookie));
    ++count_;
    return {};
}

void CookieStore::evictOldestOfFullest() {
    auto fullest = std::max_element(domains_.begin(), domains_.end(), [](const Domain& a, const Domain& b) {
        return a.cookies.size() < b.cookies.size();
    });
    if (fullest == domains_.end() || fullest->cookies.empty()) return;
    fullest->cookies.erase(fullest->cookies.begin());
    --count_;
    if (fullest->cookies.empty()) domains_.erase(fullest);
}

std::u16string CookieStore::cookieHeaderFor(std::u16string_view host, std::u16string_view path,
                                            bool secureChannel) {
    std::lock_guard lock(mutex_);
    // A cookie whose expiry is readable and not after this second is gone; an expiry that cannot
    // be read as a date never expires within the run.
    const long long now = now_();
    for (Domain& entry : domains_) {
        const auto end =
            std::remove_if(entry.cookies.begin(), entry.cookies.end(), [&](const StoredCookie& c) {
                if (c.expires.empty()) return false;
                const auto expiry = HttpDate::parse(c.expires);
                return expiry && *expiry <= now;
            });
        count_ -= static_cast<std::size_t>(entry.cookies.end() - end);
        entry.cookies.erase(end, entry.cookies.end());
    }
    std::erase_if(domains_, [](const Domain& d) { return d.cookies.empty(); });

    std::vector<const StoredCookie*> chosen;
    for (const Domain& entry : domains_) {
        if (!domainMatch(host, entry.domain)) continue;
        for (auto it = entry.cookies.rbegin(); it != entry.cookies.rend(); ++it) {
            if (path.starts_with(it->path) && (!it->secure || secureChannel) && !it->value.empty())
                chosen.push_back(&*it);
        }
    }
    std::u16string header;
    for (auto it = chosen.rbegin(); it != chosen.rend(); ++it) {
        if (!header.empty()) header += u"; ";
        header += (*it)->name + u"=" + (*it)->value;
    }
    return header;
}

}  // namespace vantrel
