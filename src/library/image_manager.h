#pragma once
// Pictures of assets: a rendered picture for a target size, or the original's
// bytes. Every request is synchronous: the handler has run exactly once when
// the call returns.
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "library/photo_types.h"
#include "library/picture.h"

namespace tolvek {

enum class ContentMode : std::int64_t { aspectFit = 0, aspectFill = 1 };
// What a request may do besides reading the library's own files. Every
// request is synchronous and delivers the best picture it has: one result,
// never a quick one followed by a better one.
struct ImageRequestOptions {
  // May download an original that is kept only at a URL (checked against
  // its recorded size and hash before use).
  bool networkAccessAllowed = false;
};

class ImageManager {
 public:
  using ImageHandler = std::function<void(std::unique_ptr<Picture> picture)>;
  using DataHandler =
      std::function<void(std::optional<std::string> data, std::optional<std::string> typeIdentifier)>;

  virtual ~ImageManager() = default;
  // An upright picture of `asset` for `targetSize`: with aspect fill, the
  // smallest size that covers the box, never larger than the original.
  // Nothing for audio, missing or unreadable originals.
  virtual void requestImage(const Asset& asset, PixelSize targetSize, ContentMode contentMode,
                            const ImageRequestOptions& options, const ImageHandler& resultHandler) = 0;
  // The original picture's bytes and its type identifier ("public.heic", ...);
  // nothing for videos, audio and originals that cannot be read.
  virtual void requestImageDataAndOrientation(const Asset& asset, const ImageRequestOptions& options,
                                              const DataHandler& resultHandler) = 0;
};

}  // namespace tolvek
