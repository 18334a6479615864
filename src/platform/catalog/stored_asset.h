#pragma once
// Where the library keeps an asset's bytes, as the catalog records them: the
// original (a file inside the library, or a remote URL once offloaded) and
// the upright JPEG derivatives made at import.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/photo_types.h"
#include "platform/posix/posix_file.h"
#include "library/picture.h"

namespace tolvek {

struct StoredOriginal {
  std::string path;  // absolute path of the local copy; empty when remote only
  std::string url;   // http:// or https:// URL of a remote original; empty when local
  std::string uniformTypeIdentifier;  // "public.jpeg", "public.heic", "com.apple.quicktime-movie", ...
  // As recorded at import (catalogs of schema 2 recorded neither): a remote
  // copy must match them, and a local one is never read past the size.
  std::optional<std::uint64_t> size;
  std::string sha256;  // empty: not recorded
  // A file of a source, referenced in place: `opened` is that file, opened
  // and checked when the asset was read (never through a link), and `path`
  // a name that opens this very file again while `opened` lives.
  bool referenced = false;
  std::shared_ptr<const ReadableFile> opened{};
  // The referenced file was changed in place since the last sync: the
  // derivatives no longer show what it holds.
  bool editedSinceSync = false;
};

// The JPEG quality (percent) derivatives are made with: the thumbnails'
// own, so that a derivative of the size a thumbnail asks for is handed over
// as it is. Derivatives recorded with another, or without the size of their
// original (made before they were sRGB and sized from it), are remade by the
// next sync.
inline constexpr int kDerivativeQualityPercent = 80;

struct StoredDerivative {
  std::string path;  // absolute path of an upright JPEG
  std::int64_t width = 0;
  std::int64_t height = 0;
  // Its length in bytes as written; nothing in catalogs of schema 2.
  std::optional<std::uint64_t> bytes;
  // The JPEG quality it was made with; nothing in catalogs before schema 4.
  std::optional<int> quality{};
  // The upright size of the picture (or video frame) it was made from, from
  // which every covering size of the asset is computed; nothing in catalogs
  // before schema 6.
  std::optional<PixelSize> originalSize{};
};

struct StoredAsset {
  MediaType mediaType = MediaType::unknown;
  StoredOriginal original;
  std::vector<StoredDerivative> derivatives;  // smallest first
};

// Read side of the catalog that the image and resource managers need.
class StoredAssetIndex {
 public:
  virtual ~StoredAssetIndex() = default;
  // The stored asset behind `Asset::handle`, or nothing when it is gone.
  virtual std::optional<StoredAsset> storedAsset(std::int64_t assetHandle) = 0;
  // The bytes behind one resource, or nothing when it is gone.
  virtual std::optional<StoredOriginal> storedResource(const AssetResource& resource) = 0;
};

}  // namespace tolvek
