#pragma once
// The commands of tolvek-photos-library, one row each: the word, its lines in
// the overview, its own help and what runs it. The overview, each command's
// help, the dispatch, the manual page and the shell completion all come from
// this table, so every text of a command is written once.
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tool_commands.h"

namespace tolvek::tool {

struct ToolCommand {
  std::string_view word;
  std::string_view summary;  // lines of the overview, each starting with the usage
  std::string_view help;     // the rest of the command's help: what it does, options, output
  int (*run)(const Arguments& arguments);
  std::span<const KnownOption> (*options)();  // what it reads with parseArguments
};

// Every command, in the order the overview lists them.
std::span<const ToolCommand> toolCommands();
// The command `word` selects, or null.
const ToolCommand* findToolCommand(std::string_view word);

// The options of the command `word`: each command parses its arguments with
// these, and the completion offers them. None for a word no row has.
std::span<const KnownOption> commandOptions(std::string_view word);

// The text of --help: usage, every command's summary, the options.
std::string overviewText();
// The usages of a command, without the program's name ("album list", ...).
std::vector<std::string> usageLines(const ToolCommand& command);

// One usage of the overview with what it does, its continued lines joined.
struct SummaryEntry {
  std::string usage;        // "album list"
  std::string description;  // "list the albums"
};
// The entries of summary lines in the overview's layout.
std::vector<SummaryEntry> summaryEntries(std::string_view summary);
// The overview's lines for "help COMMAND", which no row runs.
std::string_view helpSummary();
// Every usage the overview lists: each row's, then help's.
std::vector<std::string> overviewUsages();
// The text of "help COMMAND": its usages, then its help.
std::string commandHelpText(const ToolCommand& command);

}  // namespace tolvek::tool
