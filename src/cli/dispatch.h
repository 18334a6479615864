#pragma once
// Selects and runs the command a decoded command line names. Pure: it calls
// only the Application, writes nothing and never ends the process, so the
// entry decides what to do with the result.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/application.h"
#include "commands/document.h"

namespace tolvek {

inline constexpr int kStatusSuccess = 0;
inline constexpr int kStatusUsage = 2;
inline constexpr int kStatusAccessRefused = 3;

inline constexpr std::string_view kUsageCode = "usage";
inline constexpr std::string_view kProgramUsage = "tolvek-photos albums|list|thumbs|export";
inline constexpr std::string_view kThumbsUsage = "thumbs <size> <ids>";
inline constexpr std::string_view kExportUsage = "export <dir> <ids>";
inline constexpr std::string_view kUnknownCommandPrefix = "unknown command ";
inline constexpr std::string_view kAccessRefusedCode = "photos_denied";
inline constexpr std::string_view kAccessRefusedMessage = "Tolvek is not allowed to read your Photos library.";

inline constexpr std::string_view kWholeLibrary = "-";
inline constexpr std::int64_t kDefaultListLimit = 60;
inline constexpr std::int64_t kDefaultThumbnailSize = 240;

// The document a run writes and the status it then exits with.
struct DispatchResult {
  Document document;
  int status;
};

// `argv` holds the decoded arguments without the program path. Empty: the
// program usage error, without asking for access. Otherwise the access gate
// runs first (refused: the "photos_denied" document, status 3); then the
// first argument, matched exactly and case-sensitively, selects the command,
// whose document comes back with status 0; an unknown word, or thumbs/export
// with fewer than two arguments, gives a usage error with status 2.
// Arguments beyond those a command takes are ignored.
DispatchResult dispatch(const std::vector<std::string>& argv, Application& application);

}  // namespace tolvek
