#pragma once
// Catalog rows that no writer of the library makes: the bulk rows (without
// files) of the benchmarks' large catalogs, deliberately damaged rows for
// the tests of a catalog that cannot be trusted, and a catalog of the
// previous schema version. Every table and column name comes from the
// platform's schema module, so these rows always have the shape the reader
// reads. Linked by the tests and the benchmarks.
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "library/status.h"
#include "platform/catalog/sqlite_statement.h"

namespace tolvek::testing {

class CatalogFixture {
 public:
  // The existing catalog at `catalogPath`, read-write (never created).
  static Result<CatalogFixture> open(const std::string& catalogPath);

  // Bulk rows in one transaction, then ANALYZE: `albums` albums ("Album 0"
  // first, at the row after the smart albums), `assets` assets with dates
  // over ten years (one in twenty undated), 90 % pictures, 8 % videos, 2 %
  // audio, one favourite in fifty, each with its original (at the path the
  // library would give it, with a size and a hash) and, but for audio, two
  // derivatives; a moment per day (UTC). Album 0 holds every fifth asset,
  // the other albums share the rest at random. The same rows for the same
  // numbers. Gives the albums' identifiers in order.
  struct Bulk {
    int assets = 100000;
    int albums = 1000;
  };
  Result<std::vector<std::string>> fillBulk(const Bulk& bulk);
  // The identifier of the bulk asset number `i` (from 0).
  static std::string bulkAssetIdentifier(int i);

  // Damage: the asset's identifier (in its memberships too) becomes `bytes`,
  // which need not be UTF-8.
  Status setAssetIdentifier(const std::string& identifier, std::string_view bytes);
  // The asset's creation date, in its memberships too.
  Status setCreationDate(const std::string& identifier, std::int64_t date);
  Status setCollectionIdentifier(const std::string& identifier, std::string_view bytes);
  // The recorded file name of the asset's original.
  Status setOriginalFilename(const std::string& identifier, std::string_view name);
  Status setSchemaVersion(std::int64_t version);
  // The catalog as an earlier version (2 to 6) wrote it: without the tables,
  // indexes and columns later versions added.
  Status downgradeToVersion(std::int64_t version);
  // The source's file recorded at `from` (relative to its folder) as if the
  // sync had found it at `to` in the same folder, its asset named after it:
  // for files renamed on disk without the sync seeing a change.
  Status renameSourceFile(const std::string& from, const std::string& to);
  // The identifier of a half paired to the asset `pair` (a Live Photo's
  // movie, a RAW beside its JPEG), which the helper never lists.
  Result<std::string> halfOf(const std::string& pair);
  // Every later insert into the table (catalog::k....table) fails, as on a
  // full disk: for the rollback of a writer's transaction.
  Status refuseInsertsInto(const char* table);
  // Damage on disk, as a failing disk leaves it: the root page of `name` (a
  // table or index of the closed catalog at `catalogPath`, whose log is
  // folded in) overwritten with 0xFF bytes, so that every statement that
  // touches it fails with SQLITE_CORRUPT. Fails while the catalog has a log.
  static Status overwriteRootPage(const std::string& catalogPath, const std::string& name);
  // Takes the catalog's exclusive lock with a write that is left pending,
  // until rollBack: readers find the catalog locked.
  Status lockExclusively();
  Status rollBack();

 private:
  explicit CatalogFixture(SqliteConnection db) : db_(std::move(db)) {}
  Status run(SqliteStatement& statement);
  Status execute(const std::string& sql);
  // Sets a column of the asset's row and the copy its membership rows carry,
  // in one transaction.
  template <class Value>
  Status setAssetColumn(const std::string& identifier, const char* assetColumn, const char* memberColumn,
                        const Value& value);
  SqliteConnection db_;
};

}  // namespace tolvek::testing
