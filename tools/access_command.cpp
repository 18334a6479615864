// access grant | limit ASSET_ID... | limit - | deny | restrict | reset: the answer
// recorded for the tolvek-photos helper.
#include <set>

#include "bundle/bundle_info.h"
#include "platform/access/access_store.h"
#include "platform/catalog/catalog_writer.h"
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

// The assets `operands` name: identifiers of listed assets read without the
// writer lock; only when one is none, the catalog's writer looks up the
// others as identifiers or paths of files (see resolveAssets), reporting each
// that names nothing, after which nothing may be recorded. A half of a pair
// names the pair, the asset the helper shows.
Result<std::vector<std::string>> limitedAssets(const LibraryLocation& location, const Arguments& operands) {
  std::vector<std::string> found = existingAssets(location, operands);
  const std::set<std::string> known(found.begin(), found.end());
  Arguments others;
  for (const std::string& operand : operands) {
    if (!known.contains(operand)) others.push_back(operand);
  }
  if (others.empty()) return found;
  auto catalog = openCatalog();
  if (!catalog) return Status::error("nothing was recorded");
  auto rows = resolveAssets(*catalog, others);
  if (!rows) return rows.code() == ErrorCode::notFound ? Status::error("nothing was recorded") : rows.status();
  std::set<std::string> listed(known);
  for (const std::int64_t row : *rows) {
    auto shown = catalog->shownAsset(row);
    if (!shown) return shown.status();
    if (listed.insert(shown->identifier).second) found.push_back(shown->identifier);
  }
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
    auto found = limitedAssets(location, rest);
    if (!found) return failWith(found.message());
    answer = AccessAnswer{AuthorizationStatus::limited, std::move(found).value()};
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
