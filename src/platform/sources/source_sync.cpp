#include "platform/sources/source_sync.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <glib/gstdio.h>

#include "library/media_formats.h"
#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/content_hash.h"
#include "platform/managers/manager_catalog.h"
#include "platform/modules/media_module.h"
#include "platform/posix/posix_file.h"
#include "platform/catalog/referenced_copy.h"
#include "platform/posix/path_text.h"
#include "platform/sources/source_walk.h"

namespace tolvek {
namespace {

using Clock = std::chrono::steady_clock;

std::string folderOf(const std::string& relative) {
  const auto slash = relative.rfind('/');
  return slash == std::string::npos ? std::string() : relative.substr(0, slash);
}

std::string nameOf(const std::string& relative) {
  const auto slash = relative.rfind('/');
  return slash == std::string::npos ? relative : relative.substr(slash + 1);
}

// What a worker learnt of one new or changed file.
struct Examined {
  // vanished: the file was gone by the time it was opened (deleted or
  // moved while the sync ran), which is no failure.
  enum class Outcome { failed, vanished, notMedia, media } outcome = Outcome::failed;
  std::string error;
  MediaProbe probe;
  ContentDigest digest;
  // Made when this file was the first seen with its content: named after
  // `storageName`, which becomes the identifier of a new asset.
  std::string storageName;
  std::vector<StoredDerivative> derivatives;  // paths absolute
};

// Content hashes known to the catalog or claimed during this sync; the
// first file to claim a hash makes its derivatives.
class ContentClaims {
 public:
  explicit ContentClaims(std::vector<std::string> known) : claimed_(known.begin(), known.end()) {}
  bool claim(const std::string& sha256) {
    std::lock_guard lock(mutex_);
    return claimed_.insert(sha256).second;
  }

 private:
  std::mutex mutex_;
  std::unordered_set<std::string> claimed_;
};

// Makes the derivatives of `path` under a new storage name; their paths stay
// absolute until recorded.
std::vector<StoredDerivative> makeDerivatives(MediaModule& media, const std::string& libraryFolder,
                                              const std::string& path, MediaType type, std::string& storageName) {
  if (type == MediaType::audio) return {};
  if (storageName.empty()) storageName = newAssetIdentifier();
  const AssetFilePaths paths = assetFilePaths(storageName);
  g_mkdir_with_parents((libraryFolder + "/" + paths.derivativeFolder).c_str(), 0700);
  return media.makeDerivatives(path, type, libraryFolder + "/" + paths.derivativePrefix);
}

Examined examine(MediaModule& media, ContentClaims& claims, const std::string& libraryFolder,
                 const RecordedCopy& where, const WalkedFile& walked) {
  Examined result;
  const std::string path = where.absolutePath();
  // Opened first so that a file that cannot be read is told from one that
  // is no picture (the probe answers nothing for both); never through a
  // link, as the helper will read it.
  auto file = openRecordedCopy(where);
  if (!file) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
      result.outcome = Examined::Outcome::vanished;
    } else {
      result.error = file.message();
    }
    return result;
  }
  // A file written while the sync runs is left as it was recorded, for the
  // next sync: what was read must be what was walked.
  if (file->identity().inode != walked.inode || file->size() != walked.size ||
      file->identity().modifiedNs != walked.modifiedNs) {
    result.error = "it changed while it was read; the next sync takes it up";
    return result;
  }
  // The media module reads the open file itself, so that a file swapped
  // for a link or a FIFO after it was opened is never what gets read.
  const std::string name = file->openedName(path);
  auto probe = media.probe(name);
  if (!probe || probe->mediaType < MediaType::image || probe->mediaType > MediaType::audio) {
    if (looksLikeMedia(*file)) {
      result.error = kUnreadableMedia;
    } else {
      result.outcome = Examined::Outcome::notMedia;
    }
    return result;
  }
  auto digest = digestOf(*file);
  if (!digest) {
    result.error = digest.message();
    return result;
  }
  result.outcome = Examined::Outcome::media;
  result.probe = std::move(*probe);
  result.digest = std::move(*digest);
  if (claims.claim(result.digest.sha256)) {
    result.derivatives = makeDerivatives(media, libraryFolder, name, result.probe.mediaType, result.storageName);
  }
  return result;
}

// Runs `work(i)` for i in [0, count) on up to two worker threads, at most
// `window` ahead of the caller, who takes the results in order with take().
template <class Result>
class OrderedPool {
 public:
  OrderedPool(std::size_t count, std::function<Result(std::size_t)> work)
      : results_(count), ready_(count), work_(std::move(work)) {
    const unsigned cores = std::max(1u, std::min(2u, std::thread::hardware_concurrency()));
    for (unsigned i = 0; i < cores && count > 0; ++i) threads_.emplace_back([this] { run(); });
  }
  ~OrderedPool() {
    {
      std::lock_guard lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  OrderedPool(const OrderedPool&) = delete;
  OrderedPool& operator=(const OrderedPool&) = delete;

  // Whether result `i` is ready, waiting for it until `until` at most.
  bool readyBy(std::size_t i, Clock::time_point until) {
    std::unique_lock lock(mutex_);
    return changed_.wait_until(lock, until, [&] { return ready_[i] != 0; });
  }
  Result take(std::size_t i) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready_[i] != 0; });
    taken_ = i + 1;
    changed_.notify_all();
    return std::move(results_[i]);
  }

 private:
  static constexpr std::size_t kWindow = 16;
  void run() {
    for (;;) {
      std::size_t i = 0;
      {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return stopping_ || next_ < taken_ + kWindow; });
        if (stopping_ || next_ >= results_.size()) return;
        i = next_++;
      }
      Result result = work_(i);
      {
        std::lock_guard lock(mutex_);
        results_[i] = std::move(result);
        ready_[i] = 1;
      }
      changed_.notify_all();
    }
  }
  std::vector<Result> results_;
  std::vector<char> ready_;
  std::function<Result(std::size_t)> work_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::size_t next_ = 0, taken_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

