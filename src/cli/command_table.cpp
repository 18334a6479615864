#include "cli/command_table.h"

#include <array>
#include <cstdint>

#include "cli/argument_rules.h"
#include "commands/albums_command.h"
#include "commands/export_command.h"
#include "commands/list_command.h"
#include "commands/thumbs_command.h"

namespace tolvek {
namespace {

// The album identifier that means the whole library, and the defaults of
// arguments that are absent or not numbers.
constexpr std::string_view kWholeLibrary = "-";
constexpr std::int64_t kDefaultListLimit = 60;
constexpr std::int64_t kDefaultThumbnailSize = 240;

ResultDocument runAlbums(Application& application, const CommandArguments&) {
  return cmdAlbums(application.services().library);
}

ResultDocument runList(Application& application, const CommandArguments& arguments) {
  const std::string albumId = arguments.size() > 0 ? arguments[0] : std::string(kWholeLibrary);
  const std::int64_t limit = arguments.size() > 1 ? integerOr(arguments[1], kDefaultListLimit) : kDefaultListLimit;
  return cmdList(application.services().library, application.dates(), albumId, limit);
}

ResultDocument runThumbs(Application& application, const CommandArguments& arguments) {
  return cmdThumbs(application.services().library, integerOr(arguments[0], kDefaultThumbnailSize),
                   splitIdentifierList(arguments[1]));
}

ResultDocument runExport(Application& application, const CommandArguments& arguments) {
  return cmdExport(application.services(), arguments[0], splitIdentifierList(arguments[1]));
}

constexpr std::array kCommands{
    Command{"albums", "albums", 0, runAlbums,
            "every album with its title and the number of pictures and videos in it: "
            "{\"albums\":[{\"id\":...,\"name\":...,\"count\":...},...]}"},
    Command{"list", "list [albumId] [limit]", 0, runList,
            "the newest pictures and videos of an album (- or empty: the whole library, the default), "
            "at most limit of them (default 60, bounded to 1..500): "
            "{\"items\":[{\"id\":...,\"name\":...,\"date\":\"YYYY-MM-DDThh:mm:ssZ\" or null,"
            "\"isVideo\":...},...]}"},
    Command{"thumbs", "thumbs <size> <ids>", 2, runThumbs,
            "a JPEG thumbnail of each asset that fills a square of size pixels (default 240, bounded to "
            "64..1024), as a data URL; assets without one are left out: "
            "{\"thumbs\":{\"<id>\":\"data:image\\/jpeg;base64,...\",...}}"},
    Command{"export", "export <dir> <ids>", 2, runExport,
            "the assets' pictures and videos written into the folder dir (made with its parents) under "
            "names unique within the run, HEIC and HEIF pictures as JPEG: "
            "{\"files\":[{\"id\":...,\"path\":...},...],\"errors\":[\"<file name>: <reason>\",...]}"},
};

}  // namespace

std::span<const Command> commands() { return kCommands; }

const Command* findCommand(std::string_view word) {
  for (const Command& command : kCommands) {
    if (command.word == word) return &command;
  }
  return nullptr;
}

const std::string& programUsage() {
  static const std::string usage = [] {
    std::string line = "tolvek-photos ";
    for (const Command& command : kCommands) {
      if (&command != &kCommands.front()) line += '|';
      line += command.word;
    }
    return line;
  }();
  return usage;
}

}  // namespace tolvek
