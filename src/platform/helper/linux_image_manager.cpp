#include "platform/helper/linux_image_manager.h"

#include <sys/stat.h>

#include <filesystem>
#include <system_error>
#include <utility>

#include "library/cover_size.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"
#include "platform/modules/jpeg_module.h"
#include "platform/helper/stored_jpeg_picture.h"

namespace tolvek {
namespace {

// Original pictures larger than this are not read into memory.
constexpr std::uint64_t kMaxOriginalBytes = std::uint64_t{2} << 30;

bool covers(const StoredDerivative& derivative, PixelSize target, ContentMode mode) {
  if (target.width <= 0 || target.height <= 0) return false;  // the full size was asked for
  if (mode == ContentMode::aspectFill) return derivative.width >= target.width && derivative.height >= target.height;
  return derivative.width >= target.width || derivative.height >= target.height;
}

// A derivative whose short side is below the small one's is the whole
// picture, kept as the only derivative: as good as the original for any size.
bool isWholePicture(const StoredDerivative& derivative) {
  return std::min(derivative.width, derivative.height) < kSmallDerivativeShortSide;
}

// The upright size of the picture the derivatives were made from: recorded
// with them, or a small picture's own, kept whole; nothing when unknown
// (derivatives made before it was recorded). Every covering size comes
// from it, whichever file renders the request.
std::optional<PixelSize> originalSizeOf(const std::vector<StoredDerivative>& derivatives) {
  for (const StoredDerivative& derivative : derivatives) {
    if (derivative.originalSize) return derivative.originalSize;
  }
  if (!derivatives.empty() && isWholePicture(derivatives.back()))
    return PixelSize{derivatives.back().width, derivatives.back().height};
  return std::nullopt;
}

// The whole regular file at `path`, up to its size when opened; nothing for
// a FIFO, device, socket or a file too large to hold.
std::optional<std::string> readOriginal(const std::string& path) {
  auto bytes = readRegularFile(path, kMaxOriginalBytes);
  if (!bytes) return std::nullopt;
  return std::move(bytes).value();
}

// The original's bytes: from the file opened when the asset was read where
// there is one (a referenced file), else from the library's own copy.
std::optional<std::string> readOriginal(const StoredOriginal& original) {
  if (!original.opened) return readOriginal(original.path);
  if (original.opened->size() > kMaxOriginalBytes) return std::nullopt;
  auto bytes = original.opened->read(kMaxOriginalBytes);
  if (!bytes) return std::nullopt;
  return std::move(bytes).value();
}

// A temporary file for a downloaded original, in the temporary folder; it
// is removed when its owner goes, or when the process ends.
Result<TemporaryFile> downloadFolderFile() {
  std::error_code ignored;
  return TemporaryFile::createIn(std::filesystem::temp_directory_path(ignored).string(), 0600);
}

ExpectedContent expectedOf(const StoredOriginal& original) { return {original.size, original.sha256}; }

// The derivative handed over as it is when it has the size the request
// covers (computed from the original's size when known), or shrunk by the
// JPEG module when larger; nothing when neither can be (then the media
// module renders it).
std::unique_ptr<Picture> fromStoredJpeg(const StoredDerivative& derivative, PixelSize target,
                                        std::optional<PixelSize> original) {
  const PixelSize size{derivative.width, derivative.height};
  if (size.width <= 0 || size.height <= 0) return nullptr;
  const PixelSize cover = coverSize(original.value_or(size), target);
  if (cover.width > size.width || cover.height > size.height) return nullptr;
  auto bytes = storedJpegBytes(derivative);
  if (!bytes) return nullptr;
  if (cover == size) return storedJpegPicture(derivative, std::move(*bytes));
  JpegModule* jpeg = loadJpegModule();
  return jpeg != nullptr ? jpeg->shrink(*bytes, cover) : nullptr;
}

}  // namespace

LinuxImageManager::LinuxImageManager(StoredAssetIndex& index) : LinuxImageManager(index, {}) {}

LinuxImageManager::LinuxImageManager(StoredAssetIndex& index, DownloadLimits limits)
    : index_(index), limits_(limits) {}

std::unique_ptr<Picture> LinuxImageManager::render(const Asset& asset, PixelSize targetSize,
                                                   ContentMode contentMode, const ImageRequestOptions& options) {
  const std::optional<StoredAsset> stored = index_.storedAsset(asset.handle);
  if (!stored || stored->mediaType == MediaType::audio) return nullptr;

  // The smallest derivative that covers the target; a damaged or missing
  // one just fails to render and the next source is tried. One of exactly
  // the size asked for is handed over without loading the media module.
  const auto& derivatives = stored->derivatives;
  const StoredOriginal& original = stored->original;
  const std::optional<PixelSize> originalSize = originalSizeOf(derivatives);
  // A referenced file changed in place shows what it holds now. (A missing
  // one is no reason to give the derivatives up: an unmounted drive's
  // pictures still have thumbnails.)
  const bool stale = original.editedSinceSync;
  for (std::size_t i = 0; !stale && i < derivatives.size(); ++i) {
    const bool whole = i + 1 == derivatives.size() && isWholePicture(derivatives[i]);
    if (!covers(derivatives[i], targetSize, contentMode) && !whole) continue;
    if (contentMode == ContentMode::aspectFill) {
      if (auto picture = fromStoredJpeg(derivatives[i], targetSize, originalSize)) return picture;
    }
    break;
  }
  MediaModule* module = loadMediaModule();
  if (module == nullptr) return nullptr;
  for (std::size_t i = 0; !stale && i < derivatives.size(); ++i) {
    const bool last = i + 1 == derivatives.size();
    if (!covers(derivatives[i], targetSize, contentMode) && !(last && isWholePicture(derivatives[i]))) continue;
    const std::uint64_t cap = derivatives[i].bytes.value_or(0);
    if (auto picture = module->renderFile(derivatives[i].path, cap, MediaType::image, targetSize, originalSize))
      return picture;
  }

  // The original's own size decides (it may differ from what the
  // derivatives were made from when it changed since).
  const MediaType mediaType = stored->mediaType == MediaType::video ? MediaType::video : MediaType::image;
  if (!original.path.empty()) {
    if (auto picture = module->renderFile(original.path, 0, mediaType, targetSize, std::nullopt)) return picture;
  } else if (!original.url.empty() && options.networkAccessAllowed) {
    // Rendered only once it is known to be the original.
    DownloadLimits limits = limits_;
    limits.maxBytes = kMaxOriginalBytes;
    auto download = downloadFolderFile();
    if (download && downloadOriginal(original.url, expectedOf(original), *download, limits).ok()) {
      if (auto picture = module->renderFile(download->path(), 0, mediaType, targetSize, std::nullopt)) return picture;
    }
  }

  // Better a smaller picture than none: the largest derivative that renders.
  for (auto it = derivatives.rbegin(); it != derivatives.rend(); ++it) {
    if (auto picture = module->renderFile(it->path, it->bytes.value_or(0), MediaType::image, targetSize, originalSize))
      return picture;
  }
  return nullptr;
}

void LinuxImageManager::requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                                     const ImageRequestOptions& options, const ImageHandler& resultHandler) {
  std::unique_ptr<Picture> picture = render(asset, targetSize, contentMode, options);
  if (resultHandler) resultHandler(std::move(picture));
}

