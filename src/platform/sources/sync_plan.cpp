// The plan pass: each source as it is now (a walk of its folder) against
// what the catalog recorded of it. A source that is not there as recorded is
// told offline and keeps everything; otherwise its new and changed files
// become pending, recorded ones not found gone, and folders whose content
// the walk does not know (unreadable, too deep, a mount point whose drive is
// not mounted) keep what they held. Runs on the sync's calling thread; a
// manager's database is read on a thread of its own meanwhile.
#include <algorithm>
#include <functional>
#include <future>
#include <memory>
#include <string_view>
#include <unordered_set>

#include "platform/posix/path_text.h"
#include "platform/sources/file_merge.h"
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

// How many recorded files a source found on another device is checked by
// content before it counts as the same source copied there.
constexpr std::size_t kCopiedSourceSamples = 8;

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

// Whether a folder found on another device holds the files recorded from
// the source, copied there (a new drive, times not kept): at least half
// of them at their paths with their sizes, none of another size, and an
// even sample of them with their recorded content. The sync then takes
// the new device and inodes, and every identifier stays.
bool holdsCopiedFiles(CatalogWriter& catalog, const Source& source, const SourceWalk& walk,
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
    const auto content = catalog.original(*file.assetRow);
    auto opened = ReadableFile::openBelow(source.path, file.path);
    if (!content || content->sha256.empty() || !opened) return false;
    auto digest = digestOf(*opened);
    if (!digest || digest->sha256 != content->sha256) return false;
  }
  return true;
}

// Why the walked folder source is offline, else "".
std::string offlineReason(CatalogWriter& catalog, const Source& source, const SourceWalk& walk,
                          const std::vector<SourceFile>& files, bool holdsAssets) {
  if (!walk.listed) return walk.error;
  if (source.device && static_cast<std::uint64_t>(*source.device) != walk.folders.front().device &&
      !holdsRecordedFiles(walk, files, "", true) && !holdsCopiedFiles(catalog, source, walk, files)) {
    // A drive mounted again may get another device number; it is the same
    // source while the files recorded from it are there.
    return "it is on another device than before and holds none of the files recorded from it (a drive that "
           "is not mounted?); if its pictures are here for good, run: tolvek-photos-library forget " +
           source.path + " && tolvek-photos-library add " + source.path;
  }
  if (walk.folders.front().empty && holdsAssets) return "it is empty (a drive that is not mounted?)";
  return {};
}

// Tells the folders the walk could not read or went no deeper than, and
// returns them: what they held is kept. Tells its links to folders too.
std::vector<std::string> tellUnwalked(SyncRun& run, std::size_t index, const SourceWalk& walk) {
  std::vector<std::string> unknown = walk.unreadable;
  for (const std::string& folder : walk.unreadable) {
    ++run.tally.failed;
    run.problem(run.absolute(index, folder) + ": cannot be read; what the library holds from it is kept");
  }
  // Told, not failed: the next sync finds it as deep.
  for (const std::string& folder : walk.tooDeep) {
    unknown.push_back(folder);
    run.problem(run.absolute(index, folder) + ": too deep (more than " + std::to_string(kMaxWalkDepth) +
                " folders below the source); left out");
  }
  for (const std::string& link : walk.folderLinks) run.folderLink(index, link);
  return unknown;
}

// Adds to `unknown` the mount points recorded in the source of plan `index`
// whose drive is not mounted now, telling each offline.
Status addOfflineMountPoints(SyncRun& run, std::size_t index, const SourceWalk& walk,
                             const std::vector<SourceFile>& recorded, std::vector<std::string>& unknown) {
  const SourcePlan& plan = run.plans[index];
  if (plan.manager) return {};  // one folder, the root
  auto folders = run.catalog.foldersOf(plan.source.row);
  if (!folders) return folders.status();
  // Parents first, so that the folders below an offline one are not
  // reported again.
  std::sort(folders->begin(), folders->end(), [](const auto& a, const auto& b) { return a.path < b.path; });
  const std::int64_t rootDevice = plan.source.device.value_or(static_cast<std::int64_t>(plan.rootDevice));
  for (const SourceFolder& folder : *folders) {
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
      ++run.tally.offline;
      run.problem(run.absolute(index, folder.path) + ": offline, a drive mounted there is not; its assets are kept");
      unknown.push_back(folder.path);
    }
  }
  return {};
}

// The order of the walk's files by path bytes, as the catalog keeps rows.
std::vector<std::size_t> byteOrder(const SourceWalk& walk) {
  std::vector<std::size_t> order(walk.files.size());
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
  const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
  if (!std::is_sorted(walk.files.begin(), walk.files.end(), byPath)) {
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return walk.files[a].path < walk.files[b].path; });
  }
  return order;
}

}  // namespace

// Plans the walk of a folder source as it goes, merged with the catalog's
// rows read in the same order: neither is held whole.
Status planWalked(SyncRun& run, const Source& source, SourceWalker& walker) {
  const std::size_t index = run.plans.size();
  SourcePlan& plan = run.plans.emplace_back();
  plan.source = source;
  plan.rootDevice = walker.root().device;
  plan.folderDevices[""] = plan.rootDevice;
  plan.windowed = true;
  CatalogWriter::FileRows rows = run.catalog.fileRows(source.row);
  FileMerge merge(run, index, {}, [&](SourceFile& file) { return rows.next(file); }, FileMerge::Mode::windowed);
  mergeWalk(run, index, walker, merge);
  merge.finish();
  return rows.status();
}

