// which PATH...: the identifier of the asset each file names, so that files
// can be given wherever identifiers are taken and to tolvek-photos.
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/catalog/catalog_writer.h"
#include "platform/system/library_location.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {

int runWhich(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, commandOptions("which"));
  if (!parsed) return usageError("which", parsed.message());
  if (parsed->operands.empty()) return usageError("which", "no PATH given");
  auto paths = identifiersFrom(parsed->operands);
  if (!paths) return failWith(paths.message());
  if (paths->empty()) return kExitOk;
  // Read-only: a library that is not there is not made, and the writer
  // lock is let go of at once, so that hashing a file the library holds by
  // content never holds up a running watch or another tool.
  const LibraryLocation location = userLibraryLocation();
  if (::access(location.catalogPath.c_str(), F_OK) != 0 && errno == ENOENT) {
    return failWith("no library yet at " + location.libraryFolder + ": nothing was imported or synced");
  }
  auto catalog = openCatalog();
  if (!catalog) return kExitFailure;
  catalog->holdLockOnlyInBatches();
  int status = kExitOk;
  for (const std::string& path : *paths) {
    auto owner = catalog->assetOfPath(path);
    if (!owner) return failWith(owner.message());
    if (owner->row) {
      std::printf("%s\t%s\n", outputField(owner->identifier).c_str(), outputField(path).c_str());
      continue;
    }
    status = failWith(path + (owner->unread.empty() ? ": not in the library" : ": not in the library: " + owner->unread));
  }
  return status;
}

}  // namespace tolvek::tool
