// access grant | limit ASSET_ID... | deny | restrict | reset: the answer
// recorded for the tolvek-photos helper.
#include <set>

#include "bundle/bundle_info.h"
#include "platform/access_store.h"
#include "platform/catalog_reader.h"
#include "platform/json_string_array.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

// The identifiers among `wanted` that name assets of the library, in order.
std::vector<std::string> existingAssets(const LibraryLocation& location, const Arguments& wanted) {
  std::vector<std::string> found;
  if (wanted.empty()) return found;
  auto catalog = CatalogReader::open(location);
  AssetQuery query;
  query.scope = AssetScope::identifiers;
  query.identifiersJson = jsonStringArray(wanted);
  catalog->forEachAsset(query, [&found](const Asset& asset) {
    found.push_back(asset.localIdentifier);
    return true;
  });
  return found;
}

}  // namespace

int runAccess(const Arguments& arguments) {
  if (arguments.empty()) return failWith("usage: access grant|limit ASSET_ID...|deny|restrict|reset");
  const std::string& what = arguments[0];
  const Arguments rest(arguments.begin() + 1, arguments.end());
  const LibraryLocation location = userLibraryLocation();
  std::optional<AccessAnswer> answer;
  if (what == "limit") {
    // Like `album add`: an identifier that names no asset is an error, and
    // then nothing is recorded.
    const std::vector<std::string> found = existingAssets(location, rest);
    const std::set<std::string> known(found.begin(), found.end());
    int status = 0;
    for (const std::string& id : rest) {
      if (!known.contains(id)) status = failWith("no asset with the identifier " + id);
    }
    if (status != 0) return status;
    answer = AccessAnswer{AuthorizationStatus::limited, found};
  } else {
    if (!rest.empty()) return failWith("access " + what + " takes no further arguments");
    if (what == "grant") {
      answer = AccessAnswer{AuthorizationStatus::authorized, {}};
    } else if (what == "deny") {
      answer = AccessAnswer{AuthorizationStatus::denied, {}};
    } else if (what == "restrict") {
      answer = AccessAnswer{AuthorizationStatus::restricted, {}};
    } else if (what != "reset") {
      return failWith("unknown access command '" + what + "'");
    }
  }
  AccessStore store(location.accessStorePath);
  if (Status written = store.write(embeddedBundleInfo().identifier, answer); !written) {
    return failWith(written.message());
  }
  return 0;
}

}  // namespace tolvek::tool
