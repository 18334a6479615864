#pragma once
// The photo library in memory, for the tests of the gate, the queries and the
// commands. It orders, filters and limits like the library on disk, answers
// the consent request in any of the ways a real one can, and counts calls.
#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "library/photo_library.h"
#include "support/enum_printing.h"
#include "support/fake_main_loop.h"
#include "support/in_memory_file_system.h"
#include "support/in_memory_image_manager.h"
#include "support/in_memory_resource_manager.h"
#include "support/manual_clock.h"

namespace tolvek {

// How the library answers requestAuthorization.
struct ConsentAnswer {
  using When = ::tolvek::When;
  When when = When::beforeReturn;
  AuthorizationStatus status = AuthorizationStatus::authorized;
  // Fake seconds after the request (duringSlice, fromThread).
  double delay = 0;
};

struct LibraryCalls {
  std::size_t statusReads = 0;
  std::size_t requests = 0;
  std::size_t collectionFetches = 0;
  std::size_t collectionLookups = 0;
  std::size_t assetFetches = 0;
  std::size_t assetFetchesInCollection = 0;
  std::size_t identifierLookups = 0;
  std::size_t resourceReads = 0;
  // Options of every fetchAssets / fetchAssetsInAssetCollection, in order.
  std::vector<FetchOptions> fetchOptions;
  std::vector<std::vector<std::string>> identifierLists;
  std::vector<std::string> collectionsFetchedFrom;
};

class InMemoryLibrary final : public PhotoLibrary {
 public:
  // `files` receives resource writes; may be null.
  explicit InMemoryLibrary(FakeMainLoop& loop, InMemoryFileSystem* files = nullptr);

  // Content. Assets are "imported" in the order they are added.
  const Asset& addAsset(const std::string& id, MediaType mediaType,
                        std::optional<std::int64_t> creationDate = std::nullopt);
  // Appends a resource; a write of it produces `bytes` (default: a text
  // naming the resource).
  void addResource(const std::string& assetId, ResourceType type, const std::string& fileName,
                   const std::string& typeIdentifier = {}, std::optional<std::string> bytes = std::nullopt);
  void addCollection(const std::string& id, CollectionType type, std::optional<std::string> title,
                     std::int64_t subtype = 0);
  void addToCollection(const std::string& collectionId, const std::string& assetId);
  std::int64_t handleOf(const std::string& assetId) const;

  // Access. Status 4 shows only the chosen assets and no collection.
  void setStatus(AuthorizationStatus status) { status_.store(status); }
  void setConsentAnswer(ConsentAnswer answer) { answer_ = answer; }
  void chooseForLimitedAccess(std::set<std::string> assetIds) { chosen_ = std::move(assetIds); }
  std::size_t heldHandlers() const { return heldHandlers_.size(); }

  const LibraryCalls& calls() const { return calls_; }
  InMemoryImageManager& images() { return images_; }
  InMemoryResourceManager& resources() { return resources_; }
  // Sets how writes of this asset's resources complete.
  void setWriteOutcome(const std::string& assetId, WriteOutcome outcome);
  // A faulty library that returns more than the fetch limit asks for.
  void ignoreFetchLimit(bool ignore) { ignoreFetchLimit_ = ignore; }

  AuthorizationStatus authorizationStatus(AccessLevel level) override;
  void requestAuthorization(AccessLevel level, AuthorizationHandler handler) override;
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
  ImageManager& imageManager() override { return images_; }
  ResourceManager& resourceManager() override { return resources_; }

 private:
  bool visible(const Asset& asset) const;
  bool collectionsVisible() const { return status_.load() != AuthorizationStatus::limited; }
  std::unique_ptr<FetchResult<Asset>> select(std::vector<Asset> candidates, const FetchOptions& options) const;
  std::unique_ptr<FetchResult<AssetCollection>> collectionsWhere(
      const std::function<bool(const AssetCollection&)>& wanted) const;

  FakeMainLoop& loop_;
  std::atomic<AuthorizationStatus> status_{AuthorizationStatus::authorized};
  ConsentAnswer answer_;
  std::vector<AuthorizationHandler> heldHandlers_;
  std::set<std::string> chosen_;
  std::vector<Asset> assets_;  // in import order; handle = index + 1
  std::map<std::int64_t, std::vector<AssetResource>> resourcesByAsset_;
  std::vector<AssetCollection> collections_;  // in creation order
  std::map<std::string, std::vector<std::string>> members_;
  std::int64_t nextResourceHandle_ = 1;
  bool ignoreFetchLimit_ = false;
  LibraryCalls calls_;
  InMemoryImageManager images_;
  InMemoryResourceManager resources_;
};

// The manual clock, the fake main loop on it and the library in memory that
// the tests of the wait, the gate, the queries and the commands start from.
// With `withFiles`, the library's resource writes land in `files`.
class InMemoryLibraryTest : public ::testing::Test {
 protected:
  explicit InMemoryLibraryTest(bool withFiles = false) : library(loop, withFiles ? &files : nullptr) {}

  ManualClock clock;
  FakeMainLoop loop{clock};
  InMemoryFileSystem files{"/home/user"};
  InMemoryLibrary library;
};

}  // namespace tolvek
