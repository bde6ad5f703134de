// Splits and resolves arbitrary text as URLs and relative paths; checks the invariants callers
// rely on (an absolute URL yields a target starting with "/", relative paths never keep "//").
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "net/PageFetcher.h"
#include "net/Url.h"
#include "text/Text.h"

using namespace vantrel;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::u16string input = FromUtf8(std::string_view(reinterpret_cast<const char*>(data), size));
    const size_t newline = input.find(u'\n');
    const std::u16string first = input.substr(0, newline);
    const std::u16string second =
        newline == std::u16string::npos ? std::u16string() : input.substr(newline + 1);

    const UrlParts parts = Url::split(input);
    if (input.find(u"://") != std::u16string::npos && (parts.path.empty() || parts.path.front() != u'/')) {
        __builtin_trap();
    }

    UrlParts current;
    for (const std::u16string* text : {&first, &second, &input}) {
        try {
            current = Url::resolve(current, *text);
            const std::u16string target = Url::requestTarget(current);
            const std::u16string host = Url::hostValue(current);
            if (current.port.empty()) __builtin_trap();
            (void)target;
            (void)host;
        } catch (const FetchError&) {
        }
    }
    // With a port known, resolution never fails.
    static const UrlParts base = Url::resolve({}, u"http://host:8080/a/b/");
    if (Url::resolve(base, first).port.empty()) __builtin_trap();

    const std::u16string path = Url::resolvePath(first, second);
    if (second.empty() || second.front() != u'/') {
        if (path.find(u"//") != std::u16string::npos) __builtin_trap();
    } else if (path != second) {
        __builtin_trap();
    }
    return 0;
}
