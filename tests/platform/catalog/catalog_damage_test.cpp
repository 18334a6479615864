// A missing, corrupt, truncated, locked or newer catalog reads as an empty
// library, quickly and without crashing; the helper never creates anything.
// The catalog fixture that damages them: the schema's names are the
// catalog's, and its bulk rows read back through the helper's reader as a
// library the writer could have made.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <set>
#include <utility>

#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_schema.h"
#include "platform/catalog/catalog_writer.h"
#include "support/catalog_fixture.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

class CatalogDamage : public ::testing::Test {
 protected:
  // Fills a catalog with `count` pictures and closes it (the log is folded
  // into the file and removed), with access granted.
  void fillCatalog(int count) {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    auto& writer = *opened;
    const auto album = writer->createAlbum(std::string("Album"));
    for (int i = 0; i < count; ++i) {
      const std::string n = std::to_string(i);
      const NewAsset asset{MediaType::image, 1000 + i, "picture-" + n + ".jpg", "", "originals/" + n, {}, {}};
      ASSERT_TRUE(writer->addAsset("asset-" + n, asset, *writer->albumRow(*album)));
    }
    ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  }

  // Everything a run could ask of an empty library, with the time it took.
  void expectEmpty() {
    const auto start = std::chrono::steady_clock::now();
    const auto lib = home.library();
    const FetchOptions options{{}, true};
    EXPECT_EQ(lib->fetchAssets(options)->count(), 0u);
    EXPECT_FALSE(lib->fetchAssets(options)->firstObject());
    EXPECT_EQ(identifiersOf(lib->fetchAssets(options)), std::vector<std::string>{});
    EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
    EXPECT_EQ(lib->fetchAssetCollections(CollectionType::smartAlbum, kCollectionSubtypeAny)->count(), 0u);
    EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers({"asset-1"})->count(), 0u);
    Asset forged;
    forged.handle = 1;
    EXPECT_TRUE(lib->assetResources(forged).empty());
    // A lock may cost the busy timeout once, never a hang.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
};

TEST_F(CatalogDamage, MissingLibraryIsEmptyAndNothingIsCreated) {
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  const auto before = testing::treeOf(home.dataHome());
  expectEmpty();
  EXPECT_EQ(testing::treeOf(home.dataHome()), before);
}

TEST_F(CatalogDamage, ReadingChangesNothingOnDisk) {
  fillCatalog(3);
  const std::string catalog = home.location().catalogPath;
  const std::string bytes = testing::readFileBytes(catalog).value_or("");
  EXPECT_EQ(home.library()->fetchAssets(FetchOptions{})->count(), 3u);  // the library closes at once
  EXPECT_EQ(testing::readFileBytes(catalog).value_or(""), bytes);
}

TEST_F(CatalogDamage, GarbageFileReadsAsEmpty) {
  fillCatalog(1);
  testing::writeFileBytes(home.location().catalogPath, std::string(8192, '\x5a'));
  expectEmpty();
}

TEST_F(CatalogDamage, TruncatedCatalogReadsAsEmpty) {
  fillCatalog(3000);
  const std::string catalog = home.location().catalogPath;
  ASSERT_EQ(::access((catalog + "-wal").c_str(), F_OK), -1) << "the log should be folded in on close";
  const auto size = std::filesystem::file_size(catalog);
  ASSERT_GT(size, 65536u);
  // Only the last two pages gone: queries that read the first pages would
  // still work, yet the library reads as empty as a whole.
  std::filesystem::resize_file(catalog, size - 8192);
  EXPECT_FALSE(home.library()->fetchAssets(FetchOptions{{}, false, 1})->firstObject());
  expectEmpty();
  std::filesystem::resize_file(catalog, size / 2);
  expectEmpty();
  std::filesystem::resize_file(catalog, 50);  // not even a whole header
  expectEmpty();
}

