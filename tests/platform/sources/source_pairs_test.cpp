// Live Photos synced from a Pictures folder: the still and its short movie
// are one asset (listed once, under the still's name and date; exported as
// the still), which keeps its identifier when a half goes, comes back, or the
// folder moves; a long movie of the same name stays a video of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "platform/catalog/catalog_reader.h"
#include "support/catalog_fixture.h"
#include "support/manager_fixture.h"
#include "support/media_fixtures.h"
#include "support/raw_fixtures.h"
#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::Json;

class SourcePairs : public testing::SourceFixture {
 protected:
  void SetUp() override {
    if (!testing::haveFfmpeg()) GTEST_SKIP() << "no ffmpeg to make the movies";
  }
  // Each of its own content (its width), taken at 2021-03-04T05:06:07Z.
  void still(const std::string& relative, int width = 64) {
    ASSERT_TRUE(testing::writePicture(pictures(relative), "jpeg",
                                      {.width = width, .dateTimeOriginal = "2021:03:04 05:06:07",
                                       .offsetTimeOriginal = "+00:00"}));
  }
  void movie(const std::string& relative, double seconds, std::optional<std::string> identifier = std::nullopt) {
    ASSERT_TRUE(testing::writeVideo(pictures(relative), {.seconds = seconds, .container = "mov",
                                                         .creationTime = "2022-01-01T00:00:00Z",
                                                         .contentIdentifier = identifier}));
  }
  // The helper's listing: name -> (identifier, whether a video, date).
  struct Item {
    std::string id;
    bool video = false;
    std::string date;
  };
  // The asset's resources as the helper reads them; each one's bytes are there.
  std::vector<AssetResource> resourcesOf(const std::string& id) {
    auto reader = CatalogReader::open(home.location());
    AssetQuery query;
    query.scope = AssetScope::identifiers;
    query.identifiersJson = "[\"" + id + "\"]";
    std::vector<AssetResource> resources;
    reader->forEachAsset(query, [&](const Asset& asset) {
      resources = reader->resources(asset.handle);
      return false;
    });
    for (const AssetResource& r : resources) EXPECT_TRUE(reader->storedResource(r)) << r.originalFilename;
    return resources;
  }
  std::map<std::string, Item> items() {
    std::map<std::string, Item> found;
    const Json list = home.run({"list", "-", "500"});
    for (const Json& item : list["items"]) {
      found[item["name"].get<std::string>()] = {item["id"].get<std::string>(), item["isVideo"].get<bool>(),
                                                item["date"].is_null() ? "" : item["date"].get<std::string>()};
    }
    return found;
  }
};

TEST_F(SourcePairs, LivePhotoIsOneAssetAndKeepsItsIdentifier) {
  still("IMG_0001.JPG");
  movie("IMG_0001.MOV", 2);
  still("IMG_0002.JPG", 66);
  movie("IMG_0002.MOV", 8);  // too long for a Live Photo
  still("IMG_0003.JPG", 68);
  movie("IMG_0003_HEVC.MOV", 3);
  sync();
  home.grantAccess();
  auto listed = items();
  ASSERT_EQ(listed.size(), 4u) << last.out;
  ASSERT_TRUE(listed.contains("IMG_0001.JPG") && listed.contains("IMG_0003.JPG"));
  EXPECT_FALSE(listed["IMG_0001.JPG"].video);
  EXPECT_TRUE(listed["IMG_0001.JPG"].date.starts_with("2021-03-04")) << listed["IMG_0001.JPG"].date
                                                                      << ": the still's date, not the movie's";
  EXPECT_TRUE(listed.contains("IMG_0002.MOV") && listed["IMG_0002.MOV"].video);
  const auto counted = albums();
  const auto folder = std::find_if(counted.begin(), counted.end(), [](const auto& album) { return album.first == "Pictures"; });
  ASSERT_NE(folder, counted.end()) << home.run({"albums"}).dump();
  EXPECT_EQ(folder->second, 4) << "the pair counts once";
  const std::string pair = listed["IMG_0001.JPG"].id;

  // The movie is the asset's paired video, after the still.
  const std::vector<AssetResource> resources = resourcesOf(pair);
  ASSERT_EQ(resources.size(), 2u);
  EXPECT_EQ(resources[0].type, ResourceType::photo);
  EXPECT_EQ(resources[1].type, ResourceType::pairedVideo);
  EXPECT_EQ(resources[1].originalFilename, "IMG_0001.MOV");

  // Export writes the still only.
  const Json exported = home.run({"export", home.folder("out"), pair});
  ASSERT_EQ(exported["files"].size(), 1u) << exported.dump();
  EXPECT_EQ(fs::path(exported["files"][0]["path"].get<std::string>()).filename(), "IMG_0001.JPG");

  // The folder moves: the pair keeps its identifier.
  fs::create_directories(pictures("2021"));
  for (const char* name : {"IMG_0001.JPG", "IMG_0001.MOV"}) fs::rename(pictures(name), pictures(std::string("2021/") + name));
  sync();
  listed = items();
  EXPECT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed["IMG_0001.JPG"].id, pair);

  // The still goes: the movie carries on as a video under the pair's identifier.
  const std::string stillBytes = *testing::readFileBytes(pictures("2021/IMG_0001.JPG"));
  fs::remove(pictures("2021/IMG_0001.JPG"));
  sync();
  listed = items();
  ASSERT_TRUE(listed.contains("IMG_0001.MOV")) << last.out;
  EXPECT_EQ(listed["IMG_0001.MOV"].id, pair);
  EXPECT_TRUE(listed["IMG_0001.MOV"].video);

  // It comes back: one asset again, under the first identifier.
  ASSERT_TRUE(testing::writeFileBytes(pictures("2021/IMG_0001.JPG"), stillBytes));
  sync();
  listed = items();
  EXPECT_EQ(listed.size(), 4u);
  ASSERT_TRUE(listed.contains("IMG_0001.JPG"));
  EXPECT_EQ(listed["IMG_0001.JPG"].id, pair);
  EXPECT_FALSE(listed.contains("IMG_0001.MOV"));

  // The movie goes: the still carries on alone, as it was.
  fs::remove(pictures("2021/IMG_0001.MOV"));
  sync();
  listed = items();
  EXPECT_EQ(listed.size(), 4u);
  EXPECT_EQ(listed["IMG_0001.JPG"].id, pair);
}

