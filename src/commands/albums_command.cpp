#include "commands/albums_command.h"

#include "commands/json_writer.h"
#include "library/asset_queries.h"

namespace tolvek {

ResultDocument cmdAlbums(PhotoLibrary& library) {
  const auto albums = library.fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny);
  // Room for the whole document at once (an album takes about a hundred
  // bytes): growing it would copy it, and fresh memory is dear.
  JsonWriter out(64 + 192 * albums->count());
  out.beginObject().key("albums").beginArray();
  albums->enumerateObjects([&](const AssetCollection& album, std::size_t, bool&) {
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
