#pragma once
// The photo managers whose databases can be sources, one row each: what
// reads them, what the tool calls them and where they keep their database.
// Another manager is one more row here (with its SourceKind number) and a
// reader file of its own; nothing else names the managers one by one.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "library/status.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/managers/manager_catalog.h"

struct sqlite3;

namespace tolvek {

struct PhotoManager {
  SourceKind kind;
  // The command-line word: add's option (--shotwell) and the kind that
  // `sources` and `album list` print.
  std::string_view word;
  std::string_view program;      // as messages name it: "Shotwell"
  std::string_view versionName;  // as a version it refuses is named: "Shotwell schema version"
  std::int64_t oldestVersion;    // the versions its reader knows, both included
  std::int64_t newestVersion;
  // The version a snapshot of its database records, as stored; fails with
  // a message when the snapshot is not the manager's database.
  Result<std::string> (*recordedVersion)(sqlite3* snapshot);
  // What a snapshot of a version it knows holds.
  Result<ManagerCatalog> (*read)(sqlite3* snapshot, std::int64_t version);
  // Where the manager keeps its database for this user; nothing when it is
  // not found.
  std::optional<std::string> (*defaultDatabase)();
};

// Every row, in the order the tool lists them.
std::span<const PhotoManager> photoManagers();

// The row of `kind`; nothing for a folder or a number no row has.
const PhotoManager* photoManagerOf(SourceKind kind);

// What a snapshot of the manager's database holds, after its recorded
// version was checked against the row's versions ("Shotwell schema version
// 25 is newer than this program reads (20 to 24)").
Result<ManagerCatalog> readManagerSnapshot(const PhotoManager& manager, sqlite3* snapshot);

}  // namespace tolvek
