#pragma once
// The library tool's side of the catalog: it creates the catalog on first
// use (WAL, so readers never wait for an import) and makes every change in
// one transaction, so an interrupted tool leaves no half-written asset.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/library_location.h"
#include "platform/sqlite_statement.h"
#include "platform/stored_asset.h"

namespace tolvek {

// An asset whose files are already in the library; paths are relative to
// the library folder.
struct NewAsset {
  std::int64_t mediaType = kMediaUnknown;
  std::optional<std::int64_t> creationDate;
  std::string originalFilename;
  std::string uniformTypeIdentifier;
  std::string originalPath;
  std::vector<StoredDerivative> derivatives;
};

class CatalogWriter {
 public:
  // Opens the catalog, creating the library folders and the catalog when
  // missing; nothing and `error` set when it cannot (or it is newer).
  static std::unique_ptr<CatalogWriter> open(const LibraryLocation& location, std::string& error);

  // Records the asset under `identifier`, in the moment of its capture day
  // (local time) and in `albumRow` when given. False on a database error.
  bool addAsset(const std::string& identifier, const NewAsset& asset, std::optional<std::int64_t> albumRow);

  // A new album (type 1); its identifier, or nothing on a database error.
  std::optional<std::string> createAlbum(const std::optional<std::string>& title);
  // The row of the album (type 1 only) with this identifier.
  std::optional<std::int64_t> albumRow(const std::string& identifier);
  std::optional<std::int64_t> assetRow(const std::string& identifier);
  // Appends the asset to the album; adding it again changes nothing.
  bool addToAlbum(std::int64_t albumRow, std::int64_t assetRow);
  bool setFavorite(std::int64_t assetRow, bool favorite);
  // Points the asset's original at `url` and forgets the local copy; returns
  // the relative path of that copy ("" when there was none), nothing on error.
  std::optional<std::string> offloadOriginal(std::int64_t assetRow, const std::string& url);

 private:
  explicit CatalogWriter(SqliteConnection db) : db_(std::move(db)) {}
  bool addMembership(std::int64_t collectionRow, std::int64_t assetRow, const std::optional<std::int64_t>& date,
                     std::int64_t mediaType);
  std::optional<std::int64_t> momentRow(std::int64_t creationDate);
  SqliteConnection db_;
};

}  // namespace tolvek
