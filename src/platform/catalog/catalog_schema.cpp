#include "platform/catalog/catalog_schema.h"

#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/content_hash.h"
#include "platform/system/library_location.h"
#include "platform/catalog/sqlite_statement.h"

namespace tolvek {
namespace {

// Notes on the indexes:
// - asset_newest: newest first over the whole library (from version 7
//   without the halves of pairs, as asset_by_type and asset_favorites) (ties on the date fall
//   back to the rowid, which is the import order, also descending);
// - asset_by_type and asset_favorites: the smart albums, newest first;
// - membership_newest: newest first inside one collection;
//   membership_order: the collection's own order;
// - the newest-first indexes cover every column a fetch returns, so a page
//   of 500 assets is one range of one index, without a lookup per row;
//   asset_lookup does the same for lookups by identifier (the unique index
//   keeps identifiers unique, this one answers the lookups);
// - tally: the number of members per collection and media type, kept by
//   triggers, so counting an album costs a few rows whatever its size.
// Identifier, creation date and media type are copied into membership rows
// because they never change after import.
constexpr const char* kSchema = R"sql(
CREATE TABLE asset (
  id INTEGER PRIMARY KEY,
  identifier TEXT NOT NULL UNIQUE,
  media_type INTEGER NOT NULL,
  creation_date INTEGER,
  favorite INTEGER NOT NULL DEFAULT 0
);
CREATE INDEX asset_newest ON asset(creation_date, id, media_type, identifier);
CREATE INDEX asset_by_type ON asset(media_type, creation_date, id, identifier);
CREATE INDEX asset_favorites ON asset(creation_date, id, media_type, identifier) WHERE favorite = 1;
CREATE INDEX asset_lookup ON asset(identifier, media_type, creation_date);

CREATE TABLE resource (
  id INTEGER PRIMARY KEY,
  asset_id INTEGER NOT NULL REFERENCES asset(id),
  position INTEGER NOT NULL,
  type INTEGER NOT NULL,
  original_filename TEXT NOT NULL,
  uniform_type_identifier TEXT NOT NULL,
  path TEXT,
  url TEXT,
  size INTEGER,
  sha256 TEXT
);
CREATE INDEX resource_of_asset ON resource(asset_id, position);

CREATE TABLE derivative (
  id INTEGER PRIMARY KEY,
  asset_id INTEGER NOT NULL REFERENCES asset(id),
  path TEXT NOT NULL,
  width INTEGER NOT NULL,
  height INTEGER NOT NULL,
  size INTEGER
);
CREATE INDEX derivative_of_asset ON derivative(asset_id, width);

CREATE TABLE collection (
  id INTEGER PRIMARY KEY,
  identifier TEXT NOT NULL UNIQUE,
  type INTEGER NOT NULL,
  subtype INTEGER NOT NULL,
  title TEXT,
  rule INTEGER NOT NULL DEFAULT 0,
  day TEXT UNIQUE
);
CREATE INDEX collection_by_type ON collection(type);

CREATE TABLE membership (
  collection_id INTEGER NOT NULL REFERENCES collection(id),
  asset_id INTEGER NOT NULL REFERENCES asset(id),
  position INTEGER NOT NULL,
  identifier TEXT NOT NULL,
  creation_date INTEGER,
  media_type INTEGER NOT NULL,
  PRIMARY KEY (collection_id, asset_id)
) WITHOUT ROWID;
CREATE INDEX membership_newest ON membership(collection_id, creation_date, asset_id, media_type, identifier);
CREATE INDEX membership_order ON membership(collection_id, position);

CREATE TABLE tally (
  collection_id INTEGER NOT NULL,
  media_type INTEGER NOT NULL,
  n INTEGER NOT NULL,
  PRIMARY KEY (collection_id, media_type)
) WITHOUT ROWID;
CREATE TRIGGER membership_added AFTER INSERT ON membership BEGIN
  INSERT INTO tally (collection_id, media_type, n) VALUES (NEW.collection_id, NEW.media_type, 1)
    ON CONFLICT (collection_id, media_type) DO UPDATE SET n = n + 1;
END;
CREATE TRIGGER membership_removed AFTER DELETE ON membership BEGIN
  UPDATE tally SET n = n - 1 WHERE collection_id = OLD.collection_id AND media_type = OLD.media_type;
END;
)sql";

// Version 4, on top of the tables above (a new catalog runs both texts, a
// version 3 one only this, after the columns of kColumnsAddedInVersion4):
// - source: ids come from AUTOINCREMENT, so they keep the order sources were
//   added in and sqlite_sequence remembers that one was ever added;
// - file: paths are BLOBs, compared byte by byte, so walk order is the order
//   of (source_id, path) and a name that is not UTF-8 is found again as is;
//   file_of_asset finds an asset's copies in walk order, file_in_folder the
//   members of a folder's album;
// - resource_content: import and sync find an asset by its content;
// - membership_retyped: a synced file whose content changed may change its
//   media type, which the tally counts by.
constexpr const char* kVersion4 = R"sql(
CREATE TABLE source (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  path BLOB NOT NULL UNIQUE,
  device INTEGER
);
CREATE TABLE folder (
  id INTEGER PRIMARY KEY,
  source_id INTEGER NOT NULL REFERENCES source(id),
  path BLOB NOT NULL,
  device INTEGER,
  collection_id INTEGER REFERENCES collection(id),
  UNIQUE (source_id, path)
);
CREATE TABLE file (
  id INTEGER PRIMARY KEY,
  source_id INTEGER NOT NULL REFERENCES source(id),
  folder_id INTEGER NOT NULL REFERENCES folder(id),
  path BLOB NOT NULL,
  asset_id INTEGER REFERENCES asset(id),
  size INTEGER NOT NULL,
  modified_ns INTEGER NOT NULL,
  inode INTEGER NOT NULL,
  UNIQUE (source_id, path)
);
CREATE INDEX file_of_asset ON file(asset_id, source_id, path);
CREATE INDEX file_in_folder ON file(folder_id, asset_id);
CREATE INDEX resource_content ON resource(sha256);
CREATE TRIGGER membership_retyped AFTER UPDATE OF media_type ON membership BEGIN
  UPDATE tally SET n = n - 1 WHERE collection_id = OLD.collection_id AND media_type = OLD.media_type;
  INSERT INTO tally (collection_id, media_type, n) VALUES (NEW.collection_id, NEW.media_type, 1)
    ON CONFLICT (collection_id, media_type) DO UPDATE SET n = n + 1;
END;
)sql";

