// album create TITLE | album create --untitled | album add ALBUM_ID ASSET_ID...
#include <cstdio>

#include "platform/catalog_writer.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

int createAlbum(const Arguments& arguments) {
  if (arguments.size() != 1) return failWith("usage: album create TITLE | album create --untitled");
  std::optional<std::string> title;
  if (arguments[0] != "--untitled") title = arguments[0];
  auto catalog = CatalogWriter::open(userLibraryLocation());
  if (!catalog) return failWith(catalog.message());
  auto identifier = (*catalog)->createAlbum(title);
  if (!identifier) return failWith(identifier.message());
  std::printf("%s\n", identifier->c_str());
  return 0;
}

int addToAlbum(const Arguments& arguments) {
  if (arguments.size() < 2) return failWith("usage: album add ALBUM_ID ASSET_ID...");
  auto catalog = CatalogWriter::open(userLibraryLocation());
  if (!catalog) return failWith(catalog.message());
  auto album = (*catalog)->albumRow(arguments[0]);
  if (!album) return failWith(album.message());
  int status = 0;
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    auto asset = (*catalog)->assetRow(arguments[i]);
    if (!asset) {
      status = failWith(asset.message());
    } else if (!(*catalog)->addToAlbum(*album, *asset)) {
      status = failWith("cannot add " + arguments[i] + " to the album");
    }
  }
  return status;
}

}  // namespace

int runAlbum(const Arguments& arguments) {
  if (arguments.empty()) return failWith("usage: album create TITLE | album add ALBUM_ID ASSET_ID...");
  const Arguments rest(arguments.begin() + 1, arguments.end());
  if (arguments[0] == "create") return createAlbum(rest);
  if (arguments[0] == "add") return addToAlbum(rest);
  return failWith("unknown album command '" + arguments[0] + "'");
}

}  // namespace tolvek::tool
