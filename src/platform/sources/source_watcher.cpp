#include "platform/sources/source_watcher.h"

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/posix/path_text.h"
#include "platform/sources/source_walk.h"

namespace tolvek {
namespace {

constexpr std::uint32_t kFolderMask = IN_CLOSE_WRITE | IN_MOVED_FROM | IN_MOVED_TO | IN_CREATE | IN_DELETE |
                                      IN_DELETE_SELF | IN_MOVE_SELF | IN_MODIFY | IN_ONLYDIR | IN_DONT_FOLLOW;
// Events come in bursts: a sync starts this long after the last one, and at
// the latest this long after the first.
constexpr auto kSettle = std::chrono::milliseconds(250);
constexpr auto kMaxSettle = std::chrono::milliseconds(1000);
constexpr int kMaxDepth = kMaxWalkDepth;
constexpr int kMaxReads = 16;

// File systems whose changes made elsewhere send no notifications: NFS,
// SMB/CIFS, FUSE, 9p, Ceph, AFS.
bool notifiesChanges(const std::string& path) {
  struct statfs info {};
  if (::statfs(path.c_str(), &info) != 0) return true;
  switch (static_cast<unsigned long>(info.f_type)) {
    case 0x6969ul:      // NFS
    case 0x517bul:      // SMB
    case 0xff534d42ul:  // CIFS
    case 0xfe534d42ul:  // SMB2
    case 0x65735546ul:  // FUSE
    case 0x01021997ul:  // 9p
    case 0x00c36400ul:  // Ceph
    case 0x5346414ful:  // AFS
      return false;
    default:
      return true;
  }
}

// The folder holding `path`, "/" for the root's entries.
std::string parentOf(const std::string& path) {
  const std::string_view parent = folderPart(path);
  return parent.empty() ? std::string("/") : std::string(parent);
}

}  // namespace

SourceWatcher::SourceWatcher(const LibraryLocation& location, std::function<void(WatchNotice)> notice)
    : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)), notice_(std::move(notice)),
      libraryFolder_(location.libraryFolder), lockName_(namePart(location.sourcesLockPath)) {
  if (fd_ >= 0) addWatch(libraryFolder_, 0, Role::library);
  nextRescan_ = WatchClock::now() + kRescanInterval;
  if (Result<std::vector<Mount>> mounts = readMountTable()) mountTable_ = std::move(*mounts);
}

SourceWatcher::~SourceWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

void SourceWatcher::markDirty(std::int64_t row) {
  markFolder(row, {}, true);
}

void SourceWatcher::markFolder(std::int64_t row, const std::string& path, bool below) {
  const auto now = WatchClock::now();
  if (dirty_.empty() && !sourcesChanged_) firstEvent_ = now;
  lastEvent_ = now;
  const bool fresh = dirty_.insert(row).second;
  std::optional<SyncScope>& scope = scopes_[row];
  if (path.empty()) {
    scope.reset();  // the whole source
  } else if (fresh || scope) {
    if (!scope) scope.emplace();
    (below ? scope->deep : scope->shallow).insert(path);
  }
}

int SourceWatcher::addWatch(const std::string& path, std::int64_t row, Role role) {
  const int wd = ::inotify_add_watch(fd_, path.c_str(), kFolderMask);
  if (wd < 0) {
    const int error = errno;
    if (error == ENOSPC) tell(WatchNotice::watchLimitReached, toldLimit_);
    if (error == ENOSPC && role != Role::library) sources_[row].polled = true;
    return -1;
  }
  Watch& watch = watches_[wd];
  watch.path = path;
  const bool known = std::any_of(watch.interests.begin(), watch.interests.end(),
                                 [&](const Interest& i) { return i.row == row && i.role == role; });
  if (!known) watch.interests.push_back({row, role});
  return wd;
}

