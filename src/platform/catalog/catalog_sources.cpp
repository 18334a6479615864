// The catalog writer's side of sources: folders whose files the library
// references in place, their folders (each an album while it holds media)
// and their files (each a copy of an asset, or a file that is none); and
// other photo managers' databases, whose events, tags and folders are albums.
#include <unistd.h>

#include <algorithm>
#include <unordered_map>
#include <unordered_set>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/sources/folder_albums.h"
#include "platform/managers/manager_catalog.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek {
namespace {

// The title of a folder's album: its path below the source, or for the
// root the source folder's own name (its whole path when that is empty).
std::string folderTitle(const std::string& sourcePath, const std::string& relative) {
  if (!relative.empty()) return validUtf8(relative);
  const auto slash = sourcePath.find_last_of('/');
  const std::string name = slash == std::string::npos ? sourcePath : sourcePath.substr(slash + 1);
  return validUtf8(name.empty() ? sourcePath : name);
}

}  // namespace

Result<std::vector<Source>> CatalogWriter::sources() {
  std::vector<Source> result;
  SqliteStatement select(db_.get(), "SELECT id, path, device, kind FROM source ORDER BY id");
  while (select.step()) {
    result.push_back({select.integer(0), select.text(1), select.optionalInteger(2), select.enumeration<SourceKind>(3)});
  }
  if (select.failed()) return catalogFailure(db_.get(), "read the sources");
  return result;
}

Result<bool> CatalogWriter::anySourceEverAdded() {
  SqliteStatement select(db_.get(), "SELECT COUNT(*) FROM sqlite_sequence WHERE name = 'source'");
  if (!select.step()) return catalogFailure(db_.get(), "read the sources");
  return select.integer(0) > 0;
}

Result<std::int64_t> CatalogWriter::addSource(const std::string& path, std::int64_t device, SourceKind kind) {
  SqliteStatement insert(db_.get(), "INSERT INTO source (path, device, kind) VALUES (:path, :device, :kind)");
  insert.bindBytes(":path", path).bind(":device", device).bind(":kind", kind);
  if (!insert.run()) return catalogFailure(db_.get(), "record the source");
  return sqlite3_last_insert_rowid(db_.get());
}

Status CatalogWriter::recordSourceDevice(std::int64_t source, std::int64_t device) {
  SqliteStatement update(db_.get(), "UPDATE source SET device = :device WHERE id = :source");
  update.bind(":device", device).bind(":source", source);
  if (!update.run()) return catalogFailure(db_.get(), "record the source");
  return {};
}

Result<std::int64_t> CatalogWriter::assetCountOf(std::int64_t source) {
  SqliteStatement count(db_.get(),
                        "SELECT COUNT(DISTINCT asset_id) FROM file WHERE source_id = :source AND asset_id IS NOT NULL");
  count.bind(":source", source);
  if (!count.step()) return catalogFailure(db_.get(), "count the source's assets");
  return count.integer(0);
}

Result<std::optional<std::string>> CatalogWriter::referencingFolder(std::int64_t asset) {
  SqliteStatement select(db_.get(),
                         "SELECT s.path, fo.path, s.kind, f.path FROM file f JOIN source s ON s.id = f.source_id "
                         "JOIN folder fo ON fo.id = f.folder_id WHERE f.asset_id = :asset "
                         "ORDER BY f.source_id, f.path LIMIT 1");
  select.bind(":asset", asset);
  if (select.step()) {
    if (select.enumeration<SourceKind>(2) != SourceKind::folder) {
      // A manager's files lie anywhere: the folder is the file's own.
      const std::string file = "/" + select.text(3);
      return std::optional<std::string>(file.substr(0, std::max<std::size_t>(1, file.rfind('/'))));
    }
    const std::string relative = select.text(1);
    return std::optional<std::string>(relative.empty() ? select.text(0) : select.text(0) + "/" + relative);
  }
  if (select.failed()) return catalogFailure(db_.get(), "read the asset's copies");
  return std::optional<std::string>();
}

