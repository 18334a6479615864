#pragma once
// The library tool's side of the catalog: it creates the catalog on first
// use (WAL, so readers never wait for an import) and makes every change in
// one transaction, so an interrupted tool leaves no half-written asset.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "library/status.h"
#include "platform/content_hash.h"
#include "platform/library_location.h"
#include "platform/posix/posix_file.h"
#include "platform/sqlite_statement.h"
#include "platform/stored_asset.h"

namespace tolvek {

// An asset whose files are already in the library; paths are relative to
// the library folder.
struct NewAsset {
  MediaType mediaType = MediaType::unknown;
  std::optional<std::int64_t> creationDate;
  std::string originalFilename;
  std::string uniformTypeIdentifier;
  std::string originalPath;
  ContentDigest original;  // of the library's copy
  std::vector<StoredDerivative> derivatives;
};

// The one writer of a library. It holds the library's writer lock from open
// to destruction, so no other tool run changes the catalog or the library's
// files meanwhile (readers never take it).
class CatalogWriter {
 public:
  // How long open waits for another writer to finish.
  static constexpr std::chrono::milliseconds kWriterLockWait{30000};

  // Takes the writer lock, then opens the catalog, creating the library
  // folders and the catalog when missing and migrating an older one in
  // place; fails with the reason when it cannot (or it is newer).
  static Result<std::unique_ptr<CatalogWriter>> open(const LibraryLocation& location);

  // Records the asset under `identifier`, in the moment of its capture day
  // (local time) and in `albumRow` when given; nothing is recorded when it
  // fails ("cannot record the asset in the catalog").
  Status addAsset(const std::string& identifier, const NewAsset& asset, std::optional<std::int64_t> albumRow);

  // A new album; its identifier ("cannot create the album" on failure).
  Result<std::string> createAlbum(const std::optional<std::string>& title);
  // The row of the album (albums only, not smart albums or moments) with
  // this identifier ("no album with the identifier ..." when there is none).
  Result<std::int64_t> albumRow(const std::string& identifier);
  // The same for an asset ("no asset with the identifier ...").
  Result<std::int64_t> assetRow(const std::string& identifier);
  // Appends the asset to the album; adding it again changes nothing.
  Status addToAlbum(std::int64_t albumRow, std::int64_t assetRow);
  Status setFavorite(std::int64_t assetRow, bool favorite);
  // The asset's original as recorded (paths absolute); nothing when the
  // asset has none (or it cannot be read).
  std::optional<StoredOriginal> original(std::int64_t assetRow);
  // Points the asset's original at `url` and forgets the local copy,
  // recording `content` as what the URL serves; gives the relative path of
  // that copy ("" when there was none).
  Result<std::string> offloadOriginal(std::int64_t assetRow, const std::string& url, const ContentDigest& content);
  // Every file of originals/ and derivatives/ that a catalog row names
  // (paths relative to the library folder).
  Result<std::vector<std::string>> namedFiles();

 private:
  CatalogWriter(FileLock lock, SqliteConnection db, std::string libraryFolder)
      : lock_(std::move(lock)), db_(std::move(db)), libraryFolder_(std::move(libraryFolder)) {}
  bool addMembership(std::int64_t collectionRow, std::int64_t assetRow, const std::optional<std::int64_t>& date,
                     MediaType mediaType);
  bool recordAsset(const std::string& identifier, const NewAsset& asset, std::optional<std::int64_t> albumRow);
  std::optional<std::int64_t> momentRow(std::int64_t creationDate);
  FileLock lock_;  // released after db_ closes (members go in reverse order)
  SqliteConnection db_;
  std::string libraryFolder_;
};

}  // namespace tolvek
