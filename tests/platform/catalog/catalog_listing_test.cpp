// What a listing costs the helper: the member counts read with the albums
// agree with counting each album by itself, and reading a page of a large
// album keeps the reader's memory flat whatever the library's size.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_writer.h"
#include "support/catalog_fixture.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::ScratchLibrary;

// Albums of every mix of media types, and one without members.
class AlbumCounts : public ::testing::Test {
 protected:
  void SetUp() override {
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    const auto writer = std::move(opened).value();
    const MediaType kinds[] = {MediaType::image, MediaType::video, MediaType::audio, MediaType::unknown};
    for (int i = 0; i < 12; ++i) {
      const std::string id = "asset-" + std::to_string(i);
      const NewAsset asset{kinds[i % 4], 1000 + i, id + ".jpg", "public.jpeg", "originals/" + id, {}, {}};
      ASSERT_TRUE(writer->addAsset(id, asset, std::nullopt));
    }
    // Album n holds the assets whose number is a multiple of n + 1.
    for (int n = 0; n < 5; ++n) {
      const std::string album = *writer->createAlbum("Album " + std::to_string(n));
      std::vector<std::int64_t> rows;
      for (int i = 0; i < 12; i += n + 1) rows.push_back(*writer->assetRow("asset-" + std::to_string(i)));
      ASSERT_TRUE(writer->addToAlbum(*writer->albumRow(album), rows));
    }
    ASSERT_TRUE(writer->createAlbum(std::string("Empty")));
    ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
};

TEST_F(AlbumCounts, CountsReadWithTheAlbumsAgreeWithEachAlbumCountedAlone) {
  const std::vector<std::vector<MediaType>> filters = {
      {}, {MediaType::image, MediaType::video}, {MediaType::video}, {MediaType::audio}, {MediaType::unknown},
      {static_cast<MediaType>(7), static_cast<MediaType>(-1)}};
  const auto listing = home.library("counts");
  std::size_t albums = 0;
  listing->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
      ->enumerateObjects([&](const AssetCollection& album, std::size_t, bool&) {
        ++albums;
        for (const std::vector<MediaType>& types : filters) {
          const FetchOptions options{types, true, 0};
          // A run that never listed the albums counts by its own query.
          const auto alone = home.library("counts");
          AssetCollection byIdentifier;
          byIdentifier.localIdentifier = album.localIdentifier;
          const std::size_t expected = alone->fetchAssetsInAssetCollection(byIdentifier, options)->count();
          EXPECT_EQ(listing->fetchAssetsInAssetCollection(album, options)->count(), expected)
              << *album.localizedTitle << " with " << types.size() << " types";
        }
      });
  EXPECT_EQ(albums, 6u);
  // Album 0 holds all twelve: three of each type.
  const auto album0 = listing->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)->firstObject();
  ASSERT_TRUE(album0);
  EXPECT_EQ(listing->fetchAssetsInAssetCollection(*album0, FetchOptions{})->count(), 12u);
  EXPECT_EQ(listing->fetchAssetsInAssetCollection(*album0, FetchOptions{{MediaType::image, MediaType::video}, true, 0})
                ->count(),
            6u);
}

TEST(CatalogReaderMemory, APageOfALargeAlbumKeepsTheReaderSmall) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  ASSERT_TRUE(CatalogWriter::open(home.location()));
  {
    auto fixture = testing::CatalogFixture::open(home.location().catalogPath);
    ASSERT_TRUE(fixture) << fixture.message();
    ASSERT_TRUE(fixture->fillBulk({.assets = 20000, .albums = 4}));
  }
  auto reader = CatalogReader::open(home.location());
  ASSERT_TRUE(reader->isOpen());
  const auto albums = reader->collections(CollectionType::album, kCollectionSubtypeAny);
  ASSERT_FALSE(albums.empty());
  AssetQuery page;
  page.scope = AssetScope::members;
  page.collection = reader->collectionSource(albums.front())->row;
  page.newestFirst = true;
  page.limit = 500;

  // The newest 500 of 4,000 members with their file names: hundreds of
  // pages of the catalog, each read about once. A cache that kept every page
  // read would hold megabytes; a small one holds the same whatever the size.
  sqlite3_int64 before = 0, highest = 0;
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &before, &highest, 1);
  std::size_t named = 0;
  reader->forEachAsset(page, [&](const Asset& asset) {
    named += !reader->resources(asset.handle).empty();
    return true;
  });
  sqlite3_int64 after = 0;
  sqlite3_status64(SQLITE_STATUS_MEMORY_USED, &after, &highest, 0);
  EXPECT_EQ(named, 500u);
  EXPECT_LT(highest - before, 1 << 20) << "bytes SQLite held at most while listing";
}

}  // namespace
}  // namespace tolvek
