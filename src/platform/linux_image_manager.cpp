#include "platform/linux_image_manager.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/media_module.h"

namespace tolvek {
namespace {

// The short side below which import keeps the whole picture as its largest
// derivative: such a derivative is as good as the original for any size.
constexpr std::int64_t kWholePictureBelow = 512;
// Original pictures larger than this are not read into memory.
constexpr std::int64_t kMaxOriginalBytes = std::int64_t{2} << 30;

bool covers(const StoredDerivative& derivative, PixelSize target, ContentMode mode) {
  if (target.width <= 0 || target.height <= 0) return false;  // the full size was asked for
  if (mode == ContentMode::aspectFill) return derivative.width >= target.width && derivative.height >= target.height;
  return derivative.width >= target.width || derivative.height >= target.height;
}

bool isWholePicture(const StoredDerivative& derivative) {
  return std::min(derivative.width, derivative.height) < kWholePictureBelow;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string bytes;
  const off_t size = ::lseek(fd, 0, SEEK_END);
  if (size < 0 || size > kMaxOriginalBytes || ::lseek(fd, 0, SEEK_SET) != 0) {
    ::close(fd);
    return std::nullopt;
  }
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t filled = 0;
  bool failed = false;
  for (;;) {
    if (filled == bytes.size()) bytes.resize(bytes.size() + 65536);  // the file may have grown
    const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) failed = true;
    if (got <= 0) break;
    filled += static_cast<std::size_t>(got);
    if (filled > static_cast<std::size_t>(kMaxOriginalBytes)) {
      failed = true;
      break;
    }
  }
  ::close(fd);
  if (failed) return std::nullopt;
  bytes.resize(filled);
  return bytes;
}

// A file in the temporary folder that is removed when this goes away.
class TemporaryFile {
 public:
  TemporaryFile() {
    std::error_code ignored;
    std::string pattern = (std::filesystem::temp_directory_path(ignored) / "tolvek-original-XXXXXX").string();
    fd_ = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (fd_ >= 0) path_ = pattern;
  }
  ~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  int fd() const { return fd_; }
  const std::string& path() const { return path_; }

 private:
  int fd_ = -1;
  std::string path_;
};

}  // namespace

LinuxImageManager::LinuxImageManager(StoredAssetIndex& index) : LinuxImageManager(index, {}) {}

LinuxImageManager::LinuxImageManager(StoredAssetIndex& index, DownloadLimits limits)
    : index_(index), limits_(limits) {}

std::unique_ptr<Picture> LinuxImageManager::render(const Asset& asset, PixelSize targetSize,
                                                   ContentMode contentMode, const ImageRequestOptions& options) {
  const std::optional<StoredAsset> stored = index_.storedAsset(asset.handle);
  if (!stored || stored->mediaType == kMediaAudio) return nullptr;
  MediaModule* module = loadMediaModule();
  if (module == nullptr) return nullptr;

  // The smallest derivative that covers the target; a damaged or missing
  // one just fails to render and the next source is tried.
  const auto& derivatives = stored->derivatives;
  for (std::size_t i = 0; i < derivatives.size(); ++i) {
    const bool last = i + 1 == derivatives.size();
    if (!covers(derivatives[i], targetSize, contentMode) && !(last && isWholePicture(derivatives[i]))) continue;
    if (auto picture = module->renderFile(derivatives[i].path, kMediaImage, targetSize)) return picture;
  }

  const StoredOriginal& original = stored->original;
  const std::int64_t mediaType = stored->mediaType == kMediaVideo ? kMediaVideo : kMediaImage;
  if (!original.path.empty()) {
    if (auto picture = module->renderFile(original.path, mediaType, targetSize)) return picture;
  } else if (!original.url.empty() && options.networkAccessAllowed) {
    TemporaryFile download;
    if (download.fd() >= 0 && !downloadToFile(original.url, download.fd(), limits_)) {
      if (auto picture = module->renderFile(download.path(), mediaType, targetSize)) return picture;
    }
  }

  // Better a smaller picture than none: the largest derivative that renders.
  for (auto it = derivatives.rbegin(); it != derivatives.rend(); ++it) {
    if (auto picture = module->renderFile(it->path, kMediaImage, targetSize)) return picture;
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
  if (!original.path.empty()) return readWholeFile(original.path);
  if (original.url.empty() || !options.networkAccessAllowed) return std::nullopt;
  DownloadLimits limits = limits_;
  limits.maxMemoryBytes = static_cast<std::uint64_t>(kMaxOriginalBytes);
  return downloadToMemory(original.url, limits);
}

void LinuxImageManager::requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                                       const DataHandler& resultHandler) {
  std::optional<std::string> data;
  std::optional<std::string> typeIdentifier;
  const std::optional<StoredAsset> stored = index_.storedAsset(asset.handle);
  if (stored && stored->mediaType != kMediaVideo && stored->mediaType != kMediaAudio) {
    data = originalBytes(stored->original, options);
    if (data && !stored->original.uniformTypeIdentifier.empty())
      typeIdentifier = stored->original.uniformTypeIdentifier;
  }
  if (resultHandler) resultHandler(std::move(data), std::move(typeIdentifier));
}

}  // namespace tolvek
