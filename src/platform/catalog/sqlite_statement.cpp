#include "platform/catalog/sqlite_statement.h"

#include <unordered_map>

#include "platform/system/hex_digits.h"
#include "platform/system/mutex.h"

namespace tolvek {
namespace {

// The guarded connections. A process has a few at most (the writer's), and
// only failures look here, so one lock for all is plenty.
struct GuardedConnections {
  Mutex mutex;
  std::unordered_map<sqlite3*, SqliteFailure> failures GUARDED_BY(mutex);
};
GuardedConnections& guarded() {
  static GuardedConnections connections;
  return connections;
}

// Records a failure `code` of `db` when it is guarded.
void recordFailure(sqlite3* db, int code) {
  if (db == nullptr) return;
  bool newlyDamaged = false;
  {
    GuardedConnections& all = guarded();
    MutexLock lock(all.mutex);
    const auto found = all.failures.find(db);
    if (found == all.failures.end()) return;
    SqliteFailure& failure = found->second;
    failure.code = code & 0xff;
    failure.message = sqlite3_errmsg(db);
    if (isDamage(code) && !failure.damaged) {
      failure.damaged = newlyDamaged = true;
      failure.damage = failure.message;
    }
  }
  // Also refuses the writes of a transaction left open: the caller rolls it back.
  if (newlyDamaged) sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
}

}  // namespace

void guardConnection(sqlite3* db, const std::string& file) {
  SqliteFailure failure;
  failure.file = file;
  GuardedConnections& all = guarded();
  MutexLock lock(all.mutex);
  all.failures[db] = std::move(failure);
}

void forgetConnection(sqlite3* db) {
  GuardedConnections& all = guarded();
  MutexLock lock(all.mutex);
  all.failures.erase(db);
}

SqliteFailure failureOf(sqlite3* db) {
  GuardedConnections& all = guarded();
  MutexLock lock(all.mutex);
  const auto found = all.failures.find(db);
  return found == all.failures.end() ? SqliteFailure{} : found->second;
}

void markDamaged(sqlite3* db, const std::string& detail) {
  {
    GuardedConnections& all = guarded();
    MutexLock lock(all.mutex);
    const auto found = all.failures.find(db);
    if (found == all.failures.end()) return;
    SqliteFailure& failure = found->second;
    failure.code = SQLITE_CORRUPT;
    failure.message = detail;
    if (!failure.damaged) failure.damage = detail;
    failure.damaged = true;
  }
  sqlite3_exec(db, "PRAGMA query_only = 1", nullptr, nullptr, nullptr);
}

std::string sqliteFileUri(const std::string& path, std::string_view query) {
  std::string uri = path.starts_with('/') ? "file://" : "file:";
  for (const unsigned char c : path) {
    const bool unreserved = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                            c == '.' || c == '_' || c == '~' || c == '/';
    if (unreserved) {
      uri += static_cast<char>(c);
    } else {
      uri += '%';
      appendHexByte(uri, c, HexLetters::upper);
    }
  }
  uri += '?';
  uri += query;
  return uri;
}

bool executeSql(sqlite3* db, const char* sql) {
  if (db == nullptr) return false;
  const int rc = sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) recordFailure(db, rc);
  return rc == SQLITE_OK;
}

void rollBack(sqlite3* db) {
  if (db != nullptr && sqlite3_get_autocommit(db) == 0) sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
}

SqliteStatement::SqliteStatement(sqlite3* db, std::string_view sql) {
  if (db == nullptr) {
    failed_ = true;
    return;
  }
  const int rc = sqlite3_prepare_v2(db, sql.data(), static_cast<int>(sql.size()), &statement_, nullptr);
  if (rc != SQLITE_OK) recordFailure(db, rc);
  if (rc != SQLITE_OK || statement_ == nullptr) failed_ = true;
}

SqliteStatement::SqliteStatement(sqlite3* db, StatementCache& cache, std::string sql)
    : cache_(&cache), sql_(std::move(sql)) {
  statement_ = db == nullptr ? nullptr : cache.take(db, sql_);
  if (statement_ == nullptr) failed_ = true;
}

