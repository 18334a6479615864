#include "platform/managers/manager_catalog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <set>
#include <tuple>

#include "platform/managers/database_snapshot.h"
#include "platform/managers/manager_readers.h"
#include "platform/catalog/sqlite_statement.h"
#include "platform/managers/photo_managers.h"
#include "platform/posix/posix_file.h"
#include "support/manager_fixture.h"
#include "support/manager_samples.h"
#include "support/scratch_library.h"
#include "support/time_zone.h"

namespace tolvek {
namespace {

using testing::ManagerSamples;
using Dates = std::vector<std::pair<std::string, std::optional<std::int64_t>>>;

// An album as a test expects it: `count` members, among them `members`
// (paths below the photo tree).
struct ExpectedAlbum {
  std::string key;
  ManagerAlbumKind kind;
  std::optional<std::string> title;
  std::size_t count;
  std::vector<std::string> members;
};

struct Expected {
  Expected(std::size_t assetCount, std::size_t leftOutCount, std::vector<ExpectedAlbum> someAlbums = {},
           std::vector<std::string> absentKeys = {}, Dates someDates = {})
      : assets(assetCount), leftOut(leftOutCount), albums(std::move(someAlbums)), absent(std::move(absentKeys)),
        dates(std::move(someDates)) {}
  std::size_t assets, leftOut;
  std::vector<ExpectedAlbum> albums;
  std::vector<std::string> absent;  // keys of no album
  Dates dates;                      // paths below the photo tree
};

const ManagerAlbum* albumWithKey(const ManagerCatalog& catalog, std::string_view key) {
  for (const ManagerAlbum& album : catalog.albums) {
    if (album.key == key) return &album;
  }
  return nullptr;
}

// What the Shotwell row of the table reads from a snapshot.
Result<ManagerCatalog> readShotwellSnapshot(sqlite3* snapshot) {
  return readManagerSnapshot(*photoManagerOf(SourceKind::shotwell), snapshot);
}

const ManagerAsset* assetAt(const ManagerCatalog& catalog, const std::string& path) {
  for (const ManagerAsset& asset : catalog.assets) {
    if (asset.path == path) return &asset;
  }
  return nullptr;
}

void expectCatalog(const ManagerCatalog& catalog, const std::string& root, const Expected& expected) {
  EXPECT_EQ(catalog.assets.size(), expected.assets);
  EXPECT_EQ(catalog.leftOut, expected.leftOut);
  std::set<std::string> paths;
  for (const ManagerAsset& asset : catalog.assets) paths.insert(asset.path);
  EXPECT_EQ(paths.size(), catalog.assets.size()) << "a path given twice";
  for (const ExpectedAlbum& want : expected.albums) {
    const ManagerAlbum* album = albumWithKey(catalog, want.key);
    ASSERT_NE(album, nullptr) << want.key;
    EXPECT_EQ(album->kind, want.kind) << want.key;
    EXPECT_EQ(album->title, want.title) << want.key;
    EXPECT_EQ(album->members.size(), want.count) << want.key;
    EXPECT_EQ(std::set<std::size_t>(album->members.begin(), album->members.end()).size(), album->members.size());
    std::set<std::string> members;
    for (const std::size_t i : album->members) members.insert(catalog.assets.at(i).path);
    for (const std::string& member : want.members) EXPECT_EQ(members.count(root + "/" + member), 1u) << want.key << " " << member;
  }
  for (const std::string& key : expected.absent) EXPECT_EQ(albumWithKey(catalog, key), nullptr) << key;
  for (const auto& [path, date] : expected.dates) {
    const ManagerAsset* asset = assetAt(catalog, root + "/" + path);
    ASSERT_NE(asset, nullptr) << path;
    EXPECT_EQ(asset->creationDate, date) << path;
  }
}

constexpr auto kEvent = ManagerAlbumKind::event;
constexpr auto kTag = ManagerAlbumKind::tag;
constexpr auto kFolder = ManagerAlbumKind::folder;

// The samples as their facts files describe them.
TEST(ManagerCatalogTest, SamplesReadAsTheirProgramsRecordedThem) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const testing::ScopedTimeZone zone("TST+03");
  const ManagerSamples samples;
  const auto folder = [&](const std::string& below) { return folderAlbumKey(samples.photos() + below); };
  struct Case {
    SourceKind kind;
    std::int64_t version;
    std::size_t albums, events;
    Expected expected;
  };
  const Case cases[] = {
      {SourceKind::shotwell, 20, 24, 19,
       {23, 0,
        {{"event:1", kEvent, std::nullopt, 1, {"Cameras/Various/Pentax_K10D.jpg"}},
         {"event:10", kEvent, std::nullopt, 1, {"Phone/iPhone_hdr.jpg"}},
         {"tag:1", kTag, "Holiday", 3,
          {"Cameras/Canon/Canon_40D.jpg", "Cameras/Various/Pentax_K10D.jpg", "Cameras/Various/Nikon_D70.jpg"}},
         {"tag:2", kTag, "Family", 2, {"Cameras/Various/Sony_HDR-HC3.jpg", "Cameras/Various/Nikon_D70.jpg"}},
         {"tag:3", kTag, "Places", 1, {"Phone/iPhone_hdr.jpg"}},
         {"tag:4", kTag, "Places/France", 1, {"Phone/iPhone_hdr.jpg"}},
         {"tag:5", kTag, "Places/France/Paris", 1, {"Phone/iPhone_hdr.jpg"}}},
        {"event:20"},
        {{"Cameras/Various/Pentax_K10D.jpg", 1209919644}, {"Misc/portrait_3.jpg", std::nullopt}}}},
      {SourceKind::digikam, 15, 7, 0,
       {26, 0,
        {{folder("/Cameras/Canon"), kFolder, "Cameras/Canon", 4, {"Cameras/Canon/Canon_40D.jpg"}},
         {folder("/Cameras/Various"), kFolder, "Cameras/Various", 14, {"Cameras/Various/Nikon_D70.jpg"}},
         {folder("/Misc"), kFolder, "Misc", 5, {"Misc/copy_of_nikon.jpg"}},
         {folder("/Phone"), kFolder, "Phone", 3, {"Phone/iphone_13_pro_max.HEIC", "Phone/samplefilehub.heif"}},
         {"tag:6", kTag, "Holiday", 4,
          {"Cameras/Canon/Canon_40D.jpg", "Cameras/Various/Nikon_D70.jpg", "Cameras/Various/Pentax_K10D.jpg",
           "Misc/copy_of_nikon.jpg"}},
         {"tag:21", kTag, "Family", 3,
          {"Cameras/Various/Nikon_D70.jpg", "Cameras/Various/Sony_HDR-HC3.jpg", "Misc/copy_of_nikon.jpg"}},
         {"tag:26", kTag, "Places/France/Paris", 1, {"Phone/iPhone_hdr.jpg"}}},
        {folder(""), folder("/Cameras"), "tag:24", "tag:1"},
        {{"Cameras/Canon/Canon_40D.jpg", testing::localInstant(2008, 5, 30, 15, 56) + 1},
         {"Cameras/Various/Nikon_D70.jpg", 1205589121},  // -04:00
         {"Misc/long_description.jpg", 1134857012},      // Z
         // Without a capture time: digiKam recorded when it found the file.
         {"Misc/PaintTool_sample.jpg", std::nullopt},
         {"Phone/samplefilehub.heif", std::nullopt}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(sourceKindWord(c.kind)));
    const std::string copy = c.kind == SourceKind::shotwell ? samples.shotwellCopy("photo.db") : samples.digikamCopy("digikam4.db");
    const Result<ManagerCatalog> read = readManagerCatalog(c.kind, copy);
    ASSERT_TRUE(read) << read.message();
    EXPECT_EQ(read->schemaVersion, c.version);
    EXPECT_EQ(read->albums.size(), c.albums);
    EXPECT_EQ(std::count_if(read->albums.begin(), read->albums.end(),
                            [](const ManagerAlbum& a) { return a.kind == kEvent && !a.title && a.members.size() == 1; }),
              static_cast<std::ptrdiff_t>(c.events));
    expectCatalog(*read, samples.photos(), c.expected);
    // Every path names a file of the unpacked tree.
    for (const ManagerAsset& asset : read->assets) {
      struct stat info {};
      EXPECT_TRUE(::stat(asset.path.c_str(), &info) == 0 && S_ISREG(info.st_mode)) << asset.path;
    }
  }
}

TEST(ManagerCatalogTest, AlteredCopiesOfTheSamples) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const testing::ScopedTimeZone zone("TST+03");
  const ManagerSamples samples;
  const std::string root = testing::sqlQuoted(samples.photos());
  const auto folder = [&](const std::string& below) { return folderAlbumKey(samples.photos() + below); };
  struct Case {
    const char* what;
    SourceKind kind;
    std::string sql;
    Expected expected;
  };
  const Case cases[] = {
      {"trash and offline left out, hidden and favourite kept", SourceKind::shotwell,
       "UPDATE PhotoTable SET flags = 4 WHERE id = 1; UPDATE PhotoTable SET flags = 24 WHERE id = 3;"
       "UPDATE PhotoTable SET flags = 19 WHERE id = 12;",
       {21, 2,
        {{"tag:1", kTag, "Holiday", 1, {"Cameras/Canon/Canon_40D.jpg"}},
         {"tag:2", kTag, "Family", 1, {"Cameras/Various/Sony_HDR-HC3.jpg"}}},
        {"event:1", "event:3"}}},
      {"bare decimal ids, repeats and tokens of no kept photo", SourceKind::shotwell,
       "UPDATE TagTable SET photo_id_list = ' 1, 3,,thumbzz,999,thumb0000000000000003,video-0000000000000001,'"
       " WHERE id = 1; UPDATE TagTable SET photo_id_list = 'thumb00000000000003e7,' WHERE id = 2;",
       {23, 0, {{"tag:1", kTag, "Holiday", 2, {"Cameras/Various/Pentax_K10D.jpg", "Cameras/Various/Nikon_D70.jpg"}}},
        {"tag:2"}}},
      {"tag names kept as written, made valid UTF-8", SourceKind::shotwell,
       "UPDATE TagTable SET name = 'AC/DC' WHERE id = 1; UPDATE TagTable SET name = 'Say \"cheese\" ''n'' smile'"
       " WHERE id = 2; UPDATE TagTable SET name = '/🎉 Party/Ünï' WHERE id = 3;"
       "UPDATE TagTable SET name = CAST(X'2F48FF6F' AS TEXT) WHERE id = 4;",
       {23, 0,
        {{"tag:1", kTag, "AC/DC", 3, {}},
         {"tag:2", kTag, "Say \"cheese\" 'n' smile", 2, {}},
         {"tag:3", kTag, "🎉 Party/Ünï", 1, {}},
         {"tag:4", kTag, "H\xEF\xBF\xBDo", 1, {}}}}},
      {"named, empty-named and unnamed events; exposure times", SourceKind::shotwell,
       "UPDATE EventTable SET name = 'Lisbon \"08\"' WHERE id = 1; UPDATE EventTable SET name = '' WHERE id = 2;"
       "UPDATE PhotoTable SET exposure_time = -86400 WHERE id = 1; UPDATE PhotoTable SET exposure_time = NULL"
       " WHERE id = 2;",
       {23, 0,
        {{"event:1", kEvent, "Lisbon \"08\"", 1, {}}, {"event:2", kEvent, std::nullopt, 1, {}},
         {"event:3", kEvent, std::nullopt, 1, {}}},
        {},
        {{"Cameras/Various/Pentax_K10D.jpg", -86400}, {"Cameras/Various/Kodak_CX7530.jpg", std::nullopt}}}},
      {"videos in events and tags; a video at a photo's path is that asset", SourceKind::shotwell,
       "INSERT INTO VideoTable (id, filename, exposure_time, event_id, flags) VALUES (1, " + root +
           " || '/Misc/clip.mp4', 1600000000, 1, 0), (2, " + root + " || '/Misc/gone.mp4', 0, 1, 1), (3, " + root +
           " || '/Cameras/Various/Pentax_K10D.jpg', 0, 2, 0);"
           "UPDATE TagTable SET photo_id_list = photo_id_list || 'video-0000000000000001,video-0000000000000002,"
           "video-0000000000000003,' WHERE id = 2;",
       {24, 1,
        {{"event:1", kEvent, std::nullopt, 2, {"Cameras/Various/Pentax_K10D.jpg", "Misc/clip.mp4"}},
         {"event:2", kEvent, std::nullopt, 2, {"Cameras/Various/Kodak_CX7530.jpg", "Cameras/Various/Pentax_K10D.jpg"}},
         {"tag:2", kTag, "Family", 4, {"Misc/clip.mp4", "Cameras/Various/Pentax_K10D.jpg"}}},
        {},
        {{"Misc/clip.mp4", 1600000000}}}},
      {"rejected photos and videos left out; a video's own trash, offline and flagged bits", SourceKind::shotwell,
       "UPDATE PhotoTable SET rating = -1 WHERE id = 2;"
       "INSERT INTO VideoTable (id, filename, exposure_time, timestamp, flags, rating) VALUES"
       " (1, " + root + " || '/v/trash.mp4', 1, 9, 1, 0), (2, " + root + " || '/v/offline.mp4', 1, 9, 2, 0),"
       " (3, " + root + " || '/v/flagged.mp4', 1600000000, 1700000000, 4, 0),"
       " (4, " + root + " || '/v/rejected.mp4', 1, 9, 0, -1),"
       " (5, " + root + " || '/v/dated-by-file.mp4', 1650000000, 1650000000, 0, 5);",
       {24, 4, {}, {"event:2"},
        {{"v/flagged.mp4", 1600000000}, {"v/dated-by-file.mp4", std::nullopt},
         {"Cameras/Various/Pentax_K10D.jpg", 1209919644}}}},
      {"trashed, hidden and other categories left out; videos kept", SourceKind::digikam,
       "UPDATE Images SET status = 3 WHERE id = 1; UPDATE Images SET status = 2 WHERE id = 2;"
       "UPDATE Images SET category = 4 WHERE id = 3; UPDATE Images SET category = 2 WHERE id = 4;"
       "UPDATE Images SET album = NULL WHERE id = 5;",
       {22, 4,
        {{folder("/Cameras/Canon"), kFolder, "Cameras/Canon", 1, {"Cameras/Canon/Canon_PowerShot_S40.jpg"}},
         {folder("/Cameras/Various"), kFolder, "Cameras/Various", 13, {}},
         {"tag:6", kTag, "Holiday", 3, {}}}}},
      {"the root's own album is titled by the root's label", SourceKind::digikam,
       "UPDATE Images SET album = 1 WHERE id = 19;",
       {26, 0, {{folder(""), kFolder, "photos", 1, {"PaintTool_sample.jpg"}}, {folder("/Misc"), kFolder, "Misc", 4, {}}}}},
      {"a network share's first mount path and the specific path", SourceKind::digikam,
       "UPDATE AlbumRoots SET identifier = 'networkshareid:?mountpath=' || replace(" + root +
           ", '/photos', '') || '&mountpath=%2Felsewhere', specificPath = '/photos/';",
       {26, 0, {{folder("/Phone"), kFolder, "Phone", 3, {"Phone/iPhone_hdr.jpg"}}}}},
      {"two collections over one folder: one album, titled by the first", SourceKind::digikam,
       "INSERT INTO AlbumRoots (id, label, status, type, identifier, specificPath) VALUES (2, 'cams', 0, 1, "
       "'volumeid:?path=' || " + root + " || '/Cameras', '/');"
       "INSERT INTO Albums (id, albumRoot, relativePath) VALUES (70, 2, '/Canon');"
       "UPDATE Images SET album = 70 WHERE id IN (1, 2);",
       {26, 0, {{folder("/Cameras/Canon"), kFolder, "Cameras/Canon", 4, {"Cameras/Canon/Canon_40D.jpg"}}}}},
      {"a volume that is not mounted: its images are left out", SourceKind::digikam,
       "UPDATE AlbumRoots SET identifier = 'volumeid:?uuid=00000000-dead-beef-0000-000000000000';",
       {0, 26, {}, {folder("/Cameras/Canon"), "tag:6"}}},
      {"tag loops, internal tags, quotes, emoji and invalid UTF-8", SourceKind::digikam,
       "DROP TRIGGER move_tagstree; UPDATE Tags SET pid = 26 WHERE id = 24; INSERT INTO ImageTags VALUES (1, 8), (2, 2);"
       "UPDATE Tags SET name = 'Fam \"ily\" 🎉' WHERE id = 21; UPDATE Tags SET name = CAST(X'48FF6F' AS TEXT)"
       " WHERE id = 6;",
       {26, 0,
        {{"tag:21", kTag, "Fam \"ily\" 🎉", 3, {}}, {"tag:6", kTag, "H\xEF\xBF\xBDo", 4, {}}},
        {"tag:26", "tag:8", "tag:2"}}},
      {"dates: unreadable, missing, with an offset, the file's own", SourceKind::digikam,
       "UPDATE ImageInformation SET creationDate = 'not a date' WHERE imageid = 1;"
       "UPDATE ImageInformation SET creationDate = NULL WHERE imageid = 2;"
       "DELETE FROM ImageInformation WHERE imageid = 3;"
       "UPDATE ImageInformation SET creationDate = '2021-06-05 14:03:22.25+02:00' WHERE imageid = 4;"
       "UPDATE ImageInformation SET digitizationDate = NULL WHERE imageid = 5;"
       "UPDATE Images SET modificationDate = '2006-08-17T09:24:48.500' WHERE id = 6;",
       {26, 0, {}, {},
        {{"Cameras/Canon/Canon_40D.jpg", std::nullopt}, {"Cameras/Canon/Canon_40D_photoshop_import.jpg", std::nullopt},
         {"Cameras/Canon/Canon_DIGITAL_IXUS_400.jpg", std::nullopt},
         {"Cameras/Canon/Canon_PowerShot_S40.jpg", 1622894602},
         {"Cameras/Various/Fujifilm_FinePix6900ZOOM.jpg", std::nullopt},
         {"Cameras/Various/Fujifilm_FinePix_E500.jpg", std::nullopt},
         {"Cameras/Various/Kodak_CX7530.jpg", testing::localInstant(2005, 8, 13, 9, 47) + 23}}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string name = "altered-" + std::to_string(n++) + ".db";
    const std::string copy = c.kind == SourceKind::shotwell ? samples.shotwellCopy(name, c.sql) : samples.digikamCopy(name, c.sql);
    ASSERT_FALSE(copy.empty());
    const Result<ManagerCatalog> read = readManagerCatalog(c.kind, copy);
    ASSERT_TRUE(read) << read.message();
    expectCatalog(*read, samples.photos(), c.expected);
  }
}

TEST(ManagerCatalogTest, RefusesWhatIsNotTheManagersDatabase) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  using Make = std::function<std::string()>;
  const auto shotwell = [&](const char* sql) { return [&samples, sql] { return samples.shotwellCopy("s.db", sql); }; };
  const auto digikam = [&](const char* sql) { return [&samples, sql] { return samples.digikamCopy("d.db", sql); }; };
  const auto written = [&](std::string bytes) {
    return [&samples, bytes] { return testing::writeFileBytes(samples.file("w.db"), bytes) ? samples.file("w.db") : ""; };
  };
  struct Case {
    SourceKind kind;
    Make make;
    const char* message;
  };
  const Case cases[] = {
      {SourceKind::shotwell, shotwell("UPDATE VersionTable SET schema_version = 25;"), "Shotwell schema version 25 is newer"},
      {SourceKind::shotwell, shotwell("UPDATE VersionTable SET schema_version = 19;"), "Shotwell schema version 19 is older"},
      {SourceKind::shotwell, shotwell("DROP TABLE TagTable;"), "not a Shotwell database"},
      {SourceKind::shotwell, digikam(""), "not a Shotwell database"},
      {SourceKind::digikam, shotwell(""), "not a digiKam database"},
      {SourceKind::digikam, digikam("UPDATE Settings SET value = '17' WHERE keyword = 'DBVersion';"),
       "digiKam database version 17 is newer"},
      {SourceKind::digikam, digikam("DELETE FROM Settings WHERE keyword = 'DBVersion';"), "not a digiKam database"},
      {SourceKind::shotwell, shotwell("UPDATE VersionTable SET schema_version = 'twenty';"),
       "Shotwell schema version \"twenty\" is not a version this program reads (20 to 24)"},
      {SourceKind::shotwell, shotwell("UPDATE VersionTable SET schema_version = 20.5;"), "\"20.5\" is not a version"},
      {SourceKind::digikam, digikam("UPDATE Settings SET value = '15b' WHERE keyword = 'DBVersion';"),
       "digiKam database version \"15b\" is not a version this program reads (10 to 16)"},
      {SourceKind::shotwell,
       [&] {
         const std::string whole = samples.shotwellCopy("whole.db");
         return testing::writeTruncatedCopy(whole, samples.file("cut.db"), 20000) ? samples.file("cut.db") : "";
       },
       "damaged"},
      {SourceKind::shotwell, written(std::string(8192, 'x')), "not an SQLite database"},
      {SourceKind::digikam, written(""), "not a digiKam database"},
      {SourceKind::shotwell, [&] { return samples.file("missing.db"); }, "No such file"},
      {SourceKind::shotwell, [&] { return samples.photos(); }, "Is a directory"},
      {SourceKind::digikam,
       [&] { return ::mkfifo(samples.file("fifo.db").c_str(), 0600) == 0 ? samples.file("fifo.db") : ""; },
       kNotARegularFile},
      {SourceKind::shotwell,
       [&] {
         // A journal left by a writer that died: only a writer can roll it back.
         const std::string copy = samples.shotwellCopy("hot.db");
         std::string journal("\xd9\xd5\x05\xf9\x20\xa1\x63\xd7", 8);
         journal.resize(512, '\1');
         return testing::writeFileBytes(copy + "-journal", journal) ? copy : "";
       },
       "busy: the program that owns it left a change unfinished"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    const std::string path = c.make();
    ASSERT_FALSE(path.empty());
    const Result<ManagerCatalog> read = readManagerCatalog(c.kind, path);
    ASSERT_FALSE(read);
    EXPECT_NE(read.message().find(c.message), std::string::npos) << read.message();
    EXPECT_NE(read.message().find(path), std::string::npos) << read.message();
  }
}

// A writer of the same database in this process, holding its exclusive
// lock until commit() (SQLite's locks are seen across connections).
class Writer {
 public:
  explicit Writer(const std::string& path) {
    sqlite3* raw = nullptr;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
    db_.reset(raw);
  }
  bool run(const char* sql) { return executeSql(db_.get(), sql); }

 private:
  SqliteConnection db_;
};

TEST(ManagerCatalogTest, LeavesTheDatabaseAsItWas) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string shotwell = samples.shotwellCopy("photo.db"), digikam = samples.digikamCopy("digikam4.db");
  // In WAL mode, with the -wal and -shm gone as its program's last
  // connection closed: opened read-only, SQLite would make both and never
  // remove them.
  const std::string wal = samples.shotwellCopy("wal.db");
  ASSERT_TRUE(Writer(wal).run("PRAGMA journal_mode = WAL"));
  ASSERT_FALSE(std::filesystem::exists(wal + "-wal"));
  for (const auto& [kind, path] : {std::pair{SourceKind::shotwell, shotwell}, std::pair{SourceKind::digikam, digikam},
                                   std::pair{SourceKind::shotwell, wal}}) {
    SCOPED_TRACE(path);
    const auto before = testing::readFileBytes(path);
    const std::vector<std::string> folderBefore = testing::namesIn(samples.file(""));
    ASSERT_TRUE(readManagerCatalog(kind, path));
    EXPECT_EQ(testing::readFileBytes(path), before);
    EXPECT_EQ(testing::namesIn(samples.file("")), folderBefore);  // no journal, WAL or -shm left
  }
}

TEST(ManagerCatalogTest, AWalDatabaseItsProgramHasOpenIsReadThroughItsWal) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.shotwellCopy("photo.db");
  ASSERT_TRUE(Writer(path).run("PRAGMA journal_mode = WAL"));
  // The program connects while the quiet file is copied and commits: its
  // -wal and -shm appear, and the copy starts over reading through them.
  std::optional<Writer> program;
  SnapshotReport report;
  const auto copied = snapshotDatabase(path, {.pagesPerStep = 1, .afterStep = [&] {
                                                if (program) return;
                                                program.emplace(path);
                                                EXPECT_TRUE(program->run("UPDATE TagTable SET name = 'Late' WHERE id = 1"));
                                              }},
                                       &report);
  ASSERT_TRUE(copied) << copied.message();
  EXPECT_EQ(report.restarts, 1);
  EXPECT_EQ(albumWithKey(*readShotwellSnapshot(copied->get()), "tag:1")->title, "Late");
  EXPECT_TRUE(std::filesystem::exists(path + "-wal")) << "the program's own, still open";
  // Closed, the program checkpoints and removes them: nothing held them.
  program.reset();
  EXPECT_FALSE(std::filesystem::exists(path + "-wal") || std::filesystem::exists(path + "-shm"));
  // A -wal with frames its stopped program never checkpointed, without the
  // -shm: only that program can finish it.
  ASSERT_TRUE(testing::writeFileBytes(path + "-wal", std::string(4096, '\1')));
  const auto unfinished = readManagerCatalog(SourceKind::shotwell, path);
  ASSERT_FALSE(unfinished);
  EXPECT_NE(unfinished.message().find("left a change unfinished"), std::string::npos) << unfinished.message();
  EXPECT_FALSE(std::filesystem::exists(path + "-shm"));
}

TEST(ManagerCatalogTest, ALockHeldLongerThanTheWaitIsBusy) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.shotwellCopy("photo.db");
  Writer writer(path);
  ASSERT_TRUE(writer.run("BEGIN EXCLUSIVE"));
  const auto started = std::chrono::steady_clock::now();
  const Result<ManagerCatalog> read = readManagerCatalog(SourceKind::shotwell, path);
  const auto took = std::chrono::steady_clock::now() - started;
  ASSERT_FALSE(read);
  EXPECT_NE(read.message().find("busy"), std::string::npos) << read.message();
  EXPECT_GE(took, kSnapshotBusyWait);
  EXPECT_LT(took, std::chrono::seconds(30));
}

TEST(ManagerCatalogTest, ALockReleasedWithinTheWaitIsWaitedFor) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.shotwellCopy("photo.db");
  Writer writer(path);
  ASSERT_TRUE(writer.run("BEGIN EXCLUSIVE; UPDATE TagTable SET name = 'Committed' WHERE id = 1"));
  SnapshotReport report;
  const Result<SqliteConnection> snapshot =
      snapshotDatabase(path, {.onBusy = [&] { EXPECT_TRUE(writer.run("COMMIT")); }}, &report);
  ASSERT_TRUE(snapshot) << snapshot.message();
  EXPECT_EQ(report.busyRetries, 1);
  const Result<ManagerCatalog> read = readShotwellSnapshot(snapshot->get());
  ASSERT_TRUE(read) << read.message();
  EXPECT_EQ(albumWithKey(*read, "tag:1")->title, "Committed");
}

