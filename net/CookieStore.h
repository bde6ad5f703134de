#pragma once
// The fetcher's memory of cookies for the run: what every response head sets, and the "Cookie"
// value for every request. Never written to disk.
#include <cstddef>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel {

// Bounds that keep a hostile server from growing the store without end (RFC 6265 section 6.1
// asks for at least these). A cookie whose name and value together are longer is dropped; a new
// name beyond the per-domain bound evicts that domain's oldest cookie; a new cookie beyond the
// total evicts the oldest cookie of the domain that holds the most.
inline constexpr std::size_t kMaxCookieNameValueChars = 4096;
inline constexpr std::size_t kMaxCookiesPerDomain = 180;
inline constexpr std::size_t kMaxCookies = 3000;

struct StoredCookie {
    std::u16string name, value, domain, path, expires, version, comment, commentUrl;
    bool secure = false;
    bool discard = false;
    int maxAge = -1;
    std::vector<int> ports;
};

// Safe to share between fetchers on several threads: storing and asking take one lock.
class CookieStore {
  public:
    // Wall-clock time source in seconds since the epoch (UTC); tests replace it.
    using Now = long long (*)();
    explicit CookieStore(Now now = nullptr);

    // "Set-cookie" values first, then "Set-cookie2" values, each in the order received. A cookie
    // whose domain does not match the host, or whose name or value holds a control character, is
    // dropped.
    void storeFrom(const std::vector<std::u16string>& setCookie,
                   const std::vector<std::u16string>& setCookie2, std::u16string_view host);

    // Drops expired cookies, then returns the "Cookie" value for a request (empty when none).
    // A cookie marked secure goes only over a secure connection (`secureChannel`).
    std::u16string cookieHeaderFor(std::u16string_view host, std::u16string_view path,
                                   bool secureChannel = false);

    // A cookie from outside (a browser's cookies file) under the same bounds as a server's,
    // without a host to match: its domain says where it goes. Returns why it was refused, or
    // empty when it was stored.
    std::string add(StoredCookie cookie);

    struct Domain {
        std::u16string domain;
        std::vector<StoredCookie> cookies;
    };
    // Not locked: for a store no other thread is using.
    const std::vector<Domain>& domains() const { return domains_; }

    // Host H against domain D: an IPv4 host only equals; a host starting with "." never
    // matches; a D starting with "." is a suffix of H; otherwise equal. Letter case is ignored.
    static bool domainMatch(std::u16string_view host, std::u16string_view domain);

  private:
    void accept(StoredCookie cookie, std::u16string_view host);
    std::string insert(StoredCookie cookie);
    void evictOldestOfFullest();
    std::mutex mutex_;
    std::size_t count_ = 0;
    std::vector<Domain> domains_;
    Now now_;
};

}  // namespace vantrel
