#include "platform/catalog/referenced_copy.h"

#include <utility>

#include "platform/catalog/catalog_failures.h"
#include "platform/catalog/content_hash.h"
#include "platform/posix/path_text.h"

namespace tolvek {
namespace {

constexpr char kOtherContent[] = "it is no longer the file the library examined";

bool sameFile(const RecordedCopy& copy, const FileIdentity& opened) {
  return opened.inode == copy.inode && (!copy.device || static_cast<std::uint64_t>(*copy.device) == opened.device);
}

// True when `path` has a ".." step.
bool climbsOut(std::string_view path) {
  return path == ".." || path.starts_with("../") || path.ends_with("/..") || path.find("/../") != std::string_view::npos;
}

RecordedCopy recordedCopyOf(const SqliteStatement& row) {
  RecordedCopy copy;
  copy.kind = row.enumeration<SourceKind>(0);
  copy.sourcePath = row.text(1);
  copy.relative = row.text(2);
  copy.size = static_cast<std::uint64_t>(row.integer(3));
  copy.modifiedNs = row.integer(4);
  copy.inode = static_cast<std::uint64_t>(row.integer(5));
  // A manager's files all sit in its root's folder row: that device says
  // nothing of where each file is.
  if (copy.kind == SourceKind::folder) copy.device = row.optionalInteger(6);
  return copy;
}

}  // namespace

std::string RecordedCopy::absolutePath() const { return sourceFileRoot(kind, sourcePath) + "/" + relative; }

std::string RecordedCopy::fileName() const { return std::string(namePart(relative)); }

std::string RecordedCopy::folder() const {
  const std::string path = absolutePath();
  const std::string_view folder = folderPart(path);
  return folder.empty() ? std::string("/") : std::string(folder);
}

Result<std::vector<RecordedCopy>> recordedCopies(sqlite3* db, StatementCache& cache, std::int64_t schemaVersion,
                                                 std::int64_t assetRow) {
  SqliteStatement select(db, cache,
                         std::string("SELECT ") + (schemaVersion >= 5 ? "s.kind" : "0") +
                             ", s.path, f.path, f.size, f.modified_ns, f.inode, fo.device FROM file f "
                             "JOIN source s ON s.id = f.source_id JOIN folder fo ON fo.id = f.folder_id "
                             "WHERE f.asset_id = :asset ORDER BY f.source_id, f.path");
  select.bind(":asset", assetRow);
  std::vector<RecordedCopy> copies;
  while (select.step()) {
    RecordedCopy copy = recordedCopyOf(select);
    if (!climbsOut(copy.relative)) copies.push_back(std::move(copy));
  }
  if (select.failed()) return catalogFailure(db, "read the asset's copies");
  return copies;
}

Result<ReadableFile> openRecordedCopy(const RecordedCopy& copy) {
  if (copy.kind == SourceKind::folder) {
    if (!copy.sourcePath.starts_with('/')) return errorStatus(ENOENT);
    return ReadableFile::openBelow(copy.sourcePath, copy.relative);
  }
  // A manager records absolute paths: the folders on the way may be links
  // (a Pictures folder moved to another disk), the file itself may not. A
  // damaged row never climbs out with "..".
  const std::string path = "/" + copy.relative;
  if (climbsOut(path)) return errorStatus(EACCES);
  return ReadableFile::openBelow(std::string(folderPart(path)), namePart(path));
}

Result<OpenedCopy> openReferencedCopy(const std::vector<RecordedCopy>& copies, const std::string& sha256) {
  if (copies.empty()) return errorStatus(ENOENT);
  std::vector<std::shared_ptr<const ReadableFile>> opened(copies.size());
  Status first;
  for (std::size_t i = 0; i < copies.size(); ++i) {
    auto file = openRecordedCopy(copies[i]);
    if (!file) {
      if (first.ok()) first = file.status();
      continue;
    }
    const FileIdentity& identity = file->identity();
    if (sameFile(copies[i], identity) && file->size() == copies[i].size && identity.modifiedNs == copies[i].modifiedNs)
      return OpenedCopy{std::make_shared<const ReadableFile>(std::move(file).value()), i, false};
    opened[i] = std::make_shared<const ReadableFile>(std::move(file).value());
  }
  // Another file now stands at a copy's path: only its content can tell
  // that it is still the asset (never a link: those were refused above).
  for (std::size_t i = 0; i < copies.size() && !sha256.empty(); ++i) {
    if (!opened[i] || sameFile(copies[i], opened[i]->identity())) continue;
    auto digest = digestOf(*opened[i]);
    if (digest && digest->sha256 == sha256) return OpenedCopy{opened[i], i, false};
  }
  for (std::size_t i = 0; i < copies.size(); ++i) {
    if (opened[i] && sameFile(copies[i], opened[i]->identity())) return OpenedCopy{opened[i], i, true};
  }
  return first.ok() ? Status::error(kOtherContent) : first;
}

}  // namespace tolvek