std::optional<std::string> LinuxImageManager::originalBytes(const StoredOriginal& original,
                                                            const ImageRequestOptions& options) {
  if (!original.path.empty()) return readOriginal(original);
  if (original.url.empty() || !options.networkAccessAllowed) return std::nullopt;
  // Streamed to a file, never held in memory before it is known to be the
  // original (and never larger than it).
  DownloadLimits limits = limits_;
  limits.maxBytes = kMaxOriginalBytes;
  auto download = downloadFolderFile();
  if (!download || !downloadOriginal(original.url, expectedOf(original), *download, limits).ok()) return std::nullopt;
  return readOriginal(download->path());
}

void LinuxImageManager::requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                                       const DataHandler& resultHandler) {
  std::optional<std::string> data;
  std::optional<std::string> typeIdentifier;
  const std::optional<StoredAsset> stored = index_.storedAsset(asset.handle);
  if (stored && stored->mediaType != MediaType::video && stored->mediaType != MediaType::audio) {
    data = originalBytes(stored->original, options);
    if (data && !stored->original.uniformTypeIdentifier.empty())
      typeIdentifier = stored->original.uniformTypeIdentifier;
  }
  if (resultHandler) resultHandler(std::move(data), std::move(typeIdentifier));
}

}  // namespace tolvek
