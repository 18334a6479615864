#include "platform/catalog/catalog_reader.h"

#include <sys/stat.h>

#include <algorithm>

#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/json_string_array.h"
#include "platform/catalog/library_rows.h"
#include "platform/catalog/referenced_copy.h"
#include "platform/catalog/valid_utf8.h"

namespace tolvek {
namespace {

// Long enough to ride out a checkpoint, short enough that a catalog locked
// by someone else reads as empty instead of hanging the helper.
constexpr int kBusyTimeoutMilliseconds = 1000;

// A collection's handle packs what a fetch of its members needs, its row and
// its rule, so that fetch looks nothing up: row times kRuleSlots plus rule.
constexpr std::int64_t kRuleSlots = 4;

std::int64_t packedCollectionHandle(std::int64_t row, CollectionRule rule) {
  return row * kRuleSlots + static_cast<std::int64_t>(rule);
}

CollectionSource unpackedCollectionHandle(std::int64_t handle) {
  return CollectionSource{handle / kRuleSlots, static_cast<CollectionRule>(handle % kRuleSlots)};
}

// Members are read from the membership rows alone (they carry copies of
// the asset columns a fetch returns).
std::string assetFrom(const AssetQuery& query) {
  // A literal again, repeating the newest-first indexes' condition.
  const std::string shown = query.pairsRecorded ? " AND a.paired_to IS NULL" : "";
  switch (query.scope) {
    case AssetScope::members:
      return " FROM membership m WHERE m.collection_id = :collection";
    case AssetScope::favorites:
      // A literal, not a parameter: the partial index asset_favorites
      // serves only queries whose text repeats its condition.
      return " FROM asset a WHERE a.favorite = 1" + shown;
    case AssetScope::videos:
      return " FROM asset a WHERE a.media_type = :video" + shown;
    case AssetScope::identifiers:
      return " FROM asset a WHERE a.identifier IN (SELECT value FROM json_each(:identifiers))" + shown;
    case AssetScope::library:
      break;
  }
  return " FROM asset a WHERE 1" + shown;
}

std::string assetFilters(const AssetQuery& query) {
  std::string sql;
  if (query.mediaTypeMask != -1) {
    sql += query.scope == AssetScope::members ? " AND ((1 << m.media_type) & :mask) != 0"
                                              : " AND ((1 << a.media_type) & :mask) != 0";
  }
  if (query.visibleJson) {
    sql += query.scope == AssetScope::members ? " AND m.identifier IN (SELECT value FROM json_each(:visible))"
                                              : " AND a.identifier IN (SELECT value FROM json_each(:visible))";
  }
  return sql;
}

}  // namespace

std::string CatalogReader::assetSql(const AssetQuery& query) {
  const bool members = query.scope == AssetScope::members;
  std::string sql = (members ? "SELECT m.asset_id, m.identifier, m.media_type, m.creation_date"
                             : "SELECT a.id, a.identifier, a.media_type, a.creation_date") +
                    assetFrom(query) + assetFilters(query);
  if (query.newestFirst) {
    sql += members ? " ORDER BY m.creation_date DESC, m.asset_id DESC" : " ORDER BY a.creation_date DESC, a.id DESC";
  } else if (query.scope != AssetScope::identifiers) {
    sql += members ? " ORDER BY m.position" : " ORDER BY a.id";
  }
  if (query.limit > 0) sql += " LIMIT :limit";
  return sql;
}

std::string CatalogReader::countSql(const AssetQuery& query) {
  if (query.scope == AssetScope::members && !query.visibleJson) {
    std::string sql = query.limit > 0 ? "SELECT MIN(COALESCE(SUM(n), 0), :limit)" : "SELECT COALESCE(SUM(n), 0)";
    sql += " FROM tally WHERE collection_id = :collection";
    if (query.mediaTypeMask != -1) sql += " AND ((1 << media_type) & :mask) != 0";
    return sql;
  }
  std::string inner = "SELECT 1" + assetFrom(query) + assetFilters(query);
  if (query.limit > 0) inner += " LIMIT :limit";
  return "SELECT COUNT(*) FROM (" + inner + ")";
}

void CatalogReader::bindAssetQuery(SqliteStatement& statement, const AssetQuery& query) {
  statement.bind(":collection", query.collection)
      .bind(":identifiers", std::string_view(query.identifiersJson))
      .bind(":mask", query.mediaTypeMask)
      .bind(":limit", query.limit)
      .bind(":visible", query.visibleJson)
      .bind(":video", MediaType::video);
}

namespace {

bool exists(const std::string& path) {
  struct stat info {};
  return lstat(path.c_str(), &info) == 0;
}

// Opens the catalog read-only, begins the one read transaction and reads the
// schema version into `schemaVersion`. Nothing on any failure, with SQLite's
// error code in `error` (SQLITE_OK when the file opened but its version is
// not one this reader knows).
SqliteConnection openSnapshot(const std::string& name, int flags, int& error, std::int64_t& schemaVersion) {
  sqlite3* raw = nullptr;
  error = sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_FULLMUTEX | flags, nullptr);
  SqliteConnection db(raw);
  if (error != SQLITE_OK) return nullptr;
  sqlite3_busy_timeout(db.get(), kBusyTimeoutMilliseconds);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  // A small page cache, whose buffers are used again: one request reads
  // each leaf page about once, and the interior pages it reads again stay
  // (least recently used go first; a listing of 500 reads no page twice
  // with 32 as with 8,000). Every fresh buffer costs page faults, dearer
  // than reading a page again, and a cache that grew with every page read
  // made a listing slower as the library grew. No memory
  // mapping: a file truncated while mapped would end the helper with SIGBUS.
  executeSql(db.get(), "PRAGMA cache_size = 32");
  // The read transaction stays open for the reader's life: one snapshot.
  // (A truncated file fails here or at its first query: SQLite compares the
  // header's page count with the file. The file is never opened outside
  // SQLite, whose locks any other descriptor's close would drop.)
  if (!executeSql(db.get(), "BEGIN")) {
    error = sqlite3_errcode(db.get());
    return nullptr;
  }
  SqliteStatement version(db.get(), "PRAGMA user_version");
  if (!version.step()) {
    error = sqlite3_errcode(db.get());
    return nullptr;
  }
  schemaVersion = version.integer(0);
  if (schemaVersion < kOldestReadableSchemaVersion || schemaVersion > kCatalogSchemaVersion) return nullptr;
  return db;
}

}  // namespace