Result<std::vector<SourceFile>> CatalogWriter::filesOf(std::int64_t source, bool assetsOnly) {
  std::vector<SourceFile> result;
  SqliteStatement select(db_.get(), assetsOnly ? "SELECT id, path, asset_id, size, modified_ns, inode FROM file "
                                                 "WHERE source_id = :source AND asset_id IS NOT NULL ORDER BY path"
                                               : "SELECT id, path, asset_id, size, modified_ns, inode FROM file "
                                                 "WHERE source_id = :source ORDER BY path");
  {
    // Sized first: a source may hold 100,000 files.
    SqliteStatement count(db_.get(), "SELECT COUNT(*) FROM file WHERE source_id = :source");
    count.bind(":source", source);
    if (count.step()) result.reserve(static_cast<std::size_t>(count.integer(0)));
  }
  select.bind(":source", source);
  while (select.step()) {
    result.push_back({select.integer(0), select.text(1), select.optionalInteger(2),
                      static_cast<std::uint64_t>(select.integer(3)), select.integer(4),
                      static_cast<std::uint64_t>(select.integer(5))});
  }
  if (select.failed()) return catalogFailure(db_.get(), "read the source's files");
  return result;
}

Result<std::vector<SourceFolder>> CatalogWriter::foldersOf(std::int64_t source) {
  std::vector<SourceFolder> result;
  SqliteStatement select(db_.get(), "SELECT id, path, device FROM folder WHERE source_id = :source");
  select.bind(":source", source);
  while (select.step()) result.push_back({select.integer(0), select.text(1), select.optionalInteger(2)});
  if (select.failed()) return catalogFailure(db_.get(), "read the source's folders");
  return result;
}

Result<std::vector<std::string>> CatalogWriter::contentHashes() {
  std::vector<std::string> result;
  SqliteStatement select(db_.get(), "SELECT sha256 FROM resource WHERE sha256 IS NOT NULL");
  while (select.step()) result.push_back(select.text(0));
  if (select.failed()) return catalogFailure(db_.get(), "read the content hashes");
  return result;
}

Result<std::vector<CatalogWriter::DerivativeWork>> CatalogWriter::outdatedDerivatives() {
  std::vector<DerivativeWork> result;
  SqliteStatement select(db_.get(),
                         "SELECT a.id, a.identifier, a.media_type FROM asset a WHERE EXISTS (SELECT 1 FROM derivative d "
                         "WHERE d.asset_id = a.id AND (d.quality IS NULL OR d.quality != :quality OR "
                         "d.original_width IS NULL)) ORDER BY a.id");
  select.bind(":quality", std::int64_t{kDerivativeQualityPercent});
  while (select.step()) result.push_back({select.integer(0), select.text(1), select.enumeration<MediaType>(2), {}, {}, {}});
  if (select.failed()) return catalogFailure(db_.get(), "read the derivatives");
  for (DerivativeWork& work : result) {
    auto owned = original(work.assetRow);
    if (owned && !owned->path.empty()) {
      work.originalPath = owned->path;
      continue;
    }
    if (owned) work.sha256 = owned->sha256;
    SqliteStatement copies(db_.get(), recordedCopiesSql(kCatalogSchemaVersion));
    copies.bind(":asset", work.assetRow);
    while (copies.step()) work.copies.push_back(recordedCopyOf(copies));
  }
  std::erase_if(result, [](const DerivativeWork& work) { return work.originalPath.empty() && work.copies.empty(); });
  return result;
}

Status CatalogWriter::beginBatch() {
  if (damaged()) return catalogFailure(db_.get(), "begin a change");
  if (Status held = holdLock(); !held) return held;
  if (!executeSql(db_.get(), "BEGIN IMMEDIATE")) {
    Status error = catalogFailure(db_.get(), "begin a change");
    releaseLockAfterBatch();
    return error;
  }
  return {};
}

