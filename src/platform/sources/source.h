#pragma once
// The words of the sources: a folder whose files the library references in
// place, or another photo manager's database naming such files; the files
// and folders recorded of it; and the albums it gives (a manager's events,
// tags and folders). Plain values: the catalog writer stores and returns
// them, the sync, the watch and the tool's source commands work with them.
// Paths are bytes; relative ones use "/".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/catalog/catalog_schema.h"

namespace tolvek {

struct Source {
  std::int64_t row = 0;
  std::string path;  // absolute: the folder, or the manager's database file
  std::optional<std::int64_t> device;
  SourceKind kind = SourceKind::folder;
  // What the source's file paths are relative to (see sourceFileRoot).
  std::string fileRoot() const { return sourceFileRoot(kind, path); }
};

// A file of a source as last recorded.
struct SourceFile {
  std::int64_t row = 0;
  std::string path;
  std::optional<std::int64_t> assetRow;  // nothing: not a picture, video or audio file
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t inode = 0;
};

// A folder of a source that holds files, with the device it was on.
struct SourceFolder {
  std::int64_t row = 0;
  std::string path;
  std::optional<std::int64_t> device;
};

// An event, tag or folder of a manager source as an album: its assets in
// the manager's order, each once.
struct SourceAlbum {
  std::string key;  // the manager's, stable for the same event, tag or folder
  CollectionSubtype subtype = CollectionSubtype::albumSyncedFolder;
  // Nothing: titled with its earliest member's capture day ("YYYY-MM-DD").
  std::optional<std::string> title;
  std::vector<std::int64_t> assetRows;
};

// "folder:" and the absolute `path`: the key of a folder's album, which is
// one album whichever sources name the folder.
std::string folderAlbumKey(std::string_view path);
// The absolute path a folder's album key names; nothing for another key.
std::optional<std::string> folderOfAlbumKey(std::string_view key);

// Whether the source's folder is there as recorded: a folder, on the device
// it was last seen on, with entries when the library holds assets from it;
// for a manager source, whether its database file is there (not read here).
// The reason it is not, else "".
std::string sourceOfflineReason(const Source& source, bool holdsAssets);

}  // namespace tolvek
