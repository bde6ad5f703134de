// Feeds arbitrary cookies.txt files to the reader and the cookie store; checks that every line is
// told (taken or refused), that nothing taken lacks a name or a domain, and that no imported cookie
// can put a control character into our request head.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/CookieFile.h"
#include "net/CookieStore.h"

using namespace vantrel;

namespace {
long long fuzzClock() {
    return 1765000000;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CookieFileContents read = CookieFile::parse(text, fuzzClock(), u"www.example.com");
    size_t taken = 0;
    for (const CookieLine& line : read.lines)
        if (line.refused.empty()) ++taken;
    if (taken != read.cookies.size()) __builtin_trap();
    for (const StoredCookie& cookie : read.cookies)
        if (cookie.name.empty() || cookie.domain.empty()) __builtin_trap();
    CookieStore store(&fuzzClock);
    CookieFile::import(store, text, fuzzClock());
    for (bool secure : {false, true}) {
        for (char16_t c : store.cookieHeaderFor(u"www.example.com", u"/", secure))
            if ((c < 0x20 && c != u'\t') || c == 0x7F) __builtin_trap();
    }
    return 0;
}