// What one copy tells of its asset's capture date, the same whichever
// sources name it and in whatever order they were added: the date its
// content carries (a picture's EXIF, a video's creation time), which every
// copy shares, first; else the earliest of a photo manager's capture date
// and the file's modification time. The content existed when any copy of it
// was last written, so a date after that is no better; a manager's date
// that only repeats when the file came to disk is none (its reader leaves
// those out). A further copy can then only move a date without one from
// the content earlier: a sync of what did not change changes no date.
struct DateClaim {
  std::int64_t date = 0;
  bool fromContent = false;
};

DateClaim dateOf(const Examined& examined, const WalkedFile& walked, std::optional<std::int64_t> managerDate) {
  if (examined.probe.creationDate) return {*examined.probe.creationDate, true};
  const std::int64_t modified = walked.modifiedNs / 1000000000 - (walked.modifiedNs % 1000000000 < 0 ? 1 : 0);
  return {managerDate ? std::min(*managerDate, modified) : modified, false};
}

struct Pending {
  std::size_t plan = 0;
  WalkedFile walked;
  std::optional<SourceFile> before;  // the row of this path, when it changed
  std::optional<std::int64_t> managerDate;  // the capture time a photo manager gave it
};

struct Plan {
  Source source;
  std::map<std::string, std::uint64_t> folderDevices;  // of the walk
  std::uint64_t rootDevice = 0;
  // A manager source's database as read, with the paths of its assets as
  // the walk has them (relative to the root, ""  when the file is missing).
  std::optional<ManagerCatalog> manager;
  std::vector<std::string> managerPaths;
  // A manager source's files found as recorded that hold an asset, by path,
  // and whether any of its files changed: when none did, these are what its
  // albums are made of, without reading the rows again.
  std::vector<std::pair<std::string, std::int64_t>> recordedAssets;
  bool filesChanged = false;
  // A manager source's folders that hold files it names but are gone or
  // empty now (a drive that is not mounted): what they held is kept.
  std::vector<std::string> absentFolders;
  // Whether the manager names files on a volume not found here: then no
  // recorded file of the source goes.
  bool keepAll = false;
};

// The path of a manager's file as a source's relative path: absolute without
// its leading "/", with no "." or ".." component and no empty one (which no
// file has and a damaged database might hold); "" when it is not such a path.
std::string managerRelativePath(const std::string& path) {
  if (!path.starts_with('/')) return {};
  std::string relative;
  std::size_t start = 1;
  while (start <= path.size()) {
    const std::size_t end = std::min(path.find('/', start), path.size());
    const std::string_view part(path.data() + start, end - start);
    if (part == "." || part == ".." || part.find('\0') != std::string_view::npos) return {};
    if (!part.empty()) {
      if (!relative.empty()) relative += '/';
      relative += part;
    }
    start = end + 1;
  }
  return relative;
}

struct Gone {
  std::size_t plan = 0;
  SourceFile file;
  bool moved = false;  // its asset turned up at a new path
};

// The walked file at `path`, if the walk (in path order) found one.
const WalkedFile* walkedAt(const SourceWalk& walk, const std::string& path) {
  const auto found = std::lower_bound(walk.files.begin(), walk.files.end(), path,
                                      [](const WalkedFile& f, const std::string& p) { return f.path < p; });
  return found != walk.files.end() && found->path == path ? &*found : nullptr;
}

// True when the walk finds one of the media files recorded in `folder` or
// below it ("" the whole source) at its path with its size (and, with
// `sameTime`, its modification time); also when none was recorded there.
bool holdsRecordedFiles(const SourceWalk& walk, const std::vector<SourceFile>& files,
                        const std::string& folder, bool sameTime) {
  bool any = false;
  for (const auto& file : files) {
    if (!file.assetRow || !isWithinFolder(file.path, folder)) continue;
    any = true;
    const WalkedFile* walked = walkedAt(walk, file.path);
    if (walked != nullptr && walked->size == file.size && (!sameTime || walked->modifiedNs == file.modifiedNs))
      return true;
  }
  return !any;
}

// How many recorded files a source found on another device is checked by
// content before it counts as the same source copied there.
constexpr std::size_t kCopiedSourceSamples = 8;

// Batches of catalog changes, committed with their events and followed by
// the removal of the files their rows no longer name.
class Batch {
 public:
  Batch(CatalogWriter& catalog, const SyncObserver& observer, SyncTally& tally)
      : catalog_(catalog), observer_(observer), tally_(tally) {}
  ~Batch() {
    if (open_) catalog_.rollBackBatch();
  }
  Status begin() {
    if (open_) return {};
    if (Status begun = catalog_.beginBatch(); !begun) return begun;
    open_ = true;
    started_ = Clock::now();
    return {};
  }
  void report(SyncChange change, std::string identifier, std::string path) {
    events_.push_back({change, std::move(identifier), std::move(path)});
  }
  std::vector<std::string>& unlinkAfter() { return unlink_; }
  bool isOpen() const { return open_; }
  // When the open batch is old enough to be committed.
  Clock::time_point due() const {
    return started_ + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(kSyncBatchSeconds));
  }
  // Counts one more file done; commits when the batch is large or old
  // enough, or when `now`.
  Status commitIfDue(bool now) {
    if (!open_) return {};
    ++files_;
    const std::chrono::duration<double> age = Clock::now() - started_;
    if (!now && files_ < kSyncBatchFiles && age.count() < kSyncBatchSeconds) return {};
    open_ = false;
    if (Status committed = catalog_.commitBatch(); !committed) return committed;
    for (const SyncEvent& event : events_) {
      switch (event.change) {
        case SyncChange::added: ++tally_.added; break;
        case SyncChange::changed: ++tally_.changed; break;
        case SyncChange::moved: ++tally_.moved; break;
        case SyncChange::removed: ++tally_.removed; break;
      }
      if (observer_.changed) observer_.changed(event);
    }
    for (const std::string& path : unlink_) ::unlink(path.c_str());
    events_.clear();
    unlink_.clear();
    files_ = 0;
    return {};
  }

 private:
  CatalogWriter& catalog_;
  const SyncObserver& observer_;
  SyncTally& tally_;
  bool open_ = false;
  Clock::time_point started_;
  std::size_t files_ = 0;
  std::vector<SyncEvent> events_;
  std::vector<std::string> unlink_;
};

