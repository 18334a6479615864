#include "commands/albums_command.h"

#include "commands/json_writer.h"
#include "library/asset_queries.h"

namespace tolvek {

ResultDocument cmdAlbums(PhotoLibrary& library) {
  JsonWriter out(4096);
  out.beginObject().key("albums").beginArray();
  library.fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
      ->enumerateObjects([&](const AssetCollection& album, std::size_t, bool&) {
        const std::size_t count = library.fetchAssetsInAssetCollection(album, fetchOptions(0))->count();
        // Keys in byte order, as documents have always had them. An empty
        // title stays empty; only a missing one is replaced.
        out.beginObject().key("count").unsignedInteger(count).key("id").string(album.localIdentifier);
        out.key("name").string(album.localizedTitle ? *album.localizedTitle : std::string_view("Untitled album"));
        out.endObject();
      });
  out.endArray().endObject();
  return std::move(out).finish();
}

}  // namespace tolvek
