#pragma once
// A thin owner of an SQLite connection and its prepared statements: closes what it opens and turns
// every failure into SqliteError, with SQLite's own message and result code. A statement that ends
// is kept for the next one with the same text, so the statements of every check are compiled once.
#include <sqlite3.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "text/Error.h"

namespace vantrel {

class SqliteError : public Error {
  public:
    SqliteError(const std::string& message, int code) : Error(message), code_(code) {}
    // The primary result code (SQLITE_BUSY, SQLITE_FULL, ...).
    int code() const { return code_ & 0xFF; }
    // Another connection holds a lock this one needs: the work may succeed when tried again.
    bool busy() const { return code() == SQLITE_BUSY || code() == SQLITE_LOCKED; }

  private:
    int code_;
};

class SqliteDb;

// A statement a connection keeps for its text, and whether a SqliteStatement has it now.
struct KeptStatement {
    sqlite3_stmt* statement = nullptr;
    bool lent = false;
};

class SqliteStatement {
  public:
    SqliteStatement(SqliteDb& db, std::string_view sql);
    ~SqliteStatement();
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    // Parameters are numbered from 1, as in SQL.
    SqliteStatement& bind(int index, int64_t value);
    SqliteStatement& bind(int index, std::string_view text);
    SqliteStatement& bindNull(int index);

    // True while a row is available; false when done. Throws SqliteError.
    bool step();
    // Runs to the end, ignoring rows.
    void run();
    void reset();

    bool isNull(int column) const;
    int64_t integer(int column) const;
    std::string text(int column) const;

  private:
    SqliteDb& db_;
    KeptStatement* kept_ = nullptr;  // null for a statement of its own
    sqlite3_stmt* statement_ = nullptr;
};

class SqliteDb {
  public:
    // Opens (read-only: without creating) the file; throws SqliteError.
    SqliteDb(const std::string& path, bool readOnly);
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    sqlite3* handle() const { return db_; }
    // Runs one or more statements without parameters.
    void exec(std::string_view sql);
    [[noreturn]] void fail(int code, std::string_view what) const;

  private:
    friend class SqliteStatement;
    // A compiled statement of this text: the one kept for it (`kept` then points at it), or
    // a new one when that is in use or no more are kept. Lent to the caller until handed back.
    sqlite3_stmt* take(std::string_view sql, KeptStatement*& kept);
    // Resets a kept statement for the next one of its text; finalizes one of its own.
    void giveBack(KeptStatement* kept, sqlite3_stmt* statement);

    // Looked up by the text as given, without a copy of it.
    struct TextHash {
        using is_transparent = void;
        size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };
    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, KeptStatement, TextHash, std::equal_to<>> kept_;
};

// Runs `body` inside BEGIN IMMEDIATE ... COMMIT; rolls back when it throws.
template <typename Body>
void InTransaction(SqliteDb& db, Body&& body) {
    db.exec("BEGIN IMMEDIATE");
    try {
        body();
        db.exec("COMMIT");
    } catch (...) {
        sqlite3_exec(db.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

}  // namespace vantrel
