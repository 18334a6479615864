// The two listing commands: albums, and the items of the library or an album.
#include "commands/list_command.h"

#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <optional>

#include "commands/albums_command.h"
#include "support/in_memory_library.h"

namespace tolvek {
namespace {

constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();
constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();

using Ids = std::vector<std::string>;

struct ListTest : InMemoryLibraryTest {
  IsoDateFormatter iso;

  Ids listed(const std::string& album, std::int64_t limit) {
    Ids ids;
    const Document document = cmdList(library, iso, album, limit);
    for (const Document& item : document.at("items")) ids.push_back(item.at("id"));
    return ids;
  }
  void addMany(int n, const std::string& album = {}) {
    for (int i = 0; i < n; ++i) {
      const std::string id = album + "n" + std::to_string(i);
      library.addAsset(id, MediaType::image, 1'000'000 + i);
      if (!album.empty()) library.addToCollection(album, id);
    }
  }
};

TEST_F(ListTest, ItemsHaveExactlyTheFourMembers) {
  library.addAsset("pic", MediaType::image, 1'700'000'000);
  library.addResource("pic", ResourceType::photo, "IMG_0001.HEIC");
  library.addAsset("vid", MediaType::video, 1'600'000'000);
  library.addAsset("undated", MediaType::image);
  library.addResource("undated", static_cast<ResourceType>(5), "");
  library.addAsset("song", MediaType::audio, 1'800'000'000);
  library.addAsset("epoch", MediaType::video, 0);
  const Document expected = Document::parse(R"({"items":[
      {"id":"pic","name":"IMG_0001.HEIC","date":"2023-11-14T22:13:20Z","isVideo":false},
      {"id":"vid","name":"video.mov","date":"2020-09-13T12:26:40Z","isVideo":true},
      {"id":"epoch","name":"video.mov","date":"1970-01-01T00:00:00Z","isVideo":true},
      {"id":"undated","name":"photo.jpg","date":null,"isVideo":false}]})");
  EXPECT_EQ(cmdList(library, iso, "-", 60), expected);
}

// Only the years 1 to 9999 fit the four-digit form; any other date is null,
// never a negative or five-digit year.
TEST_F(ListTest, DatesOutsideTheYearsOneTo9999AreNull) {
  const struct {
    std::int64_t seconds;
    std::optional<std::string> text;
  } cases[] = {{kMin, std::nullopt},
               {kMin + 1, std::nullopt},
               {-1'000'000'000'000'000, std::nullopt},
               {-62'167'219'200, std::nullopt},  // 0000-01-01T00:00:00Z
               {-62'135'596'801, std::nullopt},  // 0000-12-31T23:59:59Z
               {-62'135'596'800, "0001-01-01T00:00:00Z"},
               {-62'104'060'801, "0001-12-31T23:59:59Z"},
               {-1, "1969-12-31T23:59:59Z"},
               {0, "1970-01-01T00:00:00Z"},
               {951'782'400, "2000-02-29T00:00:00Z"},
               {253'402'300'799, "9999-12-31T23:59:59Z"},
               {253'402'300'800, std::nullopt},  // 10000-01-01T00:00:00Z
               {686'789'107'200, std::nullopt},  // in the year 23733
               {1'000'000'000'000'000, std::nullopt},
               {kMax - 1, std::nullopt},
               {kMax, std::nullopt}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(iso.stringFromDate(c.seconds), c.text) << c.seconds;
    library.addAsset("d" + std::to_string(i), MediaType::image, c.seconds);
  }
  // The list writes each as the formatter does, null where it cannot.
  const Document document = cmdList(library, iso, "-", 500);
  std::map<std::string, Document> dates;
  for (const Document& item : document.at("items")) dates[item.at("id")] = item.at("date");
  ASSERT_EQ(dates.size(), std::size(cases));
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    EXPECT_EQ(dates["d" + std::to_string(i)], c.text ? Document(*c.text) : Document(nullptr)) << c.seconds;
  }
}

TEST_F(ListTest, LimitIsBoundedToOneToFiveHundred) {
  addMany(520);
  const struct {
    std::int64_t limit;
    std::size_t items;
  } cases[] = {{0, 1}, {-1, 1}, {kMin, 1}, {1, 1}, {2, 2}, {60, 60}, {499, 499}, {500, 500}, {501, 500}, {kMax, 500}};
  for (const auto& c : cases) {
    EXPECT_EQ(listed("-", c.limit).size(), c.items) << c.limit;
    EXPECT_EQ(library.calls().fetchOptions.back().fetchLimit, static_cast<std::int64_t>(c.items)) << c.limit;
  }
  // Newest first: the first item of limit 1 is the newest.
  EXPECT_EQ(listed("-", 1), Ids{"n519"});
}

TEST_F(ListTest, StopFlagBoundsTheListWhenTheFetchIgnoresItsLimit) {
  library.addCollection("A", CollectionType::album, "A");
  addMany(600, "A");
  library.ignoreFetchLimit(true);
  EXPECT_EQ(listed("-", 3), (Ids{"An599", "An598", "An597"}));
  EXPECT_EQ(listed("A", 1000).size(), 500u);
}

TEST_F(ListTest, WholeLibraryForDashAndEmptyAlbum) {
  addMany(5);
  EXPECT_EQ(listed("-", 60), listed("", 60));
  EXPECT_EQ(listed("", 60).size(), 5u);
  EXPECT_EQ(library.calls().collectionLookups, 0u);
}

TEST_F(ListTest, AlbumOfAnyCollectionTypeListsItsPicturesAndVideos) {
  library.addAssets({{"outside", MediaType::image, 99}, {"clip", MediaType::video, 50},
                     {"song", MediaType::audio, 60}, {"shot", MediaType::image, 40}});
  for (auto type : {CollectionType::album, CollectionType::smartAlbum, CollectionType::moment}) {
    const std::string id = "C" + std::to_string(static_cast<int>(type));
    library.addCollection(id, type, "c");
    for (const char* member : {"shot", "song", "clip"}) library.addToCollection(id, member);
    EXPECT_EQ(listed(id, 60), (Ids{"clip", "shot"})) << type;
  }
}

TEST_F(ListTest, AlbumThatNamesNothingGivesEmptyItemsWithoutFetchingAssets) {
  addMany(3);
  library.addCollection("A", CollectionType::album, "Trip");
  for (const std::string& album : Ids{"nope", "Trip", "a", "\"A\"", "%", "_", "*", "\xF0\x9F\x98\x80",
                                      std::string(100 * 1024, 'A'), std::string("A\0B", 3)}) {
    EXPECT_EQ(cmdList(library, iso, album, 60).dump(), R"({"items":[]})");
  }
  EXPECT_EQ(library.calls().assetFetches, 0u);
  EXPECT_EQ(library.calls().assetFetchesInCollection, 0u);
}

TEST_F(ListTest, LimitedAccessListsOnlyTheChosenAssets) {
  addMany(4);
  library.setStatus(AuthorizationStatus::limited);
  library.chooseForLimitedAccess({"n1", "n3"});
  EXPECT_EQ(listed("-", 60), (Ids{"n3", "n1"}));
}

using AlbumsTest = InMemoryLibraryTest;

TEST_F(AlbumsTest, LibraryWithoutAlbumsGivesAnEmptyArray) {
  library.addAsset("a", MediaType::image, 1);
  library.addCollection("smart", CollectionType::smartAlbum, "Favorites");
  library.addCollection("moment", CollectionType::moment, "Oslo");
  EXPECT_EQ(cmdAlbums(library).dump(), R"({"albums":[]})");
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
  EXPECT_EQ(Document::parse(cmdAlbums(library).dump())["albums"][0]["name"], title);
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
