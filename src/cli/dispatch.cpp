#include "cli/dispatch.h"

#include "cli/command_table.h"
#include "cli/result_document.h"

namespace tolvek {
namespace {

DispatchResult usage(std::string_view message) { return {errorResult(kUsageCode, message), kExitUsage}; }

}  // namespace

DispatchResult dispatch(const std::vector<std::string>& argv, Application& application) {
  if (argv.empty()) return usage(programUsage());
  if (!application.ensureAccess()) {
    return {errorResult(kAccessRefusedCode, kAccessRefusedMessage), kExitAccessRefused};
  }
  const Command* command = findCommand(argv[0]);
  if (command == nullptr) return usage(std::string(kUnknownCommandPrefix) + argv[0]);
  const CommandArguments arguments(argv.begin() + 1, argv.end());
  if (arguments.size() < command->minimumArguments) return usage(command->usage);
  return {command->run(application, arguments), kExitSuccess};
}

}  // namespace tolvek
