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
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "library/image_manager.h"
#include "library/photo_library.h"
#include "library/photo_types.h"
#include "library/picture.h"
#include "library/resource_manager.h"
#include "support/fake_main_loop.h"
#include "support/in_memory_file_system.h"

namespace tolvek {

// Pictures without pixels: a fake picture has a size, may refuse to give a
// bitmap or to encode, and "encodes" to a recognisable text that records the
// quality and metadata it was asked for. Real JPEGs are tested end to end.
enum class FakeBitmapMode { ok, noBitmap, encodeFails };

// The bytes that `FakePictureDecoder` decodes into such a picture.
std::string fakePictureData(PixelSize size, const std::string& tag, FakeBitmapMode mode = FakeBitmapMode::ok);
// What the bitmap of that picture encodes to.
std::string fakeJpeg(PixelSize size, const std::string& tag, double quality, JpegMetadata metadata);

class FakePicture final : public Picture {
 public:
  FakePicture(PixelSize size, std::string tag, FakeBitmapMode mode = FakeBitmapMode::ok)
      : size_(size), tag_(std::move(tag)), mode_(mode) {}
  PixelSize size() const override { return size_; }
  std::unique_ptr<Bitmap> bitmap() const override;

 private:
  PixelSize size_;
  std::string tag_;
  FakeBitmapMode mode_;
};

// Decodes only data made by fakePictureData; anything else is no picture.
class FakePictureDecoder final : public PictureDecoder {
 public:
  std::unique_ptr<Picture> decode(std::string_view data) override;
  std::size_t decodeCalls() const { return decodeCalls_.load(); }

 private:
  std::atomic<std::size_t> decodeCalls_{0};
};

// The library's enumerations print in test messages as the numbers the
// catalog and the access store record.
template <class E>
concept LibraryEnumeration = std::is_same_v<E, AuthorizationStatus> || std::is_same_v<E, MediaType> ||
    std::is_same_v<E, CollectionType> || std::is_same_v<E, ResourceType>;

template <LibraryEnumeration E>
std::ostream& operator<<(std::ostream& out, E value) {
  return out << static_cast<std::int64_t>(value);
}

// Image requests of the in-memory library: per asset, a fake picture to
// deliver (or none) and the original's bytes with a type identifier (or
// none). Every request is synchronous and recorded.
struct ImageRequestRecord {
  std::string assetId;
  PixelSize targetSize;
  ContentMode contentMode;
  ImageRequestOptions options;
};

struct DataRequestRecord {
  std::string assetId;
  ImageRequestOptions options;
};

class InMemoryImageManager final : public ImageManager {
 public:
  // Delivers a fake picture of `size`, tagged with the asset identifier.
  // With `placeholderFirst`, a 1x1 picture is delivered before it, as an
  // opportunistic delivery would.
  void setPicture(const std::string& assetId, PixelSize size, FakeBitmapMode mode = FakeBitmapMode::ok,
                  bool placeholderFirst = false) {
    pictures_[assetId] = PictureSetting{size, mode, placeholderFirst};
  }
  void setData(const std::string& assetId, std::optional<std::string> data, std::optional<std::string> typeIdentifier) {
    data_[assetId] = DataSetting{std::move(data), std::move(typeIdentifier)};
  }

  void requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                    const ImageRequestOptions& options, const ImageHandler& resultHandler) override {
    imageRequests_.push_back({asset.localIdentifier, targetSize, contentMode, options});
    const auto it = pictures_.find(asset.localIdentifier);
    if (it == pictures_.end()) return resultHandler(nullptr);
    if (it->second.placeholderFirst) {
      resultHandler(std::make_unique<FakePicture>(PixelSize{1, 1}, "placeholder:" + asset.localIdentifier));
    }
    resultHandler(std::make_unique<FakePicture>(it->second.size, asset.localIdentifier, it->second.mode));
  }
  void requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                      const DataHandler& resultHandler) override {
    dataRequests_.push_back({asset.localIdentifier, options});
    const auto it = data_.find(asset.localIdentifier);
    if (it == data_.end()) return resultHandler(std::nullopt, std::nullopt);
    resultHandler(it->second.data, it->second.typeIdentifier);
  }

  const std::vector<ImageRequestRecord>& imageRequests() const { return imageRequests_; }
  const std::vector<DataRequestRecord>& dataRequests() const { return dataRequests_; }

 private:
  struct PictureSetting {
    PixelSize size;
    FakeBitmapMode mode;
    bool placeholderFirst;
  };
  struct DataSetting {
    std::optional<std::string> data;
    std::optional<std::string> typeIdentifier;
  };
  std::map<std::string, PictureSetting> pictures_;
  std::map<std::string, DataSetting> data_;
  std::vector<ImageRequestRecord> imageRequests_;
  std::vector<DataRequestRecord> dataRequests_;
};

// Resource writes of the in-memory library, into an in-memory file system.
// Per asset the write completes before it returns (the default), after a
// delay on the fake clock (during a main-loop slice or from another thread),
// or never; and it succeeds or reports an error. Like the real one it
// refuses to write over an existing file.
struct WriteOutcome {
  using When = ::tolvek::When;
  When when = When::beforeReturn;
  // Fake seconds after the write started (duringSlice, fromThread).
  double delay = 0;
  // Reported instead of writing the file.
  std::optional<std::string> error;
};

struct WriteRecord {
  AssetResource resource;
  std::string path;
  ResourceRequestOptions options;
};

class InMemoryResourceManager final : public ResourceManager {
 public:
  // `files` may be null: writes then succeed without leaving a file.
  InMemoryResourceManager(FakeMainLoop& loop, InMemoryFileSystem* files) : loop_(loop), files_(files) {}

  void setContents(std::int64_t resourceHandle, std::string bytes);
  void setOutcome(std::int64_t assetHandle, WriteOutcome outcome);

  // Requests are numbered from 1 in the order of the writes.
  RequestId writeDataForAssetResource(const AssetResource& resource, const std::string& filePath,
                                      const ResourceRequestOptions& options, Completion completion) override;
  // Cancelling changes nothing: a held completion stays held.
  void cancelDataRequest(RequestId) override {}

  std::vector<WriteRecord> writes() const;
  // Completions that were never called (outcome "never").
  std::size_t heldCompletions() const;

 private:
  FakeMainLoop& loop_;
  InMemoryFileSystem* files_;
  mutable std::mutex mutex_;
  std::map<std::int64_t, std::string> contents_;
  std::map<std::int64_t, WriteOutcome> outcomes_;
  std::vector<WriteRecord> writes_;
  std::vector<Completion> held_;
};

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
  struct NewAsset {
    std::string id;
    MediaType mediaType;
    std::optional<std::int64_t> creationDate{};
  };
  // The same for each, in order.
  void addAssets(std::initializer_list<NewAsset> assets);
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

// What a fetch result holds, as a test compares it: the local identifiers in
// the order of enumeration (each at the index it is enumerated with).
template <class T>
std::vector<std::string> identifiersOf(const FetchResult<T>& result) {
  std::vector<std::string> ids;
  result.enumerateObjects([&ids](const T& object, std::size_t index, bool&) {
    EXPECT_EQ(index, ids.size());
    ids.push_back(object.localIdentifier);
  });
  return ids;
}

template <class T>
std::vector<std::string> identifiersOf(const std::unique_ptr<FetchResult<T>>& result) {
  return identifiersOf(*result);
}

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
