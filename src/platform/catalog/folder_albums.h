#pragma once
// A folder is one album whichever sources name it: a folder source whose
// walk found media directly in it (its `folder` row links the album), and a
// photo manager that records it as a folder of its own (its `source_album`
// row, keyed by folderAlbumKey of the folder's absolute path). Its members
// are the assets with a copy directly in it in any of those sources; an
// asset leaves when the last such copy goes. The catalog writer's statements
// for that, over its connection.
#include <sqlite3.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_schema.h"

namespace tolvek {

// One source that names a folder and the album it gives it.
struct FolderNamer {
  std::int64_t source = 0;
  SourceKind kind = SourceKind::folder;
  std::optional<std::int64_t> folderRow;  // a folder source's row of the folder
  std::int64_t album = 0;
};

// The sources that name the folder at the absolute path `folder` with an
// album, folder sources first, each in the order it was added.
Result<std::vector<FolderNamer>> folderNamers(sqlite3* db, const std::string& folder);

// Whether a source other than `exceptSource` gives the folder the album `album`.
Result<bool> folderNamedByOthers(sqlite3* db, const std::string& folder, std::int64_t album, std::int64_t exceptSource);

// Takes out of `album`, the album of `folder`, each of `assets` that has no
// copy directly in it left in a source other than `exceptSource`.
Status releaseFolderMembers(sqlite3* db, const std::string& folder, std::int64_t album,
                            const std::vector<std::int64_t>& assets, std::int64_t exceptSource);

}  // namespace tolvek
