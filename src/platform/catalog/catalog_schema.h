#pragma once
// The catalog's tables and indexes. The schema version lives in
// PRAGMA user_version. Version 3 records each original's size and SHA-256
// and each derivative's size; version 4 adds the sources (folders whose files
// the library references in place), their folders and files, and each
// derivative's quality; version 5 adds sources of another kind: the databases
// of other photo managers, whose events, tags and folders become albums;
// version 6 records with each derivative the upright size of the picture it
// was made from; version 7 records pairs (a Live Photo's movie, a RAW beside
// its JPEG: a resource of the still's asset, hidden from every listing),
// what pairs them and, after a migration, the sources still to be paired.
// A reader accepts versions 2 to 7; the writer migrates an older catalog in
// place when it opens it, after keeping a backup copy.
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "library/photo_types.h"

namespace tolvek {

inline constexpr std::int64_t kCatalogSchemaVersion = 7;
inline constexpr std::int64_t kOldestReadableSchemaVersion = 2;

// How a collection finds its assets: stored memberships (albums, moments) or
// a rule over the assets that is always current (smart albums).
enum class CollectionRule : std::int64_t { members = 0, favorites = 1, videos = 2 };

// Collection subtypes as the photo framework numbers them.
enum class CollectionSubtype : std::int64_t {
  moment = 0,
  albumRegular = 2,
  smartAlbumVideos = 202,
  smartAlbumFavorites = 203,
  // An event of another photo manager (Shotwell's events).
  albumSyncedEvent = 3,
  // A folder of a source: the assets with a copy directly in it; also the
  // tags and folders of another photo manager.
  albumSyncedFolder = 5,
};

// The kinds of source, stored as these numbers: a folder whose files the
// library references in place, or the database of another photo manager,
// whose files lie wherever it recorded them.
enum class SourceKind : std::int64_t { folder = 0, shotwell = 1, digikam = 2 };

// The folder a source's file paths are relative to: the source's own folder,
// or for a manager's database "" (its files' paths are absolute, stored
// without their leading "/"). A file's path is this, "/", its stored path.
inline std::string sourceFileRoot(SourceKind kind, const std::string& sourcePath) {
  return kind == SourceKind::folder ? sourcePath : std::string();
}

// The names of the tables and columns, for code that composes SQL over the
// catalog (the writer's own statements spell them out). kSchema in the .cpp
// is the one definition; a test checks that every name here is in it.
namespace catalog {
struct AssetTable {
  const char* table = "asset";
  const char* id = "id";
  const char* identifier = "identifier";
  const char* mediaType = "media_type";
  const char* creationDate = "creation_date";
  const char* favorite = "favorite";
  // Version 7: the asset whose other half this one is (then it is a resource
  // of that asset, listed and counted nowhere), and what pairs it: Apple's
  // content identifier ('' for none, NULL when recorded before version 7)
  // and a video's length in milliseconds.
  const char* pairedTo = "paired_to";
  const char* contentIdentifier = "content_identifier";
  const char* durationMs = "duration_ms";
};
inline constexpr AssetTable kAsset{};
struct ResourceTable {
  const char* table = "resource";
  const char* id = "id";
  const char* assetId = "asset_id";
  const char* position = "position";
  const char* type = "type";
  const char* originalFilename = "original_filename";
  const char* uniformTypeIdentifier = "uniform_type_identifier";
  const char* path = "path";
  const char* url = "url";
  const char* size = "size";
  const char* sha256 = "sha256";
};
inline constexpr ResourceTable kResource{};
struct DerivativeTable {
  const char* table = "derivative";
  const char* id = "id";
  const char* assetId = "asset_id";
  const char* path = "path";
  const char* width = "width";
  const char* height = "height";
  const char* size = "size";
  const char* quality = "quality";
  // The upright size of the picture (or video frame) it was made from.
  const char* originalWidth = "original_width";
  const char* originalHeight = "original_height";
};
inline constexpr DerivativeTable kDerivative{};
struct CollectionTable {
  const char* table = "collection";
  const char* id = "id";
  const char* identifier = "identifier";
  const char* type = "type";
  const char* subtype = "subtype";
  const char* title = "title";
  const char* rule = "rule";
  const char* day = "day";
};
inline constexpr CollectionTable kCollection{};
struct MembershipTable {
  const char* table = "membership";
  const char* collectionId = "collection_id";
  const char* assetId = "asset_id";
  const char* position = "position";
  const char* identifier = "identifier";
  const char* creationDate = "creation_date";
  const char* mediaType = "media_type";
};
inline constexpr MembershipTable kMembership{};
// A folder whose files the library references in place; its path is stored
// byte for byte (absolute, as resolved when it was added).
struct SourceTable {
  const char* table = "source";
  const char* id = "id";
  const char* path = "path";
  const char* device = "device";  // st_dev of the folder when it was last seen
  const char* kind = "kind";      // SourceKind; the path is then the database's
};
inline constexpr SourceTable kSource{};
// Every folder of a source seen holding files; its album while it holds media.
struct FolderTable {
  const char* table = "folder";
  const char* id = "id";
  const char* sourceId = "source_id";
  const char* path = "path";  // relative to the source, "" for its root
  const char* device = "device";
  const char* collectionId = "collection_id";
};
inline constexpr FolderTable kFolder{};
// Every regular file of a source as last synced: a copy of an asset, or (no
// asset) a file that is not a picture, video or audio file.
struct FileTable {
  const char* table = "file";
  const char* id = "id";
  const char* sourceId = "source_id";
  const char* folderId = "folder_id";
  const char* path = "path";  // relative to the source, bytes
  const char* assetId = "asset_id";
  const char* size = "size";
  const char* modifiedNs = "modified_ns";
  const char* inode = "inode";
};
inline constexpr FileTable kFile{};
// The albums a manager's database gave: its event, tag or folder `key`
// ("event:7") is the album `collection_id`, as long as the source is there.
struct SourceAlbumTable {
  const char* table = "source_album";
  const char* sourceId = "source_id";
  const char* key = "key";
  const char* collectionId = "collection_id";
};
inline constexpr SourceAlbumTable kSourceAlbum{};
// Version 7: the sources recorded before the catalog kept what pairs files
// (a catalog migrated to version 7). The next sync that finds such a source
// online pairs every folder of it once, probing the files the rule needs to
// know more of, and removes its row once that is committed.
struct UnpairedSourceTable {
  const char* table = "unpaired_source";
  const char* sourceId = "source_id";
};
inline constexpr UnpairedSourceTable kUnpairedSource{};
}  // namespace catalog

// The columns a version 2 catalog lacks: migrateCatalogSchema adds them.
struct CatalogColumn {
  const char* table;
  const char* column;
  const char* declaration;  // as in CREATE TABLE
};
inline constexpr CatalogColumn kColumnsAddedInVersion3[] = {
    {catalog::kResource.table, catalog::kResource.size, "INTEGER"},
    {catalog::kResource.table, catalog::kResource.sha256, "TEXT"},
    {catalog::kDerivative.table, catalog::kDerivative.size, "INTEGER"},
};

// What version 4 adds to a version 3 catalog, undone in this order by
// DROP statements (tables and the column of kColumnsAddedInVersion4).
inline constexpr CatalogColumn kColumnsAddedInVersion4[] = {
    {catalog::kDerivative.table, catalog::kDerivative.quality, "INTEGER"},
};
inline constexpr const char* kTablesAddedInVersion4[] = {catalog::kFile.table, catalog::kFolder.table,
                                                          catalog::kSource.table};
// The same for version 5 on top of version 4.
inline constexpr CatalogColumn kColumnsAddedInVersion5[] = {
    {catalog::kSource.table, catalog::kSource.kind, "INTEGER NOT NULL DEFAULT 0"},
};
inline constexpr const char* kTablesAddedInVersion5[] = {catalog::kSourceAlbum.table};
// The same for version 6 on top of version 5 (columns only).
inline constexpr CatalogColumn kColumnsAddedInVersion6[] = {
    {catalog::kDerivative.table, catalog::kDerivative.originalWidth, "INTEGER"},
    {catalog::kDerivative.table, catalog::kDerivative.originalHeight, "INTEGER"},
};

// The same for version 7 on top of version 6 (and the indexes kVersion7 in
// the .cpp makes again without the halves of pairs).
inline constexpr CatalogColumn kColumnsAddedInVersion7[] = {
    {catalog::kAsset.table, catalog::kAsset.pairedTo, "INTEGER REFERENCES asset(id)"},
    {catalog::kAsset.table, catalog::kAsset.contentIdentifier, "TEXT"},
    {catalog::kAsset.table, catalog::kAsset.durationMs, "INTEGER"},
};
inline constexpr const char* kTablesAddedInVersion7[] = {catalog::kUnpairedSource.table};

// The day of `seconds` in local time, "YYYY-MM-DD", as moments are keyed
// ("unknown" when the time cannot be converted).
std::string localDay(std::int64_t seconds);

// Creates the tables, the indexes and the smart albums in one transaction
// and sets the schema version. Does nothing (and succeeds) when the database
// already has tables; the caller checks their version.
bool createCatalogSchema(sqlite3* db);

// Brings a version 2 to 6 catalog to the current version in one
// transaction: adds the size and hash columns (filled for every local
// original and derivative found under `libraryFolder`; files that cannot be
// read stay unrecorded), the tables of sources, the kinds of source, the
// derivatives' original sizes (unknown until the next sync makes them
// again) and the pairs (every source is left for the next sync to pair:
// catalog::kUnpairedSource). False, with the catalog unchanged, on a
// database error.
bool migrateCatalogSchema(sqlite3* db, const std::string& libraryFolder);

}  // namespace tolvek
