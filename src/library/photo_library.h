#pragma once
// The photo library as the commands see it. One real implementation (the
// Linux library on disk, src/platform/) and one in memory for tests.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "library/fetch_result.h"
#include "library/image_manager.h"
#include "library/photo_types.h"
#include "library/resource_manager.h"

namespace tolvek {

class PhotoLibrary {
 public:
  using AuthorizationHandler = std::function<void(AuthorizationStatus status)>;

  virtual ~PhotoLibrary() = default;

  // The recorded status, at once, never asking the user.
  virtual AuthorizationStatus authorizationStatus(AccessLevel level) = 0;
  // Returns at once and asks the user; `handler` runs exactly once with the
  // new status, on any thread, possibly before this returns or long after.
  virtual void requestAuthorization(AccessLevel level, AuthorizationHandler handler) = 0;

  // Collections of `type` and `subtype` (kCollectionSubtypeAny: all), in the
  // order they were created.
  virtual std::unique_ptr<FetchResult<AssetCollection>> fetchAssetCollections(CollectionType type,
                                                                              std::int64_t subtype) = 0;
  // Collections of any type with these identifiers.
  virtual std::unique_ptr<FetchResult<AssetCollection>> fetchAssetCollectionsWithLocalIdentifiers(
      const std::vector<std::string>& identifiers) = 0;

  // Assets of the whole library / of one collection, filtered, ordered and
  // limited by `options` inside the query.
  virtual std::unique_ptr<FetchResult<Asset>> fetchAssets(const FetchOptions& options) = 0;
  virtual std::unique_ptr<FetchResult<Asset>> fetchAssetsInAssetCollection(const AssetCollection& collection,
                                                                           const FetchOptions& options) = 0;
  // The assets that exist among `identifiers`, any order, no filter.
  virtual std::unique_ptr<FetchResult<Asset>> fetchAssetsWithLocalIdentifiers(
      const std::vector<std::string>& identifiers) = 0;

  // The asset's resources in the library's order; maybe none.
  virtual std::vector<AssetResource> assetResources(const Asset& asset) = 0;

  // Shared managers; they live as long as the library.
  virtual ImageManager& imageManager() = 0;
  virtual ResourceManager& resourceManager() = 0;
};

}  // namespace tolvek
