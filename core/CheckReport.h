#pragma once
// One check as the history keeps it, and the words the details window and the status listing
// use for a page's status and for the result of its last check.
#include <cstdint>
#include <optional>
#include <string>

#include "core/PageEntry.h"

namespace vantrel {

struct CheckRecord {
    int64_t timeMs = 0;  // when the check ended, milliseconds since 1970-01-01 00:00:00 UTC
    int64_t durationMs = 0;
    PageStatus outcome = PageStatus::Offline;  // what this check found
    // The page's status after the check; it lags behind the outcome while failures are tolerated.
    PageStatus status = PageStatus::Offline;
    // The final response's status line ("HTTP/1.1 200 OK") or the failure message
    // ("Connection refused", "HTTP/1.1 404 Not Found").
    std::u16string detail;
    int64_t textBytes = 0;  // size of the text the check got, in UTF-8
};

// "Online", "Changed", "Offline"; "Not checked yet" when the page never was; "Unknown" for a
// status code outside the three (a hand-edited list file).
std::u16string StatusInWords(PageStatus status, bool checked);

// "12.3 KB", "512 bytes", "4.0 MB" (decimal units, one decimal).
std::u16string SizeInWords(int64_t bytes);

// "140 ms" below ten seconds, then "12.3 s".
std::u16string DurationInWords(int64_t ms);

// The result of a check: "200 OK — 12.3 KB in 140 ms" for a page that came, "Offline — <the
// status line or failure message>" for one that did not, "Offline — Empty page (HTTP/1.1 200 OK)"
// for a success without text.
std::u16string CheckResultText(const CheckRecord& check);

// ISO 8601 with the offset from UTC: "2026-12-08T11:49:48+01:00".
std::u16string IsoTime(int64_t utcMs, int32_t offsetSeconds);
// The same in the system's time zone at that moment.
std::u16string LocalIsoTime(int64_t utcMs);

// Converts a local wall-clock time counted as if it were UTC (the list file's stamps) to UTC,
// in the system's time zone.
int64_t LocalToUtcMs(LocalMillis local);

// One line of the status listing: label, status, time of the last check, its result, separated
// by tabs (control characters inside a field become blanks). Time and result are "-" when unknown.
std::u16string StatusListingLine(std::u16string_view label, std::u16string_view status,
                                 std::u16string_view time, std::u16string_view result);

}  // namespace vantrel
