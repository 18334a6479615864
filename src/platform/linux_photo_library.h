#pragma once
// The photo library on Linux: the per-user catalog read through
// CatalogReader, access answers from the AccessStore, and consent asked with
// zenity on a thread of its own.
#include <atomic>
#include <memory>
#include <optional>
#include <string>

#include "library/photo_library.h"
#include "platform/access/access_store.h"
#include "platform/catalog/catalog_reader.h"
#include "platform/system/library_location.h"
#include "platform/helper/linux_image_manager.h"
#include "platform/helper/linux_resource_manager.h"

namespace tolvek {

class LinuxPhotoLibrary final : public PhotoLibrary {
 public:
  // The library of the user this process runs for (XDG data home).
  LinuxPhotoLibrary(std::string bundleIdentifier, std::string usageDescription);
  LinuxPhotoLibrary(LibraryLocation location, std::string bundleIdentifier, std::string usageDescription);

  // Every access level shares one answer.
  AuthorizationStatus authorizationStatus(AccessLevel level) override;
  // Without a graphical session: the recorded status (0) at once, before
  // returning. Otherwise a detached thread waits for any other helper's
  // question to end, re-reads the store and asks only if still nothing is
  // recorded; the handler runs on that thread. The user's answer decides
  // this run even when the store is busy; the thread then keeps trying to
  // record it for a while.
  void requestAuthorization(AccessLevel level, AuthorizationHandler handler) override;

  // Every fetch sees nothing without access, only the chosen assets and no
  // collections with limited access.
  std::unique_ptr<FetchResult<AssetCollection>> fetchAssetCollections(CollectionType type,
                                                                      std::int64_t subtype) override;
  std::unique_ptr<FetchResult<AssetCollection>> fetchAssetCollectionsWithLocalIdentifiers(
      const std::vector<std::string>& identifiers) override;
  std::unique_ptr<FetchResult<Asset>> fetchAssets(const FetchOptions& options) override;
  std::unique_ptr<FetchResult<Asset>> fetchAssetsInAssetCollection(const AssetCollection& collection,
                                                                   const FetchOptions& options) override;
  std::unique_ptr<FetchResult<Asset>> fetchAssetsWithLocalIdentifiers(
      const std::vector<std::string>& identifiers) override;
  std::vector<AssetResource> assetResources(const Asset& asset) override;

  // Made on first use, with the catalog (main thread only).
  ImageManager& imageManager() override;
  ResourceManager& resourceManager() override;

 private:
  struct Visibility {
    bool any = false;                        // false: nothing at all
    bool collections = false;                // false with limited access
    std::optional<std::string> visibleJson;  // limited access: the chosen assets
  };
  Visibility visibility();
  // `recorded`, else (while the store says nothing) the answer given in this
  // process, if any.
  AuthorizationStatus withAnswerHere(AuthorizationStatus recorded) const;
  std::unique_ptr<FetchResult<Asset>> assetResult(AssetQuery query);

  LibraryLocation location_;
  std::string bundleIdentifier_;
  std::string usageDescription_;
  AccessStore access_;
  // The answer a question of this run got, for when recording it failed.
  std::shared_ptr<std::atomic<AuthorizationStatus>> answeredHere_;
  // The catalog, opened on first use: a run the access gate refuses never
  // opens it (no WAL or shared-memory files, no schema read).
  const std::shared_ptr<CatalogReader>& catalog();
  std::shared_ptr<CatalogReader> catalog_;
  std::optional<Visibility> granted_;
  std::optional<LinuxImageManager> images_;
  std::optional<LinuxResourceManager> resources_;
};

// The media-type mask of a fetch: -1 for all types, else one bit per type.
std::int64_t mediaTypeMask(const std::vector<MediaType>& mediaTypes);

}  // namespace tolvek
