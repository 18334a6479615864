// tolvek_manual_pages TOOL_PAGE HELPER_PAGE COMPLETION: writes the manual
// pages of tolvek-photos-library and tolvek-photos and the tool's bash
// completion, made from the command tables the programs run. Run when they
// are built; never installed.
#include <cerrno>
#include <cstdio>
#include <string>

#include "bundle/bundle_info.h"
#include "command_table.h"
#include "completion.h"
#include "pages.h"
#include "platform/posix/make_folders.h"
#include "platform/posix/path_text.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"

namespace {

bool write(const std::string& path, const std::string& text) {
  const std::string folder(tolvek::folderPart(path));
  if (!folder.empty() && !tolvek::makeFolders(folder, 0777)) {
    std::fprintf(stderr, "tolvek_manual_pages: %s: %s\n", folder.c_str(), tolvek::errorText(errno).c_str());
    return false;
  }
  const tolvek::Status written = tolvek::writeFileAtomically(path, text, tolvek::Publish::replace, 0644);
  if (!written) std::fprintf(stderr, "tolvek_manual_pages: %s: %s\n", path.c_str(), written.message().c_str());
  return written.ok();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fputs("usage: tolvek_manual_pages TOOL_PAGE HELPER_PAGE COMPLETION\n", stderr);
    return 2;
  }
  tolvek::installTemporaryFileCleanup();
  const std::string version = tolvek::embeddedBundleInfo().version;
  const auto completion = tolvek::manual::bashCompletion(tolvek::tool::toolCommands());
  if (!completion) {
    std::fprintf(stderr, "tolvek_manual_pages: the completion cannot be made: %s\n", completion.message().c_str());
    return 1;
  }
  const bool done = write(argv[1], tolvek::manual::toolManualPage(version)) &&
                    write(argv[2], tolvek::manual::helperManualPage(version)) && write(argv[3], *completion);
  return done ? 0 : 1;
}