Status CatalogWriter::commitBatch() {
  if (!executeSql(db_.get(), "COMMIT")) {
    Status error = catalogFailure(db_.get(), "commit the changes");
    rollBackBatch();
    return error;
  }
  releaseLockAfterBatch();
  return {};
}

void CatalogWriter::rollBackBatch() {
  rollBack(db_.get());
  releaseLockAfterBatch();
}

Result<std::int64_t> CatalogWriter::folderRow(std::int64_t source, const std::string& path, std::int64_t device) {
  SqliteStatement upsert(db_.get(),
                         "INSERT INTO folder (source_id, path, device) VALUES (:source, :path, :device) "
                         "ON CONFLICT (source_id, path) DO UPDATE SET device = excluded.device RETURNING id");
  upsert.bind(":source", source).bindBytes(":path", path).bind(":device", device);
  if (!upsert.step()) return catalogFailure(db_.get(), "record a folder");
  const std::int64_t row = upsert.integer(0);
  if (!upsert.run()) return catalogFailure(db_.get(), "record a folder");
  return row;
}

Result<std::int64_t> CatalogWriter::insertAsset(const std::string& identifier, const NewAsset& asset) {
  const auto row = insertAssetRows(identifier, asset);
  if (!row) return catalogFailure(db_.get(), "record the asset");
  return *row;
}

Status CatalogWriter::replaceDerivatives(std::int64_t asset, const std::vector<StoredDerivative>& derivatives,
                                         std::vector<std::string>& unlinkAfter) {
  SqliteStatement old(db_.get(), "DELETE FROM derivative WHERE asset_id = :asset RETURNING path");
  old.bind(":asset", asset);
  while (old.step()) {
    const std::string path = fileInLibrary(libraryFolder_, old.optionalText(0));
    if (!path.empty()) unlinkAfter.push_back(path);
  }
  if (old.failed() || !insertDerivativeRows(asset, derivatives)) return catalogFailure(db_.get(), "record the derivatives");
  return {};
}

Status CatalogWriter::renewAsset(std::int64_t asset, const NewAsset& content, std::vector<std::string>& unlinkAfter) {
  const ResourceType resourceType = resourceTypeOf(content.mediaType);
  SqliteStatement updateAsset(db_.get(), "UPDATE asset SET media_type = :type WHERE id = :asset");
  updateAsset.bind(":type", content.mediaType).bind(":asset", asset);
  SqliteStatement updateResource(db_.get(),
                                 "UPDATE resource SET type = :type, original_filename = :name, "
                                 "uniform_type_identifier = :uti, size = :size, sha256 = :sha256 "
                                 "WHERE asset_id = :asset AND position = 0");
  updateResource.bind(":type", resourceType)
      .bind(":name", std::string_view(validUtf8(content.originalFilename)))
      .bind(":uti", std::string_view(content.uniformTypeIdentifier))
      .bind(":size", static_cast<std::int64_t>(content.original.size))
      .bind(":sha256", std::string_view(content.original.sha256))
      .bind(":asset", asset);
  if (!updateAsset.run() || !updateResource.run() || !redate(asset, content.creationDate, content.mediaType)) {
    return catalogFailure(db_.get(), "record the new content");
  }
  return replaceDerivatives(asset, content.derivatives, unlinkAfter);
}

bool CatalogWriter::redate(std::int64_t asset, std::optional<std::int64_t> date, MediaType type) {
  SqliteStatement updateAsset(db_.get(), "UPDATE asset SET creation_date = :date WHERE id = :asset");
  updateAsset.bind(":date", date).bind(":asset", asset);
  // The copies of date and type in its memberships, and its moment.
  SqliteStatement updateMembers(db_.get(),
                                "UPDATE membership SET creation_date = :date, media_type = :type WHERE asset_id = :asset");
  updateMembers.bind(":date", date).bind(":type", type).bind(":asset", asset);
  SqliteStatement leaveMoment(db_.get(),
                              "DELETE FROM membership WHERE asset_id = :asset AND collection_id IN "
                              "(SELECT id FROM collection WHERE type = :moment)");
  leaveMoment.bind(":asset", asset).bind(":moment", CollectionType::moment);
  if (!updateAsset.run() || !updateMembers.run() || !leaveMoment.run()) return false;
  if (!date) return true;
  auto moment = momentRow(*date);
  return moment && addMembership(*moment, asset, date, type);
}

