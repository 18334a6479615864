#include "platform/system/library_location.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

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

std::string userHomeFolder() {
  if (const char* home = std::getenv("HOME")) return home;
  long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
  passwd entry{};
  passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return "/";
}

LibraryLocation userLibraryLocation() {
  // Read the environment at every call: tests switch homes.
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') return libraryLocationIn(xdg);
  const char* home = std::getenv("HOME");
  std::string homeFolder = (home != nullptr && home[0] == '/') ? home : userHomeFolder();
  return libraryLocationIn(homeFolder + "/.local/share");
}

std::string fileInLibrary(const std::string& libraryFolder, const std::optional<std::string>& relative) {
  if (!relative || relative->empty() || relative->front() == '/') return {};
  const std::string& p = *relative;
  if (p == ".." || p.starts_with("../") || p.ends_with("/..") || p.find("/../") != std::string::npos) return {};
  return libraryFolder + "/" + p;
}

}  // namespace tolvek
