#pragma once
// Brings the catalog up to date with sources: folders whose pictures and
// videos the library references in place, and other photo managers'
// databases naming such files (their events, tags and folders become
// albums), never writing, moving or removing any of their files. Unchanged files (same path, size, modification time and
// inode) are not opened; new and changed ones are probed, hashed and, when
// their content is new, given derivatives, on a small pool of worker threads
// while the catalog is written on the calling thread only. Files with the same
// content are one asset; a moved file keeps its asset. Work is committed in
// batches, so a killed sync keeps every change it reported.
//
// The passes (sync_passes.h) run in this order so that no result depends on
// the order of files or sources: additions first, then removals, then the
// new content of files that had an asset (whether a file was its asset's
// only copy, which then keeps its identifier, is judged on the whole walk),
// then the removal of assets left without a copy. An asset's date is the
// capture date its content carries, else the earliest of a manager's date
// and its copies' modification times; a further copy only moves such a date
// earlier, so a sync of what did not change changes no date. Every folder
// directly holding media is an album (catalog/folder_albums.h).
//
// A source that is missing, empty, unlistable or on another device than
// recorded is offline and keeps everything. So is a folder recorded on
// another device than its source (a mount point) that is now on another
// device and holds none of its recorded files. A source found on another
// device holding its recorded files at their paths with their sizes and, for
// a sample, their content hashes, is the same source copied there: it keeps
// every identifier, album and favourite.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_writer.h"

namespace tolvek {

class MediaModule;

enum class SyncChange { added, changed, moved, removed };

// One file path whose standing changed, reported once the change committed.
struct SyncEvent {
  SyncChange change = SyncChange::added;
  std::string assetIdentifier;
  std::string path;  // absolute, bytes as on disk
};

struct SyncTally {
  std::size_t added = 0, changed = 0, moved = 0, removed = 0;
  std::size_t unchanged = 0;
  std::size_t skipped = 0;  // files that are not pictures, videos or audio
  std::size_t failed = 0;   // files or folders that could not be read
  std::size_t offline = 0;  // sources (or mount points in them) that were not there
  std::size_t missing = 0;  // files a photo manager records that are not there
  std::size_t linksNotFollowed = 0;  // links to folders outside every source, told
};

// The folders of a source (absolute paths) that may have changed since it
// was last synced: each alone (its own files), or with everything below it.
struct SyncScope {
  std::set<std::string> shallow, deep;
};

// What a sync tells as it goes; every member may be empty. Called on the
// thread that runs the sync.
struct SyncObserver {
  std::function<void(const SyncEvent&)> changed;
  std::function<void(const std::string& message)> problem;
  // Files examined of those to examine; `bytes` is the size of the one done.
  std::function<void(std::size_t done, std::size_t total, std::uint64_t bytes, const std::string& path)> progress;
  // Asked after each file: true ends the sync early, once what it did so far
  // is committed (what is left is the next sync's).
  std::function<bool()> stop;
  // Asked of each file found (its absolute path): true while another program
  // is still writing it, so it is left as the catalog has it, for a later sync.
  std::function<bool(const std::string& path)> busy;
  // Asked of each folder source found where it was recorded (its row): the
  // only folders of it to look at, as the watch's notifications name them;
  // nothing (or an empty scope) for all of it. A source holding mount points
  // is always looked at whole.
  std::function<const SyncScope*(std::int64_t sourceRow)> scope;
};

// A commit comes at least this often (by files changed and by time).
inline constexpr std::size_t kSyncBatchFiles = 200;
inline constexpr auto kSyncBatchSeconds = 1.0;

// Syncs `sources` (rows of `catalog`) together, so that a file moved from one
// to another keeps its asset. `libraryFolder` receives the derivatives. The
// media module comes from `media`, called only when a file is to be examined
// (a sync with nothing new never loads it). Fails only when the catalog cannot
// be written or the media module cannot be loaded; files and sources that
// cannot be read are counted and reported, and what they held is kept.
Result<SyncTally> syncSources(CatalogWriter& catalog, const std::function<MediaModule*()>& media,
                              const std::string& libraryFolder, const std::vector<Source>& sources,
                              const SyncObserver& observer);

// What a file the probe refused is said to be when its first bytes are still
// those of a picture, video or audio format (looksLikeMedia): a damaged or
// unsupported one, which counts as a failure rather than as no media at all.
inline constexpr char kUnreadableMedia[] = "looks like a picture, video or audio file but cannot be read";

}  // namespace tolvek
