#pragma once
// The walk of a source folder: every regular file below it, as the sync sees
// it. Links are never followed (neither to files nor to folders); dot-files
// and dot-folders are skipped, and so is a folder holding a file named
// ".nomedia", with everything below it. Names are kept byte for byte. Only
// folders are opened (without following links); files are only stat'ed.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace tolvek {

struct WalkedFile {
  std::string path;  // relative to the source root, "/" between folders
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // st_mtim in nanoseconds since the epoch
  std::uint64_t inode = 0;
};

struct WalkedFolder {
  std::string path;  // relative to the source root, "" for the root
  std::uint64_t device = 0;
  bool empty = false;  // no entries at all, dot-files included
};

struct SourceWalk {
  bool listed = false;  // the root could be opened and listed
  std::string error;    // why it could not
  std::vector<WalkedFolder> folders;  // root first, then by path bytes
  std::vector<WalkedFile> files;      // by path bytes
  // Folders below the root that could not be listed (relative paths): what
  // they hold is unknown to this walk.
  std::vector<std::string> unreadable;
  // Folders more than kMaxWalkDepth levels below the root (relative paths),
  // not walked: what they hold is unknown to this walk too.
  std::vector<std::string> tooDeep;
};

// Walks the folder `root` (an absolute path). Folders nested deeper than
// kMaxWalkDepth are left out (tooDeep), so a walk never runs out of descriptors.
inline constexpr int kMaxWalkDepth = 64;
SourceWalk walkSource(const std::string& root);

// Whether the folder at `path` holds any entry; nothing when it cannot be
// listed (gone, not a folder, not readable).
std::optional<bool> folderHasEntries(const std::string& path);

}  // namespace tolvek
