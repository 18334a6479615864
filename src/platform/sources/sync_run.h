#pragma once
// SyncRun: what the passes of one sync share, owned by SourceSync
// (source_sync.cpp) for the length of the sync and changed on its calling
// thread only; the worker pools read `pending`, `plans` and `libraryFolder`,
// which must not change while a pool runs. The plan pass fills `plans`, `pending` (and `rest`) and `gone`; the apply
// pass reads them and leaves `deferred`, `maybeUnheld`, `touched` and
// `passedOver` to the passes after it. The catalog, the observer and the
// media loader are the caller's and outlive the run.
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/managers/manager_catalog.h"
#include "platform/sources/examine_file.h"
#include "platform/sources/source_sync.h"
#include "platform/sources/sync_batch.h"

namespace tolvek {

class MediaModule;

// What the plan of a photo manager's source adds to a folder's.
struct ManagerPlan {
  ManagerCatalog read;  // the database as read
  // The paths of its assets as the walk has them (relative to the root, ""
  // when the file is missing), in the order of `read.assets`.
  std::vector<std::string> paths;
  // Its files found as recorded that hold an asset, by path, and whether any
  // of its files changed: when none did, these are what its albums are made
  // of, without reading the rows again.
  std::vector<std::pair<std::string, std::int64_t>> recordedAssets;
  bool filesChanged = false;
  // Folders holding files it names that are gone or empty now (a drive that
  // is not mounted): what they held is kept.
  std::vector<std::string> absentFolders;
  // Whether it names files on a volume not found here: then no recorded file
  // of the source goes.
  bool keepAll = false;
};

// One source that is online, as this sync found it.
struct SourcePlan {
  Source source;
  std::map<std::string, std::uint64_t> folderDevices;  // of the walk
  std::uint64_t rootDevice = 0;
  std::optional<ManagerPlan> manager;
  bool windowed = false;  // its pending files may be held a window at a time
};

// A new or changed file, to be examined.
struct Pending {
  std::size_t plan = 0;
  WalkedFile walked;
  std::optional<SourceFile> before;  // the row of this path, when it changed
  std::optional<std::int64_t> managerDate;  // the capture time a photo manager gave it
};

// At most this many new or changed files are held at a time: a larger plan
// (a first sync of a large source) keeps counting them, and the rest are
// planned again, a window at a time, as the window before is applied.
inline constexpr std::size_t kPendingWindow = 2048;

// Where the plan stopped holding pending files: from the folder source of
// plan `plan`, after the path `after` (from its start when nothing), with
// the walk that goes on from there once begun.
struct PendingRest {
  std::size_t plan = 0;
  std::optional<std::string> after;
  std::unique_ptr<SourceWalker> walker;
};

// A recorded file the walk did not find.
struct Gone {
  std::size_t plan = 0;
  SourceFile file;
  bool moved = false;  // its asset turned up at a new path
};

struct SyncRun {
  SyncRun(CatalogWriter& writer, const std::function<MediaModule*()>& media, std::string library,
          const SyncObserver& told)
      : catalog(writer), observer(told), libraryFolder(std::move(library)), batch(writer, told, tally),
        loadMedia_(media) {}
  SyncRun(const SyncRun&) = delete;
  SyncRun& operator=(const SyncRun&) = delete;

  void problem(const std::string& message) const {
    if (observer.problem) observer.problem(message);
  }
  // Counts and tells a source that is not there.
  void offline(const Source& source, const std::string& reason);
  // Tells the link to a folder at `relative` in plan `plan`, which no walk
  // follows, with where it leads, and counts it; unless it leads into a
  // folder source of the library (already included) or to a folder holding
  // the link's own source (a loop).
  void folderLink(std::size_t plan, const std::string& relative);
  // The absolute path of `relative` in plan `plan`.
  std::string absolute(std::size_t plan, const std::string& relative) const {
    return plans[plan].source.fileRoot() + "/" + relative;
  }
  // Where a file of plan `plan` is, as the copy rules open it.
  RecordedCopy copyAt(std::size_t plan, const std::string& relative) const;
  // Records `file` of plan `plan` as gone.
  void addGone(std::size_t plan, SourceFile file);
  // The media module, loaded on first use.
  Status loadMedia();
  MediaModule& media() const { return *media_; }

  CatalogWriter& catalog;
  const SyncObserver& observer;
  const std::string libraryFolder;
  SyncTally tally;
  SyncBatch batch;
  bool stopped = false;  // observer.stop asked to end early

  std::vector<SourcePlan> plans;
  std::vector<Pending> pending;  // a window of them (kPendingWindow)
  std::optional<PendingRest> rest;  // the files not in any window yet
  std::size_t pendingTotal = 0;     // of every window
  std::size_t pendingDone = 0;      // in the windows applied before this one
  std::set<std::string> pendingFolders;  // those windows' folders (absolute)
  std::unique_ptr<ContentClaims> claims;  // shared by every window
  std::vector<Gone> gone;
  std::unordered_map<std::int64_t, std::deque<std::size_t>> goneByAsset;  // indexes into gone

  std::vector<std::pair<Pending, Examined>> deferred;
  std::vector<std::int64_t> maybeUnheld;          // assets a changed file left
  std::unordered_set<std::int64_t> touched;     // assets whose copies changed
  std::unordered_set<std::int64_t> passedOver;  // file rows that no longer hold their asset

 private:
  const std::function<MediaModule*()>& loadMedia_;
  MediaModule* media_ = nullptr;
  // The library's folder sources, each as recorded and as its real path;
  // read when the first link to a folder is found.
  std::optional<std::vector<std::pair<std::string, std::string>>> folderSources_;
};

}  // namespace tolvek
