#include "store/StatusListing.h"

#include "core/CheckReport.h"
#include "store/FileIo.h"
#include "store/HistoryStore.h"
#include "store/IniFile.h"
#include "store/StoreLimits.h"
#include "store/TextCodec.h"
#include "text/Text.h"

namespace vantrel {

constexpr int64_t kSameCheckSlackMs = 2000;

StatusListing BuildStatusListing(const std::string& pageListPath, const std::string& historyPath) {
    StatusListing listing;
    const FileRead file = ReadWholeFile(pageListPath, limits::kMaxPageListFileBytes);
    if (file.outcome == FileRead::Outcome::Unreadable) {
        listing.exitCode = 2;
        listing.errors = "vantrel: cannot read " + pageListPath + "\n";
        return listing;
    }
    if (file.outcome == FileRead::Outcome::Missing) return listing;

    const HistoryStore history(historyPath, HistoryStore::Access::ReadOnly);
    if (history.disabled()) listing.errors = ToUtf8(history.disabledReason()) + "\n";

    // The sections as the program reads them (the list file's own rules), without applying the
    // "recheck" option: this shows what is stored, not what the next start would reset.
    const IniFile ini(DecodeText(file.bytes).text);
    const int32_t count = ini.integer(u"main", u"count", 0);
    for (int32_t i = 1; i <= count; ++i) {
        const std::u16string section = u"web" + IntToText(i);
        const std::u16string label = ini.text(section, u"caption");
        if (label.empty()) continue;
        const auto fileStatus = static_cast<PageStatus>(ini.integer(section, u"status", 2));
        const std::u16string url = ini.text(section, u"item1");
        const int64_t stamp = ReadStamp(ini.text(section, u"item3"));
        const int64_t stampUtcMs = stamp != 0 ? LocalToUtcMs(stamp * 1000) : 0;

        const PageSummary summary = history.summary(url);
        std::u16string status, time, result;
        // The history is written as checks happen, the list file only at the end of a run: the
        // newer of the two tells the status. The stamp is whole seconds taken a moment after the
        // history's time of the same check, hence the slack.
        if (summary.last && summary.last->timeMs + kSameCheckSlackMs >= stampUtcMs) {
            status = StatusInWords(summary.last->status, true);
            time = LocalIsoTime(summary.last->timeMs);
            result = CheckResultText(*summary.last);
        } else {
            status = StatusInWords(fileStatus, stamp != 0);
            if (stamp != 0) time = LocalIsoTime(stampUtcMs);
        }
        listing.output += ToUtf8(StatusListingLine(label, status, time, result)) + "\n";
    }
    return listing;
}

}  // namespace vantrel
