#include "platform/linux_photo_library.h"

#include <algorithm>
#include <chrono>
#include <system_error>
#include <thread>

#include "platform/helper/catalog_fetch_result.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/access/consent_prompt.h"
#include "platform/system/poll_main_loop.h"
#include "platform/catalog/json_string_array.h"

namespace tolvek {
namespace {

// Not a status: nothing was answered in this process.
constexpr auto kNoAnswer = static_cast<AuthorizationStatus>(-1);

// Everything the question's thread touches; the thread owns it, so the
// library (and the process's statics) may be gone before it ends.
struct PromptJob {
  std::string storePath;
  std::string lockPath;
  std::string bundleIdentifier;
  std::string usageDescription;
  PhotoLibrary::AuthorizationHandler handler;
  std::shared_ptr<std::atomic<AuthorizationStatus>> answeredHere;
};

// While the store's lock is held by someone else, the answer is written
// again this often, for at most this long; a process that ends earlier
// leaves the question open for the next run.
constexpr auto kRecordRetryPause = std::chrono::milliseconds(500);
constexpr auto kRecordRetryFor = std::chrono::seconds(60);

// Records the user's answer unless the store holds an answer by now (another
// helper's or the tool's, which must not be overwritten).
Status record(AccessStore& store, const std::string& bundleIdentifier, AuthorizationStatus status) {
  if (store.read(bundleIdentifier).status != AuthorizationStatus::notDetermined) return {};
  return store.write(bundleIdentifier, AccessAnswer{status, {}});
}

void runPrompt(const std::shared_ptr<PromptJob>& job) {
  AuthorizationStatus status = AuthorizationStatus::notDetermined;
  AccessStore store(job->storePath);
  bool recorded = true;
  {
    // A second helper waits here while the first one's dialog is open, then
    // finds the first one's answer in the store.
    PromptLock lock(job->lockPath);
    status = store.read(job->bundleIdentifier).status;
    if (status == AuthorizationStatus::notDetermined) {
      // Only the user's own answer is recorded; a dialog that never showed
      // leaves the question open for the next run.
      switch (askWithZenity(job->usageDescription)) {
        case PromptAnswer::allowed:
          status = AuthorizationStatus::authorized;
          break;
        case PromptAnswer::refused:
          status = AuthorizationStatus::denied;
          break;
        case PromptAnswer::notShown:
          break;
      }
      if (status != AuthorizationStatus::notDetermined) recorded = record(store, job->bundleIdentifier, status).ok();
    }
  }
  // The user's answer decides this run, recorded or not.
  if (status != AuthorizationStatus::notDetermined) job->answeredHere->store(status, std::memory_order_release);
  job->handler(status);
  wakeMainLoop();
  const auto giveUp = std::chrono::steady_clock::now() + kRecordRetryFor;
  while (!recorded && std::chrono::steady_clock::now() < giveUp) {
    std::this_thread::sleep_for(kRecordRetryPause);
    recorded = record(store, job->bundleIdentifier, status).ok();
  }
}

template <class T>
std::unique_ptr<FetchResult<T>> nothing() {
  return std::make_unique<VectorFetchResult<T>>(std::vector<T>{});
}

// The query of every asset `options` selects, in its order.
AssetQuery queryOf(const FetchOptions& options) {
  AssetQuery query;
  query.mediaTypeMask = mediaTypeMask(options.mediaTypes);
  query.newestFirst = options.newestFirst;
  query.limit = std::max<std::int64_t>(options.fetchLimit, 0);
  return query;
}

}  // namespace

std::int64_t mediaTypeMask(const std::vector<MediaType>& mediaTypes) {
  if (mediaTypes.empty()) return -1;
  std::int64_t mask = 0;
  for (const MediaType type : mediaTypes) {
    const auto t = static_cast<std::int64_t>(type);
    if (t >= 0 && t < 62) mask |= std::int64_t{1} << t;
  }
  return mask;
}

LinuxPhotoLibrary::LinuxPhotoLibrary(std::string bundleIdentifier, std::string usageDescription)
    : LinuxPhotoLibrary(userLibraryLocation(), std::move(bundleIdentifier), std::move(usageDescription)) {}

LinuxPhotoLibrary::LinuxPhotoLibrary(LibraryLocation location, std::string bundleIdentifier,
                                     std::string usageDescription)
    : location_(std::move(location)),
      bundleIdentifier_(std::move(bundleIdentifier)),
      usageDescription_(std::move(usageDescription)),
      access_(location_.accessStorePath),
      answeredHere_(std::make_shared<std::atomic<AuthorizationStatus>>(kNoAnswer)) {}

const std::shared_ptr<CatalogReader>& LinuxPhotoLibrary::catalog() {
  if (!catalog_) catalog_ = CatalogReader::open(location_);
  return catalog_;
}

ImageManager& LinuxPhotoLibrary::imageManager() {
  if (!images_) images_.emplace(*catalog());
  return *images_;
}

ResourceManager& LinuxPhotoLibrary::resourceManager() {
  if (!resources_) resources_.emplace(*catalog());
  return *resources_;
}

AuthorizationStatus LinuxPhotoLibrary::withAnswerHere(AuthorizationStatus recorded) const {
  if (recorded != AuthorizationStatus::notDetermined) return recorded;
  const AuthorizationStatus here = answeredHere_->load(std::memory_order_acquire);
  return here == kNoAnswer ? recorded : here;
}

AuthorizationStatus LinuxPhotoLibrary::authorizationStatus(AccessLevel) {
  return withAnswerHere(access_.read(bundleIdentifier_).status);
}

void LinuxPhotoLibrary::requestAuthorization(AccessLevel level, AuthorizationHandler handler) {
  if (!hasGraphicalSession()) {
    handler(authorizationStatus(level));
    return;
  }
  auto job = std::make_shared<PromptJob>(PromptJob{location_.accessStorePath, location_.promptLockPath,
                                                   bundleIdentifier_, usageDescription_, std::move(handler),
                                                   answeredHere_});
  try {
    std::thread([job] { runPrompt(job); }).detach();
  } catch (const std::system_error&) {
    job->handler(AuthorizationStatus::notDetermined);  // no thread to ask on: nothing recorded
  }
}

LinuxPhotoLibrary::Visibility LinuxPhotoLibrary::visibility() {
  // Once access is granted it holds for the run (the store is read once,
  // not per fetch); a refusal is read again, as a question may still change it.
  if (granted_) return *granted_;
  const AccessAnswer recorded = access_.read(bundleIdentifier_);
  const AuthorizationStatus status = withAnswerHere(recorded.status);
  if (status == AuthorizationStatus::authorized) granted_ = Visibility{true, true, std::nullopt};
  if (status == AuthorizationStatus::limited)
    granted_ = Visibility{true, false, jsonStringArray(recorded.chosenAssets)};
  return granted_.value_or(Visibility{});
}

std::unique_ptr<FetchResult<AssetCollection>> LinuxPhotoLibrary::fetchAssetCollections(CollectionType type,
                                                                                       std::int64_t subtype) {
  if (!visibility().collections) return nothing<AssetCollection>();
  return std::make_unique<VectorFetchResult<AssetCollection>>(catalog()->collections(type, subtype));
}

std::unique_ptr<FetchResult<AssetCollection>> LinuxPhotoLibrary::fetchAssetCollectionsWithLocalIdentifiers(
    const std::vector<std::string>& identifiers) {
  if (!visibility().collections) return nothing<AssetCollection>();
  return std::make_unique<VectorFetchResult<AssetCollection>>(catalog()->collectionsWithIdentifiers(identifiers));
}

std::unique_ptr<FetchResult<Asset>> LinuxPhotoLibrary::assetResult(AssetQuery query) {
  Visibility visible = visibility();
  if (!visible.any) return nothing<Asset>();
  query.visibleJson = std::move(visible.visibleJson);
  return std::make_unique<CatalogFetchResult>(catalog(), std::move(query));
}

std::unique_ptr<FetchResult<Asset>> LinuxPhotoLibrary::fetchAssets(const FetchOptions& options) {
  return assetResult(queryOf(options));
}

std::unique_ptr<FetchResult<Asset>> LinuxPhotoLibrary::fetchAssetsInAssetCollection(
    const AssetCollection& collection, const FetchOptions& options) {
  if (!visibility().collections) return nothing<Asset>();
  const auto source = catalog()->collectionSource(collection);
  if (!source) return nothing<Asset>();
  AssetQuery query = queryOf(options);
  query.scope = source->rule == CollectionRule::favorites ? AssetScope::favorites
                : source->rule == CollectionRule::videos  ? AssetScope::videos
                                                          : AssetScope::members;
  query.collection = source->row;
  return assetResult(std::move(query));
}

std::unique_ptr<FetchResult<Asset>> LinuxPhotoLibrary::fetchAssetsWithLocalIdentifiers(
    const std::vector<std::string>& identifiers) {
  if (identifiers.empty()) return nothing<Asset>();
  AssetQuery query;
  query.scope = AssetScope::identifiers;
  query.identifiersJson = jsonStringArray(identifiers);
  return assetResult(std::move(query));
}

std::vector<AssetResource> LinuxPhotoLibrary::assetResources(const Asset& asset) {
  if (!visibility().any) return {};
  return catalog()->resources(asset.handle);
}

}  // namespace tolvek
