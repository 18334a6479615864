#include "platform/catalog/catalog_writer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/library_rows.h"
#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"
#include "platform/posix/temporary_files.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek {
namespace {

// A second tool waits this long for another's transaction.
constexpr int kWriterBusyTimeoutMilliseconds = 30000;

// Keeps a copy of the catalog as it is before a migration, beside it, as
// "catalog-vN-backup.sqlite"; one kept by an earlier attempt stays. The copy
// is made under a temporary name and renamed, so it is whole or absent.
Status keepBackup(sqlite3* db, const std::string& catalogPath, std::int64_t version) {
  const std::string backup = catalogBackupPath(catalogPath, version);
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

// Where a writer records the catalog's files as it left them sound.
std::string checkedPath(const std::string& catalogPath) {
  const std::string_view folder = folderPart(catalogPath);
  return folder.empty() && !catalogPath.starts_with('/') ? std::string("catalog.checked")
                                                          : std::string(folder) + "/catalog.checked";
}

// The catalog's files as they are: for the main file and its log, the
// inode, size and change time (an empty log counts as none, as SQLite makes
// and removes it as it opens and closes the catalog).
std::string catalogFilesState(const std::string& catalogPath) {
  std::string state;
  for (const std::string& path : {catalogPath, catalogPath + "-wal"}) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || (info.st_size == 0 && path != catalogPath)) {
      state += "none\n";
      continue;
    }
    state += std::to_string(info.st_ino) + " " + std::to_string(info.st_size) + " " +
             std::to_string(info.st_ctim.tv_sec) + "." + std::to_string(info.st_ctim.tv_nsec) + "\n";
  }
  return state;
}

// The writer lock, waited for at most kWriterLockWait.
Result<FileLock> takeWriterLock(const std::string& path) {
  auto lock = FileLock::acquire(path, CatalogWriter::kWriterLockWait);
  if (!lock) {
    return Status::error(lock.code() == ErrorCode::busy
                             ? "another tolvek-photos-library run is changing the library; try again when it has finished"
                             : "cannot lock the library: " + lock.message());
  }
  return lock;
}

}  // namespace