TEST(ManagerCatalogTest, ACommitMidCopyStartsTheCopyOverABoundedNumberOfTimes) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.shotwellCopy("photo.db");
  Writer writer(path);
  int steps = 0;
  SnapshotReport report;
  // One commit after the first step: the copy holds it.
  const auto once = snapshotDatabase(
      path, {.pagesPerStep = 1, .afterStep = [&] {
                                          if (steps++ == 0) {
                                            EXPECT_TRUE(writer.run("UPDATE TagTable SET name = 'Late' WHERE id = 1"));
                                          }
                                        }},
      &report);
  ASSERT_TRUE(once) << once.message();
  EXPECT_EQ(report.restarts, 1);
  EXPECT_EQ(albumWithKey(*readShotwellSnapshot(once->get()), "tag:1")->title, "Late");
  // A commit after every step: given up.
  const auto never = snapshotDatabase(
      path, {.pagesPerStep = 1, .maxRestarts = 3, .afterStep = [&] { EXPECT_TRUE(writer.run("UPDATE TagTable SET time_created = time_created + 1")); }},
      &report);
  ASSERT_FALSE(never);
  EXPECT_NE(never.message().find("kept changing"), std::string::npos) << never.message();
  EXPECT_EQ(report.restarts, 4);
}

TEST(ManagerCatalogTest, AHundredThousandPhotos) {
  testing::ScratchFolder scratch;
  const std::string path = scratch.file("photo.db");
  ASSERT_TRUE(testing::writeShotwellBulk(path, {.videos = 100, .root = "/p"}));
  const Result<ManagerCatalog> read = readManagerCatalog(SourceKind::shotwell, path);
  ASSERT_TRUE(read) << read.message();
  // 500 in the trash (every 200th), 167 more offline (every 300th but 600th).
  expectCatalog(*read, "/p",
                {100000 - 667 + 100, 667,
                 {{"event:1", kEvent, std::nullopt, 50, {"2001/02/IMG_000001.JPG"}},
                  {"event:2", kEvent, "Event 2", 50, {}},
                  {"tag:1", kTag, "Places/Place 1", 5000 - 500 - 167, {"2000/01/IMG_000240.JPG"}},
                  {"tag:2", kTag, "Tag 2", 5000, {}}},
                 {"tag:21"},
                 {{"2001/02/IMG_000001.JPG", 1000003000}, {"2010/03/IMG_000050.JPG", std::nullopt},
                  {"video/VID_000100.MP4", 1100300000}}});
  EXPECT_EQ(read->albums.size(), 2000u + 20u);
}