std::shared_ptr<CatalogReader> CatalogReader::open(const LibraryLocation& location) {
  std::shared_ptr<CatalogReader> reader(new CatalogReader(location.libraryFolder));
  const std::string& path = location.catalogPath;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return reader;

  int error = SQLITE_OK;
  SqliteConnection db = openSnapshot(path, 0, error, reader->schemaVersion_);
  // A WAL catalog read without write access needs a -shm file it cannot
  // create (a read-only mount, a folder the user cannot write). With neither
  // -wal nor -shm there, every committed page is in the file itself and
  // nobody is writing it, so it can be read as immutable: no locks, no
  // shared memory. A busy or corrupt catalog never takes this way.
  const int primary = error & 0xFF;
  if (!db && (primary == SQLITE_CANTOPEN || primary == SQLITE_READONLY) && !exists(path + "-wal") &&
      !exists(path + "-shm")) {
    db = openSnapshot(sqliteFileUri(path, "immutable=1"), SQLITE_OPEN_URI, error, reader->schemaVersion_);
  }
  reader->db_ = std::move(db);
  return reader;
}

namespace {

// The columns readCollections reads, of the collections `where` picks (its
// condition on `c`), in row order: each collection's tally rows (media type
// and count; NULL for a collection without members), one row each, in one
// pass over the tally.
std::string collectionSelect(const char* where) {
  return std::string(
             "SELECT c.id, c.identifier, c.type, c.subtype, c.title, c.rule, t.media_type, t.n FROM collection c "
             "LEFT JOIN tally t ON t.collection_id = c.id ") +
         where + " ORDER BY c.id";
}

// Whether SQLite's ((1 << mediaType) & mask) != 0 holds: shifts beyond 63
// and negative ones give 0.
bool inMask(std::int64_t mediaType, std::int64_t mask) {
  const std::int64_t bit =
      mediaType >= 0 && mediaType < 64 ? static_cast<std::int64_t>(std::uint64_t{1} << mediaType) : 0;
  return (bit & mask) != 0;
}

}  // namespace

