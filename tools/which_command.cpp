// which PATH...: the identifier of the asset each file names, so that files
// can be given wherever identifiers are taken and to tolvek-photos.
#include <cstdio>

#include "platform/catalog/catalog_writer.h"
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
  auto catalog = openCatalog();
  if (!catalog) return kExitFailure;
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
