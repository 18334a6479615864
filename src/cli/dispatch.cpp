#include "cli/dispatch.h"

#include "cli/argument_rules.h"
#include "cli/result_document.h"

namespace tolvek {
namespace {

DispatchResult usage(std::string_view message) { return {errorDocument(kUsageCode, message), kStatusUsage}; }

DispatchResult success(Document document) { return {std::move(document), kStatusSuccess}; }

}  // namespace

DispatchResult dispatch(const std::vector<std::string>& argv, Application& application) {
  if (argv.empty()) return usage(kProgramUsage);
  if (!application.ensureAccess()) {
    return {errorDocument(kAccessRefusedCode, kAccessRefusedMessage), kStatusAccessRefused};
  }

  const std::string& word = argv[0];
  if (word == "albums") return success(application.cmdAlbums());
  if (word == "list") {
    const std::string albumId = argv.size() > 1 ? argv[1] : std::string(kWholeLibrary);
    const std::int64_t limit = argv.size() > 2 ? integerOr(argv[2], kDefaultListLimit) : kDefaultListLimit;
    return success(application.cmdList(albumId, limit));
  }
  if (word == "thumbs") {
    if (argv.size() < 3) return usage(kThumbsUsage);
    return success(application.cmdThumbs(integerOr(argv[1], kDefaultThumbnailSize), splitIdentifierList(argv[2])));
  }
  if (word == "export") {
    if (argv.size() < 3) return usage(kExportUsage);
    return success(application.cmdExport(argv[1], splitIdentifierList(argv[2])));
  }
  return usage(std::string(kUnknownCommandPrefix) + word);
}

}  // namespace tolvek
