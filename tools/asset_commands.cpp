// favorite [--off] ASSET_ID... | remove ASSET_ID...: changes to assets, each
// made for every identifier named or, when one cannot be, for none.
#include <cstdio>
#include <optional>
#include <string_view>
#include <unordered_set>

#include "platform/catalog/catalog_identifiers.h"
#include "platform/library_writer.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {

namespace {

// An operand as a message repeats it: a path whole (up to the longest the
// system takes), anything else as an identifier is repeated.
std::string echoedOperand(const std::string& operand) {
  constexpr std::size_t kLongestPath = 4096;
  if (operand.find('/') != std::string::npos && operand.size() <= kLongestPath) return operand;
  return echoedIdentifier(operand);
}

}  // namespace

Result<std::vector<std::int64_t>> resolveAssets(CatalogWriter& catalog, const Arguments& operands) {
  std::vector<std::optional<std::int64_t>> named(operands.size());
  bool paths = false;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    auto row = catalog.assetRow(operands[i]);
    if (row) {
      named[i] = *row;
    } else if (row.code() != ErrorCode::notFound) {
      return row.status();  // the catalog itself cannot be read
    } else {
      paths = true;
    }
  }
  if (paths) {
    // Not identifiers: paths of files the library knows, if they are. They
    // are looked up, a file hashed, without the writer lock, so that a
    // running watch or another tool is not held up meanwhile.
    catalog.holdLockOnlyInBatches();
    for (std::size_t i = 0; i < operands.size(); ++i) {
      if (named[i]) continue;
      auto owner = catalog.assetOfPath(operands[i]);
      if (!owner) return owner.status();
      named[i] = owner->row;
    }
    if (Status held = catalog.holdLockThroughout(); !held) return held;
  }
  std::vector<std::int64_t> rows;
  std::unordered_set<std::int64_t> seen;
  bool missing = false;
  for (std::size_t i = 0; i < operands.size(); ++i) {
    if (!named[i]) {
      failWith("no asset with the identifier or path " + echoedOperand(operands[i]));
      missing = true;
    } else if (seen.insert(*named[i]).second) {
      rows.push_back(*named[i]);
    }
  }
  if (missing) return Status::error("nothing was changed", ErrorCode::notFound);
  return rows;
}

namespace {

// Reads the identifiers the operands name into `identifiers`; the exit
// status when the command ends here: none named, standard input unreadable,
// or "-" with nothing on it (nothing to do).
std::optional<int> takeIdentifiers(std::string_view command, const Arguments& operands, Arguments& identifiers) {
  if (operands.empty()) return usageError(command, "no ASSET_ID given");
  auto read = identifiersFrom(operands);
  if (!read) return failWith(read.message());
  if (read->empty()) return kExitOk;
  identifiers = std::move(read).value();
  return std::nullopt;
}

}  // namespace

int runFavorite(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, commandOptions("favorite"));
  if (!parsed) return usageError("favorite", parsed.message());
  Arguments identifiers;
  if (const auto done = takeIdentifiers("favorite", parsed->operands, identifiers)) return *done;
  auto catalog = openCatalog();
  if (!catalog) return kExitFailure;
  auto rows = resolveAssets(*catalog, identifiers);
  if (!rows) return failWith(rows.message());
  if (Status marked = catalog->setFavorite(*rows, !parsed->has("off")); !marked) return failWith(marked.message());
  return kExitOk;
}

int runRemove(const Arguments& arguments) {
  auto parsed = parseArguments(arguments, {});
  if (!parsed) return usageError("remove", parsed.message());
  Arguments identifiers;
  if (const auto done = takeIdentifiers("remove", parsed->operands, identifiers)) return *done;
  auto library = openLibrary();
  if (!library) return kExitFailure;
  auto rows = resolveAssets(library->catalog(), identifiers);
  if (!rows) return failWith(rows.message());
  bool refused = false;
  for (std::size_t i = 0; i < rows->size(); ++i) {
    auto identifier = library->catalog().assetIdentifier((*rows)[i]);
    if (!identifier) return failWith(identifier.message());
    if (Status removable = library->removable(*identifier, (*rows)[i]); !removable) {
      failWith(removable.message());
      refused = true;
    }
  }
  if (refused) return failWith("nothing was removed");
  if (Status removed = library->remove(*rows); !removed) return failWith(removed.message());
  std::fprintf(stderr, "tolvek-photos-library: removed %zu asset%s\n", rows->size(), rows->size() == 1 ? "" : "s");
  return kExitOk;
}

}  // namespace tolvek::tool
