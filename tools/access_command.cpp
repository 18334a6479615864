// access grant | limit ASSET_ID... | limit - | deny | restrict | reset: the answer
// recorded for the tolvek-photos helper.
#include <set>

#include "bundle/bundle_info.h"
#include "platform/access/access_store.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/json_string_array.h"
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
  auto parsed = parseArguments(arguments, {});
  if (!parsed) return usageError("access", parsed.message());
  const Arguments& operands = parsed->operands;
  if (operands.empty()) return usageError("access", "which answer: grant, limit, deny, restrict or reset?");
  const std::string& what = operands[0];
  auto identifiers = identifiersFrom(Arguments(operands.begin() + 1, operands.end()));
  if (!identifiers) return failWith(identifiers.message());
  const Arguments& rest = *identifiers;
  const LibraryLocation location = userLibraryLocation();
  std::optional<AccessAnswer> answer;
  if (what == "limit") {
    // Like `album add`: an identifier that names no asset is an error, and
    // then nothing is recorded.
    const std::vector<std::string> found = existingAssets(location, rest);
    const std::set<std::string> known(found.begin(), found.end());
    bool missing = false;
    for (const std::string& id : rest) {
      if (!known.contains(id)) missing = failWith("no asset with the identifier " + echoedIdentifier(id)) != 0;
    }
    if (missing) return failWith("nothing was recorded");
    answer = AccessAnswer{AuthorizationStatus::limited, found};
  } else {
    if (operands.size() > 1) return usageError("access", "access " + what + " takes no further arguments");
    if (what == "grant") {
      answer = AccessAnswer{AuthorizationStatus::authorized, {}};
    } else if (what == "deny") {
      answer = AccessAnswer{AuthorizationStatus::denied, {}};
    } else if (what == "restrict") {
      answer = AccessAnswer{AuthorizationStatus::restricted, {}};
    } else if (what != "reset") {
      return usageError("access", "unknown answer '" + what + "'");
    }
  }
  AccessStore store(location.accessStorePath);
  if (Status written = store.write(embeddedBundleInfo().identifier, answer); !written) {
    return failWith(written.message());
  }
  return kExitOk;
}

}  // namespace tolvek::tool