Result<std::unique_ptr<CatalogWriter>> CatalogWriter::open(const LibraryLocation& location) {
  for (const std::string* folder : {&location.originalsFolder, &location.derivativesFolder}) {
    if (!makeFolders(*folder, 0700)) {
      return Status::error("cannot create " + *folder + ": " + std::strerror(errno));
    }
  }
  auto lock = takeWriterLock(location.writerLockPath);
  if (!lock) return lock.status();
  // Before SQLite opens the catalog, which makes its log.
  auto recorded = readRegularFile(checkedPath(location.catalogPath), 4096);
  const bool unchanged = recorded && *recorded == catalogFilesState(location.catalogPath);
  sqlite3* raw = nullptr;
  int rc = sqlite3_open_v2(location.catalogPath.c_str(), &raw,
                           SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
  SqliteConnection db(raw);
  if (rc != SQLITE_OK) {
    return Status::error("cannot open the catalog " + location.catalogPath + ": " + (raw ? sqlite3_errmsg(raw) : "out of memory"));
  }
  guardConnection(db.get(), location.catalogPath);
  sqlite3_busy_timeout(db.get(), kWriterBusyTimeoutMilliseconds);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  // WAL: readers keep their snapshot while an import commits. NORMAL
  // synchronisation keeps every commit across a crash of the process.
  if (!executeSql(db.get(), "PRAGMA journal_mode = WAL") || !executeSql(db.get(), "PRAGMA synchronous = NORMAL") ||
      !createCatalogSchema(db.get())) {
    return catalogFailure(db.get(), "read the schema");
  }
  std::int64_t found = -1;
  {
    SqliteStatement version(db.get(), "PRAGMA user_version");
    if (version.step()) found = version.integer(0);
  }  // finished before a migration starts its own transaction
  if (found < 0) return catalogFailure(db.get(), "read the schema version");
  if (found >= 2 && found < kCatalogSchemaVersion) {
    if (Status kept = keepBackup(db.get(), location.catalogPath, found); !kept) return kept;
    if (!migrateCatalogSchema(db.get(), location.libraryFolder)) {
      return catalogFailure(db.get(), "bring the schema up to date");
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
  std::unique_ptr<CatalogWriter> writer(new CatalogWriter(std::move(lock).value(), std::move(db), location));
  if (!unchanged) {
    auto problems = writer->quickCheck();
    if (!problems) return problems.status();
    if (!problems->empty()) return damagedCatalog(location.catalogPath, "quick_check: " + problems->front());
  }
  writer->sound_ = true;
  return writer;
}

CatalogWriter::~CatalogWriter() {
  // A writer vouches for the files when it knows every change since its
  // open: it held the lock throughout, or (a sync) found them as its last
  // batch left them each time it took the lock again, and does now.
  bool vouches = sound_ && !damaged() && !othersWrote_;
  if (vouches && lockOnlyInBatches_ && !lock_) {
    auto lock = FileLock::acquire(lockPath_, std::chrono::milliseconds(0));
    vouches = lock && catalogFilesState(catalogPath_) == leftAs_;
    if (lock) lock_.emplace(std::move(lock).value());
  }
  vouches = vouches && lock_;
  db_.reset();  // the last connection folds the log in as it closes
  if (vouches) {
    (void)writeFileAtomically(checkedPath(catalogPath_), catalogFilesState(catalogPath_), Publish::replace, 0600);
  }
}

bool CatalogWriter::damaged() const { return failureOf(db_.get()).damaged; }

Result<std::vector<std::string>> CatalogWriter::quickCheck() {
  std::vector<std::string> problems;
  {
    SqliteStatement check(db_.get(), "PRAGMA quick_check(10)");
    while (check.step()) {
      std::string line = check.text(0);
      if (line != "ok") problems.push_back(std::move(line));
    }
    if (check.failed()) return catalogFailure(db_.get(), "check the catalog");
  }
  if (!problems.empty()) markDamaged(db_.get(), "quick_check: " + problems.front());
  return problems;
}

void CatalogWriter::holdLockOnlyInBatches() {
  lockOnlyInBatches_ = true;
  if (sqlite3_get_autocommit(db_.get()) != 0) releaseLockAfterBatch();
}

Status CatalogWriter::holdLockThroughout() {
  lockOnlyInBatches_ = false;
  return holdLock();
}

Status CatalogWriter::holdLock() {
  if (lock_) return {};
  auto lock = takeWriterLock(lockPath_);
  if (!lock) return lock.status();
  lock_.emplace(std::move(lock).value());
  // Another writer got in since the last batch (or something else wrote).
  if (catalogFilesState(catalogPath_) != leftAs_) othersWrote_ = true;
  if (!executeSql(db_.get(), "PRAGMA query_only = 0")) return catalogFailure(db_.get(), "begin a change");
  return {};
}

void CatalogWriter::releaseLockAfterBatch() {
  if (!lockOnlyInBatches_ || !lock_) return;
  // Query-only first: nothing is written once the lock is gone.
  executeSql(db_.get(), "PRAGMA query_only = 1");
  leftAs_ = catalogFilesState(catalogPath_);
  lock_.reset();
}

Result<std::int64_t> CatalogWriter::momentRow(std::int64_t creationDate, const char* what) {
  const std::string day = localDay(creationDate);
  SqliteStatement find(db_.get(), "SELECT id FROM collection WHERE day = :day");
  find.bind(":day", std::string_view(day));
  if (find.step()) return find.integer(0);
  if (find.failed()) return catalogFailure(db_.get(), what);
  SqliteStatement insert(db_.get(),
                         "INSERT INTO collection (identifier, type, subtype, title, rule, day) "
                         "VALUES (:identifier, :type, :subtype, NULL, :rule, :day)");
  insert.bind(":identifier", newCollectionIdentifier())
      .bind(":type", CollectionType::moment)
      .bind(":subtype", CollectionSubtype::moment)
      .bind(":rule", CollectionRule::members)
      .bind(":day", std::string_view(day));
  if (!insert.run()) return catalogFailure(db_.get(), what);
  return sqlite3_last_insert_rowid(db_.get());
}

Status CatalogWriter::addMembership(std::int64_t collectionRow, std::int64_t assetRow,
                                    std::optional<std::int64_t> date, MediaType mediaType, const char* what) {
  // The half of a pair is in no collection: an album gets its pair instead,
  // a moment or a folder's album (where its pair is already) nothing.
  SqliteStatement pair(db_.get(),
                       "SELECT p.id, p.creation_date, p.media_type, c.type = :moment OR c.subtype = :folder "
                       "FROM asset a JOIN asset p ON p.id = a.paired_to JOIN collection c ON c.id = :collection "
                       "WHERE a.id = :asset");
  pair.bind(":asset", assetRow)
      .bind(":collection", collectionRow)
      .bind(":moment", CollectionType::moment)
      .bind(":folder", CollectionSubtype::albumSyncedFolder);
  if (pair.step()) {
    if (pair.integer(3) != 0) return {};
    assetRow = pair.integer(0);
    date = pair.optionalInteger(1);
    mediaType = pair.enumeration<MediaType>(2);
  } else if (pair.failed()) {
    return catalogFailure(db_.get(), what);
  }
  SqliteStatement insert(db_.get(),
                         "INSERT OR IGNORE INTO membership "
                         "(collection_id, asset_id, position, identifier, creation_date, media_type) "
                         "VALUES (:collection, :asset, "
                         "(SELECT COALESCE(MAX(position), 0) + 1 FROM membership WHERE collection_id = :collection), "
                         "(SELECT identifier FROM asset WHERE id = :asset), :date, :type)");
  insert.bind(":collection", collectionRow).bind(":asset", assetRow).bind(":date", date).bind(":type", mediaType);
  if (!insert.run()) return catalogFailure(db_.get(), what);
  return {};
}

Status CatalogWriter::addAsset(const std::string& identifier, const NewAsset& asset,
                               std::optional<std::int64_t> albumRow) {
  const char* what = "record the asset";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  const auto row = insertAssetRows(identifier, asset, what);
  if (!row) return row.status();
  if (albumRow) {
    if (Status added = addMembership(*albumRow, *row, asset.creationDate, asset.mediaType, what); !added) return added;
  }
  return transaction->commit(what);
}

Status CatalogWriter::insertDerivativeRows(std::int64_t row, const std::vector<StoredDerivative>& derivatives,
                                           const char* what) {
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
        .bind(":path", relativeToLibrary(libraryFolder_, d.path))
        .bind(":width", d.width)
        .bind(":height", d.height)
        .bind(":size", bytes)
        .bind(":quality", quality)
        .bind(":originalWidth", originalWidth)
        .bind(":originalHeight", originalHeight);
    if (!insertDerivative.run()) return catalogFailure(db_.get(), what);
  }
  return {};
}

Result<std::int64_t> CatalogWriter::insertAssetRows(const std::string& identifier, const NewAsset& asset,
                                                    const char* what) {
  SqliteStatement insertAsset(db_.get(),
                              "INSERT INTO asset (identifier, media_type, creation_date, content_identifier, "
                              "duration_ms) VALUES (:identifier, :type, :date, :content, :duration)");
  insertAsset.bind(":identifier", std::string_view(identifier))
      .bind(":type", asset.mediaType)
      .bind(":date", asset.creationDate)
      .bind(":content", std::string_view(asset.contentIdentifier))
      .bind(":duration", asset.durationMs);
  if (!insertAsset.run()) return catalogFailure(db_.get(), what);
  const std::int64_t row = sqlite3_last_insert_rowid(db_.get());

  SqliteStatement insertResource(db_.get(),
                                 "INSERT INTO resource (asset_id, position, type, original_filename, "
                                 "uniform_type_identifier, path, size, sha256) "
                                 "VALUES (:asset, 0, :type, :name, :uti, :path, :size, :sha256)");
  std::optional<std::string> path;
  if (!asset.originalPath.empty()) path = asset.originalPath;
  insertResource.bind(":asset", row)
      .bind(":type", resourceTypeOf(asset.mediaType))
      .bind(":name", std::string_view(validUtf8(asset.originalFilename)))
      .bind(":uti", std::string_view(asset.uniformTypeIdentifier))
      .bind(":path", path)
      .bind(":size", static_cast<std::int64_t>(asset.original.size))
      .bind(":sha256", std::string_view(asset.original.sha256));
  if (!insertResource.run()) return catalogFailure(db_.get(), what);
  if (Status derivatives = insertDerivativeRows(row, asset.derivatives, what); !derivatives) return derivatives;
  if (asset.creationDate) {
    auto moment = momentRow(*asset.creationDate, what);
    if (!moment) return moment.status();
    if (Status added = addMembership(*moment, row, asset.creationDate, asset.mediaType, what); !added) return added;
  }
  return row;
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
  if (!insert.run()) return catalogFailure(db_.get(), "create the album");
  return identifier;
}

Result<std::int64_t> CatalogWriter::albumRow(const std::string& identifier) {
  SqliteStatement find(db_.get(),
                       "SELECT c.id, c.subtype = :folder, s.path, fo.path, ms.path, c.type = :smart FROM collection c "
                       "LEFT JOIN folder fo ON fo.collection_id = c.id LEFT JOIN source s ON s.id = fo.source_id "
                       "LEFT JOIN source_album sa ON sa.collection_id = c.id LEFT JOIN source ms ON ms.id = sa.source_id "
                       "WHERE c.identifier = :identifier AND c.type IN (:type, :smart)");
  find.bind(":identifier", std::string_view(identifier))
      .bind(":type", CollectionType::album)
      .bind(":smart", CollectionType::smartAlbum)
      .bind(":folder", CollectionSubtype::albumSyncedFolder);
  if (!find.step()) {
    if (find.failed()) return catalogFailure(db_.get(), "read the albums");
    return Status::error("no album with the identifier " + echoedIdentifier(identifier));
  }
  if (find.integer(5) != 0) {
    return Status::error("the album " + identifier + " is a smart album: it holds what its rule picks and cannot be edited");
  }
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
  if (!find.step()) {
    if (find.failed()) return catalogFailure(db_.get(), "read the assets");
    return Status::error("no asset with the identifier " + echoedIdentifier(identifier), ErrorCode::notFound);
  }
  return find.integer(0);
}

Result<std::string> CatalogWriter::assetIdentifier(std::int64_t asset) {
  SqliteStatement find(db_.get(), "SELECT identifier FROM asset WHERE id = :asset");
  find.bind(":asset", asset);
  if (!find.step()) return catalogFailure(db_.get(), "read the asset's identifier");
  return find.text(0);
}

Result<bool> CatalogWriter::hasAsset(std::int64_t asset) {
  SqliteStatement find(db_.get(), "SELECT 1 FROM asset WHERE id = :asset");
  find.bind(":asset", asset);
  if (find.step()) return true;
  if (find.failed()) return catalogFailure(db_.get(), "read the assets");
  return false;
}

Result<StoredOriginal> CatalogWriter::original(std::int64_t asset) {
  SqliteStatement find(db_.get(), "SELECT " + storedOriginalColumns(kCatalogSchemaVersion) +
                                      " FROM resource WHERE asset_id = :asset ORDER BY position LIMIT 1");
  find.bind(":asset", asset);
  if (find.step()) return storedOriginalOf(find, libraryFolder_);
  if (find.failed()) return catalogFailure(db_.get(), "read the asset's original");
  return Status::error("the asset has no original", ErrorCode::notFound);
}

Result<std::string> CatalogWriter::offloadOriginal(std::int64_t asset, const std::string& url,
                                                   const ContentDigest& content) {
  const char* what = "record the offloaded original";
  auto transaction = CatalogTransaction::begin(db_.get(), what);
  if (!transaction) return transaction.status();
  SqliteStatement find(db_.get(), "SELECT id, path FROM resource WHERE asset_id = :asset ORDER BY position LIMIT 1");
  find.bind(":asset", asset);
  if (!find.step()) return catalogFailure(db_.get(), what);
  const std::int64_t resource = find.integer(0);
  const std::string oldPath = find.optionalText(1).value_or("");
  SqliteStatement update(db_.get(),
                         "UPDATE resource SET path = NULL, url = :url, size = :size, sha256 = :sha256 "
                         "WHERE id = :resource");
  update.bind(":url", std::string_view(url))
      .bind(":size", static_cast<std::int64_t>(content.size))
      .bind(":sha256", std::string_view(content.sha256))
      .bind(":resource", resource);
  if (!update.run()) return catalogFailure(db_.get(), what);
  if (Status committed = transaction->commit(what); !committed) return committed;
  return oldPath;
}

Result<std::optional<CatalogWriter::ContentOwner>> CatalogWriter::assetWithContent(const ContentDigest& content) {
  SqliteStatement find(db_.get(),
                       "SELECT a.id, a.identifier, r.path IS NOT NULL FROM resource r JOIN asset a ON a.id = r.asset_id "
                       "WHERE r.sha256 = :sha256 AND r.size = :size AND r.position = 0 ORDER BY a.id LIMIT 1");
  find.bind(":sha256", std::string_view(content.sha256)).bind(":size", static_cast<std::int64_t>(content.size));
  if (find.step()) return std::optional<ContentOwner>(ContentOwner{find.integer(0), find.text(1), find.integer(2) != 0});
  if (find.failed()) return catalogFailure(db_.get(), "read the content hashes");
  return std::optional<ContentOwner>();
}

Status CatalogWriter::adoptCopy(std::int64_t asset, const std::string& relativePath) {
  SqliteStatement update(db_.get(), "UPDATE resource SET path = :path WHERE asset_id = :asset AND position = 0");
  update.bind(":path", std::string_view(relativePath)).bind(":asset", asset);
  if (!update.run()) return catalogFailure(db_.get(), "record the library's copy");
  if (sqlite3_changes(db_.get()) != 1) return Status::error("cannot record the library's copy: the asset is gone");
  return {};
}

Result<std::vector<std::string>> CatalogWriter::namedFiles() {
  std::vector<std::string> named;
  SqliteStatement select(db_.get(),
                         "SELECT path FROM resource WHERE path IS NOT NULL UNION ALL SELECT path FROM derivative");
  while (select.step()) {
    if (auto path = select.optionalText(0)) named.push_back(std::move(*path));
  }
  if (select.failed()) return catalogFailure(db_.get(), "read the file names");
  return named;
}

}  // namespace tolvek
