// The library tool's import, run as a process: kinds by content, dates from
// the file or its modification time, copies that leave the user's files
// alone, clutter skipped and damaged media failed, albums and undated
// imports, the summary and the progress bar. Imports and syncs that are
// killed or read from while they run: a killed run leaves a catalog that
// opens and holds every asset it reported; helpers reading during a long run
// all get consistent answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <map>
#include <set>
#include <thread>

#include "platform/catalog/catalog_identifiers.h"
#include "platform/catalog/catalog_reader.h"
#include "support/http_test_server.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::ScratchLibrary;

constexpr std::int64_t kMtime = 1500000000;  // 2017-07-14T02:40:00Z

std::unique_ptr<PhotoLibrary> grantedLibrary(const ScratchLibrary& home) {
  EXPECT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  return home.library();
}

std::optional<Asset> assetById(PhotoLibrary& lib, const std::string& id) {
  return lib.fetchAssetsWithLocalIdentifiers({id})->firstObject();
}

class ToolImport : public ::testing::Test {
 protected:
  std::string media(const std::string& name) { return home.folder("media") + "/" + name; }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
};

TEST_F(ToolImport, DetectsKindsByContentAndDatesThem) {
  ASSERT_TRUE(testing::writePicture(media("plain.png"), "png"));
  ASSERT_TRUE(testing::writePicture(media("phone.heic"), "heic"));
  ASSERT_TRUE(testing::writeVideo(media("dated.mp4"), {.creationTime = "2021-03-04T05:06:07Z"}));
  ASSERT_TRUE(testing::writeVideo(media("undated.mov"), {.container = "mov"}));
  ASSERT_TRUE(testing::writeAudio(media("voice.m4a"), "m4a"));
  ASSERT_TRUE(testing::writePicture(media("sub/deeper/misnamed.mov"), "png"));  // a picture, whatever its name says
  testing::writeFileBytes(media("sub/fake.jpg"), "this is text, not a picture");
  testing::writeFileBytes(media(".DS_Store"), std::string(64, '\0'));
  for (const char* name : {"plain.png", "phone.heic", "undated.mov", "voice.m4a", "sub/deeper/misnamed.mov"}) {
    ASSERT_TRUE(testing::setModificationTime(media(name), kMtime));
  }
  const std::string before = testing::readFileBytes(media("plain.png")).value_or("");

  const auto r = home.runTool({"import", home.folder("media")});
  ASSERT_TRUE(r.exited()) << r.err;
  EXPECT_EQ(r.exitStatus, 0) << "clutter is skipped, not failed";
  EXPECT_EQ(r.err, "tolvek-photos-library: imported: 6 added, 0 already in the library, "
                   "2 skipped (not pictures, videos or audio), 0 failed\n");
  const auto lines = testing::importedLines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;

  std::map<std::string, std::string> idByName;
  for (const auto& [id, path] : lines) {
    EXPECT_TRUE(id.ends_with("/L0/001")) << id;
    idByName[std::filesystem::path(path).filename().string()] = id;
  }
  auto lib = grantedLibrary(home);
  struct Expect {
    const char* name;
    MediaType type;
    std::optional<std::int64_t> date;
    ResourceType resourceType;
  };
  for (const Expect& e : {Expect{"plain.png", MediaType::image, kMtime, ResourceType::photo},
                          Expect{"phone.heic", MediaType::image, kMtime, ResourceType::photo},
                          Expect{"dated.mp4", MediaType::video, 1614834367, ResourceType::video},
                          Expect{"undated.mov", MediaType::video, kMtime, ResourceType::video},
                          Expect{"voice.m4a", MediaType::audio, kMtime, ResourceType::audio},
                          Expect{"misnamed.mov", MediaType::image, kMtime, ResourceType::photo}}) {
    ASSERT_TRUE(idByName.count(e.name)) << e.name;
    const auto asset = assetById(*lib, idByName[e.name]);
    ASSERT_TRUE(asset) << e.name;
    EXPECT_EQ(asset->mediaType, e.type) << e.name;
    EXPECT_EQ(asset->creationDate, e.date) << e.name;
    const auto resources = lib->assetResources(*asset);
    ASSERT_EQ(resources.size(), 1u);
    EXPECT_EQ(resources[0].originalFilename, e.name);
    EXPECT_EQ(resources[0].type, e.resourceType) << e.name;
  }
  auto reader = CatalogReader::open(home.location());
  EXPECT_EQ(reader->storedAsset(assetById(*lib, idByName["phone.heic"])->handle)->original.uniformTypeIdentifier,
            "public.heic");

  // The library holds a copy; the user's file is untouched.
  const auto stored = reader->storedAsset(assetById(*lib, idByName["plain.png"])->handle);
  ASSERT_TRUE(stored);
  EXPECT_TRUE(stored->original.path.starts_with(home.location().libraryFolder + "/"));
  EXPECT_EQ(testing::readFileBytes(stored->original.path).value_or(""), before);
  EXPECT_FALSE(stored->derivatives.empty());
  for (const auto& d : stored->derivatives) EXPECT_TRUE(std::filesystem::exists(d.path)) << d.path;
  EXPECT_EQ(testing::readFileBytes(media("plain.png")).value_or(""), before);
  struct stat info {};
  ASSERT_EQ(::stat(media("plain.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mtime, kMtime);

  // The video is in the Videos smart album and in its day's moment.
  auto videos = lib->fetchAssetCollections(CollectionType::smartAlbum, 202)->firstObject();
  ASSERT_TRUE(videos);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(*videos, FetchOptions{})->count(), 2u);
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->count(), 2u);
}

TEST_F(ToolImport, NoDateAlbumAndNamesThatAreNotUtf8) {
  ASSERT_TRUE(testing::writePicture(media("bad\xff\xfe name.png"), "png"));
  ASSERT_TRUE(testing::writePicture(media("other.png"), "png"));
  const std::string albumId = home.createAlbum("Holiday");

  const auto r = home.runTool({"import", "--no-date", "--album", albumId, media("bad\xff\xfe name.png"),
                                   media("other.png")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // No progress bar when standard error is no terminal; the name is escaped.
  EXPECT_EQ(r.err.find('\r'), std::string::npos);
  const auto lines = testing::importedLines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].second, media("bad\\xff\\xfe name.png"));

  auto lib = grantedLibrary(home);
  const auto asset = assetById(*lib, lines[0].first);
  ASSERT_TRUE(asset);
  EXPECT_FALSE(asset->creationDate);
  EXPECT_EQ(lib->assetResources(*asset).at(0).originalFilename, "bad\xEF\xBF\xBD\xEF\xBF\xBD name.png");
  EXPECT_EQ(lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->count(), 0u);
  auto holiday = lib->fetchAssetCollectionsWithLocalIdentifiers({albumId})->firstObject();
  ASSERT_TRUE(holiday);
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(*holiday, FetchOptions{})->count(), 2u);
}

