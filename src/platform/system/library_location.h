#pragma once
// Where the per-user photo library lives on disk:
// ${XDG_DATA_HOME:-$HOME/.local/share}/tolvek-photos/Library, with the access
// store beside the library folder. Reading the location never creates it.
#include <optional>
#include <string>

namespace tolvek {

struct LibraryLocation {
  std::string dataFolder;     // .../tolvek-photos
  std::string libraryFolder;  // .../tolvek-photos/Library
  std::string catalogPath;    // .../Library/catalog.sqlite
  // Held by the one process that changes the library (catalog and files);
  // by a sync only while it commits (see LibraryWriter).
  std::string writerLockPath;  // .../Library/writer.lock
  // Held by the one process that changes the sources (add, sync, forget, a
  // watch's sync), for its whole run.
  std::string sourcesLockPath;  // .../Library/sources.lock
  std::string originalsFolder;
  std::string derivativesFolder;
  std::string accessStorePath;  // .../tolvek-photos/access.ini
  std::string promptLockPath;   // .../tolvek-photos/prompt.lock
};

// The absolute path of a file the catalog names relative to `libraryFolder`;
// empty for a path that is absent, absolute or leads out of the folder
// through "..", so a damaged catalog never points outside the library.
std::string fileInLibrary(const std::string& libraryFolder, const std::optional<std::string>& relative);

// Where an asset's files lie inside the library, relative to the library
// folder, from the asset's identifier alone: a shard folder named by the
// first two characters of the identifier's UUID keeps folders small.
struct AssetFilePaths {
  std::string originalFolder;    // originals/<shard>
  std::string originalStem;      // originals/<shard>/<uuid>: the copy adds its extension
  std::string derivativeFolder;  // derivatives/<shard>
  std::string derivativePrefix;  // derivatives/<shard>/<uuid>: each derivative adds a suffix
};
AssetFilePaths assetFilePaths(const std::string& assetIdentifier);

// The home folder: $HOME when it is set, else the password database's entry
// of this user, else "/" (what GLib's g_get_home_dir answers, read afresh
// at every call).
std::string userHomeFolder();

// The location under `dataHome` (the XDG data home folder).
LibraryLocation libraryLocationIn(const std::string& dataHome);

// The location under the XDG data home of this process's environment:
// $XDG_DATA_HOME when it is an absolute path, else $HOME/.local/share, else
// the home folder of the password database.
LibraryLocation userLibraryLocation();

}  // namespace tolvek
