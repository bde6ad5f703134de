#pragma once
// The fetcher's memory of cookies for the run: what every response head sets, and the "Cookie"
// value for every request. Never written to disk.
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

struct StoredCookie {
    std::u16string name, value, domain, path, expires, version, comment, commentUrl;
    bool secure = false;
    bool discard = false;
    int maxAge = -1;
    std::vector<int> ports;
};

class CookieStore {
public:
    // Wall-clock time source in seconds since the epoch (UTC); tests replace it.
    using Now = long long (*)();
    explicit CookieStore(Now now = nullptr);

    // "Set-cookie" values first, then "Set-cookie2" values, each in the order received.
    void storeFrom(const std::vector<std::u16string>& setCookie,
                   const std::vector<std::u16string>& setCookie2, std::u16string_view host);

    // Drops expired cookies, then returns the "Cookie" value for a request (empty when none).
    std::u16string cookieHeaderFor(std::u16string_view host, std::u16string_view path);

    struct Domain {
        std::u16string domain;
        std::vector<StoredCookie> cookies;
    };
    const std::vector<Domain>& domains() const { return domains_; }

private:
    std::vector<Domain> domains_;
    Now now_;
};

}  // namespace vantrel
