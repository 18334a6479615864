#pragma once
// One transaction of the catalog writer's connection: begun immediate (so a
// second writer waits at the begin, never halfway), rolled back when it goes
// out of scope without a successful commit, so every early return of a
// change leaves the catalog as it was.
#include <sqlite3.h>

#include "library/status.h"

namespace tolvek {

class CatalogTransaction {
 public:
  // Begins a transaction on `db` (a guarded connection); refused once the
  // catalog was reported damaged. Fails with "cannot WHAT in the catalog: ...".
  static Result<CatalogTransaction> begin(sqlite3* db, const char* what);
  CatalogTransaction(CatalogTransaction&& other) noexcept;
  CatalogTransaction& operator=(CatalogTransaction&& other) noexcept;
  CatalogTransaction(const CatalogTransaction&) = delete;
  CatalogTransaction& operator=(const CatalogTransaction&) = delete;
  ~CatalogTransaction() { rollBack(); }

  // Commits; a failed commit rolls back and says "cannot WHAT in the
  // catalog: ...". Nothing is left to roll back afterwards either way.
  [[nodiscard]] Status commit(const char* what = "commit the changes");
  // Rolls back now (nothing when it is no longer open).
  void rollBack();
  // Until commit or rollBack.
  bool open() const { return db_ != nullptr; }

 private:
  explicit CatalogTransaction(sqlite3* db) : db_(db) {}
  sqlite3* db_ = nullptr;
};

}  // namespace tolvek