std::vector<AssetCollection> CatalogReader::readCollections(SqliteStatement& select) {
  std::vector<AssetCollection> result;
  memberTallies_.clear();
  std::optional<std::int64_t> last;
  bool listed = false;  // the collection of row `last` is in `result`
  while (select.step()) {
    const std::int64_t row = select.integer(0);
    if (row != last) {
      last = row;
      AssetCollection c;
      c.handle = packedCollectionHandle(row, select.enumeration<CollectionRule>(5));
      c.localIdentifier = select.text(1);
      listed = isValidUtf8(c.localIdentifier);
      if (!listed) continue;  // as for assets, below
      c.type = select.enumeration<CollectionType>(2);
      c.subtype = select.integer(3);
      if (auto title = select.optionalText(4)) c.localizedTitle = validUtf8(*title);
      result.push_back(std::move(c));
    }
    if (!listed) continue;
    // A collection without members has one row without a media type.
    const std::optional<std::int64_t> type = select.optionalInteger(6);
    memberTallies_.push_back({row, type.value_or(kNoMediaType), type ? select.integer(7) : 0});
  }
  if (select.failed()) {
    result.clear();
    markBroken();
  }
  return result;
}

std::vector<AssetCollection> CatalogReader::collections(CollectionType type, std::int64_t subtype) {
  const bool anySubtype = subtype == kCollectionSubtypeAny;
  SqliteStatement select(db_.get(), statements_,
                         collectionSelect(anySubtype ? "WHERE c.type = :type" : "WHERE c.type = :type AND c.subtype = :subtype"));
  select.bind(":type", type).bind(":subtype", subtype);
  return readCollections(select);
}

std::vector<AssetCollection> CatalogReader::collectionsWithIdentifiers(const std::vector<std::string>& identifiers) {
  if (identifiers.empty()) return {};
  SqliteStatement select(db_.get(), statements_,
                         collectionSelect("WHERE c.identifier IN (SELECT value FROM json_each(:identifiers))"));
  select.bind(":identifiers", jsonStringArray(identifiers));
  return readCollections(select);
}

std::optional<CollectionSource> CatalogReader::collectionSource(const AssetCollection& collection) {
  // Handles handed out by this reader carry the row and the rule.
  if (collection.handle > 0) return unpackedCollectionHandle(collection.handle);
  SqliteStatement select(db_.get(), statements_, "SELECT id, rule FROM collection WHERE identifier = :identifier");
  select.bind(":identifier", std::string_view(collection.localIdentifier));
  if (!select.step()) return std::nullopt;
  return CollectionSource{select.integer(0), select.enumeration<CollectionRule>(1)};
}

void CatalogReader::forEachAsset(const AssetQuery& asked, const std::function<bool(const Asset&)>& visit) {
  if (!isOpen()) return;
  AssetQuery query = asked;
  query.pairsRecorded = schemaVersion_ >= 7;
  const bool batched = query.limit > 0 && query.limit <= kBatchedLimit;
  std::vector<Asset> batch;
  {
    SqliteStatement select(db_.get(), statements_, assetSql(query));
    bindAssetQuery(select, query);
    while (select.step()) {
      Asset asset;
      asset.handle = select.integer(0);
      asset.localIdentifier = select.text(1);
      // An identifier that is not valid UTF-8 could not be written into any
      // document, nor asked for: the row is left out, the rest still listed.
      if (!isValidUtf8(asset.localIdentifier)) continue;
      asset.mediaType = select.enumeration<MediaType>(2);
      asset.creationDate = select.optionalInteger(3);
      if (batched) {
        batch.push_back(std::move(asset));
      } else if (!visit(asset)) {
        break;
      }
    }
    if (select.failed()) {
      markBroken();
      return;
    }
  }
  if (!batched) return;
  cacheResources(batch);
  for (const Asset& asset : batch) {
    if (!visit(asset)) break;
  }
}

AssetResource CatalogReader::readResource(const SqliteStatement& row, int first, std::int64_t assetHandle) {
  AssetResource r;
  r.handle = row.integer(first);
  r.type = row.enumeration<ResourceType>(first + 1);
  r.originalFilename = validUtf8(row.text(first + 2));
  r.uniformTypeIdentifier = validUtf8(row.text(first + 3));
  r.assetHandle = assetHandle;
  return r;
}