SqliteStatement::~SqliteStatement() {
  if (cache_ != nullptr && statement_ != nullptr) {
    cache_->give(sql_, statement_);
  } else {
    sqlite3_finalize(statement_);
  }
}

sqlite3_stmt* StatementCache::take(sqlite3* db, const std::string& sql) {
  auto found = kept_.find(sql);
  if (found != kept_.end()) {
    sqlite3_stmt* statement = found->second;
    kept_.erase(found);
    return statement;
  }
  sqlite3_stmt* statement = nullptr;
  if (const int rc = sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT,
                                        &statement, nullptr);
      rc != SQLITE_OK) {
    recordFailure(db, rc);
    sqlite3_finalize(statement);
    return nullptr;
  }
  return statement;
}

void StatementCache::give(const std::string& sql, sqlite3_stmt* statement) {
  sqlite3_reset(statement);
  sqlite3_clear_bindings(statement);
  kept_.emplace(sql, statement);
}

void StatementCache::clear() {
  for (auto& [sql, statement] : kept_) sqlite3_finalize(statement);
  kept_.clear();
}

int SqliteStatement::index(const char* name) {
  if (statement_ == nullptr) return 0;
  return sqlite3_bind_parameter_index(statement_, name);
}

SqliteStatement& SqliteStatement::bind(const char* name, std::int64_t value) {
  if (int i = index(name); i > 0 && sqlite3_bind_int64(statement_, i, value) != SQLITE_OK) failed_ = true;
  return *this;
}

SqliteStatement& SqliteStatement::bind(const char* name, std::string_view text) {
  if (int i = index(name);
      i > 0 && sqlite3_bind_text64(statement_, i, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8) != SQLITE_OK) {
    failed_ = true;
  }
  return *this;
}

SqliteStatement& SqliteStatement::bind(const char* name, const std::optional<std::int64_t>& value) {
  if (value) return bind(name, *value);
  if (int i = index(name); i > 0 && sqlite3_bind_null(statement_, i) != SQLITE_OK) failed_ = true;
  return *this;
}

SqliteStatement& SqliteStatement::bind(const char* name, const std::optional<std::string>& text) {
  if (text) return bind(name, std::string_view(*text));
  if (int i = index(name); i > 0 && sqlite3_bind_null(statement_, i) != SQLITE_OK) failed_ = true;
  return *this;
}

SqliteStatement& SqliteStatement::bindBytes(const char* name, std::string_view bytes) {
  // A null pointer would bind NULL: an empty path is an empty BLOB.
  static constexpr char kNothing = 0;
  const char* data = bytes.empty() ? &kNothing : bytes.data();
  if (int i = index(name); i > 0 && sqlite3_bind_blob64(statement_, i, data, bytes.size(), SQLITE_TRANSIENT) != SQLITE_OK) {
    failed_ = true;
  }
  return *this;
}

bool SqliteStatement::step() {
  if (failed_) return false;
  int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc != SQLITE_DONE) {
    failed_ = true;
    recordFailure(sqlite3_db_handle(statement_), rc);
  }
  return false;
}

bool SqliteStatement::run() {
  while (step()) {
  }
  return !failed_;
}

std::int64_t SqliteStatement::integer(int column) const { return sqlite3_column_int64(statement_, column); }

std::optional<std::int64_t> SqliteStatement::optionalInteger(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return integer(column);
}

std::string SqliteStatement::text(int column) const {
  const unsigned char* bytes = sqlite3_column_text(statement_, column);
  if (bytes == nullptr) return {};
  return std::string(reinterpret_cast<const char*>(bytes),
                     static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
}

std::optional<std::string> SqliteStatement::optionalText(int column) const {
  if (sqlite3_column_type(statement_, column) == SQLITE_NULL) return std::nullopt;
  return text(column);
}

}  // namespace tolvek