// Version 5, after the column of kColumnsAddedInVersion5: the albums of
// manager sources, found by their source and key on every sync (so that an
// event keeps its album's identifier) and removed with their source.
constexpr const char* kVersion5 = R"sql(
CREATE TABLE source_album (
  source_id INTEGER NOT NULL REFERENCES source(id),
  key TEXT NOT NULL,
  collection_id INTEGER NOT NULL REFERENCES collection(id),
  PRIMARY KEY (source_id, key)
) WITHOUT ROWID;
)sql";

// Version 7, after the columns of kColumnsAddedInVersion7: the newest-first
// indexes leave out the halves of pairs (a query repeats "paired_to IS NULL"
// to be served by them; the column is in them too, so that they still cover
// the query, as asset_lookup does), asset_pair finds an asset's halves, and
// unpaired_source lists the sources a migration left to be paired.
constexpr const char* kVersion7 = R"sql(
DROP INDEX asset_newest;
DROP INDEX asset_by_type;
DROP INDEX asset_favorites;
DROP INDEX asset_lookup;
CREATE INDEX asset_newest ON asset(creation_date, id, media_type, identifier, paired_to) WHERE paired_to IS NULL;
CREATE INDEX asset_by_type ON asset(media_type, creation_date, id, identifier, paired_to) WHERE paired_to IS NULL;
CREATE INDEX asset_favorites ON asset(creation_date, id, media_type, identifier, favorite, paired_to)
  WHERE favorite = 1 AND paired_to IS NULL;
CREATE INDEX asset_lookup ON asset(identifier, media_type, creation_date, paired_to);
CREATE INDEX asset_pair ON asset(paired_to) WHERE paired_to IS NOT NULL;
CREATE TABLE unpaired_source (source_id INTEGER PRIMARY KEY);
)sql";

// What a migration to version 7 leaves to the next sync: the assets of every
// source were recorded without what pairs them.
constexpr const char* kSourcesToPair = "INSERT INTO unpaired_source (source_id) SELECT id FROM source;";

// ALTER TABLE ... ADD COLUMN for each of `columns`.
template <std::size_t N>
std::string addedColumns(const CatalogColumn (&columns)[N]) {
  std::string sql;
  for (const CatalogColumn& c : columns) {
    sql += std::string("ALTER TABLE ") + c.table + " ADD COLUMN " + c.column + " " + c.declaration + ";";
  }
  return sql;
}

bool insertSmartAlbum(sqlite3* db, CollectionSubtype subtype, const char* title, CollectionRule rule) {
  SqliteStatement insert(db,
                         "INSERT INTO collection (identifier, type, subtype, title, rule) "
                         "VALUES (:identifier, :type, :subtype, :title, :rule)");
  insert.bind(":identifier", newCollectionIdentifier())
      .bind(":type", CollectionType::smartAlbum)
      .bind(":subtype", subtype)
      .bind(":title", std::string_view(title))
      .bind(":rule", rule);
  return insert.run();
}

}  // namespace

