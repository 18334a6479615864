// offload ASSET_ID URL: the original is kept only at URL from now on; the
// local copy is removed, the derivatives stay. The URL is downloaded first
// and must serve exactly the original: otherwise nothing changes.
#include "platform/library_writer.h"
#include "tool_commands.h"

namespace tolvek::tool {

int runOffload(const Arguments& arguments) {
  if (arguments.size() != 2) return usageError("offload", "usage: offload ASSET_ID URL");
  const std::string& url = arguments[1];
  if (!url.starts_with("http://") && !url.starts_with("https://")) {
    return usageError("offload", "the URL must start with http:// or https://");
  }
  auto library = openLibrary();
  if (!library) return kExitFailure;
  // The asset named by its identifier or by the path of one of its files.
  auto rows = resolveAssets(library->catalog(), {arguments[0]});
  if (!rows) return failWith(rows.message());
  auto identifier = library->catalog().assetIdentifier(rows->front());
  if (!identifier) return failWith(identifier.message());
  if (Status offloaded = library->offload(*identifier, url); !offloaded) return failWith(offloaded.message());
  return kExitOk;
}

}  // namespace tolvek::tool
