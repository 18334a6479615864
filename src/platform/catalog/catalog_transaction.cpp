#include "platform/catalog/catalog_transaction.h"

#include <utility>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/sqlite_statement.h"

namespace tolvek {

Result<CatalogTransaction> CatalogTransaction::begin(sqlite3* db, const char* what) {
  if (failureOf(db).damaged || !executeSql(db, "BEGIN IMMEDIATE")) return catalogFailure(db, what);
  return CatalogTransaction(db);
}

CatalogTransaction::CatalogTransaction(CatalogTransaction&& other) noexcept : db_(std::exchange(other.db_, nullptr)) {}

CatalogTransaction& CatalogTransaction::operator=(CatalogTransaction&& other) noexcept {
  if (this != &other) {
    rollBack();
    db_ = std::exchange(other.db_, nullptr);
  }
  return *this;
}

Status CatalogTransaction::commit(const char* what) {
  if (db_ == nullptr) return Status::error(std::string("cannot ") + what + " in the catalog: no change is open");
  if (executeSql(db_, "COMMIT")) {
    db_ = nullptr;
    return {};
  }
  Status failed = catalogFailure(db_, what);
  rollBack();
  return failed;
}

void CatalogTransaction::rollBack() {
  if (db_ != nullptr) tolvek::rollBack(std::exchange(db_, nullptr));
}

}  // namespace tolvek
