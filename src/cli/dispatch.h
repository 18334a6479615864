#pragma once
// Selects and runs the command a decoded command line names. Pure: it calls
// only the Application and the command table, writes nothing and never ends
// the process, so the entry decides what to do with the result.
#include <string>
#include <string_view>
#include <vector>

#include "cli/application.h"
#include "commands/document.h"

namespace tolvek {

// Exit statuses of the helper.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitAccessRefused = 3;

inline constexpr std::string_view kUsageCode = "usage";
inline constexpr std::string_view kUnknownCommandPrefix = "unknown command ";
inline constexpr std::string_view kAccessRefusedCode = "photos_denied";
inline constexpr std::string_view kAccessRefusedMessage = "Tolvek is not allowed to read your Photos library.";

// The document a run writes and the status it then exits with.
struct DispatchResult {
  ResultDocument document;
  int status;
};

// `argv` holds the decoded arguments without the program path. Empty: the
// program usage error, without asking for access. Otherwise the access gate
// runs first (refused: the "photos_denied" document, status 3); then the
// first argument, matched exactly and case-sensitively, selects the command
// of the command table, whose document comes back with status 0; an unknown
// word, or a command with fewer arguments than it needs, gives a usage error
// with status 2. Arguments beyond those a command takes are ignored.
DispatchResult dispatch(const std::vector<std::string>& argv, Application& application);

}  // namespace tolvek