TEST(ManagerCatalogTest, BuilderGivesEachPathOneIndexAsItGrows) {
  managers::CatalogBuilder builder;
  for (int i = 0; i < 1000; ++i) EXPECT_EQ(builder.add("/p/" + std::to_string(i), std::nullopt), std::size_t(i));
  for (int i = 999; i >= 0; --i) EXPECT_EQ(builder.add("/p/" + std::to_string(i), i), std::size_t(i));
  EXPECT_EQ(builder.add("/p/6", 2), 6u);
  EXPECT_EQ(builder.add("/p/6", 4), 6u);
  EXPECT_EQ(builder.add("p/relative", std::nullopt), std::nullopt);
  EXPECT_EQ(builder.add(std::string("/nul\0byte", 9), std::nullopt), std::nullopt);
  builder.addAlbum("tag:1", kTag, "T", {7, 3, 7});
  builder.addAlbum("tag:2", kTag, "Empty", {});
  const ManagerCatalog catalog = std::move(builder).finish(1);
  ASSERT_EQ(catalog.assets.size(), 1000u);
  EXPECT_EQ(catalog.assets[5].creationDate, 5);  // a later row's date fills a missing one
  EXPECT_EQ(catalog.assets[6].creationDate, 2);  // and an earlier one replaces it, in any order
  EXPECT_EQ(catalog.assets[7].creationDate, 7);
  EXPECT_EQ(catalog.leftOut, 2u);
  ASSERT_EQ(catalog.albums.size(), 1u);
  EXPECT_EQ(catalog.albums[0].members, (std::vector<std::size_t>{3, 7}));
}

