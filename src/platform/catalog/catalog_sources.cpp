// The catalog writer's side of sources: folders whose files the library
// references in place, their folders (each an album while it holds media)
// and their files (each a copy of an asset, or a file that is none); the
// batches a sync writes them in. A manager's albums: catalog_source_albums.cpp.
#include <unistd.h>

#include <algorithm>
#include <unordered_set>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/catalog/folder_albums.h"
#include "platform/catalog/valid_utf8.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

// The title of a folder's album: its path below the source, or for the
// root the source folder's own name (its whole path when that is empty).
std::string folderTitle(const std::string& sourcePath, const std::string& relative) {
  if (!relative.empty()) return validUtf8(relative);
  const std::string_view name = namePart(sourcePath);
  return validUtf8(name.empty() ? sourcePath : std::string(name));
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
  StatementCache statements;
  const auto copies = recordedCopies(db_.get(), statements, kCatalogSchemaVersion, asset);
  if (!copies) return copies.status();
  if (copies->empty()) return std::optional<std::string>();
  return std::optional<std::string>(copies->front().folder());
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

bool CatalogWriter::FileRows::next(SourceFile& file) {
  if (!select_->step()) return false;
  file = {select_->integer(0), select_->text(1), select_->optionalInteger(2),
          static_cast<std::uint64_t>(select_->integer(3)), select_->integer(4),
          static_cast<std::uint64_t>(select_->integer(5))};
  return true;
}

Status CatalogWriter::FileRows::status() const {
  return select_->failed() ? catalogFailure(db_, "read the source's files") : Status{};
}

namespace {
constexpr const char* kFileRowColumns = "SELECT id, path, asset_id, size, modified_ns, inode FROM file ";
}  // namespace

CatalogWriter::FileRows CatalogWriter::fileRows(std::int64_t source, const std::optional<std::string>& after) {
  auto select = std::make_unique<SqliteStatement>(
      db_.get(), std::string(kFileRowColumns) + (after ? "WHERE source_id = :source AND path > :after ORDER BY path"
                                                       : "WHERE source_id = :source ORDER BY path"));
  select->bind(":source", source);
  if (after) select->bindBytes(":after", *after);
  return FileRows(db_.get(), std::move(select));
}

CatalogWriter::FileRows CatalogWriter::fileRowsIn(std::int64_t source, const std::string& folder, bool below) {
  // Below "a": from "a/" up to (not including) "a0", the byte after "/".
  auto select = std::make_unique<SqliteStatement>(
      db_.get(), std::string(kFileRowColumns) +
                     (below ? "WHERE source_id = :source AND path >= :low AND path < :high ORDER BY path"
                            : "WHERE folder_id = (SELECT id FROM folder WHERE source_id = :source AND path = :folder) "
                              "ORDER BY path"));
  select->bind(":source", source).bindBytes(":folder", folder);
  select->bindBytes(":low", folder + "/").bindBytes(":high", folder + "0");
  return FileRows(db_.get(), std::move(select));
}

Result<bool> CatalogWriter::holdsAssets(std::int64_t source) {
  SqliteStatement select(db_.get(),
                         "SELECT EXISTS (SELECT 1 FROM file WHERE source_id = :source AND asset_id IS NOT NULL)");
  select.bind(":source", source);
  const bool any = select.step() && select.integer(0) != 0;
  if (select.failed()) return catalogFailure(db_.get(), "read the source's files");
  return any;
}

Result<bool> CatalogWriter::holdsMountPoints(std::int64_t source, std::int64_t device) {
  SqliteStatement select(db_.get(),
                         "SELECT EXISTS (SELECT 1 FROM folder WHERE source_id = :source AND length(path) > 0 AND "
                         "device IS NOT NULL AND device != :device)");
  select.bind(":source", source).bind(":device", device);
  const bool any = select.step() && select.integer(0) != 0;
  if (select.failed()) return catalogFailure(db_.get(), "read the source's folders");
  return any;
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
  StatementCache statements;
  for (DerivativeWork& work : result) {
    auto owned = original(work.assetRow);
    if (owned && !owned->path.empty()) {
      work.originalPath = owned->path;
      continue;
    }
    if (owned) work.sha256 = owned->sha256;
    if (auto copies = recordedCopies(db_.get(), statements, kCatalogSchemaVersion, work.assetRow)) {
      work.copies = std::move(copies).value();
    }
  }
  std::erase_if(result, [](const DerivativeWork& work) { return work.originalPath.empty() && work.copies.empty(); });
  return result;
}

Result<CatalogWriter::Batch> CatalogWriter::beginBatch() {
  if (damaged()) return catalogFailure(db_.get(), "begin a change");
  if (Status held = holdLock(); !held) return held;
  auto begun = CatalogTransaction::begin(db_.get(), "begin a change");
  if (!begun) {
    releaseLockAfterBatch();
    return begun.status();
  }
  return Batch(*this, std::move(begun).value());
}

Status CatalogWriter::Batch::commit() {
  Status committed = transaction_.commit();
  end();
  return committed;
}

void CatalogWriter::Batch::end() {
  if (!writer_) return;
  transaction_.rollBack();
  std::exchange(writer_, nullptr)->releaseLockAfterBatch();
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
  return insertAssetRows(identifier, asset, "record the asset");
}

Status CatalogWriter::collectDeletedFiles(SqliteStatement& deleted, std::vector<std::string>& unlinkAfter,
                                          const char* what) {
  while (deleted.step()) {
    const std::string path = fileInLibrary(libraryFolder_, deleted.optionalText(0));
    if (!path.empty()) unlinkAfter.push_back(path);
  }
  if (deleted.failed()) return catalogFailure(db_.get(), what);
  return {};
}

Status CatalogWriter::replaceDerivatives(std::int64_t asset, const std::vector<StoredDerivative>& derivatives,
                                         std::vector<std::string>& unlinkAfter) {
  const char* what = "record the derivatives";
  SqliteStatement old(db_.get(), "DELETE FROM derivative WHERE asset_id = :asset RETURNING path");
  old.bind(":asset", asset);
  if (Status collected = collectDeletedFiles(old, unlinkAfter, what); !collected) return collected;
  return insertDerivativeRows(asset, derivatives, what);
}

Status CatalogWriter::renewAsset(std::int64_t asset, const NewAsset& content, std::vector<std::string>& unlinkAfter) {
  const char* what = "record the new content";
  SqliteStatement updateAsset(db_.get(),
                              "UPDATE asset SET media_type = :type, content_identifier = :content, "
                              "duration_ms = :duration WHERE id = :asset");
  updateAsset.bind(":type", content.mediaType)
      .bind(":content", std::string_view(content.contentIdentifier))
      .bind(":duration", content.durationMs)
      .bind(":asset", asset);
  SqliteStatement updateResource(db_.get(),
                                 "UPDATE resource SET type = :type, original_filename = :name, "
                                 "uniform_type_identifier = :uti, size = :size, sha256 = :sha256 "
                                 "WHERE asset_id = :asset AND position = 0");
  updateResource.bind(":type", resourceTypeOf(content.mediaType))
      .bind(":name", std::string_view(validUtf8(content.originalFilename)))
      .bind(":uti", std::string_view(content.uniformTypeIdentifier))
      .bind(":size", static_cast<std::int64_t>(content.original.size))
      .bind(":sha256", std::string_view(content.original.sha256))
      .bind(":asset", asset);
  if (!updateAsset.run() || !updateResource.run()) return catalogFailure(db_.get(), what);
  if (Status redated = redate(asset, content.creationDate, content.mediaType, what); !redated) return redated;
  return replaceDerivatives(asset, content.derivatives, unlinkAfter);
}

Status CatalogWriter::redate(std::int64_t asset, std::optional<std::int64_t> date, MediaType type, const char* what) {
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
  if (!updateAsset.run() || !updateMembers.run() || !leaveMoment.run()) return catalogFailure(db_.get(), what);
  if (!date) return {};
  auto moment = momentRow(*date, what);
  if (!moment) return moment.status();
  return addMembership(*moment, asset, date, type, what);
}

Status CatalogWriter::settleCreationDate(std::int64_t asset, std::int64_t date, bool fromContent) {
  SqliteStatement select(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :asset");
  select.bind(":asset", asset);
  if (!select.step()) return catalogFailure(db_.get(), "read the asset's date");
  const std::optional<std::int64_t> now = select.optionalInteger(0);
  const MediaType type = select.enumeration<MediaType>(1);
  const std::int64_t settled = fromContent || !now ? date : std::min(*now, date);
  if (now == settled) return {};
  return redate(asset, settled, type, "record the asset's date");
}

Status CatalogWriter::ensureFolderAlbum(std::int64_t folder, std::int64_t asset, const char* what) {
  SqliteStatement find(db_.get(),
                       "SELECT fo.collection_id, s.path, fo.path, s.kind FROM folder fo JOIN source s ON s.id = fo.source_id "
                       "WHERE fo.id = :folder");
  find.bind(":folder", folder);
  if (!find.step()) return catalogFailure(db_.get(), what);
  // A manager's files are not grouped by folder: its own albums say where they belong.
  if (find.enumeration<SourceKind>(3) != SourceKind::folder) return {};
  std::optional<std::int64_t> album = find.optionalInteger(0);
  if (!album) {
    const std::string sourcePath = find.text(1), relative = find.text(2);
    const std::string absolute = relative.empty() ? sourcePath : sourcePath + "/" + relative;
    // The album a manager gives the same folder is this one too; else the
    // identifier comes from the folder's path, so a folder that empties and
    // fills again keeps its album's identifier. Its title is the source's.
    const auto namers = folderNamers(db_.get(), absolute);
    if (!namers) return catalogFailure(db_.get(), what);
    if (!namers->empty()) {
      album = namers->front().album;
      SqliteStatement retitle(db_.get(), "UPDATE collection SET title = :title WHERE id = :album");
      retitle.bind(":title", folderTitle(sourcePath, relative)).bind(":album", *album);
      if (!retitle.run()) return catalogFailure(db_.get(), what);
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
      if (!insert.step()) return catalogFailure(db_.get(), what);
      album = insert.integer(0);
      if (!insert.run()) return catalogFailure(db_.get(), what);
    }
    SqliteStatement link(db_.get(), "UPDATE folder SET collection_id = :album WHERE id = :folder");
    link.bind(":album", *album).bind(":folder", folder);
    if (!link.run()) return catalogFailure(db_.get(), what);
  }
  SqliteStatement assetInfo(db_.get(), "SELECT creation_date, media_type FROM asset WHERE id = :asset");
  assetInfo.bind(":asset", asset);
  if (!assetInfo.step()) return catalogFailure(db_.get(), what);
  const auto date = assetInfo.optionalInteger(0);
  const auto type = assetInfo.enumeration<MediaType>(1);
  return addMembership(*album, asset, date, type, what);
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
  if (!file.assetRow) return {};
  return ensureFolderAlbum(folder, *file.assetRow, "record a folder's album");
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
    name = std::string(namePart(path));
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
  return removeUnheldAsset(asset, unlinkAfter, "remove an asset");
}

Status CatalogWriter::removeUnheldAsset(std::int64_t asset, std::vector<std::string>& unlinkAfter, const char* what) {
  SqliteStatement held(db_.get(),
                       "SELECT EXISTS (SELECT 1 FROM file WHERE asset_id = :asset) OR EXISTS (SELECT 1 FROM resource "
                       "WHERE asset_id = :asset AND (path IS NOT NULL OR url IS NOT NULL))");
  held.bind(":asset", asset);
  if (!held.step()) return catalogFailure(db_.get(), what);
  if (held.integer(0) != 0) return {};
  return deleteAsset(asset, unlinkAfter, what);
}

Status CatalogWriter::deleteAsset(std::int64_t asset, std::vector<std::string>& unlinkAfter, const char* what) {
  if (Status handed = handOverPair(asset, what); !handed) return handed;
  for (const char* sql : {"DELETE FROM derivative WHERE asset_id = :asset RETURNING path",
                          "DELETE FROM resource WHERE asset_id = :asset RETURNING path"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":asset", asset);
    if (Status collected = collectDeletedFiles(remove, unlinkAfter, what); !collected) return collected;
  }
  for (const char* sql : {"DELETE FROM membership WHERE asset_id = :asset", "DELETE FROM asset WHERE id = :asset"}) {
    SqliteStatement remove(db_.get(), sql);
    remove.bind(":asset", asset);
    if (!remove.run()) return catalogFailure(db_.get(), what);
  }
  return {};
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
  if (keepAsset) return {};
  return removeUnheldAsset(*asset, unlinkAfter, "forget a file");
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

}  // namespace tolvek