TEST_F(ToolImport, BadArgumentsImportNothing) {
  ASSERT_TRUE(testing::writePicture(media("one.png"), "png"));
  ASSERT_TRUE(testing::writeFileBytes(media("damaged.png"), "\x89PNG\r\n\x1A\n and nothing else"));
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string error;
  };
  for (const Case& c : {Case{{"import"}, 2, "import: no PATH given\nTry 'tolvek-photos-library import --help'.\n"},
                        Case{{"import", "--album"}, 2, "import: option '--album' needs a value\n"},
                        Case{{"import", "--bogus", media("one.png")}, 2, "import: unknown option '--bogus'\n"},
                        Case{{"import", "--no-date=1", media("one.png")}, 2, "option '--no-date' takes no value"},
                        Case{{"import", "--album", "no-such-album", media("one.png")}, 1, "no album with the"}}) {
    const auto r = home.runTool(c.args);
    EXPECT_EQ(r.exitStatus, c.status) << c.args.back();
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
  }
  // A missing file and a damaged picture fail; what can be read is imported.
  const auto r = home.runTool({"import", media("absent.png"), media("damaged.png"), media("one.png")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(testing::importedLines(r.out).size(), 1u) << "the readable file is still imported";
  EXPECT_NE(r.err.find("absent.png: no such file or folder"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("damaged.png: looks like a picture, video or audio file but cannot be read"), std::string::npos);
  EXPECT_NE(r.err.find("1 added, 0 already in the library, 0 skipped (not pictures, videos or audio), 2 failed"),
            std::string::npos);
}

// A JPEG whose header reads but whose data is missing is a damaged picture,
// in import and sync alike, not an asset without a thumbnail; one cut in the
// middle of its data shows what it has and is an asset.
TEST_F(ToolImport, APictureWithoutPixelDataFailsAndAPartialOneIsAdded) {
  const std::string whole = home.folder("work") + "/whole.jpg";
  ASSERT_TRUE(testing::writePicture(whole, "jpeg", {.width = 640, .height = 480}));
  const std::string jpeg = testing::readFileBytes(whole).value_or("");
  const std::size_t scan = testing::jpegScanDataOffset(jpeg).value_or(0);
  ASSERT_GT(scan, 0u);
  ASSERT_TRUE(testing::writeFileBytes(media("no-data.jpg"), jpeg.substr(0, scan)));
  ASSERT_TRUE(testing::writeFileBytes(media("cut.jpg"), jpeg.substr(0, scan + (jpeg.size() - scan) / 2)));
  const std::string refused = "no-data.jpg: looks like a picture, video or audio file but cannot be read";
  for (const std::vector<std::string>& run :
       {std::vector<std::string>{"import", media("no-data.jpg"), media("cut.jpg")}, {"add", home.folder("media")}}) {
    const auto r = home.runTool(run);
    EXPECT_EQ(r.exitStatus, 1) << run[0];
    EXPECT_NE(r.err.find(refused), std::string::npos) << run[0] << ": " << r.err;
    EXPECT_EQ(r.out.find("no-data.jpg"), std::string::npos) << run[0] << ": " << r.out;
    EXPECT_NE(r.out.find("cut.jpg"), std::string::npos) << run[0] << ": " << r.out;
  }
  auto lib = grantedLibrary(home);
  EXPECT_EQ(lib->fetchAssets(FetchOptions{})->count(), 1u) << "the partial picture alone";
}

TEST_F(ToolImport, ProgressBarOnlyOnATerminal) {
  if (!std::filesystem::exists("/usr/bin/script")) GTEST_SKIP() << "no script(1) to give the tool a terminal";
  ASSERT_TRUE(testing::writePicture(media("one.png"), "png"));
  ASSERT_TRUE(testing::writePicture(media("two.png"), "png"));
  const std::string out = home.root() + "/out.txt";
  // script(1) runs the tool with its standard error on a pseudo-terminal.
  const auto r = testing::runProcess(
      "/usr/bin/script", {"-qec", testing::quoted(home.toolPath()) + " import " + testing::quoted(home.folder("media")) +
                                      " > " + testing::quoted(out), "/dev/null"},
      home.toolOptions());
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  // Done of total, then the file being read, redrawn in place.
  EXPECT_NE(r.out.find("[........................] 0/2  " + media("one.png")), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("\r\033[K"), std::string::npos) << r.out;
  const auto lines = testing::importedLines(testing::readFileBytes(out).value_or(""));
  EXPECT_EQ(lines.size(), 2u) << "standard output holds only the result lines";
}

TEST_F(ToolImport, RealSamplesGetTheirKindsAndCaptureDates) {
  const std::string samples = TOLVEK_SAMPLES_DIR;
  if (!std::filesystem::exists(samples + "/jpeg")) GTEST_SKIP() << "no real samples at " << samples;
  const auto r = home.runTool({"import", samples + "/jpeg", samples + "/heif", samples + "/orientation"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  std::map<std::string, std::string> idByName;
  for (const auto& [id, path] : testing::importedLines(r.out)) {
    idByName[std::filesystem::path(path).filename().string()] = id;
  }
  EXPECT_EQ(idByName.size(), 25u);
  auto lib = grantedLibrary(home);
  for (const auto& [name, id] : idByName) EXPECT_EQ(assetById(*lib, id)->mediaType, MediaType::image) << name;
  // EXIF DateTimeOriginal read in the local zone (UTC here) ...
  EXPECT_EQ(assetById(*lib, idByName["Canon_40D.jpg"])->creationDate, 1212162961);  // 2008-05-30 15:56:01
  EXPECT_EQ(assetById(*lib, idByName["Nikon_D70.jpg"])->creationDate, 1205574721);   // 2008-03-15 09:52:01
  // ... or with the phone's own offset (12:55:41 at +01:00).
  EXPECT_EQ(assetById(*lib, idByName["iphone_13_pro_max.HEIC"])->creationDate, 1645012541);
}

// `count` copies of one small PNG in the folder "pictures", an hour apart.
std::string makePictures(const ScratchLibrary& home, int count) {
  home.pictureCopies("pictures", count, std::time(nullptr), -3600);
  return home.work("pictures");
}

TEST(ToolConcurrency, KilledImportKeepsEveryReportedAsset) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = makePictures(home, 3000);
  // Killed with SIGKILL long before 3000 files are done.
  const auto r = home.runTool({"import", pictures}, 2500ms);
  ASSERT_TRUE(r.timedOut) << "the import finished before it could be killed";
  const auto reported = testing::importedLines(r.out);
  ASSERT_FALSE(reported.empty()) << "nothing imported within the time: " << r.err;

  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  {
    auto lib = home.library();
    std::vector<std::string> ids;
    for (const auto& line : reported) ids.push_back(line.first);
    EXPECT_EQ(lib->fetchAssetsWithLocalIdentifiers(ids)->count(), reported.size());
    // At most the one asset that was committed but not yet printed more.
    const std::size_t all = lib->fetchAssets(FetchOptions{})->count();
    EXPECT_GE(all, reported.size());
    EXPECT_LE(all, reported.size() + 1);
    auto reader = CatalogReader::open(home.location());
    lib->fetchAssetsWithLocalIdentifiers(ids)->enumerateObjects([&](const Asset& a, std::size_t, bool&) {
      const auto stored = reader->storedAsset(a.handle);
      ASSERT_TRUE(stored);
      EXPECT_TRUE(std::filesystem::exists(stored->original.path)) << a.localIdentifier;
      EXPECT_EQ(lib->assetResources(a).size(), 1u);
    });
  }
  // The library takes further imports.
  ASSERT_TRUE(testing::writePicture(home.folder("more") + "/x.png", "png"));
  const auto again = home.runTool({"import", home.folder("more")});
  EXPECT_EQ(again.exitStatus, 0) << again.err;
}

TEST(ToolConcurrency, KilledSyncKeepsEveryReportedChangeAndTheNextOneFinishes) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = makePictures(home, 3000);
  const auto killed = home.runTool({"add", pictures}, 2500ms);
  ASSERT_TRUE(killed.timedOut) << "the sync finished before it could be killed";
  const auto reported = testing::syncLines(killed.out);
  ASSERT_FALSE(reported.empty()) << "nothing committed within the time: " << killed.err;
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  std::vector<std::string> ids;
  for (const auto& line : reported) ids.push_back(line.identifier);
  EXPECT_EQ(home.library()->fetchAssetsWithLocalIdentifiers(ids)->count(), reported.size());

  const auto finished = home.runTool({"sync"}, std::chrono::seconds(600));
  ASSERT_EQ(finished.exitStatus, 0) << finished.err;
  std::set<std::string> paths;
  for (const auto& lines : {reported, testing::syncLines(finished.out)}) {
    for (const auto& line : lines) EXPECT_TRUE(paths.insert(line.path).second) << "reported twice: " << line.path;
  }
  EXPECT_EQ(home.library()->fetchAssets(FetchOptions{})->count(), 3000u) << "one asset per file, none twice";
}

// A long import into an album, and a long first sync of a folder (whose
// album appears with its first batch).
struct LongRun {
  const char* name;
  bool sync;
  int files;
};

class EightReaders : public ::testing::TestWithParam<LongRun> {};

TEST_P(EightReaders, DuringALongRunAllSucceed) {
  const LongRun run = GetParam();
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const std::string pictures = makePictures(home, run.files);
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  std::string albumId;
  std::vector<std::string> command{"add", pictures};
  if (run.sync) {
    albumId = folderCollectionIdentifier(std::filesystem::canonical(pictures).string());
  } else {
    albumId = home.createAlbum("Everything");
    command = {"import", "--album", albumId, pictures};
  }

  std::atomic<bool> importing{true};
  testing::ProcessResult imported;
  std::thread importer([&] {
    imported = home.runTool(command, std::chrono::seconds(600));
    importing = false;
  });

  std::atomic<int> reads{0};
  std::atomic<int> failures{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 8; ++t) {
    readers.emplace_back([&] {
      std::size_t last = 0;
      while (importing) {
        const auto lib = home.library();
        const FetchOptions newest{{MediaType::image, MediaType::video}, true};
        auto all = lib->fetchAssets(newest);
        const std::size_t count = all->count();
        std::size_t seen = 0;
        std::optional<std::int64_t> previous;
        bool ordered = true;
        all->enumerateObjects([&](const Asset& a, std::size_t, bool&) {
          ++seen;
          if (previous && a.creationDate && *a.creationDate > *previous) ordered = false;
          previous = a.creationDate;
        });
        auto albums = lib->fetchAssetCollectionsWithLocalIdentifiers({albumId});
        const std::size_t inAlbum =
            albums->count() == 1 ? lib->fetchAssetsInAssetCollection(*albums->firstObject(), newest)->count() : 0;
        // One snapshot per run: the count, the rows and the album agree, and
        // nothing ever disappears.
        const bool albumAgrees = albums->count() == 1 ? inAlbum == count : run.sync && count == 0;
        if (seen != count || !ordered || !albumAgrees || count < last) {
          ++failures;
          ADD_FAILURE() << "seen " << seen << " count " << count << " ordered " << ordered << " in album " << inAlbum
                        << " last " << last << " albums " << albums->count();
        }
        last = count;
        ++reads;
      }
    });
  }
  importer.join();
  for (auto& r : readers) r.join();
  EXPECT_EQ(imported.exitStatus, 0) << imported.err;
  EXPECT_EQ(std::count(imported.out.begin(), imported.out.end(), '\n'), run.files) << "one line per file";
  EXPECT_EQ(failures.load(), 0);
  EXPECT_GT(reads.load(), 8);
  EXPECT_EQ(home.library()->fetchAssets(FetchOptions{})->count(), static_cast<std::size_t>(run.files));
}

INSTANTIATE_TEST_SUITE_P(ImportAndSync, EightReaders,
                         ::testing::Values(LongRun{"Import", false, 500}, LongRun{"Sync", true, 2000}),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace tolvek

namespace tolvek {
namespace {

// A picture marked rejected (XMP rating -1, in the file or beside it) is
// told and left out, named or found in a folder; the others are imported.
TEST(ToolImportRejected, PicturesMarkedRejectedAreToldAndLeftOut) {
  testing::ScratchLibrary home{testing::ScratchLibrary::Scope::thisProcess};
  const std::string folder = home.folder("media");
  ASSERT_TRUE(testing::writePicture(folder + "/kept.png", "png"));
  ASSERT_TRUE(testing::writePicture(folder + "/marked.png", "png",
                                    {.width = 40, .xmp = testing::xmpPacket("xmp:Rating=\"-1\"")}));
  ASSERT_TRUE(testing::writePicture(folder + "/sub/beside.png", "png", {.width = 48}));
  ASSERT_TRUE(testing::writeFileBytes(folder + "/sub/beside.png.xmp", testing::xmpPacket("xmp:Rating=\"-1\"")));
  const auto named = home.runTool({"import", folder + "/marked.png"});
  EXPECT_EQ(named.exitStatus, 0) << "skipped like a file that is no picture";
  EXPECT_EQ(named.out, "");
  EXPECT_EQ(named.err, "tolvek-photos-library: " + folder +
                           "/marked.png: skipped, marked rejected (XMP rating -1); clear the mark to import it\n"
                           "tolvek-photos-library: imported: 0 added, 0 already in the library, "
                           "0 skipped (not pictures, videos or audio), 0 failed, 1 marked rejected\n");
  const auto all = home.runTool({"import", folder});
  EXPECT_EQ(testing::importedLines(all.out).size(), 1u) << all.out;
  EXPECT_NE(all.err.find("sub/beside.png: skipped, marked rejected"), std::string::npos) << all.err;
  // The sidecar itself is clutter, skipped.
  EXPECT_NE(all.err.find("1 added, 0 already in the library, 1 skipped (not pictures, videos or audio), 0 failed, "
                         "2 marked rejected"),
            std::string::npos)
      << all.err;
}

}  // namespace
}  // namespace tolvek
