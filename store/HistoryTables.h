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
#include "store/StoreLimits.h"

namespace vantrel {

class SqliteDb;

struct StoredText {
    std::u16string text;
    bool cut = false;         // the page's text was longer than limits::kMaxStoredTextBytes
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

namespace history {

// The version of the tables this program writes. Version 2 added the table of paused pages,
// version 3 the pages' request settings; a file of an earlier version is read as it is and gains
// the tables it lacks when it is next opened for writing.
constexpr int kSchemaVersion = 3;

// The file's table version, 0 for a new file.
int64_t SchemaVersion(SqliteDb& db);
// Why the file's tables are not this program's (a file of another program that uses the same
// names, or other columns), in words that follow "cannot use <file>: "; empty when they are ours
// or the file is new. Read-only: a foreign file is left as it was.
std::string ForeignTables(SqliteDb& db);
// The first damage SQLite finds in the file's pages, in the same words; empty when sound. Reads
// the whole file.
std::string DamagedPages(SqliteDb& db);
// Creates what is missing (the tables a file of an earlier version lacks among them) and stamps
// the version.
void CreateTables(SqliteDb& db);

// Adds the check, drops the page's checks past limits::kMaxChecksPerPage and, when a text came
// (UTF-8, at most limits::kMaxStoredTextBytes), keeps it as the latest (see HistoryStore::record).
// `cut` says the text was shortened.
void AddCheck(SqliteDb& db, const std::string& url, const CheckRecord& check,
              const std::optional<std::string>& text, bool cut);
void RenameUrl(SqliteDb& db, const std::string& from, const std::string& to, bool fromStillListed);
void Prune(SqliteDb& db, const std::vector<std::string>& keep);
void WriteSettings(SqliteDb& db, const std::string& url, const PageFilterSettings& settings);
std::map<std::u16string, PageFilterSettings> LoadSettings(SqliteDb& db);
// A page's checks paused until `until` (local wall-clock milliseconds, as the list's stamps);
// nullopt resumes them.
void WritePause(SqliteDb& db, const std::string& url, std::optional<int64_t> until);
// Every paused page's end of pause, by URL; none in a file of version 1.
std::map<std::u16string, int64_t> LoadPauses(SqliteDb& db);

std::vector<CheckRecord> RecentChecks(SqliteDb& db, const std::string& url, int limit);
PageSummary Summary(SqliteDb& db, const std::string& url);
PageTexts Texts(SqliteDb& db, const std::string& url);

}  // namespace history
}  // namespace vantrel
