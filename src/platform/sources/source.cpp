#include "platform/sources/source.h"

#include <sys/stat.h>

#include "platform/sources/source_walk.h"

namespace tolvek {
namespace {

constexpr std::string_view kFolderKeyPrefix = "folder:/";

}  // namespace

std::string folderAlbumKey(std::string_view path) { return "folder:" + std::string(path); }

std::optional<std::string> folderOfAlbumKey(std::string_view key) {
  if (!key.starts_with(kFolderKeyPrefix)) return std::nullopt;
  return std::string(key.substr(kFolderKeyPrefix.size() - 1));
}

std::string sourceOfflineReason(const Source& source, bool holdsAssets) {
  struct stat info {};
  if (::stat(source.path.c_str(), &info) != 0) return "it is missing";
  if (source.kind != SourceKind::folder) return S_ISREG(info.st_mode) ? "" : "it is not a database file";
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  if (source.device && *source.device != static_cast<std::int64_t>(info.st_dev)) return "it is on another device";
  const std::optional<bool> entries = folderHasEntries(source.path);
  if (!entries) return "it cannot be listed";
  return !*entries && holdsAssets ? "it is empty" : "";
}

}  // namespace tolvek
