#pragma once
// Reads and writes the dates of cookie "Expires" attributes: the lenient reading of RFC 6265
// section 5.1.1 (which accepts the RFC 1123, RFC 850 and asctime forms) and the IMF-fixdate form.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace vantrel {

class HttpDate {
  public:
    // Seconds since the epoch (UTC), or nothing when the text holds no complete, existing date
    // of the year 1601 or later.
    static std::optional<int64_t> parse(std::u16string_view text);
    // The IMF-fixdate form, e.g. "Sun, 06 Nov 1994 08:49:37 GMT"; parse reads it back.
    static std::u16string format(int64_t secondsSinceEpoch);
};

}  // namespace vantrel