// Watches `path` and every folder below it that a sync walks (no links, no
// dot-folders).
void SourceWatcher::watchTree(std::int64_t row, const std::string& path, int depth) {
  if (depth > kMaxDepth || addWatch(path, row, Role::tree) < 0) return;
  DIR* dir = ::opendir(path.c_str());
  if (dir == nullptr) return;
  std::vector<std::string> children;
  while (const dirent* entry = ::readdir(dir)) {
    if (entry->d_name[0] == '.') continue;
    const std::string child = path + "/" + entry->d_name;
    bool folder = entry->d_type == DT_DIR;
    if (entry->d_type == DT_UNKNOWN) {
      struct stat info {};
      folder = ::lstat(child.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
    }
    if (folder) children.push_back(child);
  }
  ::closedir(dir);
  for (const std::string& child : children) watchTree(row, child, depth + 1);
}

// Lets go of the source's watches (only those at or below `below` when given).
void SourceWatcher::unwatch(std::int64_t row, const std::string& below) {
  for (auto it = watches_.begin(); it != watches_.end();) {
    Watch& watch = it->second;
    if (!below.empty() && !isWithinFolder(watch.path, below)) {
      ++it;
      continue;
    }
    std::erase_if(watch.interests, [&](const Interest& i) { return i.row == row && i.role != Role::library; });
    if (watch.interests.empty()) {
      ::inotify_rm_watch(fd_, it->first);
      it = watches_.erase(it);
    } else {
      ++it;
    }
  }
}

// Watches the source as it is now: its folders, the folder holding it when
// it is a file, or the nearest folder above it that exists when it is gone.
void SourceWatcher::rewatch(std::int64_t row, int attempts) {
  unwatch(row);
  Followed& followed = sources_[row];
  const std::string& path = followed.source.path;
  followed.mounts = mountSignature(path);
  struct stat info {};
  if (::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
    followed.polled = !notifiesChanges(path);
    if (!followed.polled) watchTree(row, path, 0);
  } else if (::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
    followed.polled = !notifiesChanges(path);
    if (!followed.polled) addWatch(parentOf(path), row, Role::file);
  } else {
    std::string above = path;
    do {
      above = parentOf(above);
    } while (above != "/" && !(::stat(above.c_str(), &info) == 0 && S_ISDIR(info.st_mode)));
    addWatch(above, row, Role::ancestor);
    // Made between the look and the watch, which saw nothing of it: again.
    if (::lstat(path.c_str(), &info) == 0 && attempts > 1) rewatch(row, attempts - 1);
  }
}

void SourceWatcher::follow(const std::vector<Source>& sources) {
  std::set<std::int64_t> rows;
  for (const Source& source : sources) {
    rows.insert(source.row);
    const auto found = sources_.find(source.row);
    if (found != sources_.end() && found->second.source.path == source.path) {
      found->second.source = source;
      continue;
    }
    sources_[source.row] = Followed{source, false, {}};
    rewatch(source.row);
    markDirty(source.row);
  }
  for (auto it = sources_.begin(); it != sources_.end();) {
    if (rows.contains(it->first)) {
      ++it;
      continue;
    }
    unwatch(it->first);
    dirty_.erase(it->first);
    scopes_.erase(it->first);
    it = sources_.erase(it);
  }
}

void SourceWatcher::rewatchAll() {
  for (auto& [row, followed] : sources_) {
    rewatch(row);
    markDirty(row);
  }
}

void SourceWatcher::remount() {
  if (Result<std::vector<Mount>> mounts = readMountTable()) {
    mountTable_ = std::move(*mounts);
  } else {
    rewatchAll();  // the table could not be read: assume the worst
    return;
  }
  for (auto& [row, followed] : sources_) {
    if (followed.source.kind == SourceKind::folder && followed.mounts == mountSignature(followed.source.path)) continue;
    rewatch(row);
    markDirty(row);
  }
}

std::string SourceWatcher::mountSignature(const std::string& path) const {
  struct stat info {};
  std::string signature = ::lstat(path.c_str(), &info) != 0
                              ? std::string("absent")
                              : std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino) + ":" +
                                    std::to_string(info.st_mode & S_IFMT);
  for (const Mount& mount : mountsWithin(mountTable_, path)) signature += "\n" + mount.device + " " + mount.mountPoint;
  return signature;
}

