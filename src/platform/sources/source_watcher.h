#pragma once
// Which sources need a sync, from the kernel's notifications: an inotify
// watch on every folder of every folder source (folders made later
// included), on the folder holding a source that is a file (another photo
// manager's database, with its -wal and -journal companions), on the nearest
// existing folder above a source that is gone (to notice it coming back),
// and on the library folder (another tool run releasing the sources lock may
// have added or forgotten sources). Sources on file systems that send no
// notifications, and folders beyond the watch limit, are rescanned every
// kRescanInterval instead. Used on one thread (the watch's); it owns its
// inotify descriptor and tells what its user should know through a
// WatchNotice callback, called on that thread.
#include <chrono>
#include <functional>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/catalog/catalog_writer.h"
#include "platform/sources/source_sync.h"
#include "platform/system/library_location.h"
#include "platform/system/mount_table.h"

namespace tolvek {

using WatchClock = std::chrono::steady_clock;

// How often sources that cannot be followed by notifications are rescanned.
inline constexpr std::chrono::seconds kRescanInterval{60};
// A file written to within this long is being written (unless closed since).
inline constexpr std::chrono::seconds kBusyQuiet{10};

// What the watcher tells once each: notifications it could not have.
enum class WatchNotice {
  // The limit of inotify watches is reached: folders beyond it are
  // rescanned every kRescanInterval.
  watchLimitReached,
  // The kernel dropped notifications: every source is rescanned.
  notificationsDropped,
};

class SourceWatcher {
 public:
  // The library folder is watched for the sources lock's release. `notice`
  // (may be empty) hears each WatchNotice at most once.
  SourceWatcher(const LibraryLocation& location, std::function<void(WatchNotice)> notice);
  ~SourceWatcher();
  SourceWatcher(const SourceWatcher&) = delete;
  SourceWatcher& operator=(const SourceWatcher&) = delete;

  int fd() const { return fd_; }
  bool ok() const { return fd_ >= 0; }

  // Follows exactly these sources: new ones are watched and marked dirty,
  // forgotten ones are let go.
  void follow(const std::vector<Source>& sources);
  // Sets every watch up again and marks every source dirty (after lost
  // notifications).
  void rewatchAll();
  // After the mount table changed: sets up again, and marks dirty, the
  // sources the change may have touched: a folder source whose folder is not
  // the one it was (gone, back, another file system) or that holds mounts
  // other than before, and every database source (its files may be on any
  // mount). The others keep their watches and are not synced.
  void remount();
  // Reads and handles every pending notification (never blocks). With
  // `ownLock`, releases of the sources lock are this process's own and ignored.
  void readEvents(bool ownLock = false);

  // Sources to sync (rows), and whether the source list should be read again.
  const std::set<std::int64_t>& dirty() const { return dirty_; }
  // What of each dirty source to sync: the folders its notifications named
  // (a file's folder alone; a folder made, moved or removed with everything
  // below it), or nothing for all of it (its root changed, notifications
  // were lost, a mount changed, a rescan).
  using Scopes = std::map<std::int64_t, std::optional<SyncScope>>;
  const Scopes& scopes() const { return scopes_; }
  bool sourcesChanged() const { return sourcesChanged_; }
  void clearDirty(const std::set<std::int64_t>& synced);
  // Marks these sources dirty again (a sync that ended before it was done),
  // with the scopes they had (whole when not in `scopes`).
  void markDirty(const std::set<std::int64_t>& rows, const Scopes& scopes = {});
  void clearSourcesChanged() { sourcesChanged_ = false; }
  // When the dirty sources are due: a short settle after the last event,
  // at most kMaxSettle after the first; nothing when none is dirty. Also the
  // next rescan of sources that are not followed by notifications.
  std::optional<WatchClock::time_point> due() const;
  // Marks the polled sources dirty when their rescan is due.
  void markRescansDue(WatchClock::time_point now);
  // Whether the file at `path` (absolute) is being written.
  bool busy(const std::string& path);

 private:
  enum class Role { tree, file, ancestor, library };
  struct Interest {
    std::int64_t row;
    Role role;
  };
  struct Watch {
    std::string path;
    std::vector<Interest> interests;
  };
  struct Followed {
    Source source;
    bool polled = false;  // rescanned every kRescanInterval
    std::string mounts;   // mountSignature() when last watched
  };

  void markDirty(std::int64_t row);
  // Marks the folder `path` of the source dirty, alone or with everything below it.
  void markFolder(std::int64_t row, const std::string& path, bool below);
  int addWatch(const std::string& path, std::int64_t row, Role role);
  void watchTree(std::int64_t row, const std::string& path, int depth);
  void unwatch(std::int64_t row, const std::string& below = {});
  void rewatch(std::int64_t row, int attempts = 3);
  void handle(int wd, std::uint32_t mask, const std::string& name);
  // The parts of handle() for each role a watch serves.
  void handleLibrary(std::uint32_t mask, const std::string& name);
  void handleAncestor(std::int64_t row, const Watch& watch, std::uint32_t mask, const std::string& name);
  void handleFile(std::int64_t row, std::uint32_t mask, const std::string& name);
  void handleTree(std::int64_t row, const Watch& watch, std::uint32_t mask, const std::string& name);
  void tell(WatchNotice notice, bool& told);
  // What a mount change can alter of the source at `path`: the file it is
  // (device, inode, type) and the mounts at or below it, as one text.
  std::string mountSignature(const std::string& path) const;

  int fd_ = -1;
  std::function<void(WatchNotice)> notice_;
  std::string libraryFolder_;
  std::string lockName_;  // of the sources lock, in the library folder
  std::unordered_map<int, Watch> watches_;
  std::map<std::int64_t, Followed> sources_;
  std::set<std::int64_t> dirty_;
  Scopes scopes_;  // of the dirty sources
  std::set<std::int64_t> rewatchNeeded_;
  bool sourcesChanged_ = false;
  bool ownLock_ = false;
  bool toldLimit_ = false, toldOverflow_ = false;
  WatchClock::time_point firstEvent_{}, lastEvent_{};
  WatchClock::time_point nextRescan_{};
  std::unordered_map<std::string, WatchClock::time_point> writing_;
  std::vector<Mount> mountTable_;  // as last read
};

}  // namespace tolvek