void CatalogReader::cacheResources(const std::vector<Asset>& assets) {
  resourceCache_.clear();
  if (assets.empty()) return;
  std::string handles = "[";
  for (const Asset& asset : assets) {
    if (handles.size() > 1) handles += ',';
    handles += std::to_string(asset.handle);
    resourceCache_[asset.handle];  // an asset without resources has none
  }
  handles += ']';
  SqliteStatement select(db_.get(), statements_,
                         "SELECT asset_id, id, type, original_filename, uniform_type_identifier FROM resource "
                         "WHERE asset_id IN (SELECT value FROM json_each(:assets)) ORDER BY asset_id, position");
  select.bind(":assets", handles);
  while (select.step()) {
    const std::int64_t asset = select.integer(0);
    resourceCache_[asset].push_back(readResource(select, 1, asset));
  }
  // Read one by one after all, should the batch fail.
  if (select.failed() || !appendHalves(handles, resourceCache_)) resourceCache_.clear();
}

bool CatalogReader::appendHalves(const std::string& handlesJson,
                                 std::unordered_map<std::int64_t, std::vector<AssetResource>>& into) {
  if (schemaVersion_ < 7) return true;
  // The other half of a pair is its asset's resource after its own: a RAW
  // its alternate photo, a Live Photo's movie its paired video (that order).
  SqliteStatement select(db_.get(), statements_,
                         "SELECT a.paired_to, r.id, CASE r.type WHEN :video THEN :paired ELSE :alternate END AS t, "
                         "r.original_filename, r.uniform_type_identifier FROM asset a "
                         "JOIN resource r ON r.asset_id = a.id AND r.position = 0 "
                         "WHERE a.paired_to IN (SELECT value FROM json_each(:assets)) AND a.paired_to IS NOT NULL "
                         "ORDER BY a.paired_to, t, a.id");
  select.bind(":assets", handlesJson)
      .bind(":video", ResourceType::video)
      .bind(":paired", ResourceType::pairedVideo)
      .bind(":alternate", ResourceType::alternatePhoto);
  while (select.step()) {
    const std::int64_t asset = select.integer(0);
    into[asset].push_back(readResource(select, 1, asset));
  }
  return !select.failed();
}

std::size_t CatalogReader::countAssets(const AssetQuery& asked) {
  if (!isOpen()) return 0;
  AssetQuery query = asked;
  query.pairsRecorded = schemaVersion_ >= 7;
  if (query.scope == AssetScope::members && !query.visibleJson && query.limit <= 0) {
    // As countSql's sum over the tally, from the rows read with the collection.
    const auto [first, end] = std::equal_range(
        memberTallies_.begin(), memberTallies_.end(), MemberTally{query.collection, 0, 0},
        [](const MemberTally& x, const MemberTally& y) { return x.collection < y.collection; });
    if (first != end) {
      std::int64_t n = 0;
      for (auto tally = first; tally != end; ++tally) {
        const bool counted = query.mediaTypeMask == -1 || inMask(tally->mediaType, query.mediaTypeMask);
        if (tally->mediaType != kNoMediaType && counted) n += tally->n;
      }
      return n > 0 ? static_cast<std::size_t>(n) : 0;
    }
  }
  SqliteStatement select(db_.get(), statements_, countSql(query));
  bindAssetQuery(select, query);
  if (!select.step()) {
    markBroken();
    return 0;
  }
  const std::int64_t n = select.integer(0);
  return n > 0 ? static_cast<std::size_t>(n) : 0;
}

std::vector<AssetResource> CatalogReader::resources(std::int64_t assetHandle) {
  if (const auto cached = resourceCache_.find(assetHandle); cached != resourceCache_.end()) return cached->second;
  if (!isOpen()) return {};
  std::vector<AssetResource> result;
  SqliteStatement select(db_.get(), statements_,
                         "SELECT id, type, original_filename, uniform_type_identifier FROM resource "
                         "WHERE asset_id = :asset ORDER BY position");
  select.bind(":asset", assetHandle);
  while (select.step()) result.push_back(readResource(select, 0, assetHandle));
  std::unordered_map<std::int64_t, std::vector<AssetResource>> halves;
  if (select.failed() || !appendHalves("[" + std::to_string(assetHandle) + "]", halves)) {
    result.clear();
    markBroken();
  }
  for (AssetResource& half : halves[assetHandle]) result.push_back(std::move(half));
  return result;
}

