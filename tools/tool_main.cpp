// tolvek-photos-library: fills and manages the per-user photo library that
// the tolvek-photos helper reads.
#include <cstdio>
#include <string>
#include <string_view>

#include "bundle/bundle_info.h"
#include "platform/posix/temporary_files.h"
#include "command_table.h"
#include "tool_commands.h"

namespace {

using tolvek::tool::Arguments;
using tolvek::tool::kExitOk;
using tolvek::tool::kExitUsage;
using tolvek::tool::ToolCommand;

// Prints the overview to `stream`; gives `status`.
int printOverview(std::FILE* stream, int status) {
  std::fputs(tolvek::tool::overviewText().c_str(), stream);
  return status;
}

int printCommandHelp(const ToolCommand& command) {
  std::fputs(tolvek::tool::commandHelpText(command).c_str(), stdout);
  return kExitOk;
}

// True when the arguments ask for help: "--help" or "-h" before any "--".
bool asksForHelp(const Arguments& arguments) {
  for (const std::string& a : arguments) {
    if (a == "--") return false;
    if (a == "--help" || a == "-h") return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Temporary files (downloads being checked) go with the process.
  tolvek::installTemporaryFileCleanup();
  const Arguments arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) return printOverview(stderr, kExitUsage);
  const std::string& word = arguments.front();
  const Arguments rest(arguments.begin() + 1, arguments.end());
  if (word == "--help" || word == "-h") return printOverview(stdout, kExitOk);
  if (word == "--version") {
    std::printf("tolvek-photos-library %s\n", tolvek::embeddedBundleInfo().version.c_str());
    return kExitOk;
  }
  if (word == "help") {
    if (rest.empty() || rest.front() == "help" || rest.front() == "--help") return printOverview(stdout, kExitOk);
    if (const ToolCommand* command = tolvek::tool::findToolCommand(rest.front())) return printCommandHelp(*command);
    return tolvek::tool::usageError("help", "unknown command '" + rest.front() + "'");
  }
  const ToolCommand* command = tolvek::tool::findToolCommand(word);
  if (command == nullptr) {
    std::fprintf(stderr, "tolvek-photos-library: unknown command '%s'\nTry 'tolvek-photos-library --help'.\n",
                 tolvek::tool::outputField(word).c_str());
    return kExitUsage;
  }
  if (asksForHelp(rest)) return printCommandHelp(*command);
  return command->run(rest);
}
