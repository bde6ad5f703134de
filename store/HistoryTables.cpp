#include "store/HistoryTables.h"

#include <algorithm>
#include <utility>

#include "store/Sqlite.h"
#include "text/Text.h"

namespace vantrel::history {
namespace {

// Text slots of a page.
constexpr int64_t kBefore = 0;
constexpr int64_t kLatest = 1;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS pages(
  id INTEGER PRIMARY KEY,
  url TEXT NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS checks(
  id INTEGER PRIMARY KEY,
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  time INTEGER NOT NULL,
  duration INTEGER NOT NULL,
  outcome INTEGER NOT NULL,
  status INTEGER NOT NULL,
  detail TEXT NOT NULL,
  size INTEGER NOT NULL);
CREATE INDEX IF NOT EXISTS checks_by_page ON checks(page, id);
CREATE TABLE IF NOT EXISTS texts(
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  slot INTEGER NOT NULL,
  body TEXT NOT NULL,
  cut INTEGER NOT NULL,
  first_seen INTEGER NOT NULL,
  last_seen INTEGER NOT NULL,
  PRIMARY KEY(page, slot));
CREATE TABLE IF NOT EXISTS settings(
  page INTEGER PRIMARY KEY REFERENCES pages(id) ON DELETE CASCADE,
  selector_kind INTEGER NOT NULL,
  selector TEXT NOT NULL,
  visible_only INTEGER NOT NULL,
  failures INTEGER NOT NULL);
CREATE TABLE IF NOT EXISTS requests(
  page INTEGER PRIMARY KEY REFERENCES pages(id) ON DELETE CASCADE,
  headers TEXT NOT NULL,
  user_agent TEXT NOT NULL,
  auth_user TEXT NOT NULL,
  cookie_file TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS ignore_lines(
  page INTEGER NOT NULL REFERENCES pages(id) ON DELETE CASCADE,
  position INTEGER NOT NULL,
  pattern TEXT NOT NULL,
  PRIMARY KEY(page, position));
CREATE TABLE IF NOT EXISTS pauses(
  page INTEGER PRIMARY KEY REFERENCES pages(id) ON DELETE CASCADE,
  until INTEGER NOT NULL);
)sql";

std::optional<int64_t> PageId(SqliteDb& db, const std::string& url) {
    SqliteStatement find(db, "SELECT id FROM pages WHERE url = ?1");
    find.bind(1, url);
    if (!find.step()) return std::nullopt;
    return find.integer(0);
}

int64_t EnsurePage(SqliteDb& db, const std::string& url) {
    if (auto id = PageId(db, url)) return *id;
    SqliteStatement insert(db, "INSERT INTO pages(url) VALUES(?1)");
    insert.bind(1, url).run();
    return sqlite3_last_insert_rowid(db.handle());
}

void PutText(SqliteDb& db, int64_t page, int64_t slot, const std::string& body, bool cut, int64_t timeMs) {
    SqliteStatement insert(db,
                           "INSERT OR REPLACE INTO texts(page, slot, body, cut, first_seen, last_seen) "
                           "VALUES(?1, ?2, ?3, ?4, ?5, ?5)");
    insert.bind(1, page).bind(2, slot).bind(3, body).bind(4, cut ? 1 : 0).bind(5, timeMs).run();
}

void StoreText(SqliteDb& db, int64_t page, const CheckRecord& check, const std::string& body, bool cut) {
    SqliteStatement latest(db, "SELECT body = ?2 FROM texts WHERE page = ?1 AND slot = 1");
    latest.bind(1, page).bind(2, body);
    if (!latest.step()) {
        PutText(db, page, kLatest, body, cut, check.timeMs);
        return;
    }
    const bool same = latest.integer(0) != 0;
    if (check.outcome == PageStatus::Changed) {
        // Shifted even when the kept part is the same: the change then lies past the cut.
        SqliteStatement(db, "DELETE FROM texts WHERE page = ?1 AND slot = 0").bind(1, page).run();
        SqliteStatement(db, "UPDATE texts SET slot = 0 WHERE page = ?1 AND slot = 1").bind(1, page).run();
        PutText(db, page, kLatest, body, cut, check.timeMs);
    } else if (same) {
        SqliteStatement(db, "UPDATE texts SET last_seen = ?2 WHERE page = ?1 AND slot = 1")
            .bind(1, page)
            .bind(2, check.timeMs)
            .run();
    } else {
        // Other text without a change: the page started afresh (a new URL, new filters), so
        // the old pair no longer describes a change of what is watched now.
        SqliteStatement(db, "DELETE FROM texts WHERE page = ?1").bind(1, page).run();
        PutText(db, page, kLatest, body, cut, check.timeMs);
    }
}

bool Exists(SqliteDb& db, const char* table, int64_t page) {
    SqliteStatement any(db, std::string("SELECT EXISTS(SELECT 1 FROM ") + table + " WHERE page = ?1)");
    any.bind(1, page).step();
    return any.integer(0) != 0;
}

// Hands the checks and texts, and separately the settings, of one page to another that has none
// of its own: moved, or copied when the source stays in use.
void CarryOver(SqliteDb& db, int64_t from, int64_t to, bool copy) {
    const auto carry = [&](const char* table, const char* columns, const char* key) {
        const std::string sql = copy ? std::string("INSERT INTO ") + table + "(page, " + columns +
                                           ") SELECT ?2, " + columns + " FROM " + table +
                                           " WHERE page = ?1 ORDER BY " + key
                                     : std::string("UPDATE ") + table + " SET page = ?2 WHERE page = ?1";
        SqliteStatement(db, sql).bind(1, from).bind(2, to).run();
    };
    if (!Exists(db, "checks", to) && !Exists(db, "texts", to)) {
        carry("checks", "time, duration, outcome, status, detail, size", "id");
        carry("texts", "slot, body, cut, first_seen, last_seen", "slot");
    }
    if (!Exists(db, "settings", to)) {
        carry("settings", "selector_kind, selector, visible_only, failures", "page");
        carry("ignore_lines", "position, pattern", "position");
        carry("requests", "headers, user_agent, auth_user, cookie_file", "page");
    }
}

PageStatus StatusOf(int64_t code) {
    return static_cast<PageStatus>(code);
}

CheckRecord ReadCheck(const SqliteStatement& row) {
    CheckRecord check;
    check.timeMs = row.integer(0);
    check.durationMs = row.integer(1);
    check.outcome = StatusOf(row.integer(2));
    check.status = StatusOf(row.integer(3));
    check.detail = FromUtf8(row.text(4));
    check.textBytes = row.integer(5);
    return check;
}

constexpr const char* kCheckColumns = "time, duration, outcome, status, detail, size";

}  // namespace

int64_t SchemaVersion(SqliteDb& db) {
    SqliteStatement version(db, "PRAGMA user_version");
    version.step();
    return version.integer(0);
}

std::string ForeignTables(SqliteDb& db) {
    // Our tables and their columns, in order, as kSchema makes them, with the version that
    // brought each: a file of an earlier version lacks the later tables until it is opened for
    // writing, which adds them.
    struct Table {
        const char* name;
        const char* columns;
        int64_t since;
    };
    static const Table kColumns[] = {
        {"pages", "id,url", 1},
        {"checks", "id,page,time,duration,outcome,status,detail,size", 1},
        {"texts", "page,slot,body,cut,first_seen,last_seen", 1},
        {"settings", "page,selector_kind,selector,visible_only,failures", 1},
        {"ignore_lines", "page,position,pattern", 1},
        {"pauses", "page,until", 2},
        {"requests", "page,headers,user_agent,auth_user,cookie_file", 3},
    };
    // Counted before the version is read: our tables and our version come in one transaction,
    // so a file being created beside this read never looks foreign.
    SqliteStatement objects(db, "SELECT count(*) FROM sqlite_schema");
    objects.step();
    const int64_t version = SchemaVersion(db);
    if (version == 0) {
        // A new file holds nothing; anything else in it belongs to another program.
        return objects.integer(0) == 0 ? std::string() : "it holds tables of another program";
    }
    for (const auto& [table, columns, since] : kColumns) {
        if (version < since) continue;
        std::string found;
        SqliteStatement info(db, "SELECT name FROM pragma_table_info(?1) ORDER BY cid");
        info.bind(1, table);
        while (info.step()) found += (found.empty() ? "" : ",") + info.text(0);
        if (found != columns) return std::string("its table \"") + table + "\" is not one of this program's";
    }
    return {};
}

std::string DamagedPages(SqliteDb& db) {
    // quick_check reads every page but skips the costly index-to-table comparison.
    SqliteStatement check(db, "PRAGMA quick_check(1)");
    if (!check.step() || check.text(0) == "ok") return {};
    return "it is damaged (" + check.text(0) + ")";
}

void CreateTables(SqliteDb& db) {
    db.exec(kSchema);
    db.exec("PRAGMA user_version=" + std::to_string(kSchemaVersion));
}

void AddCheck(SqliteDb& db, const std::string& url, const CheckRecord& check,
              const std::optional<std::string>& text, bool cut) {
    const int64_t page = EnsurePage(db, url);
    SqliteStatement(db,
                    "INSERT INTO checks(page, time, duration, outcome, status, detail, size) "
                    "VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7)")
        .bind(1, page)
        .bind(2, check.timeMs)
        .bind(3, check.durationMs)
        .bind(4, static_cast<int64_t>(check.outcome))
        .bind(5, static_cast<int64_t>(check.status))
        .bind(6, ToUtf8(check.detail))
        .bind(7, check.textBytes)
        .run();
    SqliteStatement(db,
                    "DELETE FROM checks WHERE page = ?1 AND id <= (SELECT id FROM checks "
                    "WHERE page = ?1 ORDER BY id DESC LIMIT 1 OFFSET ?2)")
        .bind(1, page)
        .bind(2, limits::kMaxChecksPerPage)
        .run();
    if (text) StoreText(db, page, check, *text, cut);
}

void RenameUrl(SqliteDb& db, const std::string& from, const std::string& to, bool fromStillListed) {
    const auto source = PageId(db, from);
    if (!source) return;
    CarryOver(db, *source, EnsurePage(db, to), fromStillListed);
    if (!fromStillListed) SqliteStatement(db, "DELETE FROM pages WHERE id = ?1").bind(1, *source).run();
}

void Prune(SqliteDb& db, const std::vector<std::string>& keep) {
    db.exec("CREATE TEMP TABLE IF NOT EXISTS keep(url TEXT PRIMARY KEY); DELETE FROM keep");
    for (const auto& url : keep)
        SqliteStatement(db, "INSERT OR IGNORE INTO keep VALUES(?1)").bind(1, url).run();
    db.exec("DELETE FROM pages WHERE url NOT IN (SELECT url FROM keep); DELETE FROM keep");
}

void WriteSettings(SqliteDb& db, const std::string& url, const PageFilterSettings& settings) {
    const int64_t page = EnsurePage(db, url);
    SqliteStatement(db, "DELETE FROM ignore_lines WHERE page = ?1").bind(1, page).run();
    SqliteStatement(db, "INSERT OR REPLACE INTO settings VALUES(?1, ?2, ?3, ?4, ?5)")
        .bind(1, page)
        // 0: no selector, 1: CSS, 2: XPath.
        .bind(2, settings.selector.empty()                      ? int64_t{0}
                 : settings.selectorKind == SelectorKind::XPath ? int64_t{2}
                                                                : int64_t{1})
        .bind(3, ToUtf8(settings.selector))
        .bind(4, settings.visibleTextOnly ? 1 : 0)
        .bind(5, settings.failuresBeforeOffline)
        .run();
    const PageRequestSettings& request = settings.request;
    if (request.empty()) {
        SqliteStatement(db, "DELETE FROM requests WHERE page = ?1").bind(1, page).run();
    } else {
        // The password never comes here: it is in the secret store.
        SqliteStatement(db, "INSERT OR REPLACE INTO requests VALUES(?1, ?2, ?3, ?4, ?5)")
            .bind(1, page)
            .bind(2, ToUtf8(request.headers))
            .bind(3, ToUtf8(request.userAgent))
            .bind(4, ToUtf8(request.authUser))
            .bind(5, ToUtf8(request.cookieFile))
            .run();
    }
    int64_t position = 0;
    for (const auto& pattern : settings.ignorePatterns) {
        SqliteStatement(db, "INSERT INTO ignore_lines VALUES(?1, ?2, ?3)")
            .bind(1, page)
            .bind(2, position++)
            .bind(3, ToUtf8(pattern))
            .run();
    }
}

std::map<std::u16string, PageFilterSettings> LoadSettings(SqliteDb& db) {
    std::map<std::u16string, PageFilterSettings> all;
    SqliteStatement rows(db,
                         "SELECT pages.url, selector_kind, selector, visible_only, failures "
                         "FROM settings JOIN pages ON pages.id = settings.page");
    while (rows.step()) {
        PageFilterSettings& settings = all[FromUtf8(rows.text(0))];
        const int64_t kind = rows.integer(1);
        settings.selectorKind = kind == 2 ? SelectorKind::XPath : SelectorKind::Css;
        settings.selector = FromUtf8(rows.text(2));
        settings.visibleTextOnly = rows.integer(3) != 0;
        settings.failuresBeforeOffline = static_cast<int>(
            std::clamp<int64_t>(rows.integer(4), kMinFailuresBeforeOffline, kMaxFailuresBeforeOffline));
    }
    SqliteStatement lines(
        db,
        "SELECT pages.url, pattern FROM ignore_lines JOIN pages ON pages.id = ignore_lines.page "
        "ORDER BY ignore_lines.page, position");
    while (lines.step()) all[FromUtf8(lines.text(0))].ignorePatterns.push_back(FromUtf8(lines.text(1)));
    // A file before version 3 has no request settings yet.
    if (SchemaVersion(db) < 3) return all;
    SqliteStatement requests(db,
                             "SELECT pages.url, headers, user_agent, auth_user, cookie_file "
                             "FROM requests JOIN pages ON pages.id = requests.page");
    while (requests.step()) {
        PageRequestSettings& request = all[FromUtf8(requests.text(0))].request;
        request.headers = FromUtf8(requests.text(1));
        request.userAgent = FromUtf8(requests.text(2));
        request.authUser = FromUtf8(requests.text(3));
        request.cookieFile = FromUtf8(requests.text(4));
    }
    return all;
}

void WritePause(SqliteDb& db, const std::string& url, std::optional<int64_t> until) {
    if (!until) {
        SqliteStatement(db, "DELETE FROM pauses WHERE page = (SELECT id FROM pages WHERE url = ?1)")
            .bind(1, url)
            .run();
        return;
    }
    SqliteStatement(db, "INSERT OR REPLACE INTO pauses VALUES(?1, ?2)")
        .bind(1, EnsurePage(db, url))
        .bind(2, *until)
        .run();
}

std::map<std::u16string, int64_t> LoadPauses(SqliteDb& db) {
    std::map<std::u16string, int64_t> all;
    if (SchemaVersion(db) < 2) return all;
    SqliteStatement rows(db, "SELECT pages.url, until FROM pauses JOIN pages ON pages.id = pauses.page");
    while (rows.step()) all[FromUtf8(rows.text(0))] = rows.integer(1);
    return all;
}

std::vector<CheckRecord> RecentChecks(SqliteDb& db, const std::string& url, int limit) {
    std::vector<CheckRecord> checks;
    SqliteStatement rows(db, std::string("SELECT ") + kCheckColumns +
                                 " FROM checks WHERE page = (SELECT id FROM pages WHERE url = ?1) "
                                 "ORDER BY id DESC LIMIT ?2");
    rows.bind(1, url).bind(2, limit);
    while (rows.step()) checks.push_back(ReadCheck(rows));
    return checks;
}

PageSummary Summary(SqliteDb& db, const std::string& url) {
    PageSummary result;
    const auto page = PageId(db, url);
    if (!page) return result;
    SqliteStatement last(
        db, std::string("SELECT ") + kCheckColumns + " FROM checks WHERE page = ?1 ORDER BY id DESC LIMIT 1");
    if (last.bind(1, *page).step()) {
        result.last = ReadCheck(last);
        SqliteStatement since(db,
                              "SELECT time FROM checks WHERE page = ?1 AND id > (SELECT "
                              "coalesce(max(id), 0) FROM checks WHERE page = ?1 AND status != ?2) "
                              "ORDER BY id LIMIT 1");
        if (since.bind(1, *page).bind(2, static_cast<int64_t>(result.last->status)).step()) {
            result.statusSinceMs = since.integer(0);
        }
    }
    SqliteStatement changed(
        db, "SELECT time FROM checks WHERE page = ?1 AND outcome = 1 ORDER BY id DESC LIMIT 1");
    if (changed.bind(1, *page).step()) result.contentChangedMs = changed.integer(0);
    SqliteStatement count(db, "SELECT count(*) FROM checks WHERE page = ?1");
    count.bind(1, *page).step();
    result.checkCount = count.integer(0);
    return result;
}

PageTexts Texts(SqliteDb& db, const std::string& url) {
    PageTexts result;
    SqliteStatement rows(db,
                         "SELECT slot, body, cut, first_seen, last_seen FROM texts "
                         "WHERE page = (SELECT id FROM pages WHERE url = ?1)");
    rows.bind(1, url);
    while (rows.step()) {
        StoredText text{FromUtf8(rows.text(1)), rows.integer(2) != 0, rows.integer(3), rows.integer(4)};
        (rows.integer(0) == kBefore ? result.before : result.latest) = std::move(text);
    }
    return result;
}

}  // namespace vantrel::history
