#pragma once
// The helper's commands, one row each: the word that selects it, its usage,
// how many arguments it needs and what runs it. The dispatch and the
// program's usage line come from this table alone, and so does the manual
// page's list of commands, so a new command is one new row here (and its code
// in src/commands/).
#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/application.h"
#include "commands/document.h"

namespace tolvek {

using CommandArguments = std::vector<std::string>;

struct Command {
  std::string_view word;  // matched exactly and case-sensitively
  std::string_view usage;  // the message of the usage error for too few arguments
  std::size_t minimumArguments;  // after the word
  // Runs the command with the arguments after the word: at least
  // minimumArguments of them; those beyond what it takes are ignored.
  ResultDocument (*run)(Application& application, const CommandArguments& arguments);
  // One line for the manual page: what the command prints. Never printed by
  // the helper itself.
  std::string_view description;
};

// Every command, in the order the usage line names them.
std::span<const Command> commands();

// The command `word` selects, or null.
const Command* findCommand(std::string_view word);

// "tolvek-photos albums|list|thumbs|export": the words of the table.
const std::string& programUsage();

}  // namespace tolvek
