#include "platform/source_sync.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_map>
#include <unordered_set>

#include <glib/gstdio.h>

#include "library/media_formats.h"
#include "platform/catalog_identifiers.h"
#include "platform/content_hash.h"
#include "platform/media_module.h"
#include "platform/posix/posix_file.h"
#include "platform/source_walk.h"

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
  enum class Outcome { failed, notMedia, media } outcome = Outcome::failed;
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

// The name under which the media module reads the open file `fd`: the
// descriptor itself where /proc shows it, so that a file swapped for a link
// or a FIFO after it was opened is never what gets read.
std::string openedName(int fd, const std::string& path) {
  static const bool proc = ::access("/proc/self/fd", X_OK) == 0;
  return proc ? "/proc/self/fd/" + std::to_string(fd) : path;
}

Examined examine(MediaModule& media, ContentClaims& claims, const std::string& libraryFolder,
                 const std::string& path, const WalkedFile& walked) {
  Examined result;
  // Opened first so that a file that cannot be read is told from one that
  // is no picture (the probe answers nothing for both).
  auto file = ReadableFile::open(path);
  if (!file) {
    result.error = file.message();
    return result;
  }
  // A file written while the sync runs is left as it was recorded, for the
  // next sync: what was read must be what was walked.
  struct stat info {};
  if (::fstat(file->fd(), &info) != 0 || static_cast<std::uint64_t>(info.st_ino) != walked.inode ||
      static_cast<std::uint64_t>(info.st_size) != walked.size ||
      std::int64_t{info.st_mtim.tv_sec} * 1000000000 + info.st_mtim.tv_nsec != walked.modifiedNs) {
    result.error = "it changed while it was read; the next sync takes it up";
    return result;
  }
  const std::string name = openedName(file->fd(), path);
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

struct Pending {
  std::size_t plan = 0;
  WalkedFile walked;
  std::optional<CatalogWriter::SourceFile> before;  // the row of this path, when it changed
};

struct Plan {
  CatalogWriter::Source source;
  std::map<std::string, std::uint64_t> folderDevices;  // of the walk
  std::uint64_t rootDevice = 0;
};

struct Gone {
  std::size_t plan = 0;
  CatalogWriter::SourceFile file;
  bool moved = false;  // its asset turned up at a new path
};

// True when the walk finds one of the recorded media files unchanged.
bool holdsRecordedFiles(const SourceWalk& walk, const std::vector<CatalogWriter::SourceFile>& files) {
  std::unordered_map<std::string_view, const CatalogWriter::SourceFile*> recorded;
  for (const auto& file : files) {
    if (file.assetRow) recorded.emplace(file.path, &file);
  }
  if (recorded.empty()) return true;
  return std::any_of(walk.files.begin(), walk.files.end(), [&](const WalkedFile& walked) {
    const auto found = recorded.find(walked.path);
    return found != recorded.end() && found->second->size == walked.size &&
           found->second->modifiedNs == walked.modifiedNs;
  });
}

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

  Result<SyncTally> run(const std::vector<CatalogWriter::Source>& sources) {
    for (const CatalogWriter::Source& source : sources) {
      if (Status planned = plan(source); !planned) return planned;
    }
    if (Status applied = apply(); !applied) return applied;
    if (stopped_) return tally_;
    if (Status removed = removeGone(); !removed) return removed;
    if (Status applied = applyDeferred(); !applied) return applied;
    if (Status recorded = recordDevices(); !recorded) return recorded;
    if (Status renewed = renewOutdatedDerivatives(); !renewed) return renewed;
    return tally_;
  }

 private:
  void problem(const std::string& message) {
    if (observer_.problem) observer_.problem(message);
  }
  std::string absolute(std::size_t plan, const std::string& relative) const {
    return plans_[plan].source.path + "/" + relative;
  }

  Status plan(const CatalogWriter::Source& source) {
    auto files = catalog_.filesOf(source.row);
    if (!files) return files.status();
    const bool holdsAssets = std::any_of(files->begin(), files->end(), [](const auto& f) { return f.assetRow; });
    SourceWalk walk = walkSource(source.path);
    std::string offline;
    if (!walk.listed) {
      offline = walk.error;
    } else if (source.device && static_cast<std::uint64_t>(*source.device) != walk.folders.front().device &&
               !holdsRecordedFiles(walk, *files)) {
      // A drive mounted again may get another device number; it is the same
      // source while the files recorded from it are there.
      offline = "it is on another device than before (a drive that is not mounted?)";
    } else if (walk.folders.front().empty && holdsAssets) {
      offline = "it is empty (a drive that is not mounted?)";
    }
    if (!offline.empty()) {
      ++tally_.offline;
      problem(source.path + ": offline, " + offline + "; its assets are kept");
      return {};
    }
    const std::size_t index = plans_.size();
    Plan& plan = plans_.emplace_back(Plan{source, {}, walk.folders.front().device});
    for (const WalkedFolder& folder : walk.folders) plan.folderDevices[folder.path] = folder.device;

    // Folders whose content this walk does not know: unreadable ones, and
    // mount points that are now empty or gone. What they held is kept.
    std::vector<std::string> unknown = walk.unreadable;
    for (const std::string& folder : walk.unreadable) {
      ++tally_.failed;
      problem(absolute(index, folder) + ": cannot be read; what the library holds from it is kept");
    }
    auto folders = catalog_.foldersOf(source.row);
    if (!folders) return folders.status();
    for (const CatalogWriter::SourceFolder& folder : *folders) {
      if (!folder.device || folder.path.empty() || static_cast<std::uint64_t>(*folder.device) == plan.rootDevice) continue;
      const auto seen = std::find_if(walk.folders.begin(), walk.folders.end(),
                                     [&](const WalkedFolder& w) { return w.path == folder.path; });
      if (seen == walk.folders.end() || (seen->empty && seen->device != static_cast<std::uint64_t>(*folder.device))) {
        ++tally_.offline;
        problem(absolute(index, folder.path) + ": offline, a drive mounted there is not; its assets are kept");
        unknown.push_back(folder.path);
      }
    }

    std::unordered_map<std::string, CatalogWriter::SourceFile> known;
    known.reserve(files->size());
    for (CatalogWriter::SourceFile& file : *files) known.emplace(file.path, std::move(file));
    for (WalkedFile& walked : walk.files) {
      const auto found = known.find(walked.path);
      if (observer_.busy && observer_.busy(absolute(index, walked.path))) {
        if (found != known.end()) known.erase(found);  // kept as recorded
        continue;
      }
      if (found == known.end()) {
        pending_.push_back({index, std::move(walked), std::nullopt});
        continue;
      }
      const CatalogWriter::SourceFile& row = found->second;
      if (row.size == walked.size && row.modifiedNs == walked.modifiedNs && row.inode == walked.inode) {
        if (row.assetRow) ++tally_.unchanged; else ++tally_.skipped;
      } else {
        pending_.push_back({index, std::move(walked), row});
      }
      known.erase(found);
    }
    for (auto& entry : known) {
      const std::string& path = entry.first;
      CatalogWriter::SourceFile& row = entry.second;
      const bool kept = std::any_of(unknown.begin(), unknown.end(),
                                    [&](const std::string& folder) { return isWithinFolder(path, folder); });
      if (kept) continue;
      if (row.assetRow) goneByAsset_[*row.assetRow].push_back(gone_.size());
      gone_.push_back({index, std::move(row), false});
    }
    return {};
  }

  // A new asset for `examined`, whose copy is `relative` in plan `plan`.
  NewAsset newAsset(Examined& examined, std::size_t plan, const WalkedFile& walked) {
    NewAsset asset;
    asset.mediaType = examined.probe.mediaType;
    // Without a date in the file, its modification time.
    asset.creationDate = examined.probe.creationDate ? *examined.probe.creationDate
                                                     : walked.modifiedNs / 1000000000 - (walked.modifiedNs < 0 ? 1 : 0);
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
      return {};
    }
    if (Status begun = batch_.begin(); !begun) return begun;
    const std::string folderPath = folderOf(item.walked.path);
    const auto device = plan.folderDevices.find(folderPath);
    auto folder = catalog_.folderRow(plan.source.row, folderPath,
                                     static_cast<std::int64_t>(device == plan.folderDevices.end() ? plan.rootDevice : device->second));
    if (!folder) return folder.status();
    CatalogWriter::SourceFile row{0, item.walked.path, std::nullopt, item.walked.size, item.walked.modifiedNs,
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
      if (previous && *previous == (*owner)->row) {  // touched, same content
        ++tally_.unchanged;
        return catalog_.recordFile(plan.source.row, *folder, {0, row.path, previous, row.size, row.modifiedNs, row.inode});
      }
      if (Status left = leavePrevious(false); !left) return left;
      row.assetRow = (*owner)->row;
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
    NewAsset asset = newAsset(examined, item.plan, item.walked);
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
      return examine(*media_, claims, libraryFolder_, absolute(pending_[i].plan, pending_[i].walked.path),
                     pending_[i].walked);
    });
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      Examined examined = pool.take(i);
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
    if (Status begun = batch_.begin(); !begun) return begun;
    for (const std::int64_t asset : maybeUnheld_) {
      if (Status removed = catalog_.removeAssetIfUnheld(asset, batch_.unlinkAfter()); !removed) return removed;
    }
    return {};
  }

  // After every addition, so that a moved file's asset never leaves the
  // library on the way.
  Status removeGone() {
    for (const Gone& gone : gone_) {
      if (Status begun = batch_.begin(); !begun) return begun;
      std::string identifier;
      if (gone.file.assetRow) {
        auto found = catalog_.assetIdentifier(*gone.file.assetRow);
        if (!found) return found.status();
        identifier = *found;
      }
      if (Status removed = catalog_.removeFile(gone.file.row, batch_.unlinkAfter()); !removed) return removed;
      if (gone.file.assetRow && !gone.moved) batch_.report(SyncChange::removed, identifier, absolute(gone.plan, gone.file.path));
      if (Status committed = batch_.commitIfDue(false); !committed) return committed;
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
      auto made = makeDerivatives(*media_, libraryFolder_, work.originalPath, work.mediaType, storage);
      return std::make_pair(storage, std::move(made));
    });
    const std::string prefix = libraryFolder_ + "/";
    for (std::size_t i = 0; i < outdated->size(); ++i) {
      auto [storage, made] = pool.take(i);
      if (made.empty()) continue;  // kept as they are
      if (Status begun = batch_.begin(); !begun) return begun;
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
  std::unordered_map<std::int64_t, std::deque<std::size_t>> goneByAsset_;
};

}  // namespace