class SourceSync {
 public:
  SourceSync(CatalogWriter& catalog, const std::function<MediaModule*()>& media, std::string libraryFolder,
             const SyncObserver& observer)
      : catalog_(catalog), loadMedia_(media), libraryFolder_(std::move(libraryFolder)), observer_(observer),
        batch_(catalog, observer, tally_) {}

  Result<SyncTally> run(const std::vector<Source>& sources) {
    for (const Source& source : sources) {
      if (Status planned = plan(source); !planned) return planned;
    }
    if (Status applied = apply(); !applied) return applied;
    if (stopped_) {
      // A file moved in this run leaves its old place too, so that a move
      // is never left half done; the rest is the next sync's.
      if (Status removed = removeGone(true); !removed) return removed;
      // Assets their files left in this run, unless another file holds them.
      if (Status removed = removeUnheld(); !removed) return removed;
      if (Status named = nameTouchedAssets(); !named) return named;
      if (Status committed = batch_.commitIfDue(true); !committed) return committed;
      return tally_;
    }
    if (Status removed = removeGone(false); !removed) return removed;
    if (Status applied = applyDeferred(); !applied) return applied;
    if (Status named = nameTouchedAssets(); !named) return named;
    if (Status recorded = recordManagerAlbums(); !recorded) return recorded;
    if (Status recorded = recordDevices(); !recorded) return recorded;
    if (Status renewed = renewOutdatedDerivatives(); !renewed) return renewed;
    return tally_;
  }

 private:
  void problem(const std::string& message) {
    if (observer_.problem) observer_.problem(message);
  }
  std::string absolute(std::size_t plan, const std::string& relative) const {
    return plans_[plan].source.fileRoot() + "/" + relative;
  }
  // Where a file of plan `plan` is, as the copy rules open it.
  RecordedCopy copyAt(std::size_t plan, const std::string& relative) const {
    RecordedCopy copy;
    copy.kind = plans_[plan].source.kind;
    copy.sourcePath = plans_[plan].source.path;
    copy.relative = relative;
    return copy;
  }

  void offline(const Source& source, const std::string& reason) {
    ++tally_.offline;
    problem(source.path + ": offline, " + reason + "; its assets are kept");
  }

