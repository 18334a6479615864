#include "commands/thumbs_command.h"

#include <algorithm>
#include <memory>

#include "commands/jpeg_data.h"
#include "library/asset_queries.h"

namespace tolvek {

Document cmdThumbs(PhotoLibrary& library, std::int64_t size, const std::vector<std::string>& ids) {
  const std::int64_t side = std::clamp(size, kThumbnailMinimumSide, kThumbnailMaximumSide);
  ImageManager& images = library.imageManager();
  ImageRequestOptions options;
  options.networkAccessAllowed = true;

  Document thumbs = Document::object();
  for (const Asset& asset : assetsWithIds(library, ids)) {
    // The request is synchronous: the handler has run when it returns. A
    // later delivery for the same request replaces an earlier one.
    std::unique_ptr<Picture> picture;
    images.requestImage(asset, PixelSize{side, side}, ContentMode::aspectFill, options,
                        [&picture](std::unique_ptr<Picture> delivered) { picture = std::move(delivered); });
    if (!picture) continue;
    const std::optional<std::string> jpeg = jpegData(*picture, kThumbnailQuality);
    if (!jpeg) continue;
    thumbs[asset.localIdentifier] = jpegDataUrl(*jpeg);
  }
  Document document = Document::object();
  document["thumbs"] = std::move(thumbs);
  return document;
}

}  // namespace tolvek