Result<SyncTally> syncSources(CatalogWriter& catalog, const std::function<MediaModule*()>& media,
                              const std::string& libraryFolder, const std::vector<CatalogWriter::Source>& sources,
                              const SyncObserver& observer) {
  return SourceSync(catalog, media, libraryFolder, observer).run(sources);
}

bool looksLikeMedia(const ReadableFile& file) {
  auto head = file.read(64);
  return head && sniffMediaFormat(*head) != nullptr;
}

std::string sourceOfflineReason(const CatalogWriter::Source& source, bool holdsAssets) {
  struct stat info {};
  if (::stat(source.path.c_str(), &info) != 0) return "it is missing";
  if (!S_ISDIR(info.st_mode)) return "it is not a folder";
  if (source.device && *source.device != static_cast<std::int64_t>(info.st_dev)) return "it is on another device";
  DIR* dir = ::opendir(source.path.c_str());
  if (dir == nullptr) return "it cannot be listed";
  bool entries = false;
  while (const dirent* entry = ::readdir(dir)) {
    if (std::string_view(entry->d_name) != "." && std::string_view(entry->d_name) != "..") {
      entries = true;
      break;
    }
  }
  ::closedir(dir);
  return !entries && holdsAssets ? "it is empty" : "";
}

}  // namespace tolvek
