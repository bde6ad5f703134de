#pragma once
// How a page is asked for, beyond its URL: header lines of the user's, another User-Agent, the
// user name of its Basic authentication and a browser's cookies file. Kept with the page's filters
// and passed along with them; all empty for a page asked for as the program always asks.
#include <string>

namespace vantrel {

struct PageRequestSettings {
    std::u16string headers;     // "Name: value" lines, checked when the user saves them
    std::u16string userAgent;   // empty: the program's own
    std::u16string authUser;    // Basic authentication; its password is in the secret store
    std::u16string cookieFile;  // a cookies.txt whose cookies for this page are read in
    // Never stored: the password, filled in from the secret store when the page is handed out.
    std::u16string authPassword;

    bool empty() const {
        return headers.empty() && userAgent.empty() && authUser.empty() && cookieFile.empty();
    }
    friend bool operator==(const PageRequestSettings&, const PageRequestSettings&) = default;
};

}  // namespace vantrel
