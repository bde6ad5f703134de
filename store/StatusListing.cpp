#include "store/StatusListing.h"

#include "core/CheckReport.h"
#include "store/FileIo.h"
#include "store/HistoryStore.h"
#include "store/IniFile.h"
#include "store/StoreLimits.h"
#include "store/TextCodec.h"
#include "text/Text.h"

namespace vantrel {

namespace {

constexpr int64_t kSameCheckSlackMs = 2000;

// A JSON string (RFC 8259, section 7), or null for an empty text.
std::string JsonString(std::u16string_view text, bool emptyIsNull = false) {
    if (text.empty() && emptyIsNull) return "null";
    std::string out = "\"";
    for (const char c : ToUtf8(text)) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += "\\u00";
            out += kHex[byte >> 4];
            out += kHex[byte & 15];
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace

StatusListing BuildStatusListing(const std::string& pageListPath, const std::string& historyPath, bool json,
                                 const std::set<std::u16string>& waitingForNetwork) {
    StatusListing listing;
    const FileRead file = ReadWholeFile(pageListPath, limits::kMaxPageListFileBytes);
    if (file.outcome == FileRead::Outcome::Unreadable) {
        listing.exitCode = 2;
        listing.errors = "vantrel: cannot read " + pageListPath + "\n";
        return listing;
    }
    if (file.outcome == FileRead::Outcome::Missing) {
        if (json) listing.output = "[]\n";
        return listing;
    }

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
        // The status stays what the last check found: a put-off check has not judged the page.
        const bool waiting = waitingForNetwork.count(url) != 0;
        if (json)
            listing.output +=
                std::string(listing.output.empty() ? "[\n" : ",\n") + "  {\"label\": " + JsonString(label) +
                ", \"url\": " + JsonString(url) + ", \"status\": " + JsonString(status) +
                ", \"lastCheck\": " + JsonString(time, true) + ", \"result\": " + JsonString(result, true) +
                ", \"waitingForNetwork\": " + (waiting ? "true" : "false") + "}";
        else
            listing.output += ToUtf8(StatusListingLine(label, status, time, result)) +
                              (waiting ? "\tWaiting for the network\n" : "\n");
    }
    if (json) listing.output += listing.output.empty() ? "[]\n" : "\n]\n";
    return listing;
}

}  // namespace vantrel
