#include "commands/list_command.h"

#include <algorithm>
#include <optional>

#include "library/asset_queries.h"

namespace tolvek {

Document cmdList(PhotoLibrary& library, const IsoDateFormatter& iso, const std::string& albumId,
                 std::int64_t limit) {
  const std::int64_t effectiveLimit = std::clamp(limit, kListMinimum, kListMaximum);
  Document items = Document::array();
  Document document = Document::object();

  const bool wholeLibrary = albumId.empty() || albumId == "-";
  if (!wholeLibrary && !library.fetchAssetCollectionsWithLocalIdentifiers({albumId})->firstObject()) {
    document["items"] = std::move(items);
    return document;
  }

  // The limit is in the query already; the stop flag bounds the list even
  // when a fetch returns more than it was asked for.
  assetsInAlbum(library, albumId, effectiveLimit)
      ->enumerateObjects([&](const Asset& asset, std::size_t index, bool& stop) {
        if (index >= static_cast<std::size_t>(effectiveLimit)) {
          stop = true;
          return;
        }
        Document item = Document::object();
        item["id"] = asset.localIdentifier;
        item["name"] = originalName(library, asset);
        // A date the formatter cannot write (outside the years 1 to 9999) is null.
        const std::optional<std::string> date =
            asset.creationDate ? iso.stringFromDate(*asset.creationDate) : std::nullopt;
        item["date"] = date ? Document(*date) : Document(nullptr);
        item["isVideo"] = asset.mediaType == MediaType::video;
        items.push_back(std::move(item));
      });
  document["items"] = std::move(items);
  return document;
}

}  // namespace tolvek