// A half of a pair names the pair wherever the tool takes assets: its path
// (which), and its identifier for a limited access, which records the pair
// the helper shows rather than a half it never lists.
TEST_F(SourcePairs, AHalfNamesItsPair) {
  still("IMG_0001.JPG");
  movie("IMG_0001.MOV", 2);
  still("IMG_0002.JPG", 66);
  sync();
  home.grantAccess();
  auto listed = items();
  ASSERT_EQ(listed.size(), 2u) << last.out;
  const std::string pair = listed["IMG_0001.JPG"].id;
  std::string half;
  {
    auto catalog = testing::CatalogFixture::open(home.location().catalogPath);
    ASSERT_TRUE(catalog) << catalog.message();
    auto found = catalog->halfOf(pair);
    ASSERT_TRUE(found) << found.message();
    half = *found;
  }
  ASSERT_NE(half, pair);
  EXPECT_EQ(home.tool({"which", pictures("IMG_0001.MOV")}), pair + "\t" + pictures("IMG_0001.MOV") + "\n");
  for (const std::vector<std::string>& named : {std::vector<std::string>{half},
                                                std::vector<std::string>{pictures("IMG_0001.MOV"), half, pair}}) {
    std::vector<std::string> arguments{"access", "limit"};
    arguments.insert(arguments.end(), named.begin(), named.end());
    const auto limited = home.runTool(arguments);
    ASSERT_EQ(limited.exitStatus, 0) << limited.err;
    EXPECT_EQ(testing::itemIds(home.run({"list", "-", "500"})), std::vector<std::string>{pair});
    EXPECT_NE(home.tool({"status"}).find("access\tlimited to 1 asset\n"), std::string::npos) << "the pair once";
  }
}

