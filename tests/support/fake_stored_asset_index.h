#pragma once
// The catalog's answers as the image and resource managers ask for them, set
// by the test: whole assets by handle, or originals by resource handle.
#include <cstdint>
#include <map>
#include <optional>

#include "platform/catalog/stored_asset.h"

namespace tolvek::testing {

class FakeStoredAssetIndex final : public StoredAssetIndex {
 public:
  std::map<std::int64_t, StoredAsset> assets;         // by asset handle
  std::map<std::int64_t, StoredOriginal> originals;   // by resource handle

  std::optional<StoredAsset> storedAsset(std::int64_t handle) override {
    const auto it = assets.find(handle);
    if (it == assets.end()) return std::nullopt;
    return it->second;
  }
  // The original set for the resource, else the original of its asset.
  std::optional<StoredOriginal> storedResource(const AssetResource& resource) override {
    const auto it = originals.find(resource.handle);
    if (it != originals.end()) return it->second;
    const auto asset = storedAsset(resource.assetHandle);
    if (!asset) return std::nullopt;
    return asset->original;
  }
};

}  // namespace tolvek::testing
