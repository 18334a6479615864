#pragma once
// The commands of tolvek-photos-library and what they share. Each command
// takes the arguments after its command word, writes what it found on
// standard output (fields separated by tabs, see outputField), errors on
// standard error, and returns the exit status.
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "library/status.h"

namespace tolvek {
class CatalogWriter;
class LibraryWriter;
}

namespace tolvek::tool {

using Arguments = std::vector<std::string>;

// Exit statuses: done (skipped clutter and content already in the library
// included); something the user asked for could not be done; the command
// line itself was wrong.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

int runImport(const Arguments& arguments);
int runAlbum(const Arguments& arguments);
int runAccess(const Arguments& arguments);
int runFavorite(const Arguments& arguments);
int runOffload(const Arguments& arguments);
int runRemove(const Arguments& arguments);
int runStatus(const Arguments& arguments);
int runPath(const Arguments& arguments);
int runAdd(const Arguments& arguments);
int runSync(const Arguments& arguments);
int runSources(const Arguments& arguments);
int runForget(const Arguments& arguments);
int runWhich(const Arguments& arguments);
int runWatch(const Arguments& arguments);
// watch --install (true) or --uninstall: the systemd user service.
int runUserUnit(bool install);

// "tolvek-photos-library: " + message + newline on standard error; gives
// kExitFailure.
int failWith(const std::string& message);
// "tolvek-photos-library: COMMAND: message" and where to find the command's
// help, on standard error; gives kExitUsage.
int usageError(std::string_view command, const std::string& message);

// The user's library opened for a command: its writer, or (with the sources
// lock too) for a command that changes the sources, or its catalog alone.
// Null when it cannot be opened, after saying why with failWith.
std::unique_ptr<LibraryWriter> openLibrary();
std::unique_ptr<LibraryWriter> openLibraryToChangeSources();
std::unique_ptr<CatalogWriter> openCatalog();

// An option a command takes: "--name", with a value ("--name VALUE" or
// "--name=VALUE") when `takesValue`.
struct KnownOption {
  std::string_view name;  // without the dashes
  bool takesValue = false;
};
struct ParsedArguments {
  std::vector<std::pair<std::string, std::string>> options;  // name, value ("" for a flag), in order
  Arguments operands;
  bool has(std::string_view name) const;
  // The value of the last occurrence; nothing when absent.
  const std::string* value(std::string_view name) const;
};
// Options anywhere before "--"; "-" and everything after "--" are operands.
// Fails with "unknown option '-x'", "option '--album' needs a value" or
// "option '--off' takes no value".
Result<ParsedArguments> parseArguments(const Arguments& arguments, std::span<const KnownOption> options);
Result<ParsedArguments> parseArguments(const Arguments& arguments, std::initializer_list<KnownOption> options);

// The operands as identifiers: an operand "-" stands for the lines of
// standard input (one identifier a line, blank lines and surrounding spaces
// ignored), so that lists longer than a command line allows can be given.
// Fails when standard input cannot be read or holds too many.
Result<Arguments> identifiersFrom(const Arguments& operands);

// The rows of the assets that `operands` name, each once, in the order
// given: an identifier, else the path of a file the library knows (a copy in
// a source, or a file whose content it holds; see CatalogWriter::
// assetOfPath), looked up with the writer lock let go of meanwhile. Every
// operand that names nothing is reported on standard error, and then it
// fails ("nothing was changed", ErrorCode::notFound), so that a command
// changes all or nothing. Fails also when the catalog cannot be read.
Result<std::vector<std::int64_t>> resolveAssets(CatalogWriter& catalog, const Arguments& operands);

// `text` as one field of a tab-separated output line: a tab, line feed and
// backslash become \t, \n and \\, other control characters and bytes that are
// not UTF-8 become \xHH. Valid UTF-8 otherwise stays as it is.
std::string outputField(std::string_view text);

}  // namespace tolvek::tool
