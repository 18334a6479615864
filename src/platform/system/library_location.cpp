#include "platform/system/library_location.h"

#include <glib.h>

#include <cstdlib>

namespace tolvek {
namespace {

// The library's two file folders, by their names inside the library folder.
constexpr char kOriginals[] = "originals";
constexpr char kDerivatives[] = "derivatives";

}  // namespace

LibraryLocation libraryLocationIn(const std::string& dataHome) {
  LibraryLocation where;
  where.dataFolder = dataHome + "/tolvek-photos";
  where.libraryFolder = where.dataFolder + "/Library";
  where.catalogPath = where.libraryFolder + "/catalog.sqlite";
  where.writerLockPath = where.libraryFolder + "/writer.lock";
  where.sourcesLockPath = where.libraryFolder + "/sources.lock";
  where.originalsFolder = where.libraryFolder + "/" + kOriginals;
  where.derivativesFolder = where.libraryFolder + "/" + kDerivatives;
  where.accessStorePath = where.dataFolder + "/access.ini";
  where.promptLockPath = where.dataFolder + "/prompt.lock";
  return where;
}

AssetFilePaths assetFilePaths(const std::string& assetIdentifier) {
  const std::string uuid = assetIdentifier.substr(0, assetIdentifier.find('/'));
  const std::string shard = uuid.substr(0, 2);
  AssetFilePaths paths;
  paths.originalFolder = std::string(kOriginals) + "/" + shard;
  paths.originalStem = paths.originalFolder + "/" + uuid;
  paths.derivativeFolder = std::string(kDerivatives) + "/" + shard;
  paths.derivativePrefix = paths.derivativeFolder + "/" + uuid;
  return paths;
}

LibraryLocation userLibraryLocation() {
  // Read the environment at every call (GLib's g_get_user_data_dir caches
  // the first answer, which tests that switch homes cannot use).
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return libraryLocationIn(xdg);
  const char* home = std::getenv("HOME");
  std::string homeFolder = (home != nullptr && home[0] == '/') ? home : g_get_home_dir();
  return libraryLocationIn(homeFolder + "/.local/share");
}

std::string fileInLibrary(const std::string& libraryFolder, const std::optional<std::string>& relative) {
  if (!relative || relative->empty() || relative->front() == '/') return {};
  const std::string& p = *relative;
  if (p == ".." || p.starts_with("../") || p.ends_with("/..") || p.find("/../") != std::string::npos) return {};
  return libraryFolder + "/" + p;
}

std::optional<std::string> userPicturesFolder() {
  const auto isFolder = [](const std::string& path) { return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR) != 0; };
  const std::string home = g_get_home_dir();
  // GLib reads user-dirs.dirs as the desktop does (localised names included).
  if (const char* pictures = g_get_user_special_dir(G_USER_DIRECTORY_PICTURES)) {
    const std::string folder = pictures;
    if (folder != home && folder != home + "/" && isFolder(folder)) return folder;
  }
  const std::string fallback = home + "/Pictures";
  if (isFolder(fallback)) return fallback;
  return std::nullopt;
}

}  // namespace tolvek
