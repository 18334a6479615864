#include "commands/albums_command.h"

#include <gtest/gtest.h>

#include "support/in_memory_library.h"

namespace tolvek {
namespace {

using AlbumsTest = InMemoryLibraryTest;

TEST_F(AlbumsTest, LibraryWithoutAlbumsGivesAnEmptyArray) {
  library.addAsset("a", MediaType::image, 1);
  library.addCollection("smart", CollectionType::smartAlbum, "Favorites");
  library.addCollection("moment", CollectionType::moment, "Oslo");
  const Document document = cmdAlbums(library);
  EXPECT_EQ(document.dump(), R"({"albums":[]})");
}

TEST_F(AlbumsTest, ListsEveryAlbumInLibraryOrderWithTitlesAndCounts) {
  for (const auto& [id, type] : {std::pair<const char*, MediaType>{"img1", MediaType::image},
                                 {"img2", MediaType::image},
                                 {"vid", MediaType::video},
                                 {"song", MediaType::audio},
                                 {"odd", MediaType::unknown}}) {
    library.addAsset(id, type, 10);
  }
  library.addCollection("A1", CollectionType::album, "Holiday");
  library.addCollection("S1", CollectionType::smartAlbum, "Videos");
  library.addCollection("A2", CollectionType::album, std::nullopt, 100);
  library.addCollection("M1", CollectionType::moment, "Day");
  library.addCollection("A3", CollectionType::album, "", 7);
  library.addCollection("A4", CollectionType::album, "Holiday");
  library.addCollection("A5", CollectionType::album, "Sounds");
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
    EXPECT_EQ(options.mediaTypes, (std::vector<MediaType>{MediaType::image, MediaType::video}));
  }
}

TEST_F(AlbumsTest, CountHasNoCap) {
  library.addCollection("big", CollectionType::album, "Big");
  for (int i = 0; i < 1200; ++i) {
    const std::string id = "p" + std::to_string(i);
    library.addAsset(id, i % 2 ? MediaType::image : MediaType::video, i);
    library.addToCollection("big", id);
  }
  EXPECT_EQ(cmdAlbums(library)["albums"][0]["count"], 1200);
}

TEST_F(AlbumsTest, TitlesWithAnyTextSurviveUnchanged) {
  const std::string title = "Ünïcödé \"quoted\" \\ / \xF0\x9F\x8C\x8D\n\ttab";
  library.addCollection("A", CollectionType::album, title);
  const Document document = Document::parse(cmdAlbums(library).dump());
  EXPECT_EQ(document["albums"][0]["name"], title);
}

TEST_F(AlbumsTest, LimitedAccessShowsNoAlbums) {
  library.addAsset("a", MediaType::image, 1);
  library.addCollection("A", CollectionType::album, "Trip");
  library.addToCollection("A", "a");
  library.setStatus(AuthorizationStatus::limited);
  library.chooseForLimitedAccess({"a"});
  EXPECT_EQ(cmdAlbums(library).dump(), R"({"albums":[]})");
}

}  // namespace
}  // namespace tolvek
