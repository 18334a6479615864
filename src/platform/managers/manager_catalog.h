#pragma once
// What another photo manager (Shotwell, digiKam) records of the user's
// photos, read from its own database and never written: the files it holds,
// the dates it gave them, and its events, tags and folders as albums. A sync
// turns this into referenced assets and albums; the reader knows nothing of
// the library.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/sources/source.h"

namespace tolvek {

// One picture, video or audio file the manager holds.
struct ManagerAsset {
  std::string path;  // absolute, bytes as the manager stored them
  // Seconds since the epoch the manager recorded as its capture time;
  // nothing when it has none (the file's own date is used then).
  std::optional<std::int64_t> creationDate;
};

enum class ManagerAlbumKind { event, tag, folder };

// One event, tag or folder of the manager that names at least one asset.
struct ManagerAlbum {
  // Stable across reads of the same database for the same event, tag or
  // folder: the kind and the manager's own row id for an event or a tag
  // ("event:7", "tag:3"); folderAlbumKey of its absolute path for a folder,
  // which is one album whichever sources name it.
  std::string key;
  ManagerAlbumKind kind = ManagerAlbumKind::tag;
  // Valid UTF-8. Nothing for a Shotwell event without a name: it is titled
  // with its earliest member's capture date ("YYYY-MM-DD") once known.
  std::optional<std::string> title;
  std::vector<std::size_t> members;  // indices into ManagerCatalog::assets, each once
};

struct ManagerCatalog {
  std::int64_t schemaVersion = 0;  // Shotwell's schema_version, digiKam's DBVersion
  std::vector<ManagerAsset> assets;  // each path once
  std::vector<ManagerAlbum> albums;
  // Rows left out: in the trash, offline, hidden, of another category or
  // with a path that cannot be made.
  std::size_t leftOut = 0;
  // Of those, files on a volume that is not found here (digiKam's
  // collection on a drive that is not mounted): where they would be is not
  // known, so whatever the library recorded from the database stays.
  std::size_t unavailable = 0;
};

// Reads a consistent snapshot of the manager's database at `database`
// without holding its lock for more than a moment. Fails with a message for
// the user: the database is missing, does not open, is not the manager's, is
// of a schema version this reader does not know (naming it), or stayed
// locked for writing for the few seconds a read waits ("busy").
Result<ManagerCatalog> readManagerCatalog(SourceKind kind, const std::string& database);

// Where the manager keeps its database for the user of this environment
// (XDG folders, the Flatpak location, digiKam's configuration); nothing when
// it cannot be found.
std::optional<std::string> defaultManagerDatabase(SourceKind kind);

// "folder", "shotwell", "digikam".
std::string_view sourceKindWord(SourceKind kind);

}  // namespace tolvek