std::string localDay(std::int64_t seconds) {
  std::time_t t = static_cast<std::time_t>(seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return "unknown";
  char day[32];
  std::strftime(day, sizeof day, "%Y-%m-%d", &local);
  return day;
}

bool createCatalogSchema(sqlite3* db) {
  if (!executeSql(db, "BEGIN IMMEDIATE")) return false;
  std::int64_t existing = -1;
  {
    // Another writer may have created it while this one waited for the lock.
    SqliteStatement tables(db, "SELECT COUNT(*) FROM sqlite_master");
    if (tables.step()) existing = tables.integer(0);
  }
  if (existing != 0) {
    rollBack(db);
    return existing > 0;
  }
  const std::string setVersion = "PRAGMA user_version = " + std::to_string(kCatalogSchemaVersion);
  const std::string version4 = addedColumns(kColumnsAddedInVersion4) + kVersion4;
  const std::string version5 = addedColumns(kColumnsAddedInVersion5) + kVersion5;
  const std::string version6 = addedColumns(kColumnsAddedInVersion6);
  const std::string version7 = addedColumns(kColumnsAddedInVersion7) + kVersion7;
  bool ok = executeSql(db, kSchema) && executeSql(db, version4.c_str()) && executeSql(db, version5.c_str()) &&
            executeSql(db, version6.c_str()) && executeSql(db, version7.c_str()) &&
            insertSmartAlbum(db, CollectionSubtype::smartAlbumFavorites, "Favorites", CollectionRule::favorites) &&
            insertSmartAlbum(db, CollectionSubtype::smartAlbumVideos, "Videos", CollectionRule::videos) &&
            executeSql(db, setVersion.c_str());
  if (!ok) {
    rollBack(db);
    return false;
  }
  return executeSql(db, "COMMIT");
}

namespace {

// The rows of `sql` (id, relative path) whose files lie inside the library;
// read before anything is updated.
std::vector<std::pair<std::int64_t, std::string>> filesToRecord(sqlite3* db, const std::string& libraryFolder,
                                                                const char* sql, bool& failed) {
  std::vector<std::pair<std::int64_t, std::string>> rows;
  SqliteStatement select(db, sql);
  while (select.step()) {
    std::string path = fileInLibrary(libraryFolder, select.optionalText(1));
    if (!path.empty()) rows.emplace_back(select.integer(0), std::move(path));
  }
  failed = select.failed();
  return rows;
}

bool fillOriginals(sqlite3* db, const std::string& libraryFolder) {
  bool failed = false;
  const auto rows = filesToRecord(db, libraryFolder,
                                  "SELECT id, path FROM resource WHERE path IS NOT NULL AND sha256 IS NULL", failed);
  for (const auto& [id, path] : rows) {
    auto digest = digestOfFile(path);
    if (!digest) continue;  // a missing or unreadable copy stays unrecorded
    SqliteStatement set(db, "UPDATE resource SET size = :size, sha256 = :sha256 WHERE id = :id");
    set.bind(":size", static_cast<std::int64_t>(digest->size))
        .bind(":sha256", std::string_view(digest->sha256))
        .bind(":id", id);
    if (!set.run()) return false;
  }
  return !failed;
}

bool fillDerivatives(sqlite3* db, const std::string& libraryFolder) {
  bool failed = false;
  const auto rows = filesToRecord(db, libraryFolder, "SELECT id, path FROM derivative WHERE size IS NULL", failed);
  for (const auto& [id, path] : rows) {
    auto file = ReadableFile::open(path);
    if (!file) continue;
    SqliteStatement set(db, "UPDATE derivative SET size = :size WHERE id = :id");
    set.bind(":size", static_cast<std::int64_t>(file->size())).bind(":id", id);
    if (!set.run()) return false;
  }
  return !failed;
}

}  // namespace

bool migrateCatalogSchema(sqlite3* db, const std::string& libraryFolder) {
  if (!executeSql(db, "BEGIN IMMEDIATE")) return false;
  std::int64_t version = -1;
  {
    SqliteStatement read(db, "PRAGMA user_version");
    if (read.step()) version = read.integer(0);
  }
  if (version < 2 || version >= kCatalogSchemaVersion) {  // another writer migrated it meanwhile, or nothing to do
    rollBack(db);
    return version == kCatalogSchemaVersion;
  }
  const std::string setVersion = "PRAGMA user_version = " + std::to_string(kCatalogSchemaVersion);
  bool ok = true;
  if (version == 2) {
    const std::string version3 = addedColumns(kColumnsAddedInVersion3);
    ok = executeSql(db, version3.c_str()) && fillOriginals(db, libraryFolder) && fillDerivatives(db, libraryFolder);
  }
  if (version <= 3) {
    const std::string version4 = addedColumns(kColumnsAddedInVersion4) + kVersion4;
    ok = ok && executeSql(db, version4.c_str());
  }
  if (version <= 4) {
    const std::string version5 = addedColumns(kColumnsAddedInVersion5) + kVersion5;
    ok = ok && executeSql(db, version5.c_str());
  }
  if (version <= 5) {
    const std::string version6 = addedColumns(kColumnsAddedInVersion6);
    ok = ok && executeSql(db, version6.c_str());
  }
  const std::string version7 = addedColumns(kColumnsAddedInVersion7) + kVersion7;
  ok = ok && executeSql(db, version7.c_str()) && executeSql(db, kSourcesToPair) && executeSql(db, setVersion.c_str());
  if (!ok) {
    rollBack(db);
    return false;
  }
  return executeSql(db, "COMMIT");
}

}  // namespace tolvek
