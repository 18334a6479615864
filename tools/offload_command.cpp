// offload ASSET_ID URL: the original is kept only at URL from now on; the
// local copy is removed, the derivatives stay.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/catalog_writer.h"
#include "tool_commands.h"

namespace tolvek::tool {

int runOffload(const Arguments& arguments) {
  if (arguments.size() != 2) return failWith("usage: offload ASSET_ID URL");
  const std::string& url = arguments[1];
  if (!url.starts_with("http://") && !url.starts_with("https://")) {
    return failWith("the URL must start with http:// or https://");
  }
  const LibraryLocation location = userLibraryLocation();
  std::string error;
  auto catalog = CatalogWriter::open(location, error);
  if (!catalog) return failWith(error);
  auto asset = catalog->assetRow(arguments[0]);
  if (!asset) return failWith("no asset with the identifier " + arguments[0]);
  auto localCopy = catalog->offloadOriginal(*asset, url);
  if (!localCopy) return failWith("cannot offload " + arguments[0]);
  // Removed only after the catalog stopped pointing at it.
  if (!localCopy->empty()) {
    const std::string path = location.libraryFolder + "/" + *localCopy;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      return failWith("cannot remove " + path + ": " + std::strerror(errno));
    }
  }
  return 0;
}

}  // namespace tolvek::tool