TEST(ManagerCatalogTest, HostileTagTreesGiveBoundedTitlesAndLeaveLoopsOut) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.digikamCopy("digikam4.db");
  const testing::HostileTags hostile;
  ASSERT_TRUE(testing::writeHostileDigikamTags(path, hostile));
  const Result<ManagerCatalog> read = readManagerCatalog(SourceKind::digikam, path);
  ASSERT_TRUE(read) << read.message();
  std::size_t chain = 0, loop = 0;
  for (const ManagerAlbum& album : read->albums) {
    ASSERT_TRUE(album.title);
    EXPECT_LE(album.title->size(), managers::kMaxTitleBytes) << album.key;
    const std::int64_t id = album.key.starts_with("tag:") ? std::stoll(album.key.substr(4)) : 0;
    chain += id >= hostile.firstId && id < hostile.loopId();
    loop += id >= hostile.loopId() && id < hostile.longNameId();
  }
  EXPECT_EQ(chain, static_cast<std::size_t>(hostile.chain)) << "every tag of the chain tags an image";
  EXPECT_EQ(loop, 0u) << "a tag whose parents loop has no path";
  const auto title = [&](std::int64_t id) { return albumWithKey(*read, "tag:" + std::to_string(id))->title.value(); };
  std::string levels;  // the 32 levels from the top
  for (int i = 0; i < 32; ++i) levels += (i == 0 ? "" : "/") + ("level " + std::to_string(i));
  EXPECT_EQ(title(hostile.firstId), "level 0");
  EXPECT_EQ(title(hostile.firstId + 31), levels);
  EXPECT_EQ(title(hostile.firstId + 32), "…/" + levels.substr(levels.find('/') + 1) + "/level 32");
  EXPECT_TRUE(title(hostile.loopId() - 1).starts_with("…/level 11968/")) << title(hostile.loopId() - 1);
  const std::string named = title(hostile.longNameId());
  EXPECT_TRUE(named.starts_with("xxxx") && named.ends_with("…")) << named.substr(0, 10);
  EXPECT_EQ(title(hostile.longNameId() + 1), named) << "its child's path is cut in its parent's name";
}

