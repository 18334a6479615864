#pragma once
// A small RAII layer over SQLite: an owned connection and a prepared
// statement whose values are always bound, never spliced into the text.
#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "library/status.h"

namespace tolvek {

// Forgets what guardConnection kept of `db` (nothing when it kept nothing).
void forgetConnection(sqlite3* db);

struct SqliteCloser {
  void operator()(sqlite3* db) const {
    forgetConnection(db);
    sqlite3_close_v2(db);
  }
};
using SqliteConnection = std::unique_ptr<sqlite3, SqliteCloser>;

// The failures of a guarded connection. Every failing prepare, step and
// executeSql on it records SQLite's result code and message, which outlive
// the ROLLBACK that follows a failure (it resets sqlite3_errmsg), so the
// cause can still be reported after it. Once SQLite reported the database
// damaged (SQLITE_CORRUPT or SQLITE_NOTADB, from any statement), the
// connection stays damaged and is made query-only: nothing more is written
// into the database through it.
struct SqliteFailure {
  std::string file;      // the database's path as the caller named it
  int code = SQLITE_OK;  // primary result code of the last failure
  std::string message;   // SQLite's message for it
  bool damaged = false;  // reported damaged at some time
  std::string damage;    // SQLite's message when it first was
};
// Starts recording the failures of `db` (the writer's connection), the
// database at `file`.
void guardConnection(sqlite3* db, const std::string& file);
// What was recorded of `db`; nothing recorded for a connection not guarded.
SqliteFailure failureOf(sqlite3* db);
// Records `db` as damaged with `detail` (a check found it so) and makes it
// query-only; for a guarded connection.
void markDamaged(sqlite3* db, const std::string& detail);
// True for the result codes that say the database is damaged.
inline bool isDamage(int code) { return (code & 0xff) == SQLITE_CORRUPT || (code & 0xff) == SQLITE_NOTADB; }

// Runs SQL without parameters (schema, pragmas, transactions); false on error.
bool executeSql(sqlite3* db, const char* sql);
// Rolls back the open transaction, if any: SQLite may have rolled it back
// itself (after a full disk), and the failure that ended it stays the one
// recorded.
void rollBack(sqlite3* db);

// `path` as an SQLite URI ("file:" + the path + "?" + `query`): every byte
// but the unreserved ones and "/" percent-encoded, so "?", "#" and "%" in a
// folder name stay part of it. Open it with SQLITE_OPEN_URI.
std::string sqliteFileUri(const std::string& path, std::string_view query);

// Prepared statements kept for reuse, for connections that run the same
// queries many times in one run. A statement is taken out while in use, so a
// query nested in the enumeration of the same query gets its own.
class StatementCache {
 public:
  StatementCache() = default;
  ~StatementCache() { clear(); }
  StatementCache(const StatementCache&) = delete;
  StatementCache& operator=(const StatementCache&) = delete;
  // A statement for `sql` on `db`: a kept one, else a new one; null on error.
  sqlite3_stmt* take(sqlite3* db, const std::string& sql);
  // Resets `statement` and keeps it for the next take of `sql`.
  void give(const std::string& sql, sqlite3_stmt* statement);
  // Finalizes every kept statement (before the connection closes).
  void clear();

 private:
  std::multimap<std::string, sqlite3_stmt*> kept_;
};

class SqliteStatement {
 public:
  // A statement that failed to prepare reports failed() and yields no rows.
  SqliteStatement(sqlite3* db, std::string_view sql);
  // The same, reusing statements kept in `cache`.
  SqliteStatement(sqlite3* db, StatementCache& cache, std::string sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Binds by name (":name"); a name the text does not use is ignored, so one
  // binding list can serve several variants of a query.
  SqliteStatement& bind(const char* name, std::int64_t value);
  SqliteStatement& bind(const char* name, std::string_view text);
  SqliteStatement& bind(const char* name, const std::string& text) { return bind(name, std::string_view(text)); }
  SqliteStatement& bind(const char* name, const char* text) { return bind(name, std::string_view(text)); }
  SqliteStatement& bind(const char* name, const std::optional<std::int64_t>& value);
  SqliteStatement& bind(const char* name, const std::optional<std::string>& text);
  // Bytes kept exactly as given (file paths, which need not be UTF-8); text()
  // reads them back.
  SqliteStatement& bindBytes(const char* name, std::string_view bytes);
  // An enumeration is stored as its underlying number.
  template <class E>
    requires std::is_enum_v<E>
  SqliteStatement& bind(const char* name, E value) {
    return bind(name, static_cast<std::int64_t>(value));
  }

  // True while a row is ready; false at the end or on an error.
  bool step();
  // Steps until done; true when the statement completed without error.
  bool run();
  bool failed() const { return failed_; }

  std::int64_t integer(int column) const;
  std::optional<std::int64_t> optionalInteger(int column) const;
  std::string text(int column) const;
  std::optional<std::string> optionalText(int column) const;
  // A column holding an enumeration's number, as that enumeration (the value
  // is taken as stored; callers compare it with the enumerators they know).
  template <class E>
    requires std::is_enum_v<E>
  E enumeration(int column) const {
    return static_cast<E>(integer(column));
  }

 private:
  int index(const char* name);
  sqlite3_stmt* statement_ = nullptr;
  bool failed_ = false;
  StatementCache* cache_ = nullptr;
  std::string sql_;
};

}  // namespace tolvek