void SourceWatcher::tell(WatchNotice notice, bool& told) {
  if (told) return;
  told = true;
  if (notice_) notice_(notice);
}

void SourceWatcher::handle(int wd, std::uint32_t mask, const std::string& name) {
  if (mask & IN_Q_OVERFLOW) {
    tell(WatchNotice::notificationsDropped, toldOverflow_);
    sourcesChanged_ = true;
    rewatchAll();
    return;
  }
  const auto found = watches_.find(wd);
  if (found == watches_.end()) return;
  const Watch watch = found->second;  // a copy: handling may change the watches
  if (mask & IN_IGNORED) watches_.erase(found);
  for (const Interest& interest : watch.interests) {
    switch (interest.role) {
      case Role::library: handleLibrary(mask, name); break;
      case Role::ancestor: handleAncestor(interest.row, watch, mask, name); break;
      case Role::file: handleFile(interest.row, mask, name); break;
      case Role::tree: handleTree(interest.row, watch, mask, name); break;
    }
  }
}

void SourceWatcher::handleLibrary(std::uint32_t mask, const std::string& name) {
  if (name == lockName_ && (mask & IN_CLOSE_WRITE) && !ownLock_) {
    if (!sourcesChanged_ && dirty_.empty()) firstEvent_ = WatchClock::now();
    lastEvent_ = WatchClock::now();
    sourcesChanged_ = true;
  }
}

// The next step of the way to the source appeared (a folder, or the
// database file itself).
void SourceWatcher::handleAncestor(std::int64_t row, const Watch& watch, std::uint32_t mask, const std::string& name) {
  const std::string& to = sources_[row].source.path;
  const std::size_t from = watch.path == "/" ? 1 : watch.path.size() + 1;
  const std::string_view next = from < to.size() ? std::string_view(to).substr(from) : std::string_view();
  if ((mask & (IN_CREATE | IN_MOVED_TO)) && !name.empty() && next.substr(0, next.find('/')) == name) {
    rewatchNeeded_.insert(row);
  }
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) rewatchNeeded_.insert(row);
}

void SourceWatcher::handleFile(std::int64_t row, std::uint32_t mask, const std::string& name) {
  const std::string base(namePart(sources_[row].source.path));
  const bool wal = name == base + "-wal";
  if (name == base || wal || name == base + "-journal") {
    // A commit writes the database (rollback mode; a checkpoint too),
    // ends its -journal, or writes the -wal, which the program keeps
    // open. The -wal's close is no news: SQLite opens it for writing
    // even for this tool's read-only snapshot, whose close would
    // otherwise start the next sync, and so on.
    std::uint32_t news = IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE;
    if (name == base) news |= IN_CLOSE_WRITE | IN_MODIFY;
    if (wal) news |= IN_MODIFY;
    if (name == base + "-journal") news |= IN_CLOSE_WRITE;
    if (mask & news) markDirty(row);
    if (name == base && (mask & (IN_MOVED_FROM | IN_DELETE))) rewatchNeeded_.insert(row);
  }
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) rewatchNeeded_.insert(row);
}