TEST(ManagerCatalogTest, BoundedText) {
  const std::tuple<std::string, std::size_t, std::string> cases[] = {
      {"abc", 10, "abc"},         {"abcdef", 6, "abcdef"},   {"abcdef", 5, "ab…"},
      {"ééé", 5, "é…"},           {"\xff\xff", 4, "…"},      {"a\xff" "b", 10, "a\xEF\xBF\xBD" "b"},
      {"🎉🎉", 7, "🎉…"},
  };
  for (const auto& [text, bytes, bounded] : cases) EXPECT_EQ(managers::boundedText(text, bytes), bounded) << text;
}

TEST(ManagerCatalogTest, TagMemberTokens) {
  using M = managers::ShotwellTagMember;
  EXPECT_EQ(managers::shotwellTagMembers("thumb000000000000000c,video-00000000000000ff, 7 ,,thumb,thumbxyz,-3,"
                                         "thumb10000000000000000,12a"),
            (std::vector<M>{{false, 12}, {true, 255}, {false, 7}}));
  EXPECT_TRUE(managers::shotwellTagMembers("").empty());
}

TEST(ManagerCatalogTest, DigikamDates) {
  const testing::ScopedTimeZone zone("TST+03");
  const std::int64_t local = testing::localInstant(2021, 6, 5, 14, 3) + 22;
  const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
      {"2021-06-05T14:03:22", local},          {"2021-06-05T14:03:22.123", local},
      {"2021-06-05 14:03:22", local},          {"2021-06-05T14:03:22Z", 1622901802},
      {"2021-06-05T14:03:22.5+02:00", 1622894602}, {"2021-06-05T14:03:22-0130", 1622907202},
      {"2021-06-05", std::nullopt},            {"2021-13-05T14:03:22", std::nullopt},
      {"2021-06-05T14:03:22+2", std::nullopt}, {"2021-06-05T14:03:22 junk", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& [text, seconds] : cases) EXPECT_EQ(managers::digikamDate(text), seconds) << text;
}

