#pragma once
// One watched page, its status codes, the fixed table of check intervals and the stamp of the
// last check.
#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// Status codes double as indexes of the status images. A value read from the page list file is
// kept whatever it is, so values outside these three occur.
enum class PageStatus : int32_t { Online = 0, Changed = 1, Offline = 2 };

// A stable identity of an entry within one run; survives sorting and the deletion of others.
using EntryId = uint64_t;

// Positions of the four text columns.
enum Column : int { kUrl = 0, kInterval = 1, kStamp = 2, kChecksum = 3 };
constexpr int kColumnCount = 4;

struct PageEntry {
    EntryId id = 0;
    std::u16string label;
    PageStatus status = PageStatus::Offline;
    // url, interval, stamp, checksum, in this order.
    std::array<std::u16string, kColumnCount> columns;
    // Bumped whenever the entry is reset so that a check in flight no longer applies:
    // a changed URL, "Recheck All".
    uint64_t revision = 0;

    const std::u16string& url() const { return columns[kUrl]; }
    const std::u16string& interval() const { return columns[kInterval]; }
    const std::u16string& stamp() const { return columns[kStamp]; }
    const std::u16string& checksum() const { return columns[kChecksum]; }
};

struct IntervalChoice {
    int minutes;
    std::u16string_view text;
};

constexpr int kIntervalCount = 9;
constexpr int kDefaultIntervalIndex = 2;
extern const std::array<IntervalChoice, kIntervalCount> kIntervals;

// Minutes between checks for an entry's interval text: IntFromText with default 0; an index
// outside 0..8 gives 5 minutes.
int IntervalMinutes(std::u16string_view intervalText);

// The interval index the dialog shows for an entry's interval text: IntFromText with default 2;
// an index outside 0..8 gives -1 (no choice).
int DialogIntervalIndex(std::u16string_view intervalText);

// Local wall-clock time counted as if it were UTC, in milliseconds since 1970-01-01 00:00:00.
using LocalMillis = int64_t;

// Whole seconds of a local time, rounded to nearest with an exact half going to the even number.
int64_t LastCheckStamp(LocalMillis now);

// A stamp text read back: IntFromText64 with default 0 (0 means never checked).
int64_t ReadStamp(std::u16string_view stampText);

}  // namespace vantrel
