// favorite ASSET_ID...
#include "platform/catalog_writer.h"
#include "tool_commands.h"

namespace tolvek::tool {

int runFavorite(const Arguments& arguments) {
  if (arguments.empty()) return failWith("usage: favorite ASSET_ID...");
  auto catalog = CatalogWriter::open(userLibraryLocation());
  if (!catalog) return failWith(catalog.message());
  int status = 0;
  for (const std::string& id : arguments) {
    auto asset = (*catalog)->assetRow(id);
    if (!asset) {
      status = failWith(asset.message());
    } else if (!(*catalog)->setFavorite(*asset, true)) {
      status = failWith("cannot mark " + id + " as a favourite");
    }
  }
  return status;
}

}  // namespace tolvek::tool
