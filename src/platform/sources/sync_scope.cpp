// The plan of some folders of a folder source, as the watch's notifications
// name them: each folder is opened below the root without following links
// (a dot-folder, or one below a folder holding ".nomedia", is none the walk
// knows) and walked alone or with everything below it, merged with the
// rows recorded there. A folder gone is walked as empty, so what it held
// is gone; one that cannot be opened keeps what it held. A source whose root
// is named with everything below it is planned whole.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sources/file_merge.h"
#include "platform/sources/sync_passes.h"

namespace tolvek {
namespace {

// The folder `relative` below the root `fd`, opened as the walk would reach
// it; -1 with errno ENOENT when the walk would not (gone, a link, a file,
// a dot-folder or one below ".nomedia").
int openAsWalked(int rootFd, const std::string& relative) {
  int fd = ::dup(rootFd);
  std::size_t from = 0;
  while (fd >= 0 && from < relative.size()) {
    const std::size_t slash = std::min(relative.find('/', from), relative.size());
    const std::string name = relative.substr(from, slash - from);
    const bool hidden = name.empty() || name[0] == '.' || ::faccessat(fd, ".nomedia", F_OK, AT_SYMLINK_NOFOLLOW) == 0;
    const int next = hidden ? -1 : ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = hidden || errno == ENOTDIR || errno == ELOOP ? ENOENT : errno;
    ::close(fd);
    fd = next;
    errno = error;
    from = slash + 1;
  }
  return fd;
}

// The folders named, relative to the root, each with whether everything
// below it is meant; those within another that is meant with everything
// below it are left out. Nothing when the root is meant so (or a folder is
// deeper than a walk goes): then the source is planned whole.
std::optional<std::vector<std::pair<std::string, bool>>> relativeFolders(const std::string& root,
                                                                         const SyncScope& scope) {
  std::vector<std::pair<std::string, bool>> folders;
  const auto relative = [&](const std::string& path) -> std::optional<std::string> {
    if (!isWithinFolder(path, root)) return std::nullopt;
    return path.size() == root.size() ? std::string() : path.substr(root.size() + 1);
  };
  for (const auto* set : {&scope.deep, &scope.shallow}) {
    for (const std::string& path : *set) {
      auto folder = relative(path);
      if (!folder) continue;
      const bool deep = set == &scope.deep;
      if (deep && folder->empty()) return std::nullopt;
      if (std::count(folder->begin(), folder->end(), '/') >= kMaxWalkDepth) return std::nullopt;
      // A folder meant alone is covered by itself meant with everything below.
      const bool covered = std::any_of(scope.deep.begin(), scope.deep.end(), [&](const std::string& other) {
        return (!deep || other != path) && isWithinFolder(path, other);
      });
      if (!covered) folders.emplace_back(std::move(*folder), deep);
    }
  }
  std::sort(folders.begin(), folders.end());
  return folders;
}

}  // namespace

Status planScoped(SyncRun& run, const Source& source, std::uint64_t rootDevice, const SyncScope& scope) {
  const auto folders = relativeFolders(source.path, scope);
  const int rootFd = folders ? ::open(source.path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC) : -1;
  if (rootFd < 0) {
    SourceWalker walker(source.path);
    return walker.listed() ? planWalked(run, source, walker) : Status{};
  }
  const std::size_t index = run.plans.size();
  SourcePlan& plan = run.plans.emplace_back();
  plan.source = source;
  plan.rootDevice = rootDevice;
  plan.folderDevices[""] = rootDevice;
  Status read;
  for (const auto& [folder, deep] : *folders) {
    CatalogWriter::FileRows rows = run.catalog.fileRowsIn(source.row, folder, deep);
    FileMerge merge(run, index, {}, [&](SourceFile& file) { return rows.next(file); }, FileMerge::Mode::whole);
    const int fd = openAsWalked(rootFd, folder);
    if (fd < 0 && errno != ENOENT) {
      ++run.tally.failed;
      run.problem(run.absolute(index, folder) + ": cannot be read; what the library holds from it is kept");
      merge.addUnknown(folder);
    } else if (fd >= 0) {
      const int depth = folder.empty() ? 0 : static_cast<int>(std::count(folder.begin(), folder.end(), '/')) + 1;
      SourceWalker walker(fd, folder, depth, !deep);
      if (walker.listed()) {
        if (walker.root().device != 0) run.plans[index].folderDevices[folder] = walker.root().device;
        mergeWalk(run, index, walker, merge);
      } else {
        ++run.tally.failed;
        run.problem(run.absolute(index, folder) + ": cannot be read; what the library holds from it is kept");
        merge.addUnknown(folder);
      }
    }
    merge.finish();
    if (read = rows.status(); !read) break;
  }
  ::close(rootFd);
  return read;
}

}  // namespace tolvek
