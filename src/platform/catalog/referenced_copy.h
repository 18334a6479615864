#pragma once
// An asset's copies in sources as the last sync recorded them, and the one
// rule by which the helper and the tool choose the copy whose bytes they hand
// over (thumbnails, export, derivatives made again). A copy is only ever
// opened without following a link below its source's folder (for a photo
// manager's file: the file itself may not be a link, its folders may), only
// a regular file, and only when it is still the file the sync examined, or
// holds the same content.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/posix/posix_file.h"
#include "platform/catalog/sqlite_statement.h"

namespace tolvek {

struct RecordedCopy {
  SourceKind kind = SourceKind::folder;
  std::string sourcePath;  // the source's folder, or a manager's database file
  std::string relative;    // the file row's path
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;
  std::uint64_t inode = 0;
  std::optional<std::int64_t> device;  // of the copy's folder; folder sources only
  // The copy's absolute path, for messages and names.
  std::string absolutePath() const;
  // The copy's file name (its path's last step).
  std::string fileName() const;
  // The folder (absolute) holding the copy.
  std::string folder() const;
};

// The asset's copies as recorded, first copy first (source, then path: walk
// order), in a catalog of `schemaVersion` (4 or newer: older ones have no
// sources), read through `cache`. A copy whose path has a ".." step (a
// damaged row) is no copy: it would climb out of where it is recorded.
// Fails with "cannot read the asset's copies in the catalog: ...".
Result<std::vector<RecordedCopy>> recordedCopies(sqlite3* db, StatementCache& cache, std::int64_t schemaVersion,
                                                 std::int64_t assetRow);

// Opens the copy itself, by the rules above.
Result<ReadableFile> openRecordedCopy(const RecordedCopy& copy);

struct OpenedCopy {
  // Shared, so that values copied from it (a write on another thread) keep
  // the descriptor open while they read through it.
  std::shared_ptr<const ReadableFile> file;
  std::size_t index = 0;  // into the copies given
  // The file the sync examined, changed in place since (other size or
  // time): its derivatives no longer show it.
  bool editedInPlace = false;
};

// The copy to hand over: the first still as recorded (same file, size and
// time); else the first other file at a copy's path whose content is still
// `sha256` (a copy replaced by a copy of itself); else the first edited in
// place. Fails with the first copy's reason when none qualifies (a link, a
// FIFO, a file of other content, a missing one).
Result<OpenedCopy> openReferencedCopy(const std::vector<RecordedCopy>& copies, const std::string& sha256);

}  // namespace tolvek
