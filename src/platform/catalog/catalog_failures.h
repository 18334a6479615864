#pragma once
// How the catalog writer tells what went wrong with the catalog: a full disk
// and a damaged catalog are said as such and carry their ErrorCode (the
// tool stops at a damaged catalog); anything else gives SQLite's message.
// Also where the writer keeps its backups, which a damaged catalog's
// message names.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "library/status.h"

namespace tolvek {

// "cannot WHAT in the catalog: " and the cause of the last failure on `db`
// (a guarded connection, see guardConnection): "no space left on the device
// holding ..." (diskFull), the message of damagedCatalog once the catalog was
// reported damaged at any time (damagedCatalog), else SQLite's message.
Status catalogFailure(sqlite3* db, const char* what);

// The failure for the damaged catalog at `catalogPath` (`detail`: what SQLite
// or a check said): nothing more is written to it; its last backup, or that
// there is none; and what to do, beginning with a copy of the library folder
// (a catalog that lacks rows would let the next writer remove the copies they
// name as files no row names).
Status damagedCatalog(const std::string& catalogPath, std::string_view detail);

// Where the writer keeps the catalog as it was at schema `version`, before
// bringing it up to date: "catalog-vN-backup.sqlite" beside it.
std::string catalogBackupPath(const std::string& catalogPath, std::int64_t version);
// The most recent of those backups that is there (the highest version).
struct CatalogBackup {
  std::string path;
  std::int64_t version = 0;
};
std::optional<CatalogBackup> newestCatalogBackup(const std::string& catalogPath);

}  // namespace tolvek
