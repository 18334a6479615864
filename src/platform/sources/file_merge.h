#pragma once
// FileMerge: the plan's pairing of walked files with recorded rows, both in
// byte order of paths, shared by the plans of a whole source
// (sync_plan.cpp) and of some of its folders (sync_scope.cpp). Used on the
// sync's calling thread over its SyncRun.
#include <algorithm>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>
#include <vector>

#include "platform/posix/path_text.h"
#include "platform/sources/sync_run.h"

namespace tolvek {

// Pairs each walked file with its recorded row, both coming in byte order of
// paths: new and changed files become pending, recorded ones not seen gone
// (unless the walk does not know their folder). A `windowed` merge (a folder
// source's) holds at most kPendingWindow pending files in the run and counts
// the rest (SyncRun::rest); `again` plans such a rest: only pending files
// are made, nothing is counted or gone.
class FileMerge {
 public:
  using NextRow = std::function<bool(SourceFile&)>;
  enum class Mode { whole, windowed, again };
  FileMerge(SyncRun& run, std::size_t index, std::vector<std::string> unknown, NextRow nextRow, Mode mode)
      : run_(run), index_(index), unknown_(std::move(unknown)), nextRow_(std::move(nextRow)), mode_(mode) {
    SourcePlan& plan = run.plans[index];
    manager_ = plan.manager ? &*plan.manager : nullptr;
    if (manager_) absent_.insert(manager_->absentFolders.begin(), manager_->absentFolders.end());
  }

  void addUnknown(std::string folder) { unknown_.push_back(std::move(folder)); }

  void walked(WalkedFile& walked, std::optional<std::int64_t> date) {
    while (hasRow() && row_.path < walked.path) gone();
    const bool isRecorded = hasRow() && row_.path == walked.path;
    if (run_.observer.busy && run_.observer.busy(run_.absolute(index_, walked.path))) {
      if (isRecorded) keep();  // kept as recorded
      return;
    }
    if (!isRecorded) {
      changed();
      pend({index_, std::move(walked), std::nullopt, date});
      return;
    }
    if (row_.size == walked.size && row_.modifiedNs == walked.modifiedNs && row_.inode == walked.inode) {
      if (mode_ != Mode::again) ++(row_.assetRow ? run_.tally.unchanged : run_.tally.skipped);
      keep();
    } else {
      changed();
      pend({index_, std::move(walked), std::move(row_), date});
      held_ = false;
    }
  }

  void finish() {
    while (hasRow()) gone();
  }

 private:
  bool hasRow() {
    if (!held_ && !ended_) ended_ = !(held_ = nextRow_(row_));
    return held_;
  }
  void changed() {
    if (manager_) manager_->filesChanged = true;
  }
  void keep() {
    held_ = false;
    if (manager_ && row_.assetRow) manager_->recordedAssets.emplace_back(std::move(row_.path), *row_.assetRow);
  }
  void gone() {
    if (mode_ == Mode::again) {  // told when planned first
      held_ = false;
      return;
    }
    const bool kept = std::any_of(unknown_.begin(), unknown_.end(),
                                  [&](const std::string& folder) { return isWithinFolder(row_.path, folder); }) ||
                      (!absent_.empty() && absent_.contains(folderPart(row_.path))) || (manager_ && manager_->keepAll);
    if (kept) return keep();
    changed();
    held_ = false;
    run_.addGone(index_, std::move(row_));
  }
  void pend(Pending pending) {
    if (mode_ != Mode::again) ++run_.pendingTotal;
    if (mode_ == Mode::windowed && (run_.rest || run_.pending.size() >= kPendingWindow)) {
      if (!run_.rest) run_.rest = PendingRest{index_, lastHeld_, nullptr};
      return;
    }
    if (mode_ == Mode::windowed) lastHeld_ = pending.walked.path;
    run_.pending.push_back(std::move(pending));
  }

  SyncRun& run_;
  const std::size_t index_;
  std::vector<std::string> unknown_;
  NextRow nextRow_;
  const Mode mode_;
  ManagerPlan* manager_ = nullptr;
  std::unordered_set<std::string_view> absent_;
  SourceFile row_;
  bool held_ = false, ended_ = false;
  std::optional<std::string> lastHeld_;  // the last path held in the window
};

// Feeds the walk's steps to `merge` for the source of plan `index`: files
// are merged, folders' devices kept, folders it could not read or went no
// deeper than told and kept as they are recorded, and links to folders told.
inline void mergeWalk(SyncRun& run, std::size_t index, SourceWalker& walker, FileMerge& merge) {
  WalkStep step;
  while (walker.next(step)) {
    switch (step.kind) {
      case WalkStep::Kind::file: merge.walked(step.file, std::nullopt); break;
      case WalkStep::Kind::folder: run.plans[index].folderDevices[step.folder.path] = step.folder.device; break;
      case WalkStep::Kind::unreadable:
        ++run.tally.failed;
        run.problem(run.absolute(index, step.path) + ": cannot be read; what the library holds from it is kept");
        merge.addUnknown(std::move(step.path));
        break;
      case WalkStep::Kind::tooDeep:
        // Told, not failed: the next sync finds it as deep.
        run.problem(run.absolute(index, step.path) + ": too deep (more than " + std::to_string(kMaxWalkDepth) +
                    " folders below the source); left out");
        merge.addUnknown(std::move(step.path));
        break;
      case WalkStep::Kind::folderLink: run.folderLink(index, step.path); break;
    }
  }
}

}  // namespace tolvek
