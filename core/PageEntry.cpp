#include "core/PageEntry.h"

#include "text/Text.h"

namespace vantrel {

const std::array<IntervalChoice, kIntervalCount> kIntervals = {{
    {1, u"1 minute"},
    {5, u"5 minutes"},
    {10, u"10 minutes"},
    {30, u"30 minutes"},
    {60, u"1 hour"},
    {180, u"3 hour"},
    {360, u"6 hours"},
    {720, u"12 hours"},
    {1440, u"1 day"},
}};

namespace {
constexpr int kMinutesOutsideTable = 5;
}

int IntervalMinutes(std::u16string_view intervalText) {
    int32_t index = IntFromText(intervalText, 0);
    if (index < 0 || index >= kIntervalCount) return kMinutesOutsideTable;
    return kIntervals[static_cast<size_t>(index)].minutes;
}

int DialogIntervalIndex(std::u16string_view intervalText) {
    int32_t index = IntFromText(intervalText, kDefaultIntervalIndex);
    if (index < 0 || index >= kIntervalCount) return -1;
    return index;
}

int64_t LastCheckStamp(LocalMillis now) {
    // Floor division, so the remainder is 0..999 also before 1970.
    int64_t seconds = now / 1000;
    int64_t rest = now % 1000;
    if (rest < 0) {
        seconds -= 1;
        rest += 1000;
    }
    if (rest > 500 || (rest == 500 && (seconds & 1) != 0)) seconds += 1;
    return seconds;
}

int64_t ReadStamp(std::u16string_view stampText) {
    return IntFromText64(stampText, 0);
}

}  // namespace vantrel