TEST_F(CatalogDamage, OverwrittenPagesNeverCrash) {
  fillCatalog(3000);
  const std::string catalog = home.location().catalogPath;
  std::string bytes = testing::readFileBytes(catalog).value_or("");
  // Scribble over every page but the first (the schema stays readable).
  for (std::size_t page = 4096; page + 4096 <= bytes.size(); page += 4096) {
    for (std::size_t i = 100; i < 300; ++i) bytes[page + i] = static_cast<char>(i * 7);
  }
  testing::writeFileBytes(catalog, bytes);
  const auto lib = home.library();
  const FetchOptions options{{}, true};
  std::size_t visited = 0;
  lib->fetchAssets(options)->enumerateObjects([&](const Asset&, std::size_t, bool&) { ++visited; });
  EXPECT_LT(visited, 3000u);
  // Once a read failed, the catalog stays empty for the run.
  EXPECT_EQ(lib->fetchAssets(options)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
}

// Damage that a statement meets while the writer runs stops the writer:
// nothing more is written through it (the catalog's bytes stay as the
// damage left them), and each failure says the catalog is damaged.
TEST_F(CatalogDamage, TheWriterStopsAtTheFirstDamageAStatementMeets) {
  fillCatalog(3);  // closed as sound: the next open does not check it, and reads no album
  auto writer = CatalogWriter::open(home.location());
  ASSERT_TRUE(writer) << writer.message();
  const auto asset = (*writer)->assetRow("asset-1");
  ASSERT_TRUE(asset) << asset.message();
  const std::string catalog = home.location().catalogPath;
  ASSERT_TRUE(testing::CatalogFixture::overwriteRootPage(catalog, catalog::kCollection.table).ok());
  const auto damaged = testing::readFileBytes(catalog);
  const auto album = (*writer)->createAlbum(std::string("Trip"));
  EXPECT_EQ(album.status().code(), ErrorCode::damaged) << album.message();
  EXPECT_TRUE((*writer)->damaged());
  // The asset table is sound, yet nothing more is written.
  const Status marked = (*writer)->setFavorite({*asset}, true);
  EXPECT_EQ(marked.code(), ErrorCode::damaged) << marked.message();
  EXPECT_NE(marked.message().find("the catalog " + catalog + " is damaged (database disk image is malformed)"),
            std::string::npos)
      << marked.message();
  EXPECT_NE(marked.message().find("There is no backup of it"), std::string::npos) << marked.message();
  EXPECT_EQ((*writer)->beginBatch().code(), ErrorCode::damaged);
  writer = Status::error("closed");  // a write it committed would be folded into the file now
  EXPECT_TRUE(testing::readFileBytes(catalog) == damaged) << "written after the damage";
}

TEST_F(CatalogDamage, NewerOrForeignSchemaReadsAsEmpty) {
  fillCatalog(2);
  {
    auto catalog = testing::CatalogFixture::open(home.location().catalogPath);
    ASSERT_TRUE(catalog) << catalog.message();
    ASSERT_TRUE(catalog->setSchemaVersion(kCatalogSchemaVersion + 1).ok());
  }
  expectEmpty();
  // The tool refuses to write into it.
  const auto refused = CatalogWriter::open(home.location());
  EXPECT_FALSE(refused);
  EXPECT_NE(refused.message().find("newer"), std::string::npos) << refused.message();

  std::filesystem::remove(home.location().catalogPath);
  {
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(home.location().catalogPath.c_str(), &raw), SQLITE_OK);
    SqliteConnection db(raw);
    ASSERT_TRUE(executeSql(db.get(), "CREATE TABLE unrelated (x)"));
  }
  expectEmpty();
}

TEST_F(CatalogDamage, ExclusivelyLockedCatalogReadsAsEmptyWithoutHanging) {
  fillCatalog(2);
  auto locker = testing::CatalogFixture::open(home.location().catalogPath);
  ASSERT_TRUE(locker) << locker.message();
  ASSERT_TRUE(locker->lockExclusively().ok());
  expectEmpty();
  ASSERT_TRUE(locker->rollBack().ok());
}

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
        kMembership.creationDate, kMembership.mediaType}},
      {kUnpairedSource.table, {kUnpairedSource.sourceId}}};
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
