#pragma once
// The tables of the history file and the statements on them: what one check, a rename, a prune
// or a settings change writes, and what the windows read. Callers bring the connection and the
// transaction; every function throws SqliteError.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "core/CheckReport.h"
#include "core/PageEntry.h"
#include "filter/FilterSettings.h"

namespace vantrel {

class SqliteDb;

// Most checks kept per page; the oldest go first.
constexpr int kMaxChecksPerPage = 1000;
// A stored text is cut to this many bytes of UTF-8, at a character boundary.
constexpr size_t kMaxStoredTextBytes = 1024 * 1024;

struct StoredText {
    std::u16string text;
    bool cut = false;         // the page's text was longer than kMaxStoredTextBytes
    int64_t firstSeenMs = 0;  // the check that first got this text
    int64_t lastSeenMs = 0;   // the last check that still got it
};

// The text before the latest change and the latest text. `before` is empty until a change was
// seen since the page was first checked (or its text started afresh).
struct PageTexts {
    std::optional<StoredText> before;
    std::optional<StoredText> latest;
};

struct PageSummary {
    std::optional<CheckRecord> last;
    std::optional<int64_t> statusSinceMs;     // first check of the current run of the same status
    std::optional<int64_t> contentChangedMs;  // the latest check that found the page changed
    int64_t checkCount = 0;
};

// A page's filters and its failure count before offline are kept with its history; one type
// with the filter engine's, so what is saved is what the check applies.
using PageSettings = PageFilterSettings;

namespace history {

// The version of the tables this program writes.
constexpr int kSchemaVersion = 1;

// The file's table version, 0 for a new file.
int64_t SchemaVersion(SqliteDb& db);
// Why the file's tables are not this program's (a file of another program that uses the same
// names, or other columns), in words that follow "cannot use <file>: "; empty when they are ours
// or the file is new. Read-only: a foreign file is left as it was.
std::string ForeignTables(SqliteDb& db);
// The first damage SQLite finds in the file's pages, in the same words; empty when sound. Reads
// the whole file.
std::string DamagedPages(SqliteDb& db);
// Creates what is missing and stamps the version.
void CreateTables(SqliteDb& db);

// Adds the check, drops the page's checks past kMaxChecksPerPage and, when a text came, keeps it
// as the latest (see HistoryStore::record). `cut` says the text was already shortened.
void AddCheck(SqliteDb& db, const std::string& url, const CheckRecord& check,
              const std::optional<std::u16string>& text, bool cut);
void RenameUrl(SqliteDb& db, const std::string& from, const std::string& to, bool fromStillListed);
void Prune(SqliteDb& db, const std::vector<std::string>& keep);
void WriteSettings(SqliteDb& db, const std::string& url, const PageSettings& settings);
std::map<std::u16string, PageSettings> LoadSettings(SqliteDb& db);

std::vector<CheckRecord> RecentChecks(SqliteDb& db, const std::string& url, int limit);
PageSummary Summary(SqliteDb& db, const std::string& url);
PageTexts Texts(SqliteDb& db, const std::string& url);

}  // namespace history
}  // namespace vantrel
