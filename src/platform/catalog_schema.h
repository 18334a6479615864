#pragma once
// The catalog's tables and indexes. The schema version lives in
// PRAGMA user_version. Version 3 records each original's size and SHA-256
// and each derivative's size; a reader accepts versions 2 and 3, the writer
// migrates a version 2 catalog in place when it opens it.
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "library/photo_types.h"

namespace tolvek {

inline constexpr std::int64_t kCatalogSchemaVersion = 3;
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
};

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

// Creates the tables, the indexes and the smart albums in one transaction
// and sets the schema version. Does nothing (and succeeds) when the database
// already has tables; the caller checks their version.
bool createCatalogSchema(sqlite3* db);

// Brings a version 2 catalog to the current version in one transaction: adds
// the size and hash columns and fills them for every local original and
// derivative found under `libraryFolder` (files that cannot be read stay
// unrecorded). False, with the catalog unchanged, on a database error.
bool migrateCatalogSchema(sqlite3* db, const std::string& libraryFolder);

}  // namespace tolvek