TEST(ManagerCatalogTest, DigikamRootFolders) {
  const managers::VolumeLookup volumes{
      [](const std::string& uuid) { return uuid == "1234-AB" ? std::optional<std::string>("/media/disk") : std::nullopt; },
      [](const std::string& label) { return label == "My Disk" ? std::optional<std::string>("/media/mine") : std::nullopt; }};
  const std::tuple<const char*, const char*, std::optional<std::string>> cases[] = {
      {"volumeid:?path=%2Fhome%2Fu%2FPictures%20Old", "/", "/home/u/Pictures Old"},
      {"volumeid:?uuid=1234-AB&fileuuid=99", "/photos//2020/", "/media/disk/photos/2020"},
      {"volumeid:?uuid=0000", "/photos", std::nullopt},
      {"volumeid:?label=My%20Disk", "/", "/media/mine"},
      {"networkshareid:?mountpath=/mnt/a&mountpath=/mnt/b", "/x", "/mnt/a/x"},
      {"?mountpath=/srv", "", "/srv"},
      {"volumeid:?path=relative", "/", std::nullopt},
      {"volumeid:?path=/a", "/../etc", std::nullopt},
      {"volumeid:", "/", std::nullopt},
  };
  for (const auto& [identifier, specific, folder] : cases) {
    EXPECT_EQ(managers::digikamRootFolder(identifier, specific, volumes), folder) << identifier;
  }
}

