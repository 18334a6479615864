// The plan pass for a photo manager's source: its database, read as one
// snapshot, names the files; they are stat'ed (manager_file_stat.h) and
// compared with the files recorded from it as a folder's walk is. A
// database that cannot be read, or whose files are all gone (a drive not
// mounted), makes the source offline with everything it gave kept; a
// missing file whose folder is gone or empty keeps its place too. Runs on
// the sync's calling thread.
#include <sys/stat.h>

#include <algorithm>
#include <unordered_map>

#include "platform/posix/path_text.h"
#include "platform/sources/manager_file_stat.h"
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

// The manager's files as a walk of the file system's root that finds just
// them. `dates` receives the manager's date of each walked file; `missing`
// counts the files not found, `absentFiles` those of them kept.
struct ManagerWalk {
  SourceWalk walk;
  std::vector<std::optional<std::int64_t>> dates;
  std::size_t missing = 0, absentFiles = 0;
};

// A missing file whose folder is gone or empty may be on a drive that is not
// mounted: it keeps its place (and its albums) until it is back. Each folder
// is looked at once; the absent ones are added to the plan.
class AbsentFolders {
 public:
  explicit AbsentFolders(ManagerPlan& plan) : plan_(plan) {}
  bool contains(const std::string& folder) {
    const auto known = absent_.find(folder);
    if (known != absent_.end()) return known->second;
    const bool gone = folderHasEntries("/" + folder) != true;
    if (gone) plan_.absentFolders.push_back(folder);
    return absent_[folder] = gone;
  }

 private:
  ManagerPlan& plan_;
  std::unordered_map<std::string, bool> absent_;
};

ManagerWalk walkManagerFiles(ManagerPlan& plan, std::uint64_t rootDevice) {
  const std::vector<ManagerAsset>& assets = plan.read.assets;
  std::vector<std::optional<WalkedFile>> found = statManagerFiles(assets);
  ManagerWalk result;
  std::vector<std::size_t> present;
  present.reserve(assets.size());
  plan.paths.reserve(assets.size());
  AbsentFolders absent(plan);
  for (std::size_t i = 0; i < found.size(); ++i) {
    if (found[i]) {
      plan.paths.push_back(found[i]->path);
      present.push_back(i);
      continue;
    }
    ++result.missing;
    std::string relative = managerRelativePath(assets[i].path);
    const bool inFolder = relative.find('/') != std::string::npos;
    const bool kept = plan.keepAll || (inFolder && absent.contains(std::string(folderPart(relative))));
    if (kept) ++result.absentFiles;
    plan.paths.push_back(kept ? std::move(relative) : std::string());
  }
  // In walk order; two spellings of one path ("/a//b", "/a/b") are one file.
  const auto byPath = [&](std::size_t a, std::size_t b) { return found[a]->path < found[b]->path; };
  if (!std::is_sorted(present.begin(), present.end(), byPath)) std::sort(present.begin(), present.end(), byPath);
  SourceWalk& walk = result.walk;
  walk.listed = true;
  walk.folders.push_back({"", rootDevice, false});
  walk.files.reserve(present.size());
  result.dates.reserve(present.size());
  for (const std::size_t i : present) {
    if (!walk.files.empty() && walk.files.back().path == found[i]->path) continue;
    result.dates.push_back(assets[i].creationDate);
    walk.files.push_back(std::move(*found[i]));
  }
  return result;
}

// Tells the files the manager names that are not there: left out, or kept
// while their volume or folder is not there.
void tellMissing(SyncRun& run, const Source& source, const ManagerWalk& walked, std::size_t unavailable) {
  const auto counted = [](std::size_t n) {
    return std::to_string(n) + (n == 1 ? " of the files it records is" : " of the files it records are");
  };
  const std::size_t missing = walked.missing, absentFiles = walked.absentFiles;
  if (missing > absentFiles) run.problem(source.path + ": " + counted(missing - absentFiles) + " missing; left out");
  if (unavailable > 0) {
    run.problem(source.path + ": " + counted(unavailable) +
                " on a volume that is not mounted; nothing the library has from this database is removed");
  }
  if (absentFiles > 0) {
    run.problem(source.path + ": " + counted(absentFiles) +
                (unavailable > 0 ? " missing; kept while a volume is not mounted"
                                 : " in folders that are gone or empty (a drive that is not mounted?); what the "
                                   "library has of them is kept"));
  }
}

}  // namespace

Status planManager(SyncRun& run, const Source& source, std::vector<SourceFile> files, bool holdsAssets,
                   Result<ManagerCatalog> read) {
  if (!read) {
    run.offline(source, read.message());
    return {};
  }
  struct stat info {};
  SourcePlan candidate;
  candidate.source = source;
  candidate.rootDevice = ::stat(source.path.c_str(), &info) == 0 ? static_cast<std::uint64_t>(info.st_dev) : 0;
  ManagerPlan& manager = candidate.manager.emplace();
  manager.read = std::move(read).value();
  const std::size_t unavailable = manager.read.unavailable;
  manager.keepAll = unavailable > 0;
  ManagerWalk walked = walkManagerFiles(manager, candidate.rootDevice);
  if (walked.walk.files.empty() && (walked.missing > 0 || unavailable > 0) && holdsAssets) {
    run.offline(source, "none of the files it records is there (a drive that is not mounted?)");
    return {};
  }
  run.tally.missing += walked.missing;
  tellMissing(run, source, walked, unavailable);
  const std::size_t index = run.plans.size();
  run.plans.push_back(std::move(candidate));
  return planFiles(run, index, walked.walk, std::move(files), &walked.dates);
}

}  // namespace tolvek
