#include "platform/catalog/folder_albums.h"

#include <string_view>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/posix/path_text.h"
#include "platform/sources/source.h"

namespace tolvek {
namespace {

// `folder` relative to a folder source at `root` ("" for the root itself);
// nothing when it is not within it.
std::optional<std::string> relativeTo(const std::string& folder, const std::string& root) {
  if (!isWithinFolder(folder, root)) return std::nullopt;
  if (folder.size() == root.size()) return std::string();
  return folder.substr(root == "/" ? 1 : root.size() + 1);
}

// The absolute folder of a manager's file (its stored path lacks the leading "/").
std::string managerFileFolder(std::string_view stored) {
  return "/" + std::string(folderPart(stored));
}

// Whether `namer` holds a copy of `asset` directly in `folder`.
Result<bool> holdsCopy(sqlite3* db, const FolderNamer& namer, const std::string& folder, std::int64_t asset) {
  if (namer.folderRow) {
    SqliteStatement file(db, "SELECT 1 FROM file WHERE folder_id = :folder AND asset_id = :asset LIMIT 1");
    file.bind(":folder", *namer.folderRow).bind(":asset", asset);
    if (file.step()) return true;
    if (file.failed()) return catalogFailure(db, "read a folder's files");
    return false;
  }
  SqliteStatement files(db, "SELECT path FROM file WHERE asset_id = :asset AND source_id = :source");
  files.bind(":asset", asset).bind(":source", namer.source);
  while (files.step()) {
    if (managerFileFolder(files.text(0)) == folder) return true;
  }
  if (files.failed()) return catalogFailure(db, "read the asset's copies");
  return false;
}

}  // namespace

Result<std::vector<FolderNamer>> folderNamers(sqlite3* db, const std::string& folder) {
  std::vector<Source> sources;
  {
    SqliteStatement select(db, "SELECT id, path, kind FROM source ORDER BY id");
    while (select.step()) {
      sources.push_back(Source{select.integer(0), select.text(1), std::nullopt, select.enumeration<SourceKind>(2)});
    }
    if (select.failed()) return catalogFailure(db, "read the sources");
  }
  std::vector<FolderNamer> namers;
  for (const Source& source : sources) {
    if (source.kind != SourceKind::folder) continue;
    const std::optional<std::string> relative = relativeTo(folder, source.path);
    if (!relative) continue;
    SqliteStatement row(db, "SELECT id, collection_id FROM folder WHERE source_id = :source AND path = :path");
    row.bind(":source", source.row).bindBytes(":path", *relative);
    if (row.step()) {
      if (const auto album = row.optionalInteger(1)) namers.push_back({source.row, source.kind, row.integer(0), *album});
    } else if (row.failed()) {
      return catalogFailure(db, "read the source's folders");
    }
  }
  const std::string key = folderAlbumKey(folder);
  for (const Source& source : sources) {
    if (source.kind == SourceKind::folder) continue;
    SqliteStatement album(db, "SELECT collection_id FROM source_album WHERE source_id = :source AND key = :key");
    album.bind(":source", source.row).bind(":key", std::string_view(key));
    if (album.step()) {
      namers.push_back({source.row, source.kind, std::nullopt, album.integer(0)});
    } else if (album.failed()) {
      return catalogFailure(db, "read the source's albums");
    }
  }
  return namers;
}

Result<bool> folderNamedByOthers(sqlite3* db, const std::string& folder, std::int64_t album, std::int64_t exceptSource) {
  const auto namers = folderNamers(db, folder);
  if (!namers) return namers.status();
  for (const FolderNamer& namer : *namers) {
    if (namer.album == album && namer.source != exceptSource) return true;
  }
  return false;
}

Status releaseFolderMembers(sqlite3* db, const std::string& folder, std::int64_t album,
                            const std::vector<std::int64_t>& assets, std::int64_t exceptSource) {
  if (assets.empty()) return {};
  auto namers = folderNamers(db, folder);
  if (!namers) return namers.status();
  std::erase_if(*namers, [&](const FolderNamer& n) { return n.album != album || n.source == exceptSource; });
  for (const std::int64_t asset : assets) {
    bool held = false;
    for (const FolderNamer& namer : *namers) {
      const Result<bool> holds = holdsCopy(db, namer, folder, asset);
      if (!holds) return holds.status();
      if ((held = *holds)) break;
    }
    if (held) continue;
    SqliteStatement leave(db, "DELETE FROM membership WHERE collection_id = :album AND asset_id = :asset");
    leave.bind(":album", album).bind(":asset", asset);
    if (!leave.run()) return catalogFailure(db, "take an asset out of a folder's album");
  }
  return {};
}

}  // namespace tolvek
