// tolvek-photos-library: fills and manages the per-user photo library that
// the tolvek-photos helper reads.
#include <array>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/library_location.h"
#include "platform/posix/temporary_files.h"
#include "tool_commands.h"

namespace {

using tolvek::tool::Arguments;

int runPath(const Arguments& arguments) {
  if (!arguments.empty()) return tolvek::tool::failWith("path takes no arguments");
  std::printf("%s\n", tolvek::userLibraryLocation().libraryFolder.c_str());
  return 0;
}

// One row per command word: its lines of the usage text and what runs it.
// The usage text and the dispatch both come from this table.
struct ToolCommand {
  std::string_view word;
  std::string_view help;
  int (*run)(const Arguments& arguments);
};

constexpr std::array kCommands{
    ToolCommand{"path", "  path                               print the library folder\n", runPath},
    ToolCommand{"add",
                "  add FOLDER...                      reference the pictures and videos of these folders\n"
                "                                     where they are (never copied or changed) and sync\n"
                "                                     them; each folder holding media becomes an album\n",
                tolvek::tool::runAdd},
    ToolCommand{"sync",
                "  sync [FOLDER...]                   bring the library up to date with every source (or\n"
                "                                     these); the first sync adds the Pictures folder;\n"
                "                                     prints added/changed/moved/removed, identifier, path\n",
                tolvek::tool::runSync},
    ToolCommand{"sources", "  sources                            list sources: path, present or offline, assets\n",
                tolvek::tool::runSources},
    ToolCommand{"forget",
                "  forget FOLDER                      remove a source and the assets found only there\n"
                "                                     from the library (its files stay untouched)\n",
                tolvek::tool::runForget},
    ToolCommand{"import",
                "  import [--album ALBUM_ID] [--no-date] PATH...\n"
                "                                     copy pictures, videos and audio files (folders\n"
                "                                     recursively) into the library; prints one line\n"
                "                                     per asset: its identifier, a tab, the source path\n",
                tolvek::tool::runImport},
    ToolCommand{"album",
                "  album create TITLE                 create an album and print its identifier\n"
                "  album create --untitled            create an album without a title\n"
                "  album add ALBUM_ID ASSET_ID...     add assets to an album\n",
                tolvek::tool::runAlbum},
    ToolCommand{"favorite", "  favorite ASSET_ID...               mark assets as favourites\n",
                tolvek::tool::runFavorite},
    ToolCommand{"offload", "  offload ASSET_ID URL               keep the original only at URL (http or https)\n",
                tolvek::tool::runOffload},
    ToolCommand{"access",
                "  access grant|deny|restrict         record full access, a refusal or a restriction\n"
                "  access limit [ASSET_ID...]         record limited access to these assets only\n"
                "  access reset                       forget the answer, so tolvek-photos asks again\n",
                tolvek::tool::runAccess},
};

// Prints the usage text to `stream`; gives `status`.
int printUsage(std::FILE* stream, int status) {
  std::string text =
      "Usage: tolvek-photos-library COMMAND [ARGUMENTS]\n"
      "\n"
      "Manages the photo library that tolvek-photos reads.\n"
      "\n"
      "Commands:\n";
  for (const ToolCommand& command : kCommands) text += command.help;
  text +=
      "\n"
      "The library lives in $XDG_DATA_HOME/tolvek-photos/Library\n"
      "(default ~/.local/share/tolvek-photos/Library).\n";
  std::fputs(text.c_str(), stream);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  // Temporary files (downloads being checked) go with the process.
  tolvek::installTemporaryFileCleanup();
  const Arguments arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) return printUsage(stderr, 1);
  const std::string& word = arguments.front();
  if (word == "--help" || word == "-h" || word == "help") return printUsage(stdout, 0);
  const Arguments rest(arguments.begin() + 1, arguments.end());
  for (const ToolCommand& command : kCommands) {
    if (command.word == word) return command.run(rest);
  }
  return tolvek::tool::failWith("unknown command '" + word + "' (see tolvek-photos-library --help)");
}
