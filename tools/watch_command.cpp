// watch: keeps the library in step with its sources in the foreground. One
// sync at start catches up; then the kernel's notifications say which sources
// changed, and after a short settle each burst is synced in one run (so a
// file moved between two sources keeps its identifier). The sources lock is
// taken only while a sync runs, and the writer lock only while it commits
// (see LibraryWriter). SIGTERM, SIGINT and SIGHUP end it once the current
// batch is committed; so do a damaged catalog and the loss of the library
// folder, with status 1.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <glib.h>

#include <cstdio>
#include <thread>

#include "platform/library_writer.h"
#include "platform/posix/posix_file.h"
#include "platform/sources/source_watcher.h"
#include "platform/system/mount_table.h"
#include "sync_report.h"
#include "command_table.h"
#include "tool_commands.h"

namespace tolvek::tool {
namespace {

// How soon a sync is tried again when another tool run holds a lock (or the
// catalog could not be opened).
constexpr auto kLockRetry = std::chrono::milliseconds(250);
constexpr auto kOpenRetry = std::chrono::seconds(5);
// A long burst is synced in runs of about this long, each ending at a
// commit; between runs the sources lock is free for kLockRetry, long enough
// for another run that changes sources (add, forget, sync), waiting on it
// and trying every 20 ms, to take it. Other writers need not wait for that:
// the writer lock is free between the batches of a run.
constexpr auto kHoldAtMost = std::chrono::seconds(1);

// The one watch of a library: an flock on watch.pid in the library folder,
// which holds the process identifier of the watch that holds it.
Result<FileLock> claimInstance(const std::string& pidPath) {
  for (int attempt = 0;; ++attempt) {
    auto lock = FileLock::acquire(pidPath, std::chrono::milliseconds(0));
    if (lock) {
      const int fd = ::open(pidPath.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) return errorStatus(errno);
      const Status written =
          ::ftruncate(fd, 0) == 0 ? writeAll(fd, std::to_string(::getpid()) + "\n") : errorStatus(errno);
      ::close(fd);
      if (!written) return written;
      return lock;
    }
    if (lock.code() != ErrorCode::busy) return lock.status();
    auto pid = readRegularFile(pidPath, 64);
    const std::string text = pid ? std::string(pid->substr(0, pid->find('\n'))) : std::string();
    // The holder writes its identifier just after taking the lock.
    if (!text.empty() || attempt >= 20) {
      return Status::error("watch: already running, pid " + (text.empty() ? std::string("unknown") : text));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
}

// Says what the watcher tells, as the tool's failures are said.
void tellNotice(WatchNotice notice) {
  switch (notice) {
    case WatchNotice::watchLimitReached:
      failWith("watch: the limit of inotify watches (fs.inotify.max_user_watches) is reached; folders beyond it "
               "are rescanned every " + std::to_string(kRescanInterval.count()) +
               " seconds (raise it with: sysctl fs.inotify.max_user_watches=N)");
      break;
    case WatchNotice::notificationsDropped:
      failWith("watch: the kernel dropped notifications (too many at once); rescanning every source");
      break;
  }
}

// The identity of a folder: its device and inode; nothing when it is not one.
std::optional<std::pair<dev_t, ino_t>> folderIdentity(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
  return std::make_pair(info.st_dev, info.st_ino);
}

class Watcher {
 public:
  Watcher(LibraryLocation location, int signals)
      : location_(std::move(location)), signals_(signals), sources_(location_, tellNotice),
        library_(folderIdentity(location_.libraryFolder)) {}

  int run() {
    if (!sources_.ok()) return failWith("watch: cannot start notifications: " + errorText(errno));
    auto monitor = MountMonitor::open();  // without it, mount changes are not followed
    int mounts = monitor ? monitor->fd() : -1;
    // Everything is synced at start, once the watches are set up.
    bool everything = true;
    std::optional<WatchClock::time_point> retryAt = WatchClock::now();
    while (!stopping()) {
      // A pending retry comes first: until it is due nothing is synced, so a
      // held lock or a failing catalog is not tried again in a busy loop.
      const auto when = retryAt ? retryAt : sources_.due();
      int timeout = -1;
      if (when) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(*when - WatchClock::now());
        timeout = static_cast<int>(std::max<std::int64_t>(0, left.count()));
      }
      pollfd fds[3] = {{signals_, POLLIN, 0}, {sources_.fd(), POLLIN, 0}, {mounts, POLLIN, 0}};
      const int ready = ::poll(fds, mounts >= 0 ? 3 : 2, timeout);
      if (ready < 0 && errno != EINTR) return failWith("watch: " + errorText(errno));
      if (fds[0].revents != 0) break;
      if (fds[1].revents != 0) sources_.readEvents();
      if (libraryGone()) {
        // Its catalog, with the sources, went with it: a new library made
        // here would follow nothing, and would hide the loss.
        return failWith("watch: the library folder " + location_.libraryFolder +
                        " was deleted or moved away; the watch ends (start it again to begin a new library there)");
      }
      if (mounts >= 0 && fds[2].revents != 0) {
        const auto changed = monitor->changed();
        if (!changed) {
          // What it cannot tell is not asked again (its descriptor may stay readable).
          failWith("watch: " + changed.message() + "; mounts are no longer followed");
          mounts = -1;
        }
        if (changed && *changed) sources_.remount();
      }
      const auto now = WatchClock::now();
      sources_.markRescansDue(now);
      const auto due = sources_.due();
      const bool dirtyDue = due && *due <= now && (!sources_.dirty().empty() || sources_.sourcesChanged());
      if (retryAt ? *retryAt > now : !dirtyDue) continue;
      retryAt.reset();
      switch (syncDirty(everything)) {
        case Outcome::done: everything = false; break;
        case Outcome::yielded:
          everything = false;
          retryAt = WatchClock::now() + kLockRetry;
          break;
        case Outcome::lockBusy: retryAt = WatchClock::now() + kLockRetry; break;
        case Outcome::failed: retryAt = WatchClock::now() + kOpenRetry; break;
        case Outcome::damaged:
          // Told by the sync; writing on would make it worse.
          return failWith("watch: the catalog is damaged; the watch ends");
      }
    }
    return kExitOk;
  }

 private:
  // yielded: a run ended early to let go of the sources lock; its sources
  // are dirty again. damaged: the catalog is, and nothing more is written.
  enum class Outcome { done, yielded, lockBusy, failed, damaged };

  // True once the library folder is gone or another folder is in its place.
  bool libraryGone() const {
    const auto now = folderIdentity(location_.libraryFolder);
    return !now || now != library_;
  }

  // True once a signal to end came.
  bool stopping() {
    pollfd fd{signals_, POLLIN, 0};
    return ::poll(&fd, 1, 0) > 0;
  }

  // Opens the library, follows its sources as they are now and syncs the
  // dirty ones (all with `everything`); the locks are let go after.
  Outcome syncDirty(bool everything) {
    // Another tool run holds a lock: come back shortly rather than wait.
    for (const std::string* path : {&location_.sourcesLockPath, &location_.writerLockPath}) {
      auto probe = FileLock::acquire(*path, std::chrono::milliseconds(0));
      if (!probe) {
        sources_.readEvents(true);
        return probe.code() == ErrorCode::busy ? Outcome::lockBusy : (failWith("watch: " + probe.message()), Outcome::failed);
      }
    }
    Outcome outcome = Outcome::done;
    {
      auto library = LibraryWriter::open(location_, nullptr, LibraryWriter::Sources::change);
      if (!library) {
        failWith("watch: " + library.message());
        outcome = library.status().code() == ErrorCode::damaged ? Outcome::damaged : Outcome::failed;
      } else {
        outcome = syncWith(**library, everything);
      }
    }
    // The lock's own releases are no news.
    sources_.readEvents(true);
    return outcome;
  }

  Outcome syncWith(LibraryWriter& library, bool everything) {
    auto all = library.catalog().sources();
    if (!all) {
      failWith("watch: " + all.message());
      return all.status().code() == ErrorCode::damaged ? Outcome::damaged : Outcome::failed;
    }
    sources_.clearSourcesChanged();
    sources_.follow(*all);
    // Notifications that came while the watches were set up.
    sources_.readEvents(true);
    std::set<std::int64_t> rows = sources_.dirty();
    // Only the folders the notifications named, unless everything is synced.
    const SourceWatcher::Scopes scopes = everything ? SourceWatcher::Scopes{} : sources_.scopes();
    std::vector<Source> which;
    for (const Source& source : *all) {
      if (everything || rows.contains(source.row)) which.push_back(source);
    }
    sources_.clearDirty(rows);
    if (which.empty()) return Outcome::done;
    // A run ends early at a commit once it has held the sources lock
    // kHoldAtMost, but only after it committed a change, so that every run
    // gets further (a file that takes longer than that alone is still taken).
    const auto started = WatchClock::now();
    bool committed = false, yielded = false;
    SyncObserver observer;
    observer.changed = [&](const SyncEvent&) { committed = true; };
    observer.stop = [&] {
      if (stopping()) return true;
      yielded = committed && WatchClock::now() - started >= kHoldAtMost;
      return yielded;
    };
    observer.busy = [this](const std::string& path) { return sources_.busy(path); };
    observer.scope = [&scopes](std::int64_t row) -> const SyncScope* {
      const auto found = scopes.find(row);
      return found != scopes.end() && found->second ? &*found->second : nullptr;
    };
    Status synced;
    syncAndReport(library, which, std::move(observer), &synced);
    if (synced && !yielded) return Outcome::done;
    if (synced.code() == ErrorCode::damaged) return Outcome::damaged;
    // Not done (or not written at all): the same sources again, later.
    std::set<std::int64_t> again;
    for (const Source& source : which) again.insert(source.row);
    sources_.markDirty(again, scopes);
    return synced ? Outcome::yielded : Outcome::failed;
  }

  LibraryLocation location_;
  int signals_;
  SourceWatcher sources_;
  std::optional<std::pair<dev_t, ino_t>> library_;  // the library folder when the watch started
};

}  // namespace

int runWatch(const Arguments& given) {
  auto arguments = parseArguments(given, commandOptions("watch"));
  if (!arguments) return usageError("watch", arguments.message());
  if (!arguments->operands.empty()) return usageError("watch", "takes no FOLDER");
  const bool install = arguments->has("install"), uninstall = arguments->has("uninstall");
  if (install && uninstall) return usageError("watch", "--install and --uninstall exclude each other");
  if (install || uninstall) return runUserUnit(install);

  // The signals that end it arrive on a descriptor, and never interrupt a
  // batch; blocked before any thread starts, so every thread has them blocked.
  sigset_t ending;
  sigemptyset(&ending);
  for (const int s : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&ending, s);
  if (::sigprocmask(SIG_BLOCK, &ending, nullptr) != 0) return failWith("watch: " + errorText(errno));
  const int signals = ::signalfd(-1, &ending, SFD_CLOEXEC | SFD_NONBLOCK);
  if (signals < 0) return failWith("watch: " + errorText(errno));

  const LibraryLocation location = userLibraryLocation();
  g_mkdir_with_parents(location.libraryFolder.c_str(), 0700);
  auto instance = claimInstance(location.libraryFolder + "/watch.pid");
  if (!instance) {
    ::close(signals);
    return failWith(instance.message());
  }
  const int status = Watcher(location, signals).run();
  ::close(signals);
  return status;
}

}  // namespace tolvek::tool
