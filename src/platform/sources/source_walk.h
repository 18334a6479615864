#pragma once
// The walk of a source folder: every regular file below it, as the sync sees
// it. Links are never followed (neither to files nor to folders); dot-files
// and dot-folders are skipped, and so is a folder holding a file named
// ".nomedia", with everything below it. Names are kept byte for byte. Only
// folders are opened (without following links); files are only stat'ed,
// relative to their folder's descriptor.
//
// A link to a folder is not followed either, but it is a step of its own
// (its target is stat'ed, never opened), so that a sync can tell the user
// why what lies behind it is missing; links to anything else (files, nothing,
// themselves) are left out without a word. Only entries that are links cost
// that second stat.
//
// SourceWalker walks one folder at a time, its entries sorted so that the
// files come out in byte order of their whole paths (the order the catalog
// keeps rows in): a folder sorts as its name followed by "/". It holds the
// entries of the folders on the way down only, so a sync can merge it with
// the catalog's rows without keeping either whole. walkSource() collects it.
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

// One step of a walk, in byte order of paths: a file, a folder entered (before
// its files), or a folder (or file) whose content the walk does not know:
// one that could not be listed or stat'ed, or one more than kMaxWalkDepth
// levels below the root, not walked; or a link to a folder, not followed.
struct WalkStep {
  enum class Kind { file, folder, unreadable, tooDeep, folderLink } kind = Kind::file;
  WalkedFile file;      // kind file
  WalkedFolder folder;  // kind folder
  std::string path;     // kinds unreadable, tooDeep and folderLink
};

inline constexpr int kMaxWalkDepth = 64;

class SourceWalker {
 public:
  // Opens and lists the folder `root` (an absolute path).
  explicit SourceWalker(const std::string& root);
  // Walks the open folder `fd` (taken over) at `path` below a source's root,
  // `depth` folders down; with `shallow`, its own files only.
  SourceWalker(int fd, const std::string& path, int depth, bool shallow);
  ~SourceWalker();
  SourceWalker(const SourceWalker&) = delete;
  SourceWalker& operator=(const SourceWalker&) = delete;

  // Whether the root could be opened and listed, and why not.
  bool listed() const { return listed_; }
  const std::string& error() const { return error_; }
  // The folder walked (its device, whether it is empty); valid when listed.
  const WalkedFolder& root() const { return root_; }
  // The next step after the root; false at the end.
  bool next(WalkStep& step);

 private:
  struct Entry {
    std::string name;
    bool folder = false;
  };
  struct Frame {
    int fd = -1;
    std::string path;
    std::vector<Entry> entries;  // sorted, dot-names left out
    std::size_t at = 0;
  };
  // Lists the open folder `fd` (taken over) at `path`; false when it is left
  // out (a ".nomedia" below the root) or could not be read (told in `step`).
  bool enter(int fd, const std::string& path, WalkStep& step, bool& told);
  // The next step of the top frame's next entry; false when it gave none.
  bool stepEntry(Frame& frame, WalkStep& step);
  void start(int fd, const std::string& path);

  bool listed_ = false;
  std::string error_;
  WalkedFolder root_;
  int depth_ = 0;  // of the folder walked
  bool shallow_ = false;
  std::vector<Frame> frames_;  // the folders on the way down, root first
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
  // Links to folders (relative paths), not followed.
  std::vector<std::string> folderLinks;
};

// Walks the folder `root` (an absolute path) whole. Folders nested deeper than
// kMaxWalkDepth are left out (tooDeep), so a walk never runs out of descriptors.
SourceWalk walkSource(const std::string& root);

// Whether the folder at `path` holds any entry; nothing when it cannot be
// listed (gone, not a folder, not readable).
std::optional<bool> folderHasEntries(const std::string& path);

}  // namespace tolvek