void SourceWatcher::handleTree(std::int64_t row, const Watch& watch, std::uint32_t mask, const std::string& name) {
  const bool root = watch.path == sources_[row].source.path;
  if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT) || ((mask & IN_IGNORED) && root)) {
    // Gone, moved away or unmounted: the sync says whether it went offline.
    if (root) rewatchNeeded_.insert(row);
    // A folder below the root gone or moved: what it held (a mount's: all).
    if (root || (mask & IN_UNMOUNT)) {
      markDirty(row);
    } else {
      markFolder(row, watch.path, true);
    }
    return;
  }
  if (name.empty()) return;
  const std::string path = watch.path + "/" + name;
  if (mask & IN_ISDIR) {
    if (mask & (IN_DELETE | IN_MOVED_FROM)) unwatch(row, path);
    if ((mask & (IN_CREATE | IN_MOVED_TO)) && name[0] != '.') {
      // Files may have landed before the watch: the sync walks it whole.
      watchTree(row, path, 0);
    }
    if (mask & (IN_CREATE | IN_MOVED_TO | IN_DELETE | IN_MOVED_FROM)) markFolder(row, path, true);
    return;
  }
  if (name[0] == '.' && name != ".nomedia") return;
  // A ".nomedia" made or removed changes what of the folder is walked.
  const bool excluding = name == ".nomedia";
  if (mask & IN_CREATE) {
    // A hard link arrives whole, with no close to wait for (a file
    // being written was created with one link); so does a symbolic link,
    // which the sync tells of when it leads to a folder.
    struct stat info {};
    if (::lstat(path.c_str(), &info) == 0 && (S_ISLNK(info.st_mode) || (S_ISREG(info.st_mode) && info.st_nlink > 1))) {
      markFolder(row, watch.path, excluding);
      return;
    }
  }
  if (mask & (IN_CREATE | IN_MODIFY)) writing_[path] = WatchClock::now();
  if (mask & (IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE)) {
    writing_.erase(path);
    markFolder(row, watch.path, excluding);
  }
}

void SourceWatcher::readEvents(bool ownLock) {
  ownLock_ = ownLock;
  alignas(inotify_event) char buffer[64 * 1024];
  // A bounded number of reads: under a steady stream of events (a file
  // written in small pieces) the loop around this one still sees signals.
  for (int reads = 0; reads < kMaxReads; ++reads) {
    const ssize_t got = ::read(fd_, buffer, sizeof buffer);
    if (got <= 0) {
      if (got < 0 && errno == EINTR) continue;
      break;
    }
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      const std::string name = event->len > 0 ? std::string(event->name) : std::string();
      handle(event->wd, event->mask, name);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
  ownLock_ = false;
  const std::set<std::int64_t> again = std::move(rewatchNeeded_);
  rewatchNeeded_.clear();
  for (const std::int64_t row : again) {
    if (!sources_.contains(row)) continue;
    rewatch(row);
    markDirty(row);
  }
}

void SourceWatcher::clearDirty(const std::set<std::int64_t>& synced) {
  for (const std::int64_t row : synced) {
    dirty_.erase(row);
    scopes_.erase(row);
  }
}

void SourceWatcher::markDirty(const std::set<std::int64_t>& rows, const Scopes& scopes) {
  for (const std::int64_t row : rows) {
    const auto found = scopes.find(row);
    if (found == scopes.end() || !found->second) {
      markDirty(row);
      continue;
    }
    for (const std::string& path : found->second->shallow) markFolder(row, path, false);
    for (const std::string& path : found->second->deep) markFolder(row, path, true);
  }
}

std::optional<WatchClock::time_point> SourceWatcher::due() const {
  std::optional<WatchClock::time_point> when;
  if (!dirty_.empty() || sourcesChanged_) when = std::min(lastEvent_ + kSettle, firstEvent_ + kMaxSettle);
  const bool polled = std::any_of(sources_.begin(), sources_.end(), [](const auto& s) { return s.second.polled; });
  if (polled && (!when || nextRescan_ < *when)) when = nextRescan_;
  return when;
}

void SourceWatcher::markRescansDue(WatchClock::time_point now) {
  if (now < nextRescan_) return;
  nextRescan_ = now + kRescanInterval;
  for (const auto& [row, followed] : sources_) {
    if (followed.polled) markDirty(row);
  }
}

bool SourceWatcher::busy(const std::string& path) {
  const auto found = writing_.find(path);
  if (found == writing_.end()) return false;
  if (WatchClock::now() - found->second < kBusyQuiet) return true;
  writing_.erase(found);  // written to long ago and never closed: a link, or a writer that stalled
  return false;
}

}  // namespace tolvek
