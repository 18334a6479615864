#include "commands/albums_command.h"

#include <gtest/gtest.h>

#include "support/in_memory_library.h"

namespace tolvek {
namespace {

using AlbumsTest = InMemoryLibraryTest;

TEST_F(AlbumsTest, LibraryWithoutAlbumsGivesAnEmptyArray) {
  library.addAsset("a", kMediaImage, 1);
  library.addCollection("smart", kCollectionSmartAlbum, "Favorites");
  library.addCollection("moment", kCollectionMoment, "Oslo");
  const Document document = cmdAlbums(library);
  EXPECT_EQ(document.dump(), R"({"albums":[]})");
}

TEST_F(AlbumsTest, ListsEveryAlbumInLibraryOrderWithTitlesAndCounts) {
  for (const auto& [id, type] : {std::pair<const char*, std::int64_t>{"img1", kMediaImage}, {"img2", kMediaImage},
                                 {"vid", kMediaVideo}, {"song", kMediaAudio}, {"odd", kMediaUnknown}}) {
    library.addAsset(id, type, 10);
  }
  library.addCollection("A1", kCollectionAlbum, "Holiday");
  library.addCollection("S1", kCollectionSmartAlbum, "Videos");
  library.addCollection("A2", kCollectionAlbum, std::nullopt, 100);
  library.addCollection("M1", kCollectionMoment, "Day");
  library.addCollection("A3", kCollectionAlbum, "", 7);
  library.addCollection("A4", kCollectionAlbum, "Holiday");
  library.addCollection("A5", kCollectionAlbum, "Sounds");
  for (const char* id : {"img1", "img2", "vid", "song", "odd"}) library.addToCollection("A1", id);
  library.addToCollection("S1", "vid");
  library.addToCollection("A4", "img2");
  library.addToCollection("A5", "song");
  library.addToCollection("A5", "odd");

  const Document document = cmdAlbums(library);
  const Document expected = Document::parse(R"({"albums":[
      {"id":"A1","name":"Holiday","count":3},
      {"id":"A2","name":"Untitled album","count":0},
      {"id":"A3","name":"","count":0},
      {"id":"A4","name":"Holiday","count":1},
      {"id":"A5","name":"Sounds","count":0}]})");
  EXPECT_EQ(document, expected);
  // One collection fetch plus one counting fetch per album, each with the
  // filter that list uses and no limit.
  EXPECT_EQ(library.calls().collectionFetches, 1u);
  EXPECT_EQ(library.calls().assetFetchesInCollection, 5u);
  for (const FetchOptions& options : library.calls().fetchOptions) {
    EXPECT_EQ(options.fetchLimit, 0);
    EXPECT_EQ(options.mediaTypes, (std::vector<std::int64_t>{kMediaImage, kMediaVideo}));
  }
}

TEST_F(AlbumsTest, CountHasNoCap) {
  library.addCollection("big", kCollectionAlbum, "Big");
  for (int i = 0; i < 1200; ++i) {
    const std::string id = "p" + std::to_string(i);
    library.addAsset(id, i % 2 ? kMediaImage : kMediaVideo, i);
    library.addToCollection("big", id);
  }
  EXPECT_EQ(cmdAlbums(library)["albums"][0]["count"], 1200);
}

TEST_F(AlbumsTest, TitlesWithAnyTextSurviveUnchanged) {
  const std::string title = "Ünïcödé \"quoted\" \\ / \xF0\x9F\x8C\x8D\n\ttab";
  library.addCollection("A", kCollectionAlbum, title);
  const Document document = Document::parse(cmdAlbums(library).dump());
  EXPECT_EQ(document["albums"][0]["name"], title);
}

TEST_F(AlbumsTest, LimitedAccessShowsNoAlbums) {
  library.addAsset("a", kMediaImage, 1);
  library.addCollection("A", kCollectionAlbum, "Trip");
  library.addToCollection("A", "a");
  library.setStatus(AuthorizationStatus::limited);
  library.chooseForLimitedAccess({"a"});
  EXPECT_EQ(cmdAlbums(library).dump(), R"({"albums":[]})");
}

}  // namespace
}  // namespace tolvek
