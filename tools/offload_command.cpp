// offload ASSET_ID URL: the original is kept only at URL from now on; the
// local copy is removed, the derivatives stay. The URL is downloaded first
// and must serve exactly the original: otherwise nothing changes.
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/catalog_writer.h"
#include "platform/posix/temporary_files.h"
#include "platform/remote_download.h"
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
  const auto original = catalog->original(*asset);
  if (!original) return failWith("cannot offload " + arguments[0] + ": the asset has no original");

  // What the URL must serve: the local copy's content, or, for an original
  // that is already remote, what the catalog recorded for it.
  ContentDigest expected;
  if (!original->path.empty()) {
    auto digest = digestOfFile(original->path);
    if (!digest) return failWith("cannot read the original " + original->path + ": " + digest.message());
    expected = *digest;
  } else if (original->size && !original->sha256.empty()) {
    expected = ContentDigest{*original->size, original->sha256};
  } else {
    return failWith("cannot offload " + arguments[0] +
                    ": the library has neither a copy nor the content hash of its original to check the URL against");
  }

  auto download = TemporaryFile::createIn(location.libraryFolder, 0600);
  if (!download) return failWith("cannot make a temporary file in " + location.libraryFolder + ": " + download.message());
  if (Status checked = downloadOriginal(url, ExpectedContent{expected.size, expected.sha256}, *download, {});
      !checked) {
    return failWith("not offloaded: " + url + " does not serve the original of " + arguments[0] + " (" +
                    checked.message() + "); nothing was changed");
  }

  auto localCopy = catalog->offloadOriginal(*asset, url, expected);
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