namespace {

// Whether the folder source can be planned as it is walked: it is where it
// was recorded (its device), and no folder of it is a mount point, whose
// drive may be gone. The others are compared with a whole walk.
Result<bool> walksAsRecorded(CatalogWriter& catalog, const Source& source, const SourceWalker& walker) {
  if (!walker.listed()) return false;
  const auto device = static_cast<std::int64_t>(walker.root().device);
  if (source.device && *source.device != device) return false;
  auto mounts = catalog.holdsMountPoints(source.row, source.device.value_or(device));
  if (!mounts) return mounts.status();
  return !*mounts;
}

}  // namespace

Status planSource(SyncRun& run, const Source& source) {
  // A manager's database is read on a thread of its own (it touches
  // nothing of this sync) while the catalog gives what it recorded.
  std::future<Result<ManagerCatalog>> manager;
  if (source.kind != SourceKind::folder) {
    manager = std::async(std::launch::async, [kind = source.kind, path = source.path] {
      return readManagerCatalog(kind, path);
    });
  }
  std::optional<SourceWalker> walker;
  if (!manager.valid()) {
    walker.emplace(source.path);
    auto streamed = walksAsRecorded(run.catalog, source, *walker);
    if (!streamed) return streamed.status();
    if (*streamed) {
      auto holdsAssets = run.catalog.holdsAssets(source.row);
      if (!holdsAssets) return holdsAssets.status();
      if (walker->root().empty && *holdsAssets) {
        run.offline(source, "it is empty (a drive that is not mounted?)");
        return {};
      }
      const SyncScope* scope = run.observer.scope ? run.observer.scope(source.row) : nullptr;
      if (scope != nullptr && (!scope->shallow.empty() || !scope->deep.empty()))
        return planScoped(run, source, walker->root().device, *scope);
      return planWalked(run, source, *walker);
    }
  }
  auto files = run.catalog.filesOf(source.row);
  if (!files) return files.status();
  const bool holdsAssets = std::any_of(files->begin(), files->end(), [](const auto& f) { return f.assetRow; });
  if (manager.valid()) return planManager(run, source, std::move(files).value(), holdsAssets, manager.get());
  SourceWalk walk;
  walk.error = walker->error();
  if (walker->listed()) walk = walkSource(source.path);
  walker.reset();
  if (const std::string offline = offlineReason(run.catalog, source, walk, *files, holdsAssets); !offline.empty()) {
    run.offline(source, offline);
    return {};
  }
  const std::size_t index = run.plans.size();
  SourcePlan& plan = run.plans.emplace_back();
  plan.source = source;
  plan.rootDevice = walk.folders.front().device;
  for (const WalkedFolder& folder : walk.folders) plan.folderDevices[folder.path] = folder.device;
  return planFiles(run, index, walk, std::move(files).value());
}

// New and changed files become pending, recorded ones not seen gone. Both
// lists are in byte order (as the walk gives them and the catalog keeps
// them): one pass pairs each walked file with its row.
Status planFiles(SyncRun& run, std::size_t index, SourceWalk& walk, std::vector<SourceFile> recorded,
                 const std::vector<std::optional<std::int64_t>>* dates) {
  std::vector<std::string> unknown = tellUnwalked(run, index, walk);
  if (Status added = addOfflineMountPoints(run, index, walk, recorded, unknown); !added) return added;
  const auto byPath = [](const auto& a, const auto& b) { return a.path < b.path; };
  if (!std::is_sorted(recorded.begin(), recorded.end(), byPath)) std::sort(recorded.begin(), recorded.end(), byPath);
  std::size_t r = 0;
  const auto nextRow = [&](SourceFile& file) {
    if (r == recorded.size()) return false;
    file = std::move(recorded[r++]);
    return true;
  };
  FileMerge merge(run, index, std::move(unknown), nextRow, FileMerge::Mode::whole);
  for (const std::size_t i : byteOrder(walk)) merge.walked(walk.files[i], dates != nullptr ? (*dates)[i] : std::nullopt);
  merge.finish();
  return {};
}

Status planRest(SyncRun& run) {
  for (const Pending& item : run.pending) run.pendingFolders.emplace(folderPart(run.absolute(item.plan, item.walked.path)));
  run.pendingDone += run.pending.size();
  run.pending.clear();
  while (run.rest && run.pending.size() < kPendingWindow) {
    PendingRest& rest = *run.rest;
    const SourcePlan* plan = rest.plan < run.plans.size() ? &run.plans[rest.plan] : nullptr;
    if (plan == nullptr) {
      run.rest.reset();
      break;
    }
    if (!rest.walker && plan->windowed) rest.walker = std::make_unique<SourceWalker>(plan->source.path);
    // The other plans' files are all held; a source gone meanwhile is the next sync's.
    if (!plan->windowed || !rest.walker->listed()) {
      run.rest = PendingRest{rest.plan + 1, std::nullopt, nullptr};
      continue;
    }
    CatalogWriter::FileRows rows = run.catalog.fileRows(plan->source.row, rest.after);
    FileMerge merge(run, rest.plan, {}, [&](SourceFile& file) { return rows.next(file); }, FileMerge::Mode::again);
    WalkStep step;
    bool more = false;
    while (!(more = run.pending.size() >= kPendingWindow) && rest.walker->next(step)) {
      if (step.kind == WalkStep::Kind::file && (!rest.after || step.file.path > *rest.after)) merge.walked(step.file, std::nullopt);
    }
    if (Status read = rows.status(); !read) return read;
    if (more) {
      rest.after = run.pending.back().walked.path;
    } else {
      run.rest = PendingRest{rest.plan + 1, std::nullopt, nullptr};
    }
  }
  return {};
}

}  // namespace tolvek
