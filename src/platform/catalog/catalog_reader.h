#pragma once
// The helper's read-only view of the catalog. It never writes or creates
// anything: an absent, unreadable, locked, corrupt or newer catalog reads as
// an empty library. All reads of one reader share one snapshot, so the
// counts and lists of one run agree even while an import is running.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <unordered_map>
#include <optional>
#include <string>
#include <vector>

#include "library/photo_types.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/system/library_location.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/catalog/stored_asset.h"

namespace tolvek {

// Which assets a query starts from.
enum class AssetScope { library, members, favorites, videos, identifiers };

struct AssetQuery {
  AssetScope scope = AssetScope::library;
  std::int64_t collection = 0;  // the collection's row, for `members`
  std::string identifiersJson;  // JSON array of identifiers, for `identifiers`
  std::int64_t mediaTypeMask = -1;  // bit (1 << media type) set for each type kept
  bool newestFirst = false;
  std::int64_t limit = 0;  // 0: none
  // Limited access: the only identifiers that may be seen, as a JSON array.
  std::optional<std::string> visibleJson;
  // The catalog records pairs (version 7): their halves are left out. The
  // reader sets it from the catalog it reads.
  bool pairsRecorded = true;
};

// How a collection selects its assets.
struct CollectionSource {
  std::int64_t row = 0;
  CollectionRule rule = CollectionRule::members;
};

class CatalogReader final : public StoredAssetIndex {
 public:
  static std::shared_ptr<CatalogReader> open(const LibraryLocation& location);
  ~CatalogReader() override { statements_.clear(); }

  // False when the catalog could not be opened: every query answers nothing.
  bool isOpen() const { return db_ != nullptr; }

  std::vector<AssetCollection> collections(CollectionType type, std::int64_t subtype);
  std::vector<AssetCollection> collectionsWithIdentifiers(const std::vector<std::string>& identifiers);
  // The collection behind a value handed out earlier (by handle, else by
  // identifier), or nothing when it is not in this catalog.
  std::optional<CollectionSource> collectionSource(const AssetCollection& collection);

  // Calls `visit` per asset in the query's order until it returns false. A
  // query limited to kBatchedLimit assets or fewer reads them first, with
  // their resources in one more statement, so that `resources` of each costs
  // no query while they are visited.
  void forEachAsset(const AssetQuery& query, const std::function<bool(const Asset&)>& visit);
  static constexpr std::int64_t kBatchedLimit = 10000;
  // The number of assets the query yields (at most its limit), by a COUNT.
  std::size_t countAssets(const AssetQuery& query);

  std::vector<AssetResource> resources(std::int64_t assetHandle);

  std::optional<StoredAsset> storedAsset(std::int64_t assetHandle) override;
  std::optional<StoredOriginal> storedResource(const AssetResource& resource) override;

  // The SQL a query runs (for the benchmark's query plans).
  static std::string assetSql(const AssetQuery& query);
  static std::string countSql(const AssetQuery& query);
  static void bindAssetQuery(SqliteStatement& statement, const AssetQuery& query);

 private:
  explicit CatalogReader(std::string libraryFolder) : libraryFolder_(std::move(libraryFolder)) {}
  std::vector<AssetCollection> readCollections(SqliteStatement& select);
  void markBroken();
  // Points `original` at the asset's first copy in a source (walk order)
  // when the library holds no copy of its own; unchanged when there is none.
  void preferReferencedCopy(std::int64_t assetHandle, StoredOriginal& original);

  std::string libraryFolder_;
  std::int64_t schemaVersion_ = 0;
  // The tally rows (members per media type) of the collections listed last,
  // in row order, read in the same statement, so counting the pictures and
  // videos of each of ten thousand albums costs no query.
  struct MemberTally {
    std::int64_t collection;
    std::int64_t mediaType;  // kNoMediaType: the collection has no tally row
    std::int64_t n;
  };
  static constexpr std::int64_t kNoMediaType = std::numeric_limits<std::int64_t>::min();
  std::vector<MemberTally> memberTallies_;
  // The resources of the assets of the last batched enumeration.
  std::unordered_map<std::int64_t, std::vector<AssetResource>> resourceCache_;
  // Reads the resources of `assets` into resourceCache_.
  // Appends the halves of the pairs of the assets in `handlesJson` (a JSON
  // array of rows) to their resources; false when the query failed.
  bool appendHalves(const std::string& handlesJson, std::unordered_map<std::int64_t, std::vector<AssetResource>>& into);
  void cacheResources(const std::vector<Asset>& assets);
  static AssetResource readResource(const SqliteStatement& row, int first, std::int64_t assetHandle);
  SqliteConnection db_;
  StatementCache statements_;  // emptied before db_ closes
};

}  // namespace tolvek
