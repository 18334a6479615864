#include "commands/albums_command.h"

#include "library/asset_queries.h"

namespace tolvek {

Document cmdAlbums(PhotoLibrary& library) {
  Document entries = Document::array();
  library.fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
      ->enumerateObjects([&](const AssetCollection& album, std::size_t, bool&) {
        const std::size_t count = library.fetchAssetsInAssetCollection(album, fetchOptions(0))->count();
        Document entry = Document::object();
        entry["id"] = album.localIdentifier;
        // An empty title stays empty; only a missing one is replaced.
        entry["name"] = album.localizedTitle ? *album.localizedTitle : std::string("Untitled album");
        entry["count"] = count;
        entries.push_back(std::move(entry));
      });
  Document document = Document::object();
  document["albums"] = std::move(entries);
  return document;
}

}  // namespace tolvek
