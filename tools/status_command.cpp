// status and path: where the library is and what it holds, one fact a line.
#include <ftw.h>
#include <sys/stat.h>

#include <cstdio>

#include "bundle/bundle_info.h"
#include "platform/access/access_store.h"
#include "platform/catalog/catalog_failures.h"
#include "platform/library_writer.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

// Bytes the library's files take on disk (links counted as links).
std::uint64_t sizeOnDisk(const std::string& folder) {
  static std::uint64_t total;
  total = 0;
  const auto add = [](const char*, const struct stat* info, int, struct FTW*) {
    total += static_cast<std::uint64_t>(info->st_blocks) * 512;
    return 0;
  };
  nftw(folder.c_str(), add, 16, FTW_PHYS);
  return total;
}

std::string accessText(const AccessAnswer& answer) {
  switch (answer.status) {
    case AuthorizationStatus::notDetermined: return "not asked yet";
    case AuthorizationStatus::restricted: return "restricted";
    case AuthorizationStatus::denied: return "denied";
    case AuthorizationStatus::authorized: return "granted";
    case AuthorizationStatus::limited: {
      const std::size_t n = answer.chosenAssets.size();
      return "limited to " + std::to_string(n) + (n == 1 ? " asset" : " assets");
    }
  }
  return "unknown";
}

}  // namespace

int runStatus(const Arguments& arguments) {
  if (!arguments.empty()) return usageError("status", "takes no arguments");
  const LibraryLocation location = userLibraryLocation();
  // A damaged catalog: the folder and the first problem on standard output,
  // why it matters and what to do (with its last backup) on standard error.
  const auto damaged = [&](const std::string& problem, const Status& explained) {
    std::printf("folder\t%s\ncatalog\tdamaged: %s\n", outputField(location.libraryFolder).c_str(),
                outputField(problem).c_str());
    std::fflush(stdout);
    return failWith(explained.message());
  };
  auto library = LibraryWriter::open(location);
  if (!library) {
    if (library.status().code() == ErrorCode::damaged) return damaged("SQLite cannot read it", library.status());
    return failWith(library.message());
  }
  CatalogWriter& catalog = (*library)->catalog();
  // First: the counts of a damaged catalog may be wrong, or fail.
  auto problems = catalog.quickCheck();
  if (!problems) {
    if (problems.status().code() == ErrorCode::damaged) return damaged("SQLite cannot read it", problems.status());
    return failWith(problems.message());
  }
  if (!problems->empty()) return damaged(problems->front(), damagedCatalog(location.catalogPath, problems->front()));
  auto counts = catalog.counts();
  if (!counts) return failWith(counts.message());
  auto sources = catalog.sources();
  if (!sources) return failWith(sources.message());
  std::size_t offline = 0;
  for (const Source& source : *sources) {
    auto count = catalog.assetCountOf(source.row);
    if (!count) return failWith(count.message());
    if (!sourceOfflineReason(source, *count > 0).empty()) ++offline;
  }
  const AccessAnswer answer = AccessStore(location.accessStorePath).read(embeddedBundleInfo().identifier);
  std::printf("folder\t%s\nschema\t%lld\nassets\t%lld\nalbums\t%lld\nsources\t%zu present, %zu offline\n"
              "access\t%s\nsize\t%llu bytes\ncatalog\tok\n",
              outputField(location.libraryFolder).c_str(), static_cast<long long>(counts->schemaVersion),
              static_cast<long long>(counts->assets), static_cast<long long>(counts->albums),
              sources->size() - offline, offline, accessText(answer).c_str(),
              static_cast<unsigned long long>(sizeOnDisk(location.libraryFolder)));
  return kExitOk;
}

}  // namespace tolvek::tool

namespace tolvek::tool {

int runPath(const Arguments& arguments) {
  if (!arguments.empty()) return usageError("path", "takes no arguments");
  std::printf("%s\n", userLibraryLocation().libraryFolder.c_str());
  return kExitOk;
}

}  // namespace tolvek::tool
