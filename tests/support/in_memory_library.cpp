#include "support/in_memory_library.h"

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace tolvek {

namespace {

class FakeBitmap final : public Bitmap {
 public:
  FakeBitmap(PixelSize size, std::string tag, bool encodes) : size_(size), tag_(std::move(tag)), encodes_(encodes) {}
  std::optional<std::string> jpegRepresentation(double quality, JpegMetadata metadata) const override {
    if (!encodes_) return std::nullopt;
    return fakeJpeg(size_, tag_, quality, metadata);
  }

 private:
  PixelSize size_;
  std::string tag_;
  bool encodes_;
};

}  // namespace

std::string fakePictureData(PixelSize size, const std::string& tag, FakeBitmapMode mode) {
  std::ostringstream out;
  out << "FAKEPIC|" << size.width << '|' << size.height << '|' << static_cast<int>(mode) << '|' << tag;
  return out.str();
}

std::string fakeJpeg(PixelSize size, const std::string& tag, double quality, JpegMetadata metadata) {
  char text[96];
  std::snprintf(text, sizeof text, "FAKEJPEG|q=%.2f|%s|%lldx%lld|", quality,
                metadata == JpegMetadata::keepCaptureData ? "keep" : "bare", static_cast<long long>(size.width),
                static_cast<long long>(size.height));
  return text + tag;
}

std::unique_ptr<Bitmap> FakePicture::bitmap() const {
  if (mode_ == FakeBitmapMode::noBitmap) return nullptr;
  return std::make_unique<FakeBitmap>(size_, tag_, mode_ == FakeBitmapMode::ok);
}

std::unique_ptr<Picture> FakePictureDecoder::decode(std::string_view data) {
  ++decodeCalls_;
  constexpr std::string_view prefix = "FAKEPIC|";
  if (data.substr(0, prefix.size()) != prefix) return nullptr;
  std::istringstream in{std::string(data.substr(prefix.size()))};
  PixelSize size;
  int mode = 0;
  char bar1 = 0, bar2 = 0, bar3 = 0;
  if (!(in >> size.width >> bar1 >> size.height >> bar2 >> mode >> bar3) || bar1 != '|' || bar2 != '|' || bar3 != '|' ||
      mode < 0 || mode > 2) {
    return nullptr;
  }
  std::string tag;
  std::getline(in, tag, '\0');
  return std::make_unique<FakePicture>(size, tag, static_cast<FakeBitmapMode>(mode));
}

InMemoryLibrary::InMemoryLibrary(FakeMainLoop& loop, InMemoryFileSystem* files)
    : loop_(loop), resources_(loop, files) {}

const Asset& InMemoryLibrary::addAsset(const std::string& id, MediaType mediaType,
                                       std::optional<std::int64_t> creationDate) {
  assets_.push_back(Asset{id, mediaType, creationDate, static_cast<std::int64_t>(assets_.size()) + 1});
  return assets_.back();
}

void InMemoryLibrary::addAssets(std::initializer_list<NewAsset> assets) {
  for (const NewAsset& asset : assets) addAsset(asset.id, asset.mediaType, asset.creationDate);
}

std::int64_t InMemoryLibrary::handleOf(const std::string& assetId) const {
  for (const Asset& asset : assets_) {
    if (asset.localIdentifier == assetId) return asset.handle;
  }
  throw std::invalid_argument("no asset " + assetId);
}

void InMemoryLibrary::addResource(const std::string& assetId, ResourceType type, const std::string& fileName,
                                  const std::string& typeIdentifier, std::optional<std::string> bytes) {
  const AssetResource resource{type, fileName, typeIdentifier, handleOf(assetId), nextResourceHandle_++};
  resources_.setContents(resource.handle, bytes ? *bytes
                                                : "bytes of resource " + std::to_string(resource.handle) +
                                                      " (" + fileName + ")");
  resourcesByAsset_[resource.assetHandle].push_back(resource);
}

void InMemoryLibrary::addCollection(const std::string& id, CollectionType type, std::optional<std::string> title,
                                    std::int64_t subtype) {
  collections_.push_back(
      AssetCollection{id, type, subtype, std::move(title), static_cast<std::int64_t>(collections_.size()) + 1});
}

void InMemoryLibrary::addToCollection(const std::string& collectionId, const std::string& assetId) {
  handleOf(assetId);
  members_[collectionId].push_back(assetId);
}

void InMemoryLibrary::setWriteOutcome(const std::string& assetId, WriteOutcome outcome) {
  resources_.setOutcome(handleOf(assetId), std::move(outcome));
}

AuthorizationStatus InMemoryLibrary::authorizationStatus(AccessLevel) {
  ++calls_.statusReads;
  return status_.load();
}

void InMemoryLibrary::requestAuthorization(AccessLevel, AuthorizationHandler handler) {
  ++calls_.requests;
  const ConsentAnswer answer = answer_;
  if (answer.when == When::never) {
    heldHandlers_.push_back(std::move(handler));
    return;
  }
  // Like the real one: an answer of 0 (no prompt possible) records nothing.
  loop_.deliver(answer.when, answer.delay, [this, status = answer.status, handler = std::move(handler)]() {
    if (status != AuthorizationStatus::notDetermined) status_.store(status);
    handler(status);
  });
}

bool InMemoryLibrary::visible(const Asset& asset) const {
  return status_.load() != AuthorizationStatus::limited || chosen_.count(asset.localIdentifier) > 0;
}

std::unique_ptr<FetchResult<Asset>> InMemoryLibrary::select(std::vector<Asset> candidates,
                                                           const FetchOptions& options) const {
  std::vector<Asset> selected;
  for (Asset& asset : candidates) {
    if (!visible(asset)) continue;
    if (!options.mediaTypes.empty() &&
        std::find(options.mediaTypes.begin(), options.mediaTypes.end(), asset.mediaType) == options.mediaTypes.end()) {
      continue;
    }
    selected.push_back(std::move(asset));
  }
  if (options.newestFirst) {
    // Newest date first; equal dates: the later import first; no date last.
    std::stable_sort(selected.begin(), selected.end(), [](const Asset& a, const Asset& b) {
      if (a.creationDate.has_value() != b.creationDate.has_value()) return a.creationDate.has_value();
      if (a.creationDate != b.creationDate) return *a.creationDate > *b.creationDate;
      return a.handle > b.handle;
    });
  }
  if (!ignoreFetchLimit_ && options.fetchLimit > 0 && selected.size() > static_cast<std::size_t>(options.fetchLimit)) {
    selected.resize(static_cast<std::size_t>(options.fetchLimit));
  }
  return std::make_unique<VectorFetchResult<Asset>>(std::move(selected));
}

std::unique_ptr<FetchResult<AssetCollection>> InMemoryLibrary::collectionsWhere(
    const std::function<bool(const AssetCollection&)>& wanted) const {
  std::vector<AssetCollection> found;
  for (const AssetCollection& collection : collections_) {
    if (collectionsVisible() && wanted(collection)) found.push_back(collection);
  }
  return std::make_unique<VectorFetchResult<AssetCollection>>(std::move(found));
}

std::unique_ptr<FetchResult<AssetCollection>> InMemoryLibrary::fetchAssetCollections(CollectionType type,
                                                                                     std::int64_t subtype) {
  ++calls_.collectionFetches;
  return collectionsWhere([&](const AssetCollection& collection) {
    return collection.type == type && (subtype == kCollectionSubtypeAny || collection.subtype == subtype);
  });
}

std::unique_ptr<FetchResult<AssetCollection>> InMemoryLibrary::fetchAssetCollectionsWithLocalIdentifiers(
    const std::vector<std::string>& identifiers) {
  ++calls_.collectionLookups;
  return collectionsWhere([&](const AssetCollection& collection) {
    return std::find(identifiers.begin(), identifiers.end(), collection.localIdentifier) != identifiers.end();
  });
}

std::unique_ptr<FetchResult<Asset>> InMemoryLibrary::fetchAssets(const FetchOptions& options) {
  ++calls_.assetFetches;
  calls_.fetchOptions.push_back(options);
  return select(assets_, options);
}

std::unique_ptr<FetchResult<Asset>> InMemoryLibrary::fetchAssetsInAssetCollection(const AssetCollection& collection,
                                                                                 const FetchOptions& options) {
  ++calls_.assetFetchesInCollection;
  calls_.fetchOptions.push_back(options);
  calls_.collectionsFetchedFrom.push_back(collection.localIdentifier);
  std::vector<Asset> members;
  if (const auto it = members_.find(collection.localIdentifier); it != members_.end()) {
    for (const std::string& id : it->second) members.push_back(assets_[static_cast<std::size_t>(handleOf(id) - 1)]);
  }
  return select(std::move(members), options);
}

std::unique_ptr<FetchResult<Asset>> InMemoryLibrary::fetchAssetsWithLocalIdentifiers(
    const std::vector<std::string>& identifiers) {
  ++calls_.identifierLookups;
  calls_.identifierLists.push_back(identifiers);
  const std::set<std::string> wanted(identifiers.begin(), identifiers.end());
  // "Any order": the reverse of import, so callers cannot rely on it.
  std::vector<Asset> found;
  for (auto it = assets_.rbegin(); it != assets_.rend(); ++it) {
    if (wanted.count(it->localIdentifier) && visible(*it)) found.push_back(*it);
  }
  return std::make_unique<VectorFetchResult<Asset>>(std::move(found));
}

std::vector<AssetResource> InMemoryLibrary::assetResources(const Asset& asset) {
  ++calls_.resourceReads;
  const auto it = resourcesByAsset_.find(asset.handle);
  if (it == resourcesByAsset_.end()) return {};
  return it->second;
}

void InMemoryResourceManager::setContents(std::int64_t resourceHandle, std::string bytes) {
  std::lock_guard lock(mutex_);
  contents_[resourceHandle] = std::move(bytes);
}

void InMemoryResourceManager::setOutcome(std::int64_t assetHandle, WriteOutcome outcome) {
  std::lock_guard lock(mutex_);
  outcomes_[assetHandle] = std::move(outcome);
}

ResourceManager::RequestId InMemoryResourceManager::writeDataForAssetResource(const AssetResource& resource,
                                                                              const std::string& filePath,
                                                                              const ResourceRequestOptions& options,
                                                                              Completion completion) {
  WriteOutcome outcome;
  std::string bytes;
  RequestId request = 0;
  {
    std::lock_guard lock(mutex_);
    writes_.push_back({resource, filePath, options});
    request = static_cast<RequestId>(writes_.size());
    if (const auto it = outcomes_.find(resource.assetHandle); it != outcomes_.end()) outcome = it->second;
    if (const auto it = contents_.find(resource.handle); it != contents_.end()) bytes = it->second;
    if (outcome.when == WriteOutcome::When::never) {
      held_.push_back(std::move(completion));
      return request;
    }
  }
  // The completion owns what it needs; it may run after everything else here.
  loop_.deliver(outcome.when, outcome.delay,
                [files = files_, filePath, bytes = std::move(bytes), error = outcome.error,
                 completion = std::move(completion)]() {
                  completion(error ? Status::error(*error) : files ? files->writeNewFile(filePath, bytes) : Status());
                });
  return request;
}

std::vector<WriteRecord> InMemoryResourceManager::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

std::size_t InMemoryResourceManager::heldCompletions() const {
  std::lock_guard lock(mutex_);
  return held_.size();
}

}  // namespace tolvek
