#include "commands/thumbs_command.h"

#include <algorithm>
#include <map>
#include <memory>

#include "commands/jpeg_data.h"
#include "commands/json_writer.h"
#include "library/asset_queries.h"

namespace tolvek {

ResultDocument cmdThumbs(PhotoLibrary& library, std::int64_t size, const std::vector<std::string>& ids) {
  const std::int64_t side = std::clamp(size, kThumbnailMinimumSide, kThumbnailMaximumSide);
  ImageManager& images = library.imageManager();
  ImageRequestOptions options;
  options.networkAccessAllowed = true;

  // By identifier, in byte order as documents have always had them; a
  // repeated identifier keeps its last picture.
  std::map<std::string, std::string> thumbs;
  for (const Asset& asset : assetsWithIds(library, ids)) {
    // The request is synchronous: the handler has run when it returns. A
    // later delivery for the same request replaces an earlier one.
    std::unique_ptr<Picture> picture;
    images.requestImage(asset, PixelSize{side, side}, ContentMode::aspectFill, options,
                        [&picture](std::unique_ptr<Picture> delivered) { picture = std::move(delivered); });
    if (!picture) continue;
    const std::optional<std::string> jpeg = jpegData(*picture, kThumbnailQuality);
    if (!jpeg) continue;
    thumbs.insert_or_assign(asset.localIdentifier, jpegDataUrl(*jpeg));
  }
  std::size_t bytes = 64;
  for (const auto& [identifier, url] : thumbs) bytes += identifier.size() + url.size() + 8;
  JsonWriter out(bytes);
  out.beginObject().key("thumbs").beginObject();
  for (const auto& [identifier, url] : thumbs) out.key(identifier).string(url);
  out.endObject().endObject();
  return std::move(out).finish();
}

}  // namespace tolvek
