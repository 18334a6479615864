#include "commands/list_command.h"

#include <algorithm>

#include "commands/json_writer.h"
#include "library/asset_queries.h"

namespace tolvek {

ResultDocument cmdList(PhotoLibrary& library, const IsoDateFormatter& iso, const std::string& albumId,
                       std::int64_t limit) {
  const std::int64_t effectiveLimit = std::clamp(limit, kListMinimum, kListMaximum);
  // An item takes about a hundred bytes.
  JsonWriter out(static_cast<std::size_t>(64 + 128 * effectiveLimit));
  out.beginObject().key("items").beginArray();
  // Nothing for an identifier that names no collection.
  if (const auto assets = listedAssets(library, albumId, effectiveLimit)) {
    // The limit is in the query already; the stop flag bounds the list even
    // when a fetch returns more than it was asked for.
    assets->enumerateObjects([&](const Asset& asset, std::size_t index, bool& stop) {
      if (index >= static_cast<std::size_t>(effectiveLimit)) {
        stop = true;
        return;
      }
      // Keys in byte order, as documents have always had them. A date the
      // formatter cannot write (outside the years 1 to 9999) is null.
      char text[IsoDateFormatter::kLength];
      const std::string_view date = asset.creationDate ? iso.writeDate(*asset.creationDate, text) : std::string_view();
      out.beginObject().key("date");
      if (date.empty()) {
        out.null();
      } else {
        out.string(date);
      }
      out.key("id").string(asset.localIdentifier);
      out.key("isVideo").boolean(asset.mediaType == MediaType::video);
      out.key("name").string(originalName(library, asset));
      out.endObject();
    });
  }
  out.endArray().endObject();
  return std::move(out).finish();
}

}  // namespace tolvek
