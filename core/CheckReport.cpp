#include "core/CheckReport.h"

#include <cstdlib>
#include <ctime>
#include <string>

#include "text/Text.h"

namespace vantrel {
namespace {

constexpr std::u16string_view kDash = u" \u2014 ";

// value / unit with one decimal, rounded half up: (12345, 1000) gives "12.3".
std::u16string Tenths(int64_t value, int64_t unit) {
    const int64_t tenths = (value * 10 + unit / 2) / unit;
    return IntToText(tenths / 10) + u"." + IntToText(tenths % 10);
}

// "HTTP/1.1 200 OK" without its protocol: "200 OK".
std::u16string_view WithoutProtocol(std::u16string_view statusLine) {
    if (statusLine.substr(0, 5) != u"HTTP/") return statusLine;
    const size_t space = statusLine.find(u' ');
    return space == std::u16string_view::npos ? statusLine : statusLine.substr(space + 1);
}

bool IsSuccessLine(std::u16string_view statusLine) {
    const std::u16string_view rest = WithoutProtocol(statusLine);
    return rest.size() != statusLine.size() && !rest.empty() && rest[0] == u'2';
}

std::u16string TwoDigits(int value) {
    return std::u16string{static_cast<char16_t>(u'0' + value / 10), static_cast<char16_t>(u'0' + value % 10)};
}

int64_t FloorDiv(int64_t value, int64_t divisor) {
    return value / divisor - (value % divisor < 0 ? 1 : 0);
}

}  // namespace

std::u16string StatusInWords(PageStatus status, bool checked) {
    if (!checked) return u"Not checked yet";
    switch (status) {
        case PageStatus::Online:
            return u"Online";
        case PageStatus::Changed:
            return u"Changed";
        case PageStatus::Offline:
            return u"Offline";
    }
    return u"Unknown";
}

std::u16string SizeInWords(int64_t bytes) {
    if (bytes < 1000) return IntToText(bytes) + (bytes == 1 ? u" byte" : u" bytes");
    // Rounding may carry into the next unit: 999,960 bytes is "1.0 MB", not "1000.0 KB".
    if ((bytes * 10 + 500) / 1000 < 10000) return Tenths(bytes, 1000) + u" KB";
    if ((bytes * 10 + 500'000) / 1'000'000 < 10000) return Tenths(bytes, 1'000'000) + u" MB";
    return Tenths(bytes, 1'000'000'000) + u" GB";
}

std::u16string DurationInWords(int64_t ms) {
    if (ms < 10'000) return IntToText(ms < 0 ? 0 : ms) + u" ms";
    return Tenths(ms, 1000) + u" s";
}

std::u16string CheckResultText(const CheckRecord& check) {
    if (check.outcome == PageStatus::Online || check.outcome == PageStatus::Changed) {
        std::u16string head(WithoutProtocol(check.detail));
        if (head.empty()) head = StatusInWords(check.outcome, true);
        return head + std::u16string(kDash) + SizeInWords(check.textBytes) + u" in " +
               DurationInWords(check.durationMs);
    }
    std::u16string text = u"Offline";
    if (IsSuccessLine(check.detail))
        return text + std::u16string(kDash) + u"Empty page (" + check.detail + u")";
    if (!check.detail.empty()) text += std::u16string(kDash) + check.detail;
    return text;
}

std::u16string IsoTime(int64_t utcMs, int32_t offsetSeconds) {
    const int64_t seconds = FloorDiv(utcMs, 1000) + offsetSeconds;
    const std::time_t wall = static_cast<std::time_t>(seconds);
    std::tm parts{};
    ::gmtime_r(&wall, &parts);
    std::u16string text = IntToText(parts.tm_year + 1900) + u"-" + TwoDigits(parts.tm_mon + 1) + u"-" +
                          TwoDigits(parts.tm_mday) + u"T" + TwoDigits(parts.tm_hour) + u":" +
                          TwoDigits(parts.tm_min) + u":" + TwoDigits(parts.tm_sec);
    const int32_t minutes = (offsetSeconds < 0 ? -offsetSeconds : offsetSeconds) / 60;
    text += offsetSeconds < 0 ? u"-" : u"+";
    return text + TwoDigits(minutes / 60) + u":" + TwoDigits(minutes % 60);
}

std::u16string LocalIsoTime(int64_t utcMs) {
    const std::time_t seconds = static_cast<std::time_t>(FloorDiv(utcMs, 1000));
    std::tm parts{};
    ::localtime_r(&seconds, &parts);
    return IsoTime(utcMs, static_cast<int32_t>(parts.tm_gmtoff));
}

int64_t LocalToUtcMs(LocalMillis local) {
    const std::time_t wall = static_cast<std::time_t>(FloorDiv(local, 1000));
    // mktime reads the zone's file again on every call (to notice a change of time zone). The
    // results of a large cycle come in dozens a second: the last second's answer is kept, for
    // the same TZ, so the zone is looked at again at most once a second.
    struct Last {
        bool valid = false;
        std::time_t wall = 0;
        std::time_t utc = 0;
        bool zoneSet = false;
        std::string zone;
    };
    thread_local Last last;
    const char* zone = std::getenv("TZ");
    const bool sameZone = last.zoneSet == (zone != nullptr) && (!zone || last.zone == zone);
    std::time_t utc = 0;
    if (last.valid && last.wall == wall && sameZone) {
        utc = last.utc;
    } else {
        std::tm parts{};
        ::gmtime_r(&wall, &parts);
        parts.tm_isdst = -1;  // let the zone's rules decide
        utc = ::mktime(&parts);
        last = {true, wall, utc, zone != nullptr, zone ? zone : ""};
    }
    return static_cast<int64_t>(utc) * 1000 + (local - FloorDiv(local, 1000) * 1000);
}

std::u16string StatusListingLine(std::u16string_view label, std::u16string_view status,
                                 std::u16string_view time, std::u16string_view result) {
    std::u16string line;
    // A tab or line break inside a field would split the line where a reader does not expect it.
    const auto append = [&](std::u16string_view text) {
        for (char16_t c : text) line += c < 32 || c == 127 ? u' ' : c;
    };
    append(label);
    const auto column = [&](std::u16string_view text) {
        line += u'\t';
        append(text.empty() ? std::u16string_view(u"-") : text);
    };
    column(status);
    column(time);
    column(result);
    return line;
}

}  // namespace vantrel
