#pragma once
// The one writer of a library's files and rows together: it decides where an
// asset's files go (assetFilePaths), copies and records an import as one
// step that is undone when any part fails, offloads an original (catalog
// first, then the local copy) and clears files no row names. The library
// tool's commands only parse their arguments and print what this returns.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/catalog_writer.h"
#include "platform/library_location.h"
#include "platform/posix/temporary_files.h"
#include "platform/source_sync.h"

namespace tolvek {

class MediaModule;

class LibraryWriter {
 public:
  // Opens the catalog as CatalogWriter::open does (holding the writer lock
  // until destruction). `media` probes and makes derivatives; null: the
  // media module, loaded on the first import.
  static Result<std::unique_ptr<LibraryWriter>> open(const LibraryLocation& location, MediaModule* media = nullptr);

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
  // left alone (notMedia); one that looks like one but cannot be read fails.
  struct Imported {
    enum class Outcome { added, existing, notMedia } outcome = Outcome::added;
    std::string identifier;  // empty for notMedia
  };
  Result<Imported> importFile(const std::string& path, const ImportSettings& settings);

  // Records the folder at `path` as a source (resolved to its real path);
  // refused when it is not a folder, lies inside the library or contains it,
  // or is, contains or lies in another source. Gives the source recorded.
  Result<CatalogWriter::Source> addSource(const std::string& path);
  // Records the database of another photo manager at `path` (resolved to
  // its real path) as a source of `kind`; refused when it is no regular
  // file, is a source already, or cannot be read as that manager's.
  Result<CatalogWriter::Source> addManagerSource(SourceKind kind, const std::string& path);
  // The recorded source for `path` (resolved as addSource does, or as
  // written when it is gone), or a message naming it as no source.
  Result<CatalogWriter::Source> findSource(const std::string& path);
  // Syncs the sources, all when `sources` is empty; see syncSources.
  Result<SyncTally> sync(const std::vector<CatalogWriter::Source>& sources, const SyncObserver& observer);
  // Removes the source and every asset found only through it, with their
  // derivatives; its files stay untouched.
  Status forgetSource(const CatalogWriter::Source& source);

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
  void removeOrphans();

 private:
  LibraryWriter(LibraryLocation location, std::unique_ptr<CatalogWriter> catalog, MediaModule* media)
      : location_(std::move(location)), catalog_(std::move(catalog)), media_(media) {}
  MediaModule* media();
  // Copies `path` to a temporary file beside `copy` (absolute), kept
  // unpublished in `target`; the size and hash of what was copied.
  Result<ContentDigest> copyIntoLibrary(const std::string& path, const std::string& copy,
                                        std::optional<TemporaryFile>& target);
  std::string absolute(const std::string& relative) const { return location_.libraryFolder + "/" + relative; }

  LibraryLocation location_;
  std::unique_ptr<CatalogWriter> catalog_;
  MediaModule* media_;
};

// The extension of the library's copy of `path`: the source's, lower-cased,
// when it is short and plain, else the one of the format `typeIdentifier`
// names ("" for a format it does not know).
std::string copyExtension(const std::string& path, const std::string& typeIdentifier);

}  // namespace tolvek
