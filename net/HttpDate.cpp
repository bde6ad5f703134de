#include "net/HttpDate.h"

#include <array>
#include <cstdio>

namespace vantrel {
namespace {

constexpr std::array<const char*, 12> kMonths = {"jan", "feb", "mar", "apr", "may", "jun",
                                                 "jul", "aug", "sep", "oct", "nov", "dec"};
constexpr std::array<const char*, 12> kMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                     "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<const char*, 7> kDayNames = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr int64_t kSecondsPerDay = 86400;

// RFC 6265 section 5.1.1: delimiter = %x09 / %x20-2F / %x3B-40 / %x5B-60 / %x7B-7E.
bool isDelimiter(char16_t c) {
    return c == 0x09 || (c >= 0x20 && c <= 0x2F) || (c >= 0x3B && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
           (c >= 0x7B && c <= 0x7E);
}

bool isDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

// Reads min..max digits at `pos` that are not followed by a further digit.
bool readDigits(std::u16string_view token, size_t& pos, size_t minCount, size_t maxCount, int& value) {
    size_t n = 0;
    int v = 0;
    while (pos + n < token.size() && isDigit(token[pos + n])) {
        if (++n > maxCount) return false;
        v = v * 10 + (token[pos + n - 1] - u'0');
    }
    if (n < minCount) return false;
    pos += n;
    value = v;
    return true;
}

// time = hms-time ( non-digit *OCTET ); hms-time = 1*2DIGIT ":" 1*2DIGIT ":" 1*2DIGIT
bool readTime(std::u16string_view token, int& hour, int& minute, int& second) {
    size_t pos = 0;
    int h = 0, m = 0, s = 0;
    if (!readDigits(token, pos, 1, 2, h) || pos >= token.size() || token[pos++] != u':') return false;
    if (!readDigits(token, pos, 1, 2, m) || pos >= token.size() || token[pos++] != u':') return false;
    if (!readDigits(token, pos, 1, 2, s)) return false;
    hour = h;
    minute = m;
    second = s;
    return true;
}

// A whole-token number of min..max digits, optionally followed by a non-digit and anything.
bool readNumberToken(std::u16string_view token, size_t minCount, size_t maxCount, int& value) {
    size_t pos = 0;
    return readDigits(token, pos, minCount, maxCount, value);
}

bool readMonth(std::u16string_view token, int& month) {
    if (token.size() < 3) return false;
    for (size_t m = 0; m < kMonths.size(); ++m) {
        bool same = true;
        for (size_t i = 0; i < 3 && same; ++i) {
            char16_t c = token[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            same = c == static_cast<char16_t>(kMonths[m][i]);
        }
        if (same) {
            month = static_cast<int>(m) + 1;
            return true;
        }
    }
    return false;
}

bool isLeapYear(int64_t y) {
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int daysInMonth(int64_t year, int month) {
    static constexpr std::array<int, 12> kDays = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && isLeapYear(year) ? 29 : kDays[static_cast<size_t>(month - 1)];
}

int64_t floorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t daysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;
    const int64_t mp = (m + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

void civilFromDays(int64_t z, int64_t& y, int& m, int& d) {
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2 ? 1 : 0);
}

}  // namespace

std::optional<int64_t> HttpDate::parse(std::u16string_view text) {
    bool foundTime = false, foundDay = false, foundMonth = false, foundYear = false;
    int hour = 0, minute = 0, second = 0, day = 0, month = 0, year = 0;

    size_t pos = 0;
    while (pos < text.size()) {
        while (pos < text.size() && isDelimiter(text[pos])) ++pos;
        const size_t start = pos;
        while (pos < text.size() && !isDelimiter(text[pos])) ++pos;
        if (start == pos) break;
        const std::u16string_view token = text.substr(start, pos - start);
        // RFC 6265 section 5.1.1 step 2: each token fills the first field it fits, in this order.
        if (!foundTime && readTime(token, hour, minute, second)) {
            foundTime = true;
        } else if (!foundDay && readNumberToken(token, 1, 2, day)) {
            foundDay = true;
        } else if (!foundMonth && readMonth(token, month)) {
            foundMonth = true;
        } else if (!foundYear && readNumberToken(token, 2, 4, year)) {
            foundYear = true;
        }
    }
    // Steps 3 and 4: two-digit years.
    if (year >= 70 && year <= 99) {
        year += 1900;
    } else if (year >= 0 && year <= 69) {
        year += 2000;
    }
    // Step 5: every field present, in range, and the date exists.
    if (!foundTime || !foundDay || !foundMonth || !foundYear) return std::nullopt;
    if (day < 1 || day > 31 || year < 1601 || hour > 23 || minute > 59 || second > 59) return std::nullopt;
    if (day > daysInMonth(year, month)) return std::nullopt;
    return daysFromCivil(year, month, day) * kSecondsPerDay + hour * 3600 + minute * 60 + second;
}

std::u16string HttpDate::format(int64_t secondsSinceEpoch) {
    const int64_t days = floorDiv(secondsSinceEpoch, kSecondsPerDay);
    const int64_t secs = secondsSinceEpoch - days * kSecondsPerDay;
    int64_t year = 0;
    int month = 0, day = 0;
    civilFromDays(days, year, month, day);
    const int64_t weekday = days - floorDiv(days, 7) * 7;  // 0 = Thursday, 1970-01-01
    char buffer[64];
    const int n = std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04lld %02lld:%02lld:%02lld GMT",
                                kDayNames[static_cast<size_t>((weekday + 4) % 7)], day,
                                kMonthNames[static_cast<size_t>(month - 1)], static_cast<long long>(year),
                                static_cast<long long>(secs / 3600), static_cast<long long>(secs / 60 % 60),
                                static_cast<long long>(secs % 60));
    return std::u16string(buffer, buffer + (n > 0 ? n : 0));
}

}  // namespace vantrel
