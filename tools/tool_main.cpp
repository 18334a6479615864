// tolvek-photos-library: fills and manages the per-user photo library that
// the tolvek-photos helper reads.
#include <cstdio>
#include <string>

#include "platform/library_location.h"
#include "platform/posix/temporary_files.h"
#include "tool_commands.h"

namespace {

constexpr const char* kUsage =
    "Usage: tolvek-photos-library COMMAND [ARGUMENTS]\n"
    "\n"
    "Manages the photo library that tolvek-photos reads.\n"
    "\n"
    "Commands:\n"
    "  path                               print the library folder\n"
    "  import [--album ALBUM_ID] [--no-date] PATH...\n"
    "                                     copy pictures, videos and audio files (folders\n"
    "                                     recursively) into the library; prints one line\n"
    "                                     per asset: its identifier, a tab, the source path\n"
    "  album create TITLE                 create an album and print its identifier\n"
    "  album create --untitled            create an album without a title\n"
    "  album add ALBUM_ID ASSET_ID...     add assets to an album\n"
    "  favorite ASSET_ID...               mark assets as favourites\n"
    "  offload ASSET_ID URL               keep the original only at URL (http or https)\n"
    "  access grant|deny|restrict         record full access, a refusal or a restriction\n"
    "  access limit [ASSET_ID...]         record limited access to these assets only\n"
    "  access reset                       forget the answer, so tolvek-photos asks again\n"
    "\n"
    "The library lives in $XDG_DATA_HOME/tolvek-photos/Library\n"
    "(default ~/.local/share/tolvek-photos/Library).\n";

}  // namespace

int main(int argc, char** argv) {
  using namespace tolvek::tool;
  // Temporary files (downloads being checked) go with the process.
  tolvek::installTemporaryFileCleanup();
  Arguments arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  if (arguments.empty()) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  const std::string command = arguments.front();
  const Arguments rest(arguments.begin() + 1, arguments.end());
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsage, stdout);
    return 0;
  }
  if (command == "path") {
    if (!rest.empty()) return failWith("path takes no arguments");
    std::printf("%s\n", tolvek::userLibraryLocation().libraryFolder.c_str());
    return 0;
  }
  if (command == "import") return runImport(rest);
  if (command == "album") return runAlbum(rest);
  if (command == "access") return runAccess(rest);
  if (command == "favorite") return runFavorite(rest);
  if (command == "offload") return runOffload(rest);
  return failWith("unknown command '" + command + "' (see tolvek-photos-library --help)");
}
