#pragma once
// A fetch result over the catalog: count() is a COUNT query, firstObject() a
// query with limit 1, and enumeration steps through the rows without
// materialising them. It keeps the catalog reader alive.
#include <memory>

#include "library/fetch_result.h"
#include "platform/catalog/catalog_reader.h"

namespace tolvek {

class CatalogFetchResult final : public FetchResult<Asset> {
 public:
  CatalogFetchResult(std::shared_ptr<CatalogReader> catalog, AssetQuery query)
      : catalog_(std::move(catalog)), query_(std::move(query)) {}

  std::size_t count() const override { return catalog_->countAssets(query_); }

  std::optional<Asset> firstObject() const override {
    AssetQuery first = query_;
    first.limit = 1;
    std::optional<Asset> found;
    catalog_->forEachAsset(first, [&found](const Asset& asset) {
      found = asset;
      return false;
    });
    return found;
  }

  void enumerateObjects(const Block& block) const override {
    std::size_t index = 0;
    catalog_->forEachAsset(query_, [&](const Asset& asset) {
      bool stop = false;
      block(asset, index++, stop);
      return !stop;
    });
  }

 private:
  std::shared_ptr<CatalogReader> catalog_;
  AssetQuery query_;
};

}  // namespace tolvek
