#pragma once
// The catalog's tables and indexes. The schema version lives in
// PRAGMA user_version. Version 3 records each original's size and SHA-256
// and each derivative's size; a reader accepts versions 2 and 3, the writer
// migrates a version 2 catalog in place when it opens it.
#include <sqlite3.h>

#include <cstdint>
#include <string>

namespace tolvek {

inline constexpr std::int64_t kCatalogSchemaVersion = 3;
inline constexpr std::int64_t kOldestReadableSchemaVersion = 2;

// How a collection finds its assets: stored memberships (albums, moments) or
// a rule over the assets that is always current (smart albums).
inline constexpr std::int64_t kRuleMembers = 0;
inline constexpr std::int64_t kRuleFavorites = 1;
inline constexpr std::int64_t kRuleVideos = 2;

// Subtypes as the photo framework numbers them.
inline constexpr std::int64_t kSubtypeAlbumRegular = 2;
inline constexpr std::int64_t kSubtypeSmartAlbumVideos = 202;
inline constexpr std::int64_t kSubtypeSmartAlbumFavorites = 203;
inline constexpr std::int64_t kSubtypeMoment = 0;

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