Status CatalogWriter::settleCreationDate(std::int64_t asset, std::int64_t date, bool fromContent) {
  SqliteStatement select(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :asset");
  select.bind(":asset", asset);
  if (!select.step()) return catalogFailure(db_.get(), "read the asset's date");
  const std::optional<std::int64_t> now = select.optionalInteger(0);
  const MediaType type = select.enumeration<MediaType>(1);
  const std::int64_t settled = fromContent || !now ? date : std::min(*now, date);
  if (now == settled) return {};
  if (!redate(asset, settled, type)) return catalogFailure(db_.get(), "record the asset's date");
  return {};
}

bool CatalogWriter::ensureFolderAlbum(std::int64_t folder, std::int64_t asset) {
  SqliteStatement find(db_.get(),
                       "SELECT fo.collection_id, s.path, fo.path, s.kind FROM folder fo JOIN source s ON s.id = fo.source_id "
                       "WHERE fo.id = :folder");
  find.bind(":folder", folder);
  if (!find.step()) return false;
  // A manager's files are not grouped by folder: its own albums say where they belong.
  if (find.enumeration<SourceKind>(3) != SourceKind::folder) return true;
  std::optional<std::int64_t> album = find.optionalInteger(0);
  if (!album) {
    const std::string sourcePath = find.text(1), relative = find.text(2);
    const std::string absolute = relative.empty() ? sourcePath : sourcePath + "/" + relative;
    // The album a manager gives the same folder is this one too; else the
    // identifier comes from the folder's path, so a folder that empties and
    // fills again keeps its album's identifier. Its title is the source's.
    const auto namers = folderNamers(db_.get(), absolute);
    if (!namers) return false;
    if (!namers->empty()) {
      album = namers->front().album;
      SqliteStatement retitle(db_.get(), "UPDATE collection SET title = :title WHERE id = :album");
      retitle.bind(":title", folderTitle(sourcePath, relative)).bind(":album", *album);
      if (!retitle.run()) return false;
    } else {
      SqliteStatement insert(db_.get(),
                             "INSERT INTO collection (identifier, type, subtype, title, rule) "
                             "VALUES (:identifier, :type, :subtype, :title, :rule) "
                             "ON CONFLICT (identifier) DO UPDATE SET title = excluded.title RETURNING id");
      insert.bind(":identifier", folderCollectionIdentifier(absolute))
          .bind(":type", CollectionType::album)
          .bind(":subtype", CollectionSubtype::albumSyncedFolder)
          .bind(":title", folderTitle(sourcePath, relative))
          .bind(":rule", CollectionRule::members);
      if (!insert.step()) return false;
      album = insert.integer(0);
      if (!insert.run()) return false;
    }
    SqliteStatement link(db_.get(), "UPDATE folder SET collection_id = :album WHERE id = :folder");
    link.bind(":album", *album).bind(":folder", folder);
    if (!link.run()) return false;
  }
  SqliteStatement assetInfo(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :asset");
  assetInfo.bind(":asset", asset);
  if (!assetInfo.step()) return false;
  const auto date = assetInfo.optionalInteger(0);
  const auto type = assetInfo.enumeration<MediaType>(1);
  return addMembership(*album, asset, date, type);
}

Status CatalogWriter::recordFile(std::int64_t source, std::int64_t folder, const SourceFile& file) {
  SqliteStatement upsert(db_.get(),
                         "INSERT INTO file (source_id, folder_id, path, asset_id, size, modified_ns, inode) "
                         "VALUES (:source, :folder, :path, :asset, :size, :modified, :inode) "
                         "ON CONFLICT (source_id, path) DO UPDATE SET folder_id = excluded.folder_id, "
                         "asset_id = excluded.asset_id, size = excluded.size, modified_ns = excluded.modified_ns, "
                         "inode = excluded.inode");
  upsert.bind(":source", source)
      .bind(":folder", folder)
      .bindBytes(":path", file.path)
      .bind(":asset", file.assetRow)
      .bind(":size", static_cast<std::int64_t>(file.size))
      .bind(":modified", file.modifiedNs)
      .bind(":inode", static_cast<std::int64_t>(file.inode));
  if (!upsert.run()) return catalogFailure(db_.get(), "record a file");
  if (file.assetRow && !ensureFolderAlbum(folder, *file.assetRow)) return catalogFailure(db_.get(), "record a folder's album");
  return {};
}

Result<bool> CatalogWriter::isOnlyCopy(std::int64_t asset) {
  SqliteStatement count(db_.get(),
                        "SELECT (SELECT COUNT(*) FROM file WHERE asset_id = :asset), "
                        "(SELECT COUNT(*) FROM resource WHERE asset_id = :asset AND (path IS NOT NULL OR url IS NOT NULL))");
  count.bind(":asset", asset);
  if (!count.step()) return catalogFailure(db_.get(), "count the asset's copies");
  return count.integer(0) == 1 && count.integer(1) == 0;
}

Status CatalogWriter::nameAfterFirstCopy(std::int64_t asset, const std::unordered_set<std::int64_t>& passedOver) {
  SqliteStatement copies(db_.get(), "SELECT id, path FROM file WHERE asset_id = :asset ORDER BY source_id, path");
  copies.bind(":asset", asset);
  std::optional<std::string> name;
  while (!name && copies.step()) {
    if (passedOver.contains(copies.integer(0))) continue;
    const std::string path = copies.text(1);
    name = path.substr(path.rfind('/') + 1);  // npos + 1: the whole path
  }
  if (copies.failed()) return catalogFailure(db_.get(), "read the asset's copies");
  if (!name) return {};
  SqliteStatement rename(db_.get(),
                         "UPDATE resource SET original_filename = :name WHERE asset_id = :asset AND path IS NULL "
                         "AND url IS NULL AND original_filename IS NOT :name");
  rename.bind(":asset", asset).bind(":name", validUtf8(*name));
  if (!rename.run()) return catalogFailure(db_.get(), "rename the asset");
  return {};
}

Status CatalogWriter::removeAssetIfUnheld(std::int64_t asset, std::vector<std::string>& unlinkAfter) {
  if (!removeUnheldAsset(asset, unlinkAfter)) return catalogFailure(db_.get(), "remove an asset");
  return {};
}

bool CatalogWriter::removeUnheldAsset(std::int64_t asset, std::vector<std::string>& unlinkAfter) {
  SqliteStatement held(db_.get(),
                       "SELECT EXISTS (SELECT 1 FROM file WHERE asset_id = :asset) OR EXISTS (SELECT 1 FROM resource "
                       "WHERE asset_id = :asset AND (path IS NOT NULL OR url IS NOT NULL))");
  held.bind(":asset", asset);
  if (!held.step()) return false;
  return held.integer(0) != 0 || deleteAsset(asset, unlinkAfter);
}

bool CatalogWriter::deleteAsset(std::int64_t asset, std::vector<std::string>& unlinkAfter) {
  for (const char* sql : {"DELETE FROM derivative WHERE asset_id = :asset RETURNING path",
                          "DELETE FROM resource WHERE asset_id = :asset RETURNING path"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":asset", asset);
    while (remove.step()) {
      const std::string path = fileInLibrary(libraryFolder_, remove.optionalText(0));
      if (!path.empty()) unlinkAfter.push_back(path);
    }
    if (remove.failed()) return false;
  }
  for (const char* sql : {"DELETE FROM membership WHERE asset_id = :asset", "DELETE FROM asset WHERE id = :asset"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":asset", asset);
    if (!remove.run()) return false;
  }
  return true;
}

Status CatalogWriter::removeFile(std::int64_t fileRow, std::vector<std::string>& unlinkAfter, bool keepAsset) {
  SqliteStatement remove(db_.get(), "DELETE FROM file WHERE id = :file RETURNING asset_id, folder_id");
  remove.bind(":file", fileRow);
  if (!remove.step()) return remove.failed() ? catalogFailure(db_.get(), "forget a file") : Status{};
  const auto asset = remove.optionalInteger(0);
  const std::int64_t folder = remove.integer(1);
  if (!remove.run()) return catalogFailure(db_.get(), "forget a file");
  if (!asset) return {};
  // Its folder's album keeps it while another copy sits in the folder, in
  // this source or in another that names the folder.
  SqliteStatement album(db_.get(),
                        "SELECT fo.collection_id, fo.source_id, s.path, fo.path FROM folder fo "
                        "JOIN source s ON s.id = fo.source_id WHERE fo.id = :folder AND fo.collection_id IS NOT NULL "
                        "AND s.kind = :kind AND NOT EXISTS (SELECT 1 FROM file WHERE folder_id = :folder AND asset_id = :asset)");
  album.bind(":folder", folder).bind(":asset", *asset).bind(":kind", SourceKind::folder);
  if (album.step()) {
    const std::string sourcePath = album.text(2), relative = album.text(3);
    if (Status left = releaseFolderMembers(db_.get(), relative.empty() ? sourcePath : sourcePath + "/" + relative,
                                           album.integer(0), {*asset}, album.integer(1));
        !left) {
      return left;
    }
  } else if (album.failed()) {
    return catalogFailure(db_.get(), "forget a file");
  }
  if (!keepAsset && !removeUnheldAsset(*asset, unlinkAfter)) return catalogFailure(db_.get(), "forget a file");
  return {};
}

Status CatalogWriter::pruneEmptyCollections() {
  // Folder albums and moments without members disappear; a folder's album
  // comes back with the same identifier when it fills again.
  const std::string sql =
      "DELETE FROM tally WHERE n <= 0;"
      "UPDATE folder SET collection_id = NULL WHERE collection_id IS NOT NULL AND NOT EXISTS "
      "(SELECT 1 FROM membership m WHERE m.collection_id = folder.collection_id);"
      "DELETE FROM collection WHERE (type = " + std::to_string(static_cast<int>(CollectionType::moment)) +
      " OR subtype = " + std::to_string(static_cast<int>(CollectionSubtype::albumSyncedFolder)) +
      " OR id IN (SELECT collection_id FROM source_album)) "
      "AND NOT EXISTS (SELECT 1 FROM membership m WHERE m.collection_id = collection.id);"
      "DELETE FROM source_album WHERE NOT EXISTS (SELECT 1 FROM collection c WHERE c.id = source_album.collection_id);"
      "DELETE FROM folder WHERE collection_id IS NULL AND NOT EXISTS (SELECT 1 FROM file f WHERE f.folder_id = folder.id) "
      "AND device = (SELECT device FROM source s WHERE s.id = folder.source_id);";
  if (!executeSql(db_.get(), sql.c_str())) return catalogFailure(db_.get(), "remove empty albums");
  return {};
}

Status CatalogWriter::dropSourceCollection(std::int64_t source, const std::string& key, std::int64_t collection) {
  if (const std::optional<std::string> folder = folderOfAlbumKey(key)) {
    const Result<bool> shared = folderNamedByOthers(db_.get(), *folder, collection, source);
    if (!shared) return shared.status();
    if (*shared) {
      // Another source names the folder: what it holds copies of stays.
      std::vector<std::int64_t> members;
      SqliteStatement select(db_.get(), "SELECT asset_id FROM membership WHERE collection_id = :collection");
      select.bind(":collection", collection);
      while (select.step()) members.push_back(select.integer(0));
      if (select.failed()) return catalogFailure(db_.get(), "read an album's members");
      return releaseFolderMembers(db_.get(), *folder, collection, members, source);
    }
  }
  for (const char* sql : {"DELETE FROM membership WHERE collection_id = :collection",
                          "DELETE FROM collection WHERE id = :collection"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":collection", collection);
    if (!remove.run()) return catalogFailure(db_.get(), "remove the source's albums");
  }
  return {};
}

Status CatalogWriter::replaceSourceAlbums(const Source& source, const std::vector<SourceAlbum>& albums) {
  std::unordered_map<std::string, std::int64_t> before;  // key -> collection
  {
    SqliteStatement select(db_.get(), "SELECT key, collection_id FROM source_album WHERE source_id = :source");
    select.bind(":source", source.row);
    while (select.step()) before.emplace(select.text(0), select.integer(1));
    if (select.failed()) return catalogFailure(db_.get(), "read the source's albums");
  }
  const auto failed = [&] { return catalogFailure(db_.get(), "record the source's albums"); };
  // The same few statements for every album: prepared once.
  StatementCache statements;
  for (const SourceAlbum& album : albums) {
    if (album.assetRows.empty()) continue;  // goes with the albums no longer given
    // A folder's album is the one any source gives it already (titled by a
    // folder source when one names it), else one named by its path.
    const std::optional<std::string> folder = folderOfAlbumKey(album.key);
    std::optional<std::int64_t> collection;
    bool titled = true;
    if (folder) {
      const auto namers = folderNamers(db_.get(), *folder);
      if (!namers) return namers.status();
      if (!namers->empty()) {
        collection = namers->front().album;
        titled = !namers->front().folderRow;
      }
    }
    if (!collection) {
      SqliteStatement upsert(db_.get(), statements,
                             "INSERT INTO collection (identifier, type, subtype, title, rule) "
                             "VALUES (:identifier, :type, :subtype, NULL, :rule) "
                             "ON CONFLICT (identifier) DO UPDATE SET subtype = excluded.subtype RETURNING id");
      upsert.bind(":identifier", folder ? folderCollectionIdentifier(*folder) : sourceCollectionIdentifier(source.path, album.key))
          .bind(":type", CollectionType::album)
          .bind(":subtype", album.subtype)
          .bind(":rule", CollectionRule::members);
      if (!upsert.step()) return failed();
      collection = upsert.integer(0);
      if (!upsert.run()) return failed();
    }
    SqliteStatement link(db_.get(), statements,
                         "INSERT INTO source_album (source_id, key, collection_id) VALUES (:source, :key, :collection) "
                         "ON CONFLICT (source_id, key) DO UPDATE SET collection_id = excluded.collection_id");
    link.bind(":source", source.row).bind(":key", std::string_view(album.key)).bind(":collection", *collection);
    if (!link.run()) return failed();
    if (const auto was = before.find(album.key); was != before.end()) {
      // An album of older versions for a folder that is now one album.
      if (was->second != *collection) {
        if (Status dropped = dropSourceCollection(source.row, album.key, was->second); !dropped) return dropped;
      }
      before.erase(was);
    }

    // Only the difference is written, so a sync of an unchanged database
    // rewrites no membership.
    std::unordered_set<std::int64_t> present;
    {
      SqliteStatement members(db_.get(), statements, "SELECT asset_id FROM membership WHERE collection_id = :collection");
      members.bind(":collection", *collection);
      while (members.step()) present.insert(members.integer(0));
      if (members.failed()) return failed();
    }
    std::unordered_set<std::int64_t> wanted;
    for (const std::int64_t asset : album.assetRows) {
      if (!wanted.insert(asset).second || present.erase(asset) > 0) continue;
      SqliteStatement add(db_.get(), statements,
                          "INSERT OR IGNORE INTO membership "
                          "(collection_id, asset_id, position, identifier, creation_date, media_type) "
                          "SELECT :collection, a.id, (SELECT COALESCE(MAX(position), 0) + 1 FROM membership "
                          "WHERE collection_id = :collection), a.identifier, a.creation_date, a.media_type "
                          "FROM asset a WHERE a.id = :asset");
      add.bind(":collection", *collection).bind(":asset", asset);
      if (!add.run()) return failed();
    }
    if (folder) {
      // Left the folder here; kept while another source has it there.
      const std::vector<std::int64_t> leaving(present.begin(), present.end());
      if (Status left = releaseFolderMembers(db_.get(), *folder, *collection, leaving, source.row); !left) return left;
    } else {
      for (const std::int64_t asset : present) {  // left the event or tag
        SqliteStatement leave(db_.get(), statements, "DELETE FROM membership WHERE collection_id = :collection AND asset_id = :asset");
        leave.bind(":collection", *collection).bind(":asset", asset);
        if (!leave.run()) return failed();
      }
    }
    if (!titled) continue;
    std::optional<std::string> title;
    if (album.title) {
      title = validUtf8(*album.title);
    } else {
      SqliteStatement earliest(db_.get(), statements, "SELECT MIN(creation_date) FROM membership WHERE collection_id = :collection");
      earliest.bind(":collection", *collection);
      if (!earliest.step()) return failed();
      if (auto date = earliest.optionalInteger(0)) title = localDay(*date);
    }
    SqliteStatement retitle(db_.get(), statements, "UPDATE collection SET title = :title WHERE id = :collection AND title IS NOT :title");
    retitle.bind(":title", title).bind(":collection", *collection);
    if (!retitle.run()) return failed();
  }
  for (const auto& [key, collection] : before) {  // no longer in the database, or without members
    SqliteStatement unlink(db_.get(), "DELETE FROM source_album WHERE source_id = :source AND key = :key");
    unlink.bind(":source", source.row).bind(":key", std::string_view(key));
    if (!unlink.run()) return failed();
    if (Status dropped = dropSourceCollection(source.row, key, collection); !dropped) return dropped;
  }
  return {};
}

Status CatalogWriter::forgetSource(std::int64_t source, std::vector<std::string>& unlinkAfter) {
  if (Status begun = beginBatch(); !begun) return begun;
  std::vector<std::int64_t> files;
  {
    SqliteStatement select(db_.get(), "SELECT id FROM file WHERE source_id = :source");
    select.bind(":source", source);
    while (select.step()) files.push_back(select.integer(0));
    if (select.failed()) {
      rollBackBatch();
      return catalogFailure(db_.get(), "read the source's files");
    }
  }
  std::vector<std::string> unlink;
  for (const std::int64_t file : files) {
    if (Status removed = removeFile(file, unlink); !removed) {
      rollBackBatch();
      return removed;
    }
  }
  std::vector<std::pair<std::string, std::int64_t>> albums;  // key, collection
  {
    SqliteStatement select(db_.get(), "DELETE FROM source_album WHERE source_id = :source RETURNING key, collection_id");
    select.bind(":source", source);
    while (select.step()) albums.emplace_back(select.text(0), select.integer(1));
    if (select.failed()) {
      rollBackBatch();
      return catalogFailure(db_.get(), "forget the source's albums");
    }
  }
  for (const auto& [key, collection] : albums) {
    if (Status dropped = dropSourceCollection(source, key, collection); !dropped) {
      rollBackBatch();
      return dropped;
    }
  }
  SqliteStatement folders(db_.get(), "DELETE FROM folder WHERE source_id = :source");
  folders.bind(":source", source);
  SqliteStatement remove(db_.get(), "DELETE FROM source WHERE id = :source");
  remove.bind(":source", source);
  Status pruned;
  if (!folders.run() || !remove.run() || !(pruned = pruneEmptyCollections())) {
    rollBackBatch();
    return pruned.ok() ? catalogFailure(db_.get(), "forget the source") : pruned;
  }
  if (Status committed = commitBatch(); !committed) return committed;
  unlinkAfter.insert(unlinkAfter.end(), unlink.begin(), unlink.end());
  return {};
}

}  // namespace tolvek
