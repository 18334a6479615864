#include "platform/catalog_writer.h"

#include <glib/gstdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/catalog_identifiers.h"
#include "platform/catalog_schema.h"
#include "platform/valid_utf8.h"

namespace tolvek {
namespace {

// A second tool waits this long for another's transaction.
constexpr int kWriterBusyTimeoutMilliseconds = 30000;

// Commits when `ok`, else rolls back; returns `ok` and the commit's result.
bool finish(sqlite3* db, bool ok) {
  if (ok && executeSql(db, "COMMIT")) return true;
  executeSql(db, "ROLLBACK");
  return false;
}


// Keeps a copy of the catalog as it is before a migration, beside it, as
// "catalog-vN-backup.sqlite"; one kept by an earlier attempt stays. The copy
// is made under a temporary name and renamed, so it is whole or absent.
Status keepBackup(sqlite3* db, const std::string& catalogPath, std::int64_t version) {
  const std::string folder = catalogPath.substr(0, catalogPath.rfind('/') + 1);
  const std::string backup = folder + "catalog-v" + std::to_string(version) + "-backup.sqlite";
  struct stat info {};
  if (::lstat(backup.c_str(), &info) == 0) return {};
  const std::string partial = backup + ".partial";
  ::unlink(partial.c_str());
  SqliteStatement copy(db, "VACUUM INTO :path");
  copy.bind(":path", std::string_view(partial));
  if (!copy.run() || ::rename(partial.c_str(), backup.c_str()) != 0) {
    ::unlink(partial.c_str());
    return Status::error("cannot keep a backup of the catalog as " + backup + " before bringing it up to date");
  }
  return {};
}

}  // namespace

Result<std::unique_ptr<CatalogWriter>> CatalogWriter::open(const LibraryLocation& location) {
  for (const std::string* folder : {&location.originalsFolder, &location.derivativesFolder}) {
    if (g_mkdir_with_parents(folder->c_str(), 0700) != 0) {
      return Status::error("cannot create " + *folder + ": " + std::strerror(errno));
    }
  }
  auto lock = FileLock::acquire(location.writerLockPath, kWriterLockWait);
  if (!lock) {
    return Status::error(lock.message() == kLockBusy
                ? "another tolvek-photos-library run is changing the library; try again when it has finished"
                : "cannot lock the library (" + location.writerLockPath + "): " + lock.message());
  }
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(location.catalogPath.c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) {
    return Status::error("cannot open the catalog " + location.catalogPath + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
  }
  sqlite3_busy_timeout(db.get(), kWriterBusyTimeoutMilliseconds);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // WAL: readers keep their snapshot while an import commits. NORMAL
  // synchronisation keeps every commit across a crash of the process.
  if (!executeSql(db.get(), "PRAGMA journal_mode = WAL") || !executeSql(db.get(), "PRAGMA synchronous = NORMAL") ||
      !createCatalogSchema(db.get())) {
    return Status::error("cannot read the catalog " + location.catalogPath + ": " + sqlite3_errmsg(db.get()));
  }
  std::int64_t found = -1;
  {
    SqliteStatement version(db.get(), "PRAGMA user_version");
    if (version.step()) found = version.integer(0);
  }  // finished before a migration starts its own transaction
  if (found < 0) {
    return Status::error("cannot read the catalog " + location.catalogPath);
  }
  if (found >= 2 && found < kCatalogSchemaVersion) {
    if (Status kept = keepBackup(db.get(), location.catalogPath, found); !kept) return kept;
    if (!migrateCatalogSchema(db.get(), location.libraryFolder)) {
      return Status::error("cannot bring the catalog " + location.catalogPath + " up to date: " + sqlite3_errmsg(db.get()));
    }
    found = kCatalogSchemaVersion;
  }
  if (found > kCatalogSchemaVersion) {
    return Status::error("the catalog " + location.catalogPath + " was written by a newer version of this tool");
  }
  if (found > 0 && found < kOldestReadableSchemaVersion) {
    return Status::error("the catalog " + location.catalogPath + " was written by an older development version of this tool");
  }
  if (found != kCatalogSchemaVersion) {
    return Status::error(location.catalogPath + " is not a photo library catalog");
  }
  return std::unique_ptr<CatalogWriter>(new CatalogWriter(std::move(lock).value(), std::move(db), location.libraryFolder));
}

std::optional<std::int64_t> CatalogWriter::momentRow(std::int64_t creationDate) {
  const std::string day = localDay(creationDate);
  SqliteStatement find(db_.get(), "SELECT id FROM collection WHERE day = :day");
  find.bind(":day", std::string_view(day));
  if (find.step()) return find.integer(0);
  if (find.failed()) return std::nullopt;
  SqliteStatement insert(db_.get(),
                         "INSERT INTO collection (identifier, type, subtype, title, rule, day) "
                         "VALUES (:identifier, :type, :subtype, NULL, :rule, :day)");
  insert.bind(":identifier", newCollectionIdentifier())
      .bind(":type", CollectionType::moment)
      .bind(":subtype", CollectionSubtype::moment)
      .bind(":rule", CollectionRule::members)
      .bind(":day", std::string_view(day));
  if (!insert.run()) return std::nullopt;
  return sqlite3_last_insert_rowid(db_.get());
}

bool CatalogWriter::addMembership(std::int64_t collectionRow, std::int64_t assetRow,
                                  const std::optional<std::int64_t>& date, MediaType mediaType) {
  SqliteStatement insert(db_.get(),
                         "INSERT OR IGNORE INTO membership "
                         "(collection_id, asset_id, position, identifier, creation_date, media_type) "
                         "VALUES (:collection, :asset, "
                         "(SELECT COALESCE(MAX(position), 0) + 1 FROM membership WHERE collection_id = :collection), "
                         "(SELECT identifier FROM asset WHERE id = :asset), :date, :type)");
  insert.bind(":collection", collectionRow).bind(":asset", assetRow).bind(":date", date).bind(":type", mediaType);
  return insert.run();
}

Status CatalogWriter::addAsset(const std::string& identifier, const NewAsset& asset,
                               std::optional<std::int64_t> albumRow) {
  if (!recordAsset(identifier, asset, albumRow)) return Status::error("cannot record the asset in the catalog");
  return {};
}

bool CatalogWriter::insertDerivativeRows(std::int64_t row, const std::vector<StoredDerivative>& derivatives) {
  for (const StoredDerivative& d : derivatives) {
    SqliteStatement insertDerivative(db_.get(),
                                     "INSERT INTO derivative (asset_id, path, width, height, size, quality, "
                                     "original_width, original_height) "
                                     "VALUES (:asset, :path, :width, :height, :size, :quality, :originalWidth, "
                                     ":originalHeight)");
    std::optional<std::int64_t> bytes, quality, originalWidth, originalHeight;
    if (d.bytes) bytes = static_cast<std::int64_t>(*d.bytes);
    if (d.quality) quality = *d.quality;
    if (d.originalSize) {
      originalWidth = d.originalSize->width;
      originalHeight = d.originalSize->height;
    }
    insertDerivative.bind(":asset", row)
        .bind(":path", std::string_view(d.path))
        .bind(":width", d.width)
        .bind(":height", d.height)
        .bind(":size", bytes)
        .bind(":quality", quality)
        .bind(":originalWidth", originalWidth)
        .bind(":originalHeight", originalHeight);
    if (!insertDerivative.run()) return false;
  }
  return true;
}

std::optional<std::int64_t> CatalogWriter::insertAssetRows(const std::string& identifier, const NewAsset& asset) {
  SqliteStatement insertAsset(db_.get(),
                              "INSERT INTO asset (identifier, media_type, creation_date) "
                              "VALUES (:identifier, :type, :date)");
  insertAsset.bind(":identifier", std::string_view(identifier))
      .bind(":type", asset.mediaType)
      .bind(":date", asset.creationDate);
  if (!insertAsset.run()) return std::nullopt;
  const std::int64_t row = sqlite3_last_insert_rowid(db_.get());

  const ResourceType resourceType = asset.mediaType == MediaType::video   ? ResourceType::video
                                    : asset.mediaType == MediaType::audio ? ResourceType::audio
                                                                          : ResourceType::photo;
  SqliteStatement insertResource(db_.get(),
                                 "INSERT INTO resource (asset_id, position, type, original_filename, "
                                 "uniform_type_identifier, path, size, sha256) "
                                 "VALUES (:asset, 0, :type, :name, :uti, :path, :size, :sha256)");
  std::optional<std::string> path;
  if (!asset.originalPath.empty()) path = asset.originalPath;
  insertResource.bind(":asset", row)
      .bind(":type", resourceType)
      .bind(":name", std::string_view(validUtf8(asset.originalFilename)))
      .bind(":uti", std::string_view(asset.uniformTypeIdentifier))
      .bind(":path", path)
      .bind(":size", static_cast<std::int64_t>(asset.original.size))
      .bind(":sha256", std::string_view(asset.original.sha256));
  if (!insertResource.run() || !insertDerivativeRows(row, asset.derivatives)) return std::nullopt;
  if (asset.creationDate) {
    auto moment = momentRow(*asset.creationDate);
    if (!moment || !addMembership(*moment, row, asset.creationDate, asset.mediaType)) return std::nullopt;
  }
  return row;
}

bool CatalogWriter::recordAsset(const std::string& identifier, const NewAsset& asset,
                                std::optional<std::int64_t> albumRow) {
  if (!executeSql(db_.get(), "BEGIN IMMEDIATE")) return false;
  const auto row = insertAssetRows(identifier, asset);
  if (!row) return finish(db_.get(), false);
  if (albumRow && !addMembership(*albumRow, *row, asset.creationDate, asset.mediaType)) return finish(db_.get(), false);
  return finish(db_.get(), true);
}

Result<std::string> CatalogWriter::createAlbum(const std::optional<std::string>& title) {
  std::optional<std::string> cleanTitle;
  if (title) cleanTitle = validUtf8(*title);
  const std::string identifier = newCollectionIdentifier();
  SqliteStatement insert(db_.get(),
                         "INSERT INTO collection (identifier, type, subtype, title, rule) "
                         "VALUES (:identifier, :type, :subtype, :title, :rule)");
  insert.bind(":identifier", std::string_view(identifier))
      .bind(":type", CollectionType::album)
      .bind(":subtype", CollectionSubtype::albumRegular)
      .bind(":title", cleanTitle)
      .bind(":rule", CollectionRule::members);
  if (!insert.run()) return Status::error("cannot create the album");
  return identifier;
}

Result<std::int64_t> CatalogWriter::albumRow(const std::string& identifier) {
  SqliteStatement find(db_.get(),
                       "SELECT c.id, c.subtype = :folder, s.path, fo.path, ms.path FROM collection c "
                       "LEFT JOIN folder fo ON fo.collection_id = c.id LEFT JOIN source s ON s.id = fo.source_id "
                       "LEFT JOIN source_album sa ON sa.collection_id = c.id LEFT JOIN source ms ON ms.id = sa.source_id "
                       "WHERE c.identifier = :identifier AND c.type = :type");
  find.bind(":identifier", std::string_view(identifier))
      .bind(":type", CollectionType::album)
      .bind(":folder", CollectionSubtype::albumSyncedFolder);
  if (!find.step()) return Status::error("no album with the identifier " + identifier);
  if (auto database = find.optionalText(4)) {
    return Status::error("the album " + identifier + " comes from " + validUtf8(*database) +
                         ": it holds what that photo manager records and cannot be edited here");
  }
  if (find.integer(1) != 0) {
    const std::string relative = find.text(3);
    return Status::error("the album " + identifier + " is the folder " +
                         validUtf8(relative.empty() ? find.text(2) : find.text(2) + "/" + relative) +
                         ": it holds what the folder holds and cannot be edited");
  }
  return find.integer(0);
}

Result<std::int64_t> CatalogWriter::assetRow(const std::string& identifier) {
  SqliteStatement find(db_.get(), "SELECT id FROM asset WHERE identifier = :identifier");
  find.bind(":identifier", std::string_view(identifier));
  if (!find.step()) return Status::error("no asset with the identifier " + identifier);
  return find.integer(0);
}

Result<std::string> CatalogWriter::assetIdentifier(std::int64_t asset) {
  SqliteStatement find(db_.get(), "SELECT identifier FROM asset WHERE id = :asset");
  find.bind(":asset", asset);
  if (!find.step()) return Status::error("cannot read the catalog");
  return find.text(0);
}

std::optional<StoredOriginal> CatalogWriter::original(std::int64_t asset) {
  SqliteStatement find(db_.get(),
                       "SELECT path, url, uniform_type_identifier, size, sha256 FROM resource "
                       "WHERE asset_id = :asset ORDER BY position LIMIT 1");
  find.bind(":asset", asset);
  if (!find.step()) return std::nullopt;
  StoredOriginal original;
  original.path = fileInLibrary(libraryFolder_, find.optionalText(0));
  original.url = find.optionalText(1).value_or("");
  original.uniformTypeIdentifier = find.text(2);
  if (auto size = find.optionalInteger(3); size && *size >= 0) original.size = static_cast<std::uint64_t>(*size);
  original.sha256 = find.optionalText(4).value_or("");
  return original;
}

Result<std::string> CatalogWriter::offloadOriginal(std::int64_t asset, const std::string& url,
                                                   const ContentDigest& content) {
  const Status failed = Status::error("cannot record the offloaded original in the catalog");
  if (!executeSql(db_.get(), "BEGIN IMMEDIATE")) return failed;
  SqliteStatement find(db_.get(), "SELECT id, path FROM resource WHERE asset_id = :asset ORDER BY position LIMIT 1");
  find.bind(":asset", asset);
  if (!find.step()) {
    finish(db_.get(), false);
    return failed;
  }
  const std::int64_t resource = find.integer(0);
  const std::string oldPath = find.optionalText(1).value_or("");
  SqliteStatement update(db_.get(),
                         "UPDATE resource SET path = NULL, url = :url, size = :size, sha256 = :sha256 "
                         "WHERE id = :resource");
  update.bind(":url", std::string_view(url))
      .bind(":size", static_cast<std::int64_t>(content.size))
      .bind(":sha256", std::string_view(content.sha256))
      .bind(":resource", resource);
  if (!finish(db_.get(), update.run())) return failed;
  return oldPath;
}

Result<std::optional<CatalogWriter::ContentOwner>> CatalogWriter::assetWithContent(const ContentDigest& content) {
  SqliteStatement find(db_.get(),
                       "SELECT a.id, a.identifier, r.path IS NOT NULL FROM resource r JOIN asset a ON a.id = r.asset_id "
                       "WHERE r.sha256 = :sha256 AND r.size = :size AND r.position = 0 ORDER BY a.id LIMIT 1");
  find.bind(":sha256", std::string_view(content.sha256)).bind(":size", static_cast<std::int64_t>(content.size));
  if (find.step()) return std::optional<ContentOwner>(ContentOwner{find.integer(0), find.text(1), find.integer(2) != 0});
  if (find.failed()) return Status::error("cannot read the catalog");
  return std::optional<ContentOwner>();
}

Status CatalogWriter::adoptCopy(std::int64_t asset, const std::string& relativePath) {
  SqliteStatement update(db_.get(), "UPDATE resource SET path = :path WHERE asset_id = :asset AND position = 0");
  update.bind(":path", std::string_view(relativePath)).bind(":asset", asset);
  if (!update.run() || sqlite3_changes(db_.get()) != 1) return Status::error("cannot record the library's copy");
  return {};
}

Result<std::vector<std::string>> CatalogWriter::namedFiles() {
  std::vector<std::string> named;
  SqliteStatement select(db_.get(),
                         "SELECT path FROM resource WHERE path IS NOT NULL UNION ALL SELECT path FROM derivative");
  while (select.step()) {
    if (auto path = select.optionalText(0)) named.push_back(std::move(*path));
  }
  if (select.failed()) return Status::error("cannot read the catalog's file names");
  return named;
}

}  // namespace tolvek
