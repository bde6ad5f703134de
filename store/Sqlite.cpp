#include "store/Sqlite.h"

namespace vantrel {

namespace {

// Statements kept per connection: more than the history's distinct texts, few enough that their
// memory does not matter.
constexpr size_t kKeptStatements = 64;

}  // namespace

SqliteDb::SqliteDb(const std::string& path, bool readOnly) {
    // SQLite counts every allocation under one process-wide mutex unless told not to before its
    // first use; nothing here reads those counts. (Refused, harmlessly, once SQLite has started.)
    static const int counting = sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    (void)counting;
    const int flags = readOnly ? SQLITE_OPEN_READONLY : (SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    const int code = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    if (code != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(code);
        sqlite3_close(db_);
        db_ = nullptr;
        throw SqliteError(message, code);
    }
    sqlite3_extended_result_codes(db_, 1);
}

SqliteDb::~SqliteDb() {
    for (const auto& [sql, kept] : kept_) sqlite3_finalize(kept.statement);
    sqlite3_close_v2(db_);
}

sqlite3_stmt* SqliteDb::take(std::string_view sql, KeptStatement*& kept) {
    kept = nullptr;
    const auto found = kept_.find(sql);
    if (found != kept_.end() && !found->second.lent) {
        found->second.lent = true;
        kept = &found->second;
        return found->second.statement;
    }
    sqlite3_stmt* statement = nullptr;
    const int code = sqlite3_prepare_v3(db_, sql.data(), static_cast<int>(sql.size()),
                                        SQLITE_PREPARE_PERSISTENT, &statement, nullptr);
    if (code != SQLITE_OK) {
        sqlite3_finalize(statement);
        fail(code, {});
    }
    if (found == kept_.end() && kept_.size() < kKeptStatements)
        kept = &kept_.emplace(std::string(sql), KeptStatement{statement, true}).first->second;
    return statement;
}

void SqliteDb::giveBack(KeptStatement* kept, sqlite3_stmt* statement) {
    if (!kept) {
        sqlite3_finalize(statement);
        return;
    }
    // Reset, a statement holds no read transaction open while it waits; without its bindings it
    // keeps no copy of the last text bound.
    sqlite3_reset(statement);
    sqlite3_clear_bindings(statement);
    kept->lent = false;
}

void SqliteDb::exec(std::string_view sql) {
    const std::string text(sql);
    const int code = sqlite3_exec(db_, text.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) fail(code, {});
}

void SqliteDb::fail(int code, std::string_view what) const {
    std::string message = sqlite3_errmsg(db_);
    if (!what.empty()) message = std::string(what) + ": " + message;
    throw SqliteError(message, code);
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql)
    : db_(db), statement_(db.take(sql, kept_)) {}

SqliteStatement::~SqliteStatement() {
    if (statement_) db_.giveBack(kept_, statement_);
}

SqliteStatement& SqliteStatement::bind(int index, int64_t value) {
    const int code = sqlite3_bind_int64(statement_, index, value);
    if (code != SQLITE_OK) db_.fail(code, {});
    return *this;
}

SqliteStatement& SqliteStatement::bind(int index, std::string_view text) {
    const int code =
        sqlite3_bind_text64(statement_, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    if (code != SQLITE_OK) db_.fail(code, {});
    return *this;
}

SqliteStatement& SqliteStatement::bindNull(int index) {
    const int code = sqlite3_bind_null(statement_, index);
    if (code != SQLITE_OK) db_.fail(code, {});
    return *this;
}

bool SqliteStatement::step() {
    const int code = sqlite3_step(statement_);
    if (code == SQLITE_ROW) return true;
    if (code == SQLITE_DONE) return false;
    db_.fail(code, {});
}

void SqliteStatement::run() {
    while (step()) {
    }
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
}

bool SqliteStatement::isNull(int column) const {
    return sqlite3_column_type(statement_, column) == SQLITE_NULL;
}

int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(statement_, column);
}

std::string SqliteStatement::text(int column) const {
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
    if (!bytes) return {};
    return std::string(bytes, static_cast<size_t>(sqlite3_column_bytes(statement_, column)));
}

}  // namespace vantrel
