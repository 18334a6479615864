// The tool alone reads the desktop's user directories, with GLib, which
// reads user-dirs.dirs as the desktop does (localised names included); the
// helper never needs them and never loads GLib.
#include "pictures_folder.h"

#include <glib.h>

namespace tolvek {

std::optional<std::string> userPicturesFolder() {
  const auto isFolder = [](const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) != 0; };
  const std::string home = g_get_home_dir();
  if (const char* pictures = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES)) {
    const std::string folder = pictures;
    if (folder != home && folder != home + "/" && isFolder(folder)) return folder;
  }
  const std::string fallback = home + "/Pictures";
  if (isFolder(fallback)) return fallback;
  return std::nullopt;
}

}  // namespace tolvek
