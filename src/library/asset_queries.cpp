#include "library/asset_queries.h"

#include <algorithm>
#include <unordered_map>

namespace tolvek {

FetchOptions fetchOptions(std::int64_t limit) {
  FetchOptions options;
  options.mediaTypes = {MediaType::image, MediaType::video};
  options.newestFirst = true;
  if (limit >= 1) options.fetchLimit = limit;
  return options;
}

std::unique_ptr<FetchResult<Asset>> listedAssets(PhotoLibrary& library, const std::string& inAlbum,
                                                 std::int64_t limit) {
  if (inAlbum.empty() || inAlbum == "-") return library.fetchAssets(fetchOptions(limit));
  const auto collection = library.fetchAssetCollectionsWithLocalIdentifiers({inAlbum})->firstObject();
  if (collection) return library.fetchAssetsInAssetCollection(*collection, fetchOptions(limit));
  return nullptr;
}

std::unique_ptr<FetchResult<Asset>> assetsInAlbum(PhotoLibrary& library, const std::string& inAlbum,
                                                  std::int64_t limit) {
  if (auto assets = listedAssets(library, inAlbum, limit)) return assets;
  return library.fetchAssets(fetchOptions(0));
}

std::vector<Asset> assetsWithIds(PhotoLibrary& library, const std::vector<std::string>& withIds) {
  std::unordered_map<std::string, Asset> byIdentifier;
  library.fetchAssetsWithLocalIdentifiers(withIds)->enumerateObjects(
      [&byIdentifier](const Asset& asset, std::size_t, bool&) {
        // A later asset with the same identifier replaces the earlier one.
        byIdentifier.insert_or_assign(asset.localIdentifier, asset);
      });
  std::vector<Asset> found;
  found.reserve(byIdentifier.empty() ? 0 : withIds.size());
  for (const std::string& identifier : withIds) {
    const auto it = byIdentifier.find(identifier);
    if (it != byIdentifier.end()) found.push_back(it->second);
  }
  return found;
}

std::string fallbackName(MediaType mediaType) { return mediaType == MediaType::video ? "video.mov" : "photo.jpg"; }

std::string originalName(PhotoLibrary& library, const Asset& of) {
  const std::vector<AssetResource> resources = library.assetResources(of);
  if (!resources.empty()) {
    const auto preferred = std::find_if(resources.begin(), resources.end(), [](const AssetResource& resource) {
      return resource.type == ResourceType::photo || resource.type == ResourceType::video;
    });
    const AssetResource& chosen = preferred != resources.end() ? *preferred : resources.front();
    if (!chosen.originalFilename.empty()) return chosen.originalFilename;
  }
  return fallbackName(of.mediaType);
}

}  // namespace tolvek
