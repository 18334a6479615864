// A missing, corrupt, truncated, locked or newer catalog reads as an empty
// library, quickly and without crashing; the helper never creates anything.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>

#include "platform/catalog_schema.h"
#include "platform/catalog_writer.h"
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
      NewAsset asset;
      asset.mediaType = MediaType::image;
      asset.creationDate = 1000 + i;
      asset.originalFilename = "picture-" + std::to_string(i) + ".jpg";
      asset.originalPath = "originals/" + std::to_string(i);
      ASSERT_TRUE(writer->addAsset("asset-" + std::to_string(i), asset, *writer->albumRow(*album)));
    }
    ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  }

  // Everything a run could ask of an empty library, with the time it took.
  void expectEmpty() {
    const auto start = std::chrono::steady_clock::now();
    const auto lib = home.library();
    FetchOptions options;
    options.newestFirst = true;
    EXPECT_EQ(lib->fetchAssets(options)->count(), 0u);
    EXPECT_FALSE(lib->fetchAssets(options)->firstObject());
    std::size_t visited = 0;
    lib->fetchAssets(options)->enumerateObjects([&](const Asset&, std::size_t, bool&) { ++visited; });
    EXPECT_EQ(visited, 0u);
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
  FetchOptions first;
  first.fetchLimit = 1;
  EXPECT_FALSE(home.library()->fetchAssets(first)->firstObject());
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
  FetchOptions options;
  options.newestFirst = true;
  std::size_t visited = 0;
  lib->fetchAssets(options)->enumerateObjects([&](const Asset&, std::size_t, bool&) { ++visited; });
  EXPECT_LT(visited, 3000u);
  // Once a read failed, the catalog stays empty for the run.
  EXPECT_EQ(lib->fetchAssets(options)->count(), 0u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->count(), 0u);
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

}  // namespace
}  // namespace tolvek