TEST(ManagerCatalogTest, MountPoints) {
  const std::string mountinfo =
      "22 1 0:21 / / rw - overlay overlay rw\n"
      "30 22 8:1 /sub /bind rw shared:1 - ext4 /dev/sda1 rw\n"
      "31 22 8:1 / /media/My\\040Disk rw shared:2 - ext4 /dev/sda1 rw\n"
      "32 22 0:40 / /mnt/btrfs rw - btrfs /dev/sdb2 rw\n";
  EXPECT_EQ(managers::mountPointIn(parseMountTable(mountinfo), makedev(8, 1), "/dev/sda1"), "/media/My Disk");
  EXPECT_EQ(managers::mountPointIn(parseMountTable(mountinfo), makedev(8, 18), "/dev/sdb2"), "/mnt/btrfs");
  EXPECT_EQ(managers::mountPointIn(parseMountTable(mountinfo), makedev(8, 3), "/dev/sda3"), std::nullopt);
  EXPECT_EQ(managers::mountPointIn(parseMountTable("30 22 8:1 /sub /bind rw - ext4 /dev/sda1 rw\n"), makedev(8, 1), "/dev/sda1"), "/bind");
}

TEST(ManagerCatalogTest, DigikamConfiguration) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"[General]\nDatabase Name=/wrong/\n[Database Settings]\nDatabase Name Thumbnails=/thumbs/\n"
       "Database Name=/home/u/Pictures/\nDatabase Type=QSQLITE\n[Other]\nDatabase Name=/later/\n",
       "/home/u/Pictures/"},
      {"[Database Settings]\nDatabase Name[$e]=$HOME/Pictures/\n", "/home/u/Pictures/"},
      {"[Database Settings]\nDatabase Name=\\sspaced\n", " spaced"},
      {"[Database Settings]\nDatabase Type=QMYSQL\nDatabase Name=digikam\n", std::nullopt},
      {"[Database Settings]\n", std::nullopt},
  };
  for (const auto& [rc, folder] : cases) EXPECT_EQ(managers::digikamDatabaseFolder(rc, "/home/u"), folder) << rc;
}

