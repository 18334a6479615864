// Pairs in the catalog: a RAW recorded before its JPEG becomes the JPEG's
// alternate resource; the pair keeps the RAW's (older) identifier, its
// album and favourite, is listed and counted once, and gives the RAW's
// identifier back to the RAW alone when the JPEG goes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_writer.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

class CatalogPairs : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    writer = std::move(opened).value();
  }
  std::int64_t add(const std::string& id, const std::string& name, const std::string& type, std::int64_t date) {
    const NewAsset asset{MediaType::image, date, name, type, "originals/" + name, {7, std::string(64, 'a')}, {}};
    EXPECT_TRUE(writer->addAsset(id, asset, std::nullopt));
    return *writer->assetRow(id);
  }
  // Identifier and first resource name of every listed asset.
  std::vector<std::pair<std::string, std::vector<AssetResource>>> listed(std::size_t& favorites, std::size_t& inAlbum) {
    auto reader = CatalogReader::open(home.location());
    std::vector<std::pair<std::string, std::vector<AssetResource>>> found;
    reader->forEachAsset(AssetQuery{}, [&](const Asset& asset) {
      found.emplace_back(asset.localIdentifier, reader->resources(asset.handle));
      return true;
    });
    AssetQuery query;
    query.scope = AssetScope::favorites;
    favorites = reader->countAssets(query);
    query.scope = AssetScope::members;
    query.collection = album;
    inAlbum = reader->countAssets(query);
    return found;
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  std::unique_ptr<CatalogWriter> writer;
  std::int64_t album = 0;
};

TEST_F(CatalogPairs, RawThenJpegKeepTheRawsIdentifier) {
  const std::int64_t raw = add("RAW-ID", "IMGP0010.CR2", "com.canon.cr2-raw-image", 1000);
  const std::int64_t jpeg = add("JPEG-ID", "IMGP0010.JPG", "public.jpeg", 1000);
  album = *writer->albumRow(*writer->createAlbum(std::string("Trip")));
  ASSERT_TRUE(writer->addToAlbum(album, {raw}));
  ASSERT_TRUE(writer->setFavorite({raw}, true));
  {
    auto batch = writer->beginBatch();
    ASSERT_TRUE(batch);
    ASSERT_TRUE(writer->pairAssets(jpeg, raw));
    ASSERT_TRUE(batch->commit());
  }
  std::size_t favorites = 0, inAlbum = 0;
  auto found = listed(favorites, inAlbum);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].first, "RAW-ID") << "the first identifier";
  ASSERT_EQ(found[0].second.size(), 2u);
  EXPECT_EQ(found[0].second[0].type, ResourceType::photo);
  EXPECT_EQ(found[0].second[0].originalFilename, "IMGP0010.JPG");
  EXPECT_EQ(found[0].second[1].type, ResourceType::alternatePhoto);
  EXPECT_EQ(found[0].second[1].originalFilename, "IMGP0010.CR2");
  EXPECT_EQ(favorites, 1u);
  EXPECT_EQ(inAlbum, 1u);
  {
    auto reader = CatalogReader::open(home.location());
    EXPECT_TRUE(reader->storedResource(found[0].second[1])) << "the RAW's bytes are the pair's";
  }

  // The JPEG goes: the RAW carries on alone under the pair's identifier.
  std::vector<std::string> unlink;
  ASSERT_TRUE(writer->removeAssets({*writer->assetRow("RAW-ID")}, unlink));
  found = listed(favorites, inAlbum);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].first, "RAW-ID");
  ASSERT_EQ(found[0].second.size(), 1u);
  EXPECT_EQ(found[0].second[0].originalFilename, "IMGP0010.CR2");
  EXPECT_EQ(favorites, 1u);
  EXPECT_EQ(inAlbum, 1u);
}

}  // namespace
}  // namespace tolvek

namespace tolvek {
namespace {

// Leaving the halves of pairs out keeps every listing on one range of a
// covering index (list - 500 stays flat in the library's size).
TEST(CatalogPairPlans, ListingsStayOnCoveringIndexes) {
  if (!testing::haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to read the plans";
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  ASSERT_TRUE(CatalogWriter::open(home.location()));
  for (const AssetScope scope : {AssetScope::library, AssetScope::favorites, AssetScope::videos, AssetScope::identifiers}) {
    AssetQuery query;
    query.scope = scope;
    query.newestFirst = scope != AssetScope::identifiers;
    query.limit = 500;
    std::string sql = CatalogReader::assetSql(query);
    for (const char* name : {":limit", ":video", ":identifiers"}) {
      for (auto at = sql.find(name); at != std::string::npos; at = sql.find(name)) sql.replace(at, std::strlen(name), "2");
    }
    const auto plan = testing::sqliteQuery(home.location().catalogPath, "EXPLAIN QUERY PLAN " + sql + ";");
    ASSERT_TRUE(plan) << sql;
    std::string text;
    for (const std::string& line : *plan) text += line + "\n";
    // Lookups by identifier take the unique index, as before pairs.
    const char* wanted = scope == AssetScope::identifiers ? "SEARCH a USING" : "USING COVERING INDEX";
    EXPECT_NE(text.find(wanted), std::string::npos) << sql << "\n" << text;
    EXPECT_EQ(text.find("TEMP B-TREE"), std::string::npos) << sql << "\n" << text;
  }
}

}  // namespace
}  // namespace tolvek