// A library of version 6 holds the halves of its pairs as assets of their own
// and knows nothing of what pairs them. The first sync after the upgrade
// pairs every folder once, probing only the files that share a name with one
// of the other kind; each pair keeps the identifier recorded first and the
// albums and favourite of both halves. The next sync finds nothing to do.
TEST_F(SourcePairs, UpgradedLibraryIsPairedOnce) {
  if (!testing::haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to read the catalog";
  movie("IMG_0001.MOV", 2);
  still("IMG_0002.JPG", 66);
  // LibRaw takes a Nikon RAW this small for none.
  ASSERT_TRUE(testing::writeRaw(pictures("RAW_0002.NEF"), {.sensorWidth = 300, .sensorHeight = 200}));
  movie("IMG_0003.MOV", 3);  // no still of its name
  sync();
  still("LIVE_0001.JPG");  // recorded after its movie
  sync();
  home.grantAccess();
  ASSERT_EQ(items().size(), 5u) << last.out;
  const std::string movieId = items()["IMG_0001.MOV"].id;
  const std::string jpegId = items()["IMG_0002.JPG"].id;
  const auto album = home.runTool({"album", "create", "Trip"});
  ASSERT_EQ(album.exitStatus, 0) << album.err;
  const std::string trip = album.out.substr(0, album.out.find('\n'));
  ASSERT_EQ(home.runTool({"album", "add", trip, movieId}).exitStatus, 0);
  ASSERT_EQ(home.runTool({"favorite", movieId}).exitStatus, 0);
  // As a sync of version 6 recorded these files under the names of pairs.
  {
    auto catalog = testing::CatalogFixture::open(home.location().catalogPath);
    ASSERT_TRUE(catalog) << catalog.message();
    ASSERT_TRUE(catalog->downgradeToVersion(6).ok());
    ASSERT_TRUE(catalog->renameSourceFile("LIVE_0001.JPG", "IMG_0001.JPG").ok());
    ASSERT_TRUE(catalog->renameSourceFile("RAW_0002.NEF", "IMG_0002.NEF").ok());
  }
  fs::rename(pictures("LIVE_0001.JPG"), pictures("IMG_0001.JPG"));
  fs::rename(pictures("RAW_0002.NEF"), pictures("IMG_0002.NEF"));
  ASSERT_EQ(items().size(), 5u) << "version 6 lists both halves";

  EXPECT_EQ(sync(), std::vector<testing::SyncLine>{}) << "no file changed";
  auto listed = items();
  EXPECT_EQ(listed.size(), 3u) << home.run({"list", "-", "500"}).dump();
  ASSERT_TRUE(listed.contains("IMG_0001.JPG") && listed.contains("IMG_0002.JPG")) << last.out;
  EXPECT_EQ(listed["IMG_0001.JPG"].id, movieId) << "the movie was recorded first";
  EXPECT_FALSE(listed["IMG_0001.JPG"].video);
  EXPECT_EQ(listed["IMG_0002.JPG"].id, jpegId);
  EXPECT_TRUE(listed.contains("IMG_0003.MOV"));
  const Json members = home.run({"list", trip, "10"})["items"];
  ASSERT_EQ(members.size(), 1u) << members.dump();
  EXPECT_EQ(members[0]["id"], movieId);
  const std::string catalog = home.location().catalogPath;
  const std::string everyAsset =
      "SELECT a.identifier, a.favorite, a.paired_to, r.original_filename, quote(a.content_identifier), "
      "a.duration_ms FROM asset a JOIN resource r ON r.asset_id = a.id AND r.position = 0 ORDER BY a.id;";
  const auto paired = testing::sqliteQuery(catalog, everyAsset);
  ASSERT_TRUE(paired);
  EXPECT_EQ(testing::sqliteQuery(catalog, "SELECT identifier FROM asset WHERE favorite = 1;"),
            std::optional<std::vector<std::string>>({movieId}));
  // Only the movie and the still of the same name were probed.
  EXPECT_EQ(testing::sqliteQuery(catalog, "SELECT r.original_filename, a.duration_ms IS NOT NULL FROM asset a JOIN resource r ON "
                                          "r.asset_id = a.id AND r.position = 0 WHERE a.content_identifier IS NOT NULL "
                                          "ORDER BY 1;"),
            std::optional<std::vector<std::string>>({"IMG_0001.JPG|0", "IMG_0001.MOV|1"}));

  EXPECT_EQ(sync(), std::vector<testing::SyncLine>{});
  EXPECT_EQ(last.out, "");
  EXPECT_EQ(testing::sqliteQuery(catalog, everyAsset), paired) << "the second sync changes nothing";
  EXPECT_EQ(items().size(), 3u);
}

// A Shotwell database naming the two files pairs them the same way.
TEST_F(SourcePairs, ShotwellNamingBothFilesPairsThem) {
  const std::string camera = home.folder("camera");
  ASSERT_TRUE(testing::writePicture(camera + "/IMG_0005.HEIC", "jpeg", {.width = 70}));
  ASSERT_TRUE(testing::writeVideo(camera + "/IMG_0005.MOV", {.seconds = 2, .container = "mov"}));
  const std::string database = home.folder("shotwell") + "/photo.db";
  ASSERT_TRUE(testing::createShotwellDatabase(database));
  ASSERT_TRUE(testing::executeSqlOn(
      database, "INSERT INTO PhotoTable (id, filename, exposure_time, flags) VALUES (1, " +
                    testing::sqlQuoted(camera + "/IMG_0005.HEIC") + ", 0, 0);"
                    "INSERT INTO VideoTable (id, filename, exposure_time, flags) VALUES (1, " +
                    testing::sqlQuoted(camera + "/IMG_0005.MOV") + ", 0, 0);"));
  sync({"add", "--shotwell", database});
  home.grantAccess();
  const auto listed = items();
  ASSERT_EQ(listed.size(), 1u) << last.out << last.err;
  EXPECT_EQ(listed.begin()->first, "IMG_0005.HEIC");
  EXPECT_FALSE(listed.begin()->second.video);
}

// A motion photo (a JPEG carrying its own movie) is one file: one picture.
TEST_F(SourcePairs, MotionPhotoStaysOnePicture) {
  still("MVIMG_0001.jpg");
  movie("clip.mov", 2);
  const std::string jpeg = *testing::readFileBytes(pictures("MVIMG_0001.jpg"));
  const std::string mov = *testing::readFileBytes(pictures("clip.mov"));
  fs::remove(pictures("clip.mov"));
  ASSERT_TRUE(testing::writeFileBytes(pictures("MVIMG_0001.jpg"), jpeg + mov));
  sync();
  home.grantAccess();
  const auto listed = items();
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_FALSE(listed.begin()->second.video);
}

// Apple's content identifiers pair a still and a movie whatever their names,
// and two different ones keep a still and a movie of one name apart.
TEST_F(SourcePairs, ContentIdentifiersDecideOverNames) {
  if (!testing::haveExiftool()) GTEST_SKIP() << "no exiftool to write the still's maker note";
  still("IMG_1000.JPG");
  ASSERT_TRUE(testing::writeAppleContentIdentifier(pictures("IMG_1000.JPG"), "AAAA-1111"));
  movie("renamed.MOV", 2, "AAAA-1111");
  still("IMG_2000.JPG", 66);
  ASSERT_TRUE(testing::writeAppleContentIdentifier(pictures("IMG_2000.JPG"), "BBBB-2222"));
  movie("IMG_2000.MOV", 2, "CCCC-3333");
  sync();
  home.grantAccess();
  const auto listed = items();
  EXPECT_EQ(listed.size(), 3u) << last.out;
  EXPECT_FALSE(listed.contains("renamed.MOV")) << "paired by its identifier";
  EXPECT_TRUE(listed.contains("IMG_2000.MOV")) << "another identifier than the still's";
  ASSERT_TRUE(listed.contains("IMG_1000.JPG"));
  const auto resources = resourcesOf(listed.at("IMG_1000.JPG").id);
  ASSERT_EQ(resources.size(), 2u);
  EXPECT_EQ(resources[1].originalFilename, "renamed.MOV");
}

// A RAW whose JPEG arrives later: one asset under the RAW's identifier, the
// JPEG its primary (listed, exported), the RAW its alternate; the JPEG gone,
// the RAW carries on under the same identifier.
TEST_F(SourcePairs, RawThenItsJpegAreOneAssetUnderTheFirstIdentifier) {
  ASSERT_TRUE(testing::writeRaw(pictures("IMGP0010.DNG"), {.layout = testing::RawLayout::dng}));
  sync();
  home.grantAccess();
  auto listed = items();
  ASSERT_TRUE(listed.contains("IMGP0010.DNG")) << last.out << last.err;
  const std::string first = listed["IMGP0010.DNG"].id;
  ASSERT_TRUE(testing::writeRaw(pictures("IMGP0011.PEF"), {.layout = testing::RawLayout::previewInIfd0}));
  still("IMGP0010.JPG");
  still("imgp0011.jpg", 66);  // the stem's case differs, as cameras and copies write it
  sync();
  listed = items();
  ASSERT_EQ(listed.size(), 2u) << last.out;
  ASSERT_TRUE(listed.contains("IMGP0010.JPG") && listed.contains("imgp0011.jpg"));
  EXPECT_EQ(listed["IMGP0010.JPG"].id, first);
  const auto resources = resourcesOf(first);
  ASSERT_EQ(resources.size(), 2u);
  EXPECT_EQ(resources[0].type, ResourceType::photo);
  EXPECT_EQ(resources[0].originalFilename, "IMGP0010.JPG");
  EXPECT_EQ(resources[1].type, ResourceType::alternatePhoto);
  EXPECT_EQ(resources[1].originalFilename, "IMGP0010.DNG");
  const Json exported = home.run({"export", home.folder("out"), first});
  ASSERT_EQ(exported["files"].size(), 1u) << exported.dump();
  EXPECT_EQ(testing::readFileBytes(exported["files"][0]["path"].get<std::string>()),
            testing::readFileBytes(pictures("IMGP0010.JPG")));

  fs::remove(pictures("IMGP0010.JPG"));
  sync();
  listed = items();
  ASSERT_TRUE(listed.contains("IMGP0010.DNG")) << last.out;
  EXPECT_EQ(listed["IMGP0010.DNG"].id, first);
  EXPECT_FALSE(listed["IMGP0010.DNG"].video);
}

}  // namespace
}  // namespace tolvek