  // The files a photo manager's database names, as a walk of the file
  // system's root that finds just them: each is stat'ed (its folders through
  // links, as the manager does; a file that is itself a link is not taken,
  // as the helper would not read it), never opened here, on two threads, as the lookups
  // of 100,000 paths are most of a sync with nothing new. `dates` receives
  // the manager's date of each walked file. Missing files are counted.
  SourceWalk walkManagerFiles(Plan& plan, std::vector<std::optional<std::int64_t>>& dates, std::size_t& missing,
                              std::size_t& absentFiles) {
    const std::vector<ManagerAsset>& assets = plan.manager->assets;
    struct Found {
      std::size_t asset = 0;
      WalkedFile file;
    };
    std::vector<std::optional<Found>> found(assets.size());
    const auto statRange = [&](std::size_t begin, std::size_t end) {
      // Each file is looked up from its folder, opened once for a run of
      // files in it (a database lists a folder's files together), so that a
      // lookup walks one name rather than the whole path.
      std::string folder;
      int folderFd = -1;
      for (std::size_t i = begin; i < end; ++i) {
        std::string relative = managerRelativePath(assets[i].path);
        if (relative.empty()) continue;
        const std::size_t slash = relative.rfind('/');
        const std::string_view parent = slash == std::string::npos ? std::string_view() : std::string_view(relative).substr(0, slash);
        if (folderFd < 0 || parent != folder) {
          if (folderFd >= 0) ::close(folderFd);
          folder = parent;
          folderFd = ::open(("/" + folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
        struct stat info {};
        const char* name = relative.c_str() + (slash == std::string::npos ? 0 : slash + 1);
        if (folderFd < 0 || ::fstatat(folderFd, name, &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) continue;
        found[i] = Found{i, {std::move(relative), static_cast<std::uint64_t>(info.st_size),
                             modifiedNsOf(info),
                             static_cast<std::uint64_t>(info.st_ino)}};
      }
      if (folderFd >= 0) ::close(folderFd);
    };
    {
      const std::size_t half = assets.size() / 2;
      std::thread other(statRange, half, assets.size());
      statRange(0, half);
      other.join();
    }
    std::vector<Found> present;
    present.reserve(assets.size());
    plan.managerPaths.reserve(assets.size());
    // A missing file whose folder is gone or empty may be on a drive that
    // is not mounted: it keeps its place (and its albums) until it is back.
    std::unordered_map<std::string, bool> absent;
    const auto folderAbsent = [&](const std::string& folder) {
      const auto known = absent.find(folder);
      if (known != absent.end()) return known->second;
      const bool gone = folderHasEntries("/" + folder) != true;
      if (gone) plan.absentFolders.push_back(folder);
      return absent[folder] = gone;
    };
    for (std::size_t i = 0; i < found.size(); ++i) {
      std::optional<Found>& f = found[i];
      if (f) {
        plan.managerPaths.push_back(f->file.path);
        present.push_back(std::move(*f));
        continue;
      }
      ++missing;
      std::string relative = managerRelativePath(assets[i].path);
      const std::size_t slash = relative.rfind('/');
      const bool kept = plan.keepAll || (slash != std::string::npos && folderAbsent(relative.substr(0, slash)));
      if (kept) ++absentFiles;
      plan.managerPaths.push_back(kept ? std::move(relative) : std::string());
    }
    // In walk order; two spellings of one path ("/a//b", "/a/b") are one file.
    const auto byPath = [](const Found& a, const Found& b) { return a.file.path < b.file.path; };
    if (!std::is_sorted(present.begin(), present.end(), byPath)) std::sort(present.begin(), present.end(), byPath);
    SourceWalk walk;
    walk.listed = true;
    walk.folders.push_back({"", plan.rootDevice, false});
    walk.files.reserve(present.size());
    dates.reserve(present.size());
    for (Found& f : present) {
      if (!walk.files.empty() && walk.files.back().path == f.file.path) continue;
      dates.push_back(assets[f.asset].creationDate);
      walk.files.push_back(std::move(f.file));
    }
    return walk;
  }

  Status plan(const Source& source) {
    // A manager's database is read on a thread of its own (it touches
    // nothing of this sync) while the catalog gives what it recorded.
    std::future<Result<ManagerCatalog>> manager;
    if (source.kind != SourceKind::folder) {
      manager = std::async(std::launch::async, [kind = source.kind, path = source.path] {
        return readManagerCatalog(kind, path);
      });
    }
    auto files = catalog_.filesOf(source.row);
    if (!files) return files.status();
    const bool holdsAssets = std::any_of(files->begin(), files->end(), [](const auto& f) { return f.assetRow; });
    if (manager.valid()) return planManager(source, std::move(files).value(), holdsAssets, manager.get());
    SourceWalk walk = walkSource(source.path);
    std::string offline;
    if (!walk.listed) {
      offline = walk.error;
    } else if (source.device && static_cast<std::uint64_t>(*source.device) != walk.folders.front().device &&
               !holdsRecordedFiles(walk, *files, "", true) && !holdsCopiedFiles(source, walk, *files)) {
      // A drive mounted again may get another device number; it is the same
      // source while the files recorded from it are there.
      offline = "it is on another device than before and holds none of the files recorded from it (a drive that "
                "is not mounted?); if its pictures are here for good, run: tolvek-photos-library forget " +
                source.path + " && tolvek-photos-library add " + source.path;
    } else if (walk.folders.front().empty && holdsAssets) {
      offline = "it is empty (a drive that is not mounted?)";
    }
    if (!offline.empty()) {
      this->offline(source, offline);
      return {};
    }
    const std::size_t index = plans_.size();
    Plan& plan = plans_.emplace_back();
    plan.source = source;
    plan.rootDevice = walk.folders.front().device;
    for (const WalkedFolder& folder : walk.folders) plan.folderDevices[folder.path] = folder.device;
    return planFiles(index, walk, std::move(files).value());
  }

  // Whether a folder found on another device holds the files recorded from
  // the source, copied there (a new drive, times not kept): at least half
  // of them at their paths with their sizes, none of another size, and an
  // even sample of them with their recorded content. The sync then takes
  // the new device and inodes, and every identifier stays.
  bool holdsCopiedFiles(const Source& source, const SourceWalk& walk,
                        const std::vector<SourceFile>& files) {
    std::vector<const SourceFile*> found;
    std::size_t recorded = 0;
    for (const auto& file : files) {
      if (!file.assetRow) continue;
      ++recorded;
      const WalkedFile* walked = walkedAt(walk, file.path);
      if (walked == nullptr) continue;
      if (walked->size != file.size) return false;
      found.push_back(&file);
    }
    if (found.empty() || found.size() * 2 < recorded) return false;
    const std::size_t samples = std::min(found.size(), kCopiedSourceSamples);
    for (std::size_t i = 0; i < samples; ++i) {
      const SourceFile& file = *found[i * found.size() / samples];
      const std::optional<StoredOriginal> content = catalog_.original(*file.assetRow);
      auto opened = ReadableFile::openBelow(source.path, file.path);
      if (!content || content->sha256.empty() || !opened) return false;
      auto digest = digestOf(*opened);
      if (!digest || digest->sha256 != content->sha256) return false;
    }
    return true;
  }

  // A manager's database, read as one snapshot: what it names is compared
  // with the files recorded from it, as a folder's walk is. A database that
  // cannot be read, or whose files are all gone (a drive not mounted), makes
  // the source offline with everything it gave kept.
  Status planManager(const Source& source, std::vector<SourceFile> files, bool holdsAssets,
                     Result<ManagerCatalog> read) {
    if (!read) {
      offline(source, read.message());
      return {};
    }
    struct stat info {};
    Plan candidate;
    candidate.source = source;
    candidate.rootDevice = ::stat(source.path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_dev) : 0;
    candidate.manager = std::move(read).value();
    std::size_t missing = 0, absentFiles = 0;
    const std::size_t unavailable = candidate.manager->unavailable;
    candidate.keepAll = unavailable > 0;
    std::vector<std::optional<std::int64_t>> dates;
    SourceWalk walk = walkManagerFiles(candidate, dates, missing, absentFiles);
    if (walk.files.empty() && (missing > 0 || unavailable > 0) && holdsAssets) {
      offline(source, "none of the files it records is there (a drive that is not mounted?)");
      return {};
    }
    tally_.missing += missing;
    const auto counted = [](std::size_t n) {
      return std::to_string(n) + (n == 1 ? " of the files it records is" : " of the files it records are");
    };
    if (missing > absentFiles) problem(source.path + ": " + counted(missing - absentFiles) + " missing; left out");
    if (unavailable > 0) {
      problem(source.path + ": " + counted(unavailable) +
              " on a volume that is not mounted; nothing the library has from this database is removed");
    }
    if (absentFiles > 0) {
      problem(source.path + ": " + counted(absentFiles) +
              (unavailable > 0 ? " missing; kept while a volume is not mounted"
                               : " in folders that are gone or empty (a drive that is not mounted?); what the "
                                 "library has of them is kept"));
    }
    const std::size_t index = plans_.size();
    plans_.push_back(std::move(candidate));
    return planFiles(index, walk, std::move(files), &dates);
  }

  // Compares a walk of the source in plan `index` with the files recorded
  // from it: new and changed files become pending, recorded ones not seen
  // gone. `dates`, when given, holds a manager's date of each walked file.
  Status planFiles(std::size_t index, SourceWalk& walk, std::vector<SourceFile> recorded,
                   const std::vector<std::optional<std::int64_t>>* dates = nullptr) {
    Plan& plan = plans_[index];
    const Source& source = plan.source;

    // Folders whose content this walk does not know: unreadable ones, and
    // mount points that are now empty or gone. What they held is kept.
    std::vector<std::string> unknown = walk.unreadable;
    const std::unordered_set<std::string_view> absent(plan.absentFolders.begin(), plan.absentFolders.end());
    for (const std::string& folder : walk.unreadable) {
      ++tally_.failed;
      problem(absolute(index, folder) + ": cannot be read; what the library holds from it is kept");
    }
    // Told, not failed: the next sync finds it as deep.
    for (const std::string& folder : walk.tooDeep) {
      unknown.push_back(folder);
      problem(absolute(index, folder) + ": too deep (more than " + std::to_string(kMaxWalkDepth) +
              " folders below the source); left out");
    }
    auto folders = catalog_.foldersOf(source.row);
    if (!folders) return folders.status();
    // Parents first, so that the folders below an offline one are not
    // reported again.
    std::sort(folders->begin(), folders->end(), [](const auto& a, const auto& b) { return a.path < b.path; });
    const std::int64_t rootDevice = source.device.value_or(static_cast<std::int64_t>(plan.rootDevice));
    for (const SourceFolder& folder : *folders) {
      if (plan.manager) break;  // one folder, the root
      // Folders recorded on the root's device are no mount points.
      if (!folder.device || folder.path.empty() || *folder.device == rootDevice) continue;
      if (std::any_of(unknown.begin(), unknown.end(), [&](const std::string& u) { return isWithinFolder(folder.path, u); }))
        continue;
      const auto seen = std::find_if(walk.folders.begin(), walk.folders.end(),
                                     [&](const WalkedFolder& w) { return w.path == folder.path; });
      // A mount point whose drive is gone is a plain folder again: whatever
      // it holds now (a file manager's .Trash-1000), while none of the files
      // recorded in it is there, the drive is not mounted.
      if (seen == walk.folders.end() || (seen->device != static_cast<std::uint64_t>(*folder.device) &&
                                         !holdsRecordedFiles(walk, recorded, folder.path, false))) {
        ++tally_.offline;
        problem(absolute(index, folder.path) + ": offline, a drive mounted there is not; its assets are kept");
        unknown.push_back(folder.path);
      }
    }

    // Both in byte order (as the walk gives them and the catalog keeps
    // them): one pass pairs each walked file with its row.
    const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
    if (!std::is_sorted(recorded.begin(), recorded.end(), byPath)) std::sort(recorded.begin(), recorded.end(), byPath);
    std::vector<std::size_t> order(walk.files.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (!std::is_sorted(walk.files.begin(), walk.files.end(), byPath)) {
      std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return walk.files[a].path < walk.files[b].path; });
    }
    const auto keep = [&](SourceFile& row) {
      if (plan.manager && row.assetRow) plan.recordedAssets.emplace_back(std::move(row.path), *row.assetRow);
    };
    const auto gone = [&](SourceFile& row) {
      const bool kept = std::any_of(unknown.begin(), unknown.end(),
                                    [&](const std::string& folder) { return isWithinFolder(row.path, folder); }) ||
                        (!absent.empty() && absent.contains(std::string_view(row.path).substr(0, row.path.rfind('/')))) ||
                        plan.keepAll;
      if (kept) {
        keep(row);
        return;
      }
      plan.filesChanged = true;
      if (row.assetRow) goneByAsset_[*row.assetRow].push_back(gone_.size());
      gone_.push_back({index, std::move(row), false});
    };
    std::size_t r = 0;
    for (const std::size_t i : order) {
      WalkedFile& walked = walk.files[i];
      const std::optional<std::int64_t> date = dates != nullptr ? (*dates)[i] : std::nullopt;
      while (r < recorded.size() && recorded[r].path < walked.path) gone(recorded[r++]);
      const bool isRecorded = r < recorded.size() && recorded[r].path == walked.path;
      if (observer_.busy && observer_.busy(absolute(index, walked.path))) {
        if (isRecorded) keep(recorded[r++]);  // kept as recorded
        continue;
      }
      if (!isRecorded) {
        plan.filesChanged = true;
        pending_.push_back({index, std::move(walked), std::nullopt, date});
        continue;
      }
      SourceFile& row = recorded[r++];
      if (row.size == walked.size && row.modifiedNs == walked.modifiedNs && row.inode == walked.inode) {
        if (row.assetRow) ++tally_.unchanged; else ++tally_.skipped;
        keep(row);
      } else {
        plan.filesChanged = true;
        pending_.push_back({index, std::move(walked), row, date});
      }
    }
    while (r < recorded.size()) gone(recorded[r++]);
    return {};
  }

  // A new asset for `examined`, whose copy is `relative` in plan `plan`.
  NewAsset newAsset(Examined& examined, std::size_t plan, const WalkedFile& walked,
                    std::optional<std::int64_t> managerDate) {
    NewAsset asset;
    asset.mediaType = examined.probe.mediaType;
    asset.creationDate = dateOf(examined, walked, managerDate).date;
    asset.originalFilename = nameOf(walked.path);
    asset.uniformTypeIdentifier = examined.probe.uniformTypeIdentifier;
    asset.original = examined.digest;
    if (examined.derivatives.empty()) {
      // Another file with this content claimed it first but comes later in
      // walk order: the derivatives are made here.
      examined.derivatives = makeDerivatives(*media_, libraryFolder_, absolute(plan, walked.path),
                                             examined.probe.mediaType, examined.storageName);
    }
    if (examined.storageName.empty()) examined.storageName = newAssetIdentifier();
    const std::string prefix = libraryFolder_ + "/";
    for (StoredDerivative d : examined.derivatives) {
      if (d.path.starts_with(prefix)) d.path = d.path.substr(prefix.size());
      asset.derivatives.push_back(std::move(d));
    }
    examined.derivatives.clear();  // now the catalog's (or removed with the batch)
    return asset;
  }

  // Applies what was learnt of one file. New content of a file that had an
  // asset waits for `final`, the pass after every other file and removal, so
  // that whether it was its asset's only copy is judged on the whole walk.
  Status applyOne(std::size_t index, Examined examined, bool final) {
    const Pending& item = pending_[index];
    const Plan& plan = plans_[item.plan];
    const std::string path = absolute(item.plan, item.walked.path);
    if (examined.outcome == Examined::Outcome::failed) {
      ++tally_.failed;
      problem(path + ": " + examined.error);
      // Its row stays as it was, but what it holds now is not its asset's
      // content: the asset is named after, and read from, another copy.
      if (item.before && item.before->assetRow) {
        passedOver_.insert(item.before->row);
        touched_.insert(*item.before->assetRow);
      }
      return {};
    }
    if (examined.outcome == Examined::Outcome::vanished) {
      // Gone since the walk: as if the walk had not found it.
      if (item.before) {
        if (item.before->assetRow) goneByAsset_[*item.before->assetRow].push_back(gone_.size());
        gone_.push_back({item.plan, *item.before, false});
      }
      return {};
    }
    if (Status begun = batch_.begin(); !begun) return begun;
    // A manager's files all sit in the root's folder row: its own albums,
    // not the file system's folders, group them.
    const std::string folderPath = plan.manager ? std::string() : folderOf(item.walked.path);
    const auto device = plan.folderDevices.find(folderPath);
    auto folder = catalog_.folderRow(plan.source.row, folderPath,
                                     static_cast<std::int64_t>(device == plan.folderDevices.end() ? plan.rootDevice : device->second));
    if (!folder) return folder.status();
    SourceFile row{0, item.walked.path, std::nullopt, item.walked.size, item.walked.modifiedNs,
                                  item.walked.inode};
    const std::optional<std::int64_t> previous = item.before ? item.before->assetRow : std::nullopt;
    // Leaves the file's previous asset (reported as removed when it had one
    // and `report`), before it is recorded anew.
    const auto leavePrevious = [&](bool report) -> Status {
      if (!item.before) return {};
      std::string identifier;
      if (previous) {
        auto found = catalog_.assetIdentifier(*previous);
        if (!found) return found.status();
        identifier = *found;
      }
      // The asset stays until the end of the sync: a later file may be its copy.
      if (Status removed = catalog_.removeFile(item.before->row, batch_.unlinkAfter(), true); !removed) return removed;
      if (previous) maybeUnheld_.push_back(*previous);
      if (previous) touched_.insert(*previous);
      if (previous && report) batch_.report(SyncChange::removed, identifier, path);
      return {};
    };

    if (examined.outcome == Examined::Outcome::notMedia) {
      ++tally_.skipped;
      if (Status left = leavePrevious(true); !left) return left;
      return catalog_.recordFile(plan.source.row, *folder, row);
    }
    auto owner = catalog_.assetWithContent(examined.digest);
    if (!owner) return owner.status();
    if (*owner) {
      // Its derivatives were made by a file with the same content that is
      // recorded by now; these go.
      for (const StoredDerivative& d : examined.derivatives) batch_.unlinkAfter().push_back(d.path);
      const DateClaim claim = dateOf(examined, item.walked, item.managerDate);
      if (Status dated = catalog_.settleCreationDate((*owner)->row, claim.date, claim.fromContent); !dated) return dated;
      if (previous && *previous == (*owner)->row) {  // touched, same content
        ++tally_.unchanged;
        return catalog_.recordFile(plan.source.row, *folder, {0, row.path, previous, row.size, row.modifiedNs, row.inode});
      }
      if (Status left = leavePrevious(false); !left) return left;
      row.assetRow = (*owner)->row;
      touched_.insert((*owner)->row);
      if (Status recorded = catalog_.recordFile(plan.source.row, *folder, row); !recorded) return recorded;
      SyncChange change = item.before ? SyncChange::changed : SyncChange::added;
      if (!item.before) {
        if (auto gone = goneByAsset_.find((*owner)->row); gone != goneByAsset_.end() && !gone->second.empty()) {
          gone_[gone->second.front()].moved = true;
          gone->second.pop_front();
          change = SyncChange::moved;
        }
      }
      batch_.report(change, (*owner)->identifier, path);
      return {};
    }
    // New content. The file's only copy of an asset keeps that asset.
    if (previous && !final) {
      deferred_.emplace_back(index, std::move(examined));
      return {};
    }
    NewAsset asset = newAsset(examined, item.plan, item.walked, item.managerDate);
    if (previous) {
      auto only = catalog_.isOnlyCopy(*previous);
      if (!only) return only.status();
      if (*only) {
        if (Status renewed = catalog_.renewAsset(*previous, asset, batch_.unlinkAfter()); !renewed) return renewed;
        row.assetRow = previous;
        if (Status recorded = catalog_.recordFile(plan.source.row, *folder, row); !recorded) return recorded;
        auto identifier = catalog_.assetIdentifier(*previous);
        if (!identifier) return identifier.status();
        batch_.report(SyncChange::changed, *identifier, path);
        return {};
      }
    }
    if (Status left = leavePrevious(false); !left) return left;
    auto inserted = catalog_.insertAsset(examined.storageName, asset);
    if (!inserted) {
      for (const StoredDerivative& d : asset.derivatives) ::unlink((libraryFolder_ + "/" + d.path).c_str());
      return inserted.status();
    }
    row.assetRow = *inserted;
    if (Status recorded = catalog_.recordFile(plan.source.row, *folder, row); !recorded) return recorded;
    batch_.report(previous ? SyncChange::changed : SyncChange::added, examined.storageName, path);
    return {};
  }

  // Result `i` of `pool`. While it is not ready (a large file is being
  // hashed), the open batch is committed once it is due, so that the writer
  // lock is not held while nothing is written.
  template <class R>
  Result<R> takeInTurn(OrderedPool<R>& pool, std::size_t i) {
    while (batch_.isOpen() && !pool.readyBy(i, batch_.due())) {
      if (Status committed = batch_.commitIfDue(true); !committed) return committed;
    }
    return pool.take(i);
  }

  // The media module, loaded on first use.
  Status loadMedia() {
    if (media_ == nullptr) media_ = loadMedia_();
    return media_ != nullptr ? Status{} : Status::error("the media module cannot be loaded");
  }

  Status apply() {
    if (pending_.empty()) return {};
    if (Status loaded = loadMedia(); !loaded) return loaded;
    auto hashes = catalog_.contentHashes();
    if (!hashes) return hashes.status();
    ContentClaims claims(std::move(hashes).value());
    OrderedPool<Examined> pool(pending_.size(), [&](std::size_t i) {
      return examine(*media_, claims, libraryFolder_, copyAt(pending_[i].plan, pending_[i].walked.path),
                     pending_[i].walked);
    });
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      auto taken = takeInTurn(pool, i);
      if (!taken) return taken.status();
      Examined examined = std::move(taken).value();
      if (observer_.progress) observer_.progress(i + 1, pending_.size(), absolute(pending_[i].plan, pending_[i].walked.path));
      if (Status applied = applyOne(i, std::move(examined), false); !applied) return applied;
      if (Status committed = batch_.commitIfDue(false); !committed) return committed;
      if (observer_.stop && observer_.stop()) {
        stopped_ = true;
        return batch_.commitIfDue(true);
      }
    }
    return {};
  }

  // After the removals: edited files whose assets may have had other copies.
  Status applyDeferred() {
    for (auto& [index, examined] : deferred_) {
      if (Status applied = applyOne(index, std::move(examined), true); !applied) return applied;
      if (Status committed = batch_.commitIfDue(false); !committed) return committed;
    }
    return removeUnheld();
  }

  Status removeUnheld() {
    if (Status begun = batch_.begin(); !begun) return begun;
    for (const std::int64_t asset : maybeUnheld_) {
      if (Status removed = catalog_.removeAssetIfUnheld(asset, batch_.unlinkAfter()); !removed) return removed;
    }
    maybeUnheld_.clear();
    return {};
  }

  // Assets whose copies changed in this run are named after the copy the
  // helper reads now (a renamed or moved file, a first copy deleted or
  // damaged); identifiers stay.
  Status nameTouchedAssets() {
    if (touched_.empty()) return {};
    if (Status begun = batch_.begin(); !begun) return begun;
    for (const std::int64_t asset : touched_) {
      if (Status named = catalog_.nameAfterFirstCopy(asset, passedOver_); !named) return named;
    }
    touched_.clear();
    return {};
  }

  // After every addition, so that a moved file's asset never leaves the
  // library on the way; with `onlyMoved`, just the old places of moved files.
  Status removeGone(bool onlyMoved) {
    for (const Gone& gone : gone_) {
      if (onlyMoved && !gone.moved) continue;
      if (Status begun = batch_.begin(); !begun) return begun;
      std::string identifier;
      if (gone.file.assetRow) {
        auto found = catalog_.assetIdentifier(*gone.file.assetRow);
        if (!found) return found.status();
        identifier = *found;
      }
      if (Status removed = catalog_.removeFile(gone.file.row, batch_.unlinkAfter()); !removed) return removed;
      if (gone.file.assetRow) touched_.insert(*gone.file.assetRow);
      if (gone.file.assetRow && !gone.moved) batch_.report(SyncChange::removed, identifier, absolute(gone.plan, gone.file.path));
      if (Status committed = batch_.commitIfDue(false); !committed) return committed;
    }
    return {};
  }

  // The asset row of each of a manager's files (0: none), from the plan's
  // recorded assets: each path looked up once, however many albums hold it.
  static std::vector<std::int64_t> assetsOfManagerFiles(const Plan& plan) {
    std::unordered_map<std::string_view, std::int64_t> byPath;
    byPath.reserve(plan.recordedAssets.size());
    for (const auto& [path, asset] : plan.recordedAssets) byPath.emplace(path, asset);
    std::vector<std::int64_t> assetOf(plan.managerPaths.size(), 0);
    for (std::size_t i = 0; i < assetOf.size(); ++i) {
      if (const auto found = byPath.find(plan.managerPaths[i]); found != byPath.end()) assetOf[i] = found->second;
    }
    return assetOf;
  }

  // The events, tags and folders of the manager sources synced, as albums of
  // the assets their files are now; after every file, so that each member
  // is known.
  Status recordManagerAlbums() {
    for (Plan& plan : plans_) {
      if (!plan.manager) continue;
      if (plan.filesChanged) {
        auto files = catalog_.filesOf(plan.source.row, true);
        if (!files) return files.status();
        plan.recordedAssets.clear();
        plan.recordedAssets.reserve(files->size());
        for (SourceFile& file : *files) plan.recordedAssets.emplace_back(std::move(file.path), *file.assetRow);
      }
      const std::vector<std::int64_t> assetOf = assetsOfManagerFiles(plan);
      std::vector<SourceAlbum> albums;
      albums.reserve(plan.manager->albums.size());
      for (const ManagerAlbum& given : plan.manager->albums) {
        SourceAlbum& album = albums.emplace_back();
        album.key = given.key;
        album.subtype = given.kind == ManagerAlbumKind::event ? CollectionSubtype::albumSyncedEvent
                                                              : CollectionSubtype::albumSyncedFolder;
        album.title = given.title;
        for (const std::size_t member : given.members) {
          if (member < assetOf.size() && assetOf[member] != 0) album.assetRows.push_back(assetOf[member]);
        }
      }
      if (Status begun = batch_.begin(); !begun) return begun;
      if (Status replaced = catalog_.replaceSourceAlbums(plan.source, albums); !replaced) return replaced;
      if (Status committed = batch_.commitIfDue(true); !committed) return committed;
    }
    return {};
  }

  Status recordDevices() {
    if (Status begun = batch_.begin(); !begun) return begun;
    for (const Plan& plan : plans_) {
      if (Status recorded = catalog_.recordSourceDevice(plan.source.row, static_cast<std::int64_t>(plan.rootDevice));
          !recorded)
        return recorded;
    }
    if (Status pruned = catalog_.pruneEmptyCollections(); !pruned) return pruned;
    return batch_.commitIfDue(true);
  }

  // Derivatives made with an older recipe are made again, so that a change
  // of derivatives reaches existing libraries.
  Status renewOutdatedDerivatives() {
    auto outdated = catalog_.outdatedDerivatives();
    if (!outdated || outdated->empty()) return outdated.status();
    if (Status loaded = loadMedia(); !loaded) return loaded;
    OrderedPool<std::pair<std::string, std::vector<StoredDerivative>>> pool(outdated->size(), [&](std::size_t i) {
      std::string storage;
      const auto& work = (*outdated)[i];
      if (!work.originalPath.empty()) {
        auto made = makeDerivatives(*media_, libraryFolder_, work.originalPath, work.mediaType, storage);
        return std::make_pair(storage, std::move(made));
      }
      // A copy in a source, by the rule the helper reads it by; one changed
      // in place is the next sync's to examine, not to make these from.
      auto copy = openReferencedCopy(work.copies, work.sha256);
      if (!copy || copy->editedInPlace) return std::make_pair(storage, std::vector<StoredDerivative>());
      auto made = makeDerivatives(*media_, libraryFolder_, copy->file->openedName(work.copies[copy->index].absolutePath()),
                                  work.mediaType, storage);
      return std::make_pair(storage, std::move(made));
    });
    const std::string prefix = libraryFolder_ + "/";
    for (std::size_t i = 0; i < outdated->size(); ++i) {
      auto taken = takeInTurn(pool, i);
      if (!taken) return taken.status();
      auto [storage, made] = std::move(taken).value();
      if (made.empty()) continue;  // kept as they are
      if (Status begun = batch_.begin(); !begun) return begun;
      // Made outside the writer lock: the asset may have been removed meanwhile.
      auto present = catalog_.hasAsset((*outdated)[i].assetRow);
      if (!present) return present.status();
      if (!*present) {
        for (const StoredDerivative& d : made) batch_.unlinkAfter().push_back(d.path);
        continue;
      }
      for (StoredDerivative& d : made) {
        if (d.path.starts_with(prefix)) d.path = d.path.substr(prefix.size());
      }
      if (Status replaced = catalog_.replaceDerivatives((*outdated)[i].assetRow, made, batch_.unlinkAfter()); !replaced)
        return replaced;
      if (Status committed = batch_.commitIfDue(false); !committed) return committed;
    }
    return batch_.commitIfDue(true);
  }

  CatalogWriter& catalog_;
  const std::function<MediaModule*()>& loadMedia_;
  MediaModule* media_ = nullptr;
  std::string libraryFolder_;
  const SyncObserver& observer_;
  SyncTally tally_;
  bool stopped_ = false;  // observer_.stop asked to end early
  Batch batch_;
  std::vector<Plan> plans_;
  std::vector<Pending> pending_;
  std::vector<Gone> gone_;
  std::vector<std::pair<std::size_t, Examined>> deferred_;  // index into pending_
  std::vector<std::int64_t> maybeUnheld_;  // assets a changed file left
  std::unordered_set<std::int64_t> touched_;     // assets whose copies changed
  std::unordered_set<std::int64_t> passedOver_;  // file rows that no longer hold their asset
  std::unordered_map<std::int64_t, std::deque<std::size_t>> goneByAsset_;
};

}  // namespace

Result<SyncTally> syncSources(CatalogWriter& catalog, const std::function<MediaModule*()>& media,
                              const std::string& libraryFolder, const std::vector<Source>& sources,
                              const SyncObserver& observer) {
  return SourceSync(catalog, media, libraryFolder, observer).run(sources);
}

bool looksLikeMedia(const ReadableFile& file) {
  auto head = file.read(64);
  return head && sniffMediaFormat(*head) != nullptr;
}

}  // namespace tolvek
