#pragma once
// The one writer of a library's files and rows together: it decides where an
// asset's files go (assetFilePaths), copies and records an import as one
// step that is undone when any part fails, offloads an original (catalog
// first, then the local copy) and clears files no row names. The library
// tool's commands only parse their arguments and print what this returns.
//
// Who holds which lock, and for how long:
// - sources.lock: a writer opened with Sources::change (add, sync, forget,
//   and the watch for each of its sync runs) holds it from open to
//   destruction. It makes those runs one at a time, so the sources, folders
//   and files a sync planned from stay as planned for its whole run (no
//   other writer changes them), and it covers the derivatives a sync makes
//   before it records them: removeOrphans runs only in a process holding it.
//   A watch lets go of it about every second during a long burst, so that
//   the others get their turn.
// - writer.lock (CatalogWriter): every writer takes it at open (sources.lock
//   first, never the other way round). A sync lets go of it once it cleared
//   the orphans and then holds it only while a batch is open, about a second
//   or 200 files at a time, so examining files (hashing a 20 GB video) keeps
//   no other writer out. The writers that get in between (album edits,
//   favourites, import, offload, remove) hold it for their whole run, as
//   before, and change no source, folder or file row, and no asset a source
//   holds (remove and offload refuse those); the sync looks an asset up by
//   its content inside each batch, so content imported meanwhile is found,
//   and it checks that an asset is still there before renewing its
//   derivatives.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog/catalog_writer.h"
#include "platform/system/library_location.h"
#include "platform/posix/posix_file.h"
#include "platform/posix/temporary_files.h"
#include "platform/sources/source_sync.h"

namespace tolvek {

class MediaModule;

class LibraryWriter {
 public:
  // Whether the writer changes sources (adds, syncs or forgets them).
  enum class Sources { unchanged, change };
  // Opens the catalog as CatalogWriter::open does (holding the writer lock
  // until destruction, or a sync's end); with Sources::change, first takes
  // the sources lock, waiting as long as for the writer lock. `media` probes
  // and makes derivatives; null: the media module, loaded on the first import.
  static Result<std::unique_ptr<LibraryWriter>> open(const LibraryLocation& location, MediaModule* media = nullptr,
                                                     Sources sources = Sources::unchanged);

  const LibraryLocation& location() const { return location_; }
  CatalogWriter& catalog() { return *catalog_; }

  struct ImportSettings {
    std::optional<std::int64_t> albumRow;  // also added to this album
    bool recordDate = true;                // false: imported without a date
  };
  // Copies the file at `path` into the library (the user's file is only
  // read; its kind comes from its content), makes its derivatives and
  // records it in one transaction. Gives the new asset's identifier; on
  // failure every file made for it is removed and nothing is recorded.
  // Content the library already has is not recorded twice: the existing
  // asset's identifier is given, after it is added to the album, and content
  // held only by reference is copied in and becomes the library's own under
  // the same identifier. A file that is no picture, video or audio file is
  // left alone (notMedia), and so is a picture marked rejected (rejected);
  // one that looks like one but cannot be read fails.
  struct Imported {
    enum class Outcome { added, existing, notMedia, rejected } outcome = Outcome::added;
    std::string identifier;  // empty for notMedia and rejected
  };
  Result<Imported> importFile(const std::string& path, const ImportSettings& settings);

  // Records the folder at `path` as a source (resolved to its real path);
  // refused when it is not a folder, lies inside the library or contains it,
  // or contains another source. An existing folder that is a source already,
  // or lies inside a folder source, is covered: nothing is recorded and the
  // answer names the source that covers it.
  enum class Added { now, isASource, insideASource };
  struct AddedSource {
    Source source;  // the source recorded now, or the one covering the folder
    Added how = Added::now;
  };
  Result<AddedSource> addSource(const std::string& path);
  // Records the database of another photo manager at `path` (resolved to
  // its real path) as a source of `kind`; refused when it is no regular
  // file, is a source already, or cannot be read as that manager's.
  Result<Source> addManagerSource(SourceKind kind, const std::string& path);
  // The recorded source for `path` (resolved as addSource does, or as
  // written when it is gone), or a message naming it as no source.
  Result<Source> findSource(const std::string& path);
  // The recorded source that is the folder or database at `path` (resolved
  // as addSource does) or, for a folder source, holds it; nothing when none
  // does.
  struct Covering {
    Source source;
    bool itself = false;  // `path` is the source, not a folder inside it
  };
  Result<std::optional<Covering>> coveringSource(const std::string& path);
  // Syncs the sources, all when `sources` is empty; see syncSources. From
  // then on the writer lock is held only while the sync commits.
  Result<SyncTally> sync(const std::vector<Source>& sources, const SyncObserver& observer);
  // Removes the source and every asset found only through it, with their
  // derivatives; its files stay untouched.
  Status forgetSource(const Source& source);

  // Keeps the asset's original only at `url` (http or https), once the URL
  // served exactly the original: the catalog first, then the local copy is
  // removed (the derivatives stay). Nothing changes when the URL fails, nor
  // for an asset with a copy in a source (the user's files stay).
  Status offload(const std::string& assetIdentifier, const std::string& url);

  // Ok when the asset can be removed: the library holds its only copies.
  // An asset found in a source is refused with the folder that holds it.
  Status removable(const std::string& assetIdentifier, std::int64_t assetRow);
  // Removes the assets with their derivatives and the library's copies of
  // their originals, in one transaction, then their files.
  Status remove(const std::vector<std::int64_t>& assetRows);

  // Removes what killed imports left in originals/ and derivatives/: files
  // that no catalog row names. Links are removed as links, never followed.
  // Skipped while a sync of another process runs (it holds the sources lock),
  // whose derivatives are recorded only once made.
  void removeOrphans();

 private:
  LibraryWriter(LibraryLocation location, std::optional<FileLock> sourcesLock, std::unique_ptr<CatalogWriter> catalog,
                MediaModule* media)
      : location_(std::move(location)), sourcesLock_(std::move(sourcesLock)), catalog_(std::move(catalog)),
        media_(media) {}
  MediaModule* media();
  // Ok once this process holds the sources lock: it is taken now, without
  // waiting (the writer lock is held, which is never waited on with it).
  Status holdSourcesLock();
  // Copies `path` to a temporary file beside `copy` (absolute), kept
  // unpublished in `target`; the size and hash of what was copied.
  Result<ContentDigest> copyIntoLibrary(const std::string& path, const std::string& copy,
                                        std::optional<TemporaryFile>& target);
  std::string absolute(const std::string& relative) const { return location_.libraryFolder + "/" + relative; }

  LibraryLocation location_;
  std::optional<FileLock> sourcesLock_;  // released after the catalog (and its lock)
  std::unique_ptr<CatalogWriter> catalog_;
  MediaModule* media_;
};

// The extension of the library's copy of `path`: the source's, lower-cased,
// when it is short and plain, else the one of the format `typeIdentifier`
// names ("" for a format it does not know).
std::string copyExtension(const std::string& path, const std::string& typeIdentifier);

}  // namespace tolvek
