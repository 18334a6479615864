// The schema's names are the catalog's, and the fixture's bulk rows read back
// through the helper's reader as a library the writer could have made.
#include "support/catalog_fixture.h"

#include <gtest/gtest.h>

#include <set>
#include <utility>

#include "support/media_fixtures.h"
#include "support/scratch_library.h"
#include "platform/catalog_reader.h"
#include "platform/catalog_schema.h"
#include "platform/catalog_writer.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

// The (table, column) pairs of the catalog at `path`.
std::set<std::pair<std::string, std::string>> columnsOf(const std::string& path) {
  std::set<std::pair<std::string, std::string>> columns;
  sqlite3* raw = nullptr;
  EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  SqliteConnection db(raw);
  SqliteStatement select(db.get(),
                         "SELECT m.name, p.name FROM sqlite_master m JOIN pragma_table_info(m.name) p "
                         "WHERE m.type = 'table'");
  while (select.step()) columns.emplace(select.text(0), select.text(1));
  return columns;
}

TEST(CatalogSchemaNames, EveryNameIsAColumnOfTheCatalog) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  ASSERT_TRUE(CatalogWriter::open(home.location()));
  const auto columns = columnsOf(home.location().catalogPath);
  using namespace catalog;
  const std::vector<std::pair<const char*, std::vector<const char*>>> named = {
      {kAsset.table, {kAsset.id, kAsset.identifier, kAsset.mediaType, kAsset.creationDate, kAsset.favorite}},
      {kResource.table,
       {kResource.id, kResource.assetId, kResource.position, kResource.type, kResource.originalFilename,
        kResource.uniformTypeIdentifier, kResource.path, kResource.url, kResource.size, kResource.sha256}},
      {kDerivative.table,
       {kDerivative.id, kDerivative.assetId, kDerivative.path, kDerivative.width, kDerivative.height,
        kDerivative.size}},
      {kCollection.table,
       {kCollection.id, kCollection.identifier, kCollection.type, kCollection.subtype, kCollection.title,
        kCollection.rule, kCollection.day}},
      {kMembership.table,
       {kMembership.collectionId, kMembership.assetId, kMembership.position, kMembership.identifier,
        kMembership.creationDate, kMembership.mediaType}}};
  for (const auto& [table, columnNames] : named) {
    for (const char* column : columnNames) EXPECT_EQ(columns.count({table, column}), 1u) << table << "." << column;
  }
}

TEST(CatalogFixtureBulk, ReadsBackAsAWholeLibrary) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  ASSERT_TRUE(CatalogWriter::open(home.location()));
  auto fixture = testing::CatalogFixture::open(home.location().catalogPath);
  ASSERT_TRUE(fixture) << fixture.message();
  const auto albums = fixture->fillBulk({.assets = 500, .albums = 4});
  ASSERT_TRUE(albums) << albums.message();
  ASSERT_EQ(albums->size(), 4u);

  auto reader = CatalogReader::open(home.location());
  EXPECT_EQ(reader->countAssets(AssetQuery{}), 500u);
  const auto listed = reader->collections(CollectionType::album, kCollectionSubtypeAny);
  ASSERT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed[0].localIdentifier, albums->front());
  EXPECT_EQ(listed[0].localizedTitle, std::optional<std::string>("Album 0"));
  const auto members = [&reader](const AssetCollection& collection) {
    AssetQuery query;
    query.scope = AssetScope::members;
    query.collection = reader->collectionSource(collection)->row;
    return reader->countAssets(query);
  };
  EXPECT_EQ(members(listed[0]), 100u) << "every fifth asset";

  // Each asset as import records one: its original where the library would
  // put it, with a size and a hash, and derivatives but for audio.
  std::size_t seen = 0, dated = 0, moments = 0;
  reader->forEachAsset(AssetQuery{}, [&](const Asset& asset) {
    const auto stored = reader->storedAsset(asset.handle);
    EXPECT_TRUE(stored);
    const std::string stem = home.location().libraryFolder + "/" + assetFilePaths(asset.localIdentifier).originalStem;
    EXPECT_TRUE(stored->original.path.starts_with(stem + ".")) << stored->original.path;
    EXPECT_TRUE(stored->original.size);
    EXPECT_EQ(stored->original.sha256.size(), 64u);
    EXPECT_EQ(stored->derivatives.size(), asset.mediaType == MediaType::audio ? 0u : 2u);
    EXPECT_EQ(reader->resources(asset.handle).size(), 1u);
    dated += asset.creationDate.has_value();
    ++seen;
    return true;
  });
  EXPECT_EQ(seen, 500u);
  for (const AssetCollection& moment : reader->collections(CollectionType::moment, kCollectionSubtypeAny)) {
    moments += members(moment);
  }
  EXPECT_EQ(moments, dated) << "every dated asset is in the moment of its day";
  AssetQuery byId;
  byId.scope = AssetScope::identifiers;
  byId.identifiersJson = "[\"" + testing::CatalogFixture::bulkAssetIdentifier(7) + "\"]";
  EXPECT_EQ(reader->countAssets(byId), 1u) << "bulk identifiers name the bulk assets";
}

}  // namespace
}  // namespace tolvek
