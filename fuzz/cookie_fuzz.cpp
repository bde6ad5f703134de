// Feeds arbitrary cookie header values to the store and asks for the "Cookie" value; checks that
// nothing a server sends can put a control character into our request head, and that every date
// read back from its own written form is the same instant.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "net/CookieStore.h"
#include "net/HttpDate.h"
#include "text/Text.h"

using namespace vantrel;

namespace {
long long fuzzNow = 0;
long long fuzzClock() {
    return fuzzNow;
}
}  // namespace

// Line 1: request host; line 2: request path; further lines: a "Set-cookie" value each, or a
// "Set-cookie2" value when the line starts with "2".
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzNow = 784111777;
    const std::u16string input = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    std::vector<std::u16string> lines;
    size_t start = 0;
    while (start <= input.size()) {
        const size_t newline = input.find(u'\n', start);
        lines.push_back(
            input.substr(start, newline == std::u16string::npos ? std::u16string::npos : newline - start));
        if (newline == std::u16string::npos) break;
        start = newline + 1;
    }
    const std::u16string host = lines.empty() ? std::u16string() : lines[0];
    const std::u16string path = lines.size() < 2 ? std::u16string(u"/") : lines[1];

    CookieStore store(&fuzzClock);
    std::vector<std::u16string> setCookie, setCookie2;
    for (size_t i = 2; i < lines.size(); ++i) {
        (!lines[i].empty() && lines[i][0] == u'2' ? setCookie2 : setCookie).push_back(lines[i]);
        if (const auto t = HttpDate::parse(lines[i])) {
            if (HttpDate::parse(HttpDate::format(*t)) != t) __builtin_trap();
        }
    }
    for (int round = 0; round < 2; ++round) {
        store.storeFrom(setCookie, setCookie2, host);
        const std::u16string header = store.cookieHeaderFor(host, path);
        for (char16_t c : header) {
            if ((c < 0x20 && c != u'\t') || c == 0x7F) __builtin_trap();
        }
        fuzzNow += 3600;
    }
    return 0;
}