void CatalogReader::markBroken() {
  // A catalog that failed once (corrupt pages, a lock that outlasted the
  // timeout) reads as empty from then on, so one run never mixes answers.
  // Statements still in use are finalized by their owners; close_v2 waits.
  statements_.clear();
  db_.reset();
  memberTallies_.clear();
  resourceCache_.clear();
}

std::optional<StoredAsset> CatalogReader::storedAsset(std::int64_t assetHandle) {
  SqliteStatement asset(db_.get(), statements_, "SELECT media_type FROM asset WHERE id = :asset");
  asset.bind(":asset", assetHandle);
  if (!asset.step()) return std::nullopt;
  StoredAsset stored;
  stored.mediaType = asset.enumeration<MediaType>(0);

  SqliteStatement original(db_.get(), statements_,
                           "SELECT " + storedOriginalColumns(schemaVersion_) +
                               " FROM resource WHERE asset_id = :asset ORDER BY position LIMIT 1");
  original.bind(":asset", assetHandle);
  if (original.step()) stored.original = storedOriginalOf(original, libraryFolder_);
  preferReferencedCopy(assetHandle, stored.original);

  SqliteStatement derivatives(db_.get(), statements_,
                              std::string("SELECT path, width, height, ") +
                                  (schemaVersion_ >= 4 ? "size, quality" : schemaVersion_ >= 3 ? "size, NULL" : "NULL, NULL") +
                                  (schemaVersion_ >= 6 ? ", original_width, original_height" : ", NULL, NULL") +
                                  " FROM derivative WHERE asset_id = :asset ORDER BY width, height");
  derivatives.bind(":asset", assetHandle);
  while (derivatives.step()) {
    StoredDerivative d{fileInLibrary(libraryFolder_, derivatives.optionalText(0)), derivatives.integer(1), derivatives.integer(2), {}};
    if (auto bytes = derivatives.optionalInteger(3); bytes && *bytes >= 0) d.bytes = static_cast<std::uint64_t>(*bytes);
    if (auto quality = derivatives.optionalInteger(4)) d.quality = static_cast<int>(*quality);
    const auto width = derivatives.optionalInteger(5), height = derivatives.optionalInteger(6);
    if (width && height && *width > 0 && *height > 0) d.originalSize = PixelSize{*width, *height};
    if (!d.path.empty()) stored.derivatives.push_back(std::move(d));
  }
  return stored;
}

void CatalogReader::preferReferencedCopy(std::int64_t assetHandle, StoredOriginal& original) {
  if (schemaVersion_ < 4 || !original.path.empty()) return;
  const auto recorded = recordedCopies(db_.get(), statements_, schemaVersion_, assetHandle);
  if (!recorded || recorded->empty()) return;
  const std::vector<RecordedCopy>& copies = *recorded;
  auto chosen = openReferencedCopy(copies, original.sha256);
  original.referenced = true;
  if (!chosen) return;  // no copy can be read now: nothing to hand over
  original.opened = std::move(chosen->file);
  original.path = original.opened->openedName(copies[chosen->index].absolutePath());
  original.size = copies[chosen->index].size;
  original.editedSinceSync = chosen->editedInPlace;
}

std::optional<StoredOriginal> CatalogReader::storedResource(const AssetResource& resource) {
  // The resource is the asset's own, or (version 7) the first of one of
  // its halves, whose copies are that half's.
  std::int64_t owner = resource.assetHandle;
  if (schemaVersion_ >= 7) {
    SqliteStatement half(db_.get(), statements_,
                         "SELECT r.asset_id FROM resource r JOIN asset a ON a.id = r.asset_id "
                         "WHERE r.id = :resource AND a.paired_to = :asset AND r.position = 0");
    half.bind(":resource", resource.handle).bind(":asset", resource.assetHandle);
    if (half.step()) owner = half.integer(0);
  }
  SqliteStatement select(db_.get(), statements_,
                         "SELECT " + storedOriginalColumns(schemaVersion_) +
                             " FROM resource WHERE id = :resource AND asset_id = :asset");
  select.bind(":resource", resource.handle).bind(":asset", owner);
  if (!select.step()) return std::nullopt;
  StoredOriginal original = storedOriginalOf(select, libraryFolder_);
  preferReferencedCopy(owner, original);
  if (original.path.empty() && original.url.empty()) return std::nullopt;
  return original;
}

}  // namespace tolvek