TEST(ManagerCatalogTest, DefaultDatabases) {
  const testing::ScratchEnvironment scratch;
  const testing::ProcessEnvironment environment(scratch);
  const auto make = [](const std::string& path) {
    ASSERT_EQ(std::system(("mkdir -p \"$(dirname " + testing::quoted(path) + ")\"").c_str()), 0);
    ASSERT_TRUE(testing::writeFileBytes(path, ""));
  };
  EXPECT_EQ(defaultManagerDatabase(SourceKind::shotwell), std::nullopt);
  EXPECT_EQ(defaultManagerDatabase(SourceKind::digikam), std::nullopt);
  EXPECT_EQ(defaultManagerDatabase(SourceKind::folder), std::nullopt);

  const std::string flatpak = scratch.home() + "/.var/app/org.gnome.Shotwell/data/shotwell/data/photo.db";
  make(flatpak);
  EXPECT_EQ(defaultManagerDatabase(SourceKind::shotwell), flatpak);
  const std::string own = scratch.dataHome() + "/shotwell/data/photo.db";
  make(own);
  EXPECT_EQ(defaultManagerDatabase(SourceKind::shotwell), own);
  ::unsetenv("XDG_DATA_HOME");
  make(scratch.home() + "/.local/share/shotwell/data/photo.db");
  EXPECT_EQ(defaultManagerDatabase(SourceKind::shotwell), scratch.home() + "/.local/share/shotwell/data/photo.db");

  const std::string collection = scratch.root() + "/work/Pictures";
  make(scratch.home() + "/.var/app/org.kde.digikam/config/digikamrc");
  ASSERT_TRUE(testing::writeFileBytes(scratch.home() + "/.var/app/org.kde.digikam/config/digikamrc",
                                      "[Database Settings]\nDatabase Name=" + collection + "/\n"));
  EXPECT_EQ(defaultManagerDatabase(SourceKind::digikam), std::nullopt);  // no database in the folder yet
  make(collection + "/digikam4.db");
  EXPECT_EQ(defaultManagerDatabase(SourceKind::digikam), collection + "/digikam4.db");
  ASSERT_TRUE(testing::writeFileBytes(scratch.configHome() + "/digikamrc",
                                      "[Database Settings]\nDatabase Name=" + scratch.root() + "/other\n"));
  make(scratch.root() + "/other/digikam4.db");
  EXPECT_EQ(defaultManagerDatabase(SourceKind::digikam), scratch.root() + "/other/digikam4.db");
}

TEST(ManagerCatalogTest, SourceKindWords) {
  EXPECT_EQ(sourceKindWord(SourceKind::folder), "folder");
  EXPECT_EQ(sourceKindWord(SourceKind::shotwell), "shotwell");
  EXPECT_EQ(sourceKindWord(SourceKind::digikam), "digikam");
  // One row per kind and per word; a folder has none.
  std::set<SourceKind> kinds;
  std::set<std::string_view> words;
  for (const PhotoManager& manager : photoManagers()) {
    EXPECT_TRUE(kinds.insert(manager.kind).second && words.insert(manager.word).second) << manager.word;
    EXPECT_EQ(photoManagerOf(manager.kind), &manager);
    EXPECT_LE(manager.oldestVersion, manager.newestVersion) << manager.word;
  }
  EXPECT_EQ(photoManagerOf(SourceKind::folder), nullptr);
}

// A kind no row names (a number this program does not know) is refused,
// never read by another manager's reader.
TEST(ManagerCatalogTest, AKindWithoutARowIsRefusedNotReadAsDigikam) {
  if (!ManagerSamples::available()) GTEST_SKIP() << ManagerSamples::missing();
  const ManagerSamples samples;
  const std::string path = samples.digikamCopy("digikam4.db");
  ASSERT_TRUE(readManagerCatalog(SourceKind::digikam, path));
  const SourceKind unknown = static_cast<SourceKind>(3);
  const Result<ManagerCatalog> read = readManagerCatalog(unknown, path);
  ASSERT_FALSE(read);
  EXPECT_EQ(read.message(), path + ": a source of a kind this program does not know (3)");
  EXPECT_EQ(sourceKindWord(unknown), "unknown");
  EXPECT_EQ(defaultManagerDatabase(unknown), std::nullopt);
}

// What each manager's version reading says of a database that is not its
// own (the first table it lacks, or the missing version row), and what it
// reads from one that is.
TEST(ManagerCatalogTest, AVersionIsReadOnlyFromTheManagersOwnTables) {
  struct Case {
    SourceKind kind;
    std::string tables;  // the manager's tables, as SQL
    std::string noVersion;
  };
  const Case cases[] = {
      {SourceKind::shotwell,
       "CREATE TABLE VersionTable (id, schema_version); CREATE TABLE PhotoTable (x); CREATE TABLE VideoTable (x);"
       "CREATE TABLE EventTable (x); CREATE TABLE TagTable (x);",
       "it is not a Shotwell database (it records no schema version)"},
      {SourceKind::digikam,
       "CREATE TABLE Settings (keyword, value); CREATE TABLE AlbumRoots (x); CREATE TABLE Albums (x);"
       "CREATE TABLE Images (x); CREATE TABLE ImageInformation (x); CREATE TABLE Tags (x); CREATE TABLE ImageTags (x);",
       "it is not a digiKam database (it records no DBVersion)"},
  };
  for (const Case& c : cases) {
    const PhotoManager* manager = photoManagerOf(c.kind);
    ASSERT_NE(manager, nullptr);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(":memory:", &raw), SQLITE_OK);
    SqliteConnection db(raw);
    const auto empty = manager->recordedVersion(db.get());
    ASSERT_FALSE(empty);
    EXPECT_EQ(empty.message().rfind("it is not a " + std::string(manager->program) + " database (it has no ", 0), 0u)
        << empty.message();
    ASSERT_TRUE(executeSql(db.get(), c.tables.c_str()));
    const auto unrecorded = manager->recordedVersion(db.get());
    EXPECT_EQ(unrecorded.message(), c.noVersion);
    const bool shotwell = c.kind == SourceKind::shotwell;
    ASSERT_TRUE(executeSql(db.get(), shotwell ? "INSERT INTO VersionTable VALUES (1, 24)"
                                              : "INSERT INTO Settings VALUES ('DBVersion', '16')"));
    const auto recorded = manager->recordedVersion(db.get());
    ASSERT_TRUE(recorded) << recorded.message();
    EXPECT_EQ(*recorded, shotwell ? "24" : "16");
  }
}

}  // namespace
}  // namespace tolvek
