#pragma once
// A browser's cookies in the Netscape cookies.txt form that curl, yt-dlp and browser extensions
// write: one cookie a line, seven fields separated by tabs (domain, include subdomains, path,
// secure, expiry in seconds since 1970 UTC, name, value). Read into cookies for the store, with
// every line that is no cookie the store can take told with its reason.
#include <string>
#include <string_view>
#include <vector>

#include "net/CookieStore.h"

namespace vantrel {

struct CookieLine {
    int line = 0;  // 1-based line in the file
    std::string domain, name;
    std::string refused;  // why it was not taken; empty for a cookie taken
};

struct CookieFileContents {
    std::vector<StoredCookie> cookies;  // in file order
    std::vector<CookieLine> lines;      // every cookie line, taken or refused, in file order
};

class CookieFile {
  public:
    // Reads `text` at time `now` (seconds since 1970 UTC). Comment lines ("#") and blank lines are
    // skipped, but "#HttpOnly_" before a domain only marks the cookie as unseen by scripts. An
    // expiry of 0 is a session cookie; an expiry at or before `now` is refused as expired. With
    // `onlyHost`, a cookie whose domain does not match that host is refused (a page's own import).
    static CookieFileContents parse(std::string_view text, long long now, std::u16string_view onlyHost = {});

    // Parses, then adds what was taken to `store`; a cookie the store refuses is marked so.
    static std::vector<CookieLine> import(CookieStore& store, std::string_view text, long long now,
                                          std::u16string_view onlyHost = {});
};

}  // namespace vantrel
