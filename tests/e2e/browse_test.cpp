// `albums` and `list` of the built helper on a real library that the library
// tool filled: titles, counts, collections that are not albums, dates, limits
// and identifiers that name nothing. The picture stack (libvips and what it
// pulls in) costs start-up time, so only commands that render pictures may
// load it: the dynamic loader's own trace (LD_DEBUG=files, written to
// standard error by the loader, not by the helper) shows every object the
// process opened.
#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <regex>
#include <sstream>

#include "support/catalog_fixture.h"
#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

// The filler pictures get modification times one minute apart from here on;
// import dates pictures without EXIF dates by that time.
constexpr std::time_t kFillerEpoch = 1'600'000'000;
constexpr int kFillerCount = 70;

std::string utcText(std::time_t t) {
  std::tm parts{};
  gmtime_r(&t, &parts);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return text;
}

// "YYYY-MM-DDThh:mm:ssZ" exactly.
bool isUtcText(const std::string& text) {
  return std::regex_match(text, std::regex("[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z"));
}

struct Library {
  ScratchLibrary scratch;
  std::string beach;     // JPEG, EXIF 2021:03:04 05:06:07 +02:00
  std::string clip;      // video, 2022-05-06T07:08:09Z, the newest asset
  std::string song;      // audio, 2023-01-01T00:00:00Z (newer than everything, never listed)
  std::string undated;   // imported with --no-date
  std::string summer;    // non-ASCII file name
  std::vector<std::string> fillers;  // oldest first
  std::string trip;      // album "Trip": beach, clip, song
  std::string tripAgain; // a second album titled "Trip": summer
  std::string emptyTitle;
  std::string untitled;

  void build() {
    ScratchLibrary& s = scratch;
    const std::vector<std::pair<std::string*, std::string>> files = {
        {&beach,
         s.picture(
             "beach.jpg", "jpeg",
             {.width = 64, .height = 48, .dateTimeOriginal = "2021:03:04 05:06:07", .offsetTimeOriginal = "+02:00"})},
        {&clip, s.video("clip.mp4", {.creationTime = "2022-05-06T07:08:09Z"})},
        {&song, s.audio("song.m4a", "2023-01-01T00:00:00Z")},
        {&summer,
         s.picture("Été 🌅.jpg", "jpeg", {.dateTimeOriginal = "2019:07:01 12:00:00", .offsetTimeOriginal = "+00:00"})}};
    const std::string undatedPath = s.picture("undated.png", "png");
    const std::vector<std::string> fillerPaths = s.pictureCopies("src/fill", kFillerCount, kFillerEpoch, 60);
    ASSERT_FALSE(::testing::Test::HasFailure()) << "the source files could not be made";
    s.importInto(files);
    undated = s.import(undatedPath, {"--no-date"});
    fillers = s.import(fillerPaths);

    trip = s.createAlbum("Trip");
    tripAgain = s.createAlbum("Trip");
    emptyTitle = s.createAlbum("");
    untitled = s.createAlbum(std::nullopt);
    s.addToAlbum(trip, {beach, clip, song});
    s.addToAlbum(tripAgain, {summer});
    s.tool({"favorite", beach});
    s.grantAccess();
  }
};

class Browse : public SharedLibraryTest<Library> {
 protected:
  static Json run(const std::vector<std::string>& arguments, const Environment& extra = {}) {
    return lib_->scratch.run(arguments, 0, extra);
  }

  // Newest first over the whole library: clip (2022), beach (2021), the
  // fillers (2020) from the newest, summer (2019), and the undated picture last.
  static std::vector<std::string> wholeLibraryNewestFirst() {
    std::vector<std::string> ids{lib_->clip, lib_->beach};
    ids.insert(ids.end(), lib_->fillers.rbegin(), lib_->fillers.rend());
    ids.push_back(lib_->summer);
    ids.push_back(lib_->undated);
    return ids;
  }
};

TEST_F(Browse, AlbumsListsEveryAlbumWithItsTitleAndItsPicturesAndVideosCounted) {
  const Json document = run({"albums"});
  ASSERT_TRUE(document.is_object());
  ASSERT_EQ(document.size(), 1u) << document.dump();
  ASSERT_TRUE(document["albums"].is_array());
  std::map<std::string, Json> byId;
  for (const Json& album : document["albums"]) {
    ASSERT_TRUE(album.is_object());
    EXPECT_EQ(album.size(), 3u) << album.dump();
    EXPECT_TRUE(album["name"].is_string());
    EXPECT_TRUE(album["count"].is_number_integer());
    byId[album["id"].get<std::string>()] = album;
  }
  // Only the four albums: the smart albums (Favorites, Videos) and the
  // moments the import made are collections too, but never listed.
  ASSERT_EQ(byId.size(), 4u) << document.dump();
  ASSERT_EQ(document["albums"].size(), 4u);
  const auto album = [](const std::string& id, const std::string& name, int count) {
    return Json{{"id", id}, {"name", name}, {"count", count}};
  };
  EXPECT_EQ(byId[lib_->trip], album(lib_->trip, "Trip", 2)) << "the audio member is not counted";
  EXPECT_EQ(byId[lib_->tripAgain], album(lib_->tripAgain, "Trip", 1));
  EXPECT_EQ(byId[lib_->emptyTitle], album(lib_->emptyTitle, "", 0));
  EXPECT_EQ(byId[lib_->untitled], album(lib_->untitled, "Untitled album", 0));
  // Further arguments change nothing.
  EXPECT_EQ(run({"albums", "extra", "-"}), document);
}

TEST_F(Browse, CollectionsThatAreNotAlbumsStillListTheirAssets) {
  if (!haveSqliteShell()) GTEST_SKIP() << "no sqlite3 shell to look up smart albums and moments";
  const auto rows = sqliteQuery(lib_->scratch.catalogPath(),
                                "SELECT type, title, identifier FROM collection WHERE type IN (2, 3) ORDER BY id");
  ASSERT_TRUE(rows);
  std::string favorites, videos;
  for (const std::string& row : *rows) {
    const std::string identifier = row.substr(row.rfind('|') + 1);
    if (row.starts_with("2|Favorites|")) favorites = identifier;
    if (row.starts_with("2|Videos|")) videos = identifier;
  }
  ASSERT_FALSE(favorites.empty());
  ASSERT_FALSE(videos.empty());
  EXPECT_EQ(itemIds(run({"list", favorites, "500"})), std::vector<std::string>{lib_->beach});
  EXPECT_EQ(itemIds(run({"list", videos, "500"})), std::vector<std::string>{lib_->clip});

  // The moment of the beach picture's day.
  const auto moment = sqliteQuery(lib_->scratch.catalogPath(),
                                  "SELECT c.identifier FROM collection c JOIN membership m ON m.collection_id = c.id "
                                  "JOIN asset a ON a.id = m.asset_id WHERE c.type = 3 AND a.identifier = '" +
                                      lib_->beach + "'");
  ASSERT_TRUE(moment && moment->size() == 1u);
  EXPECT_EQ(itemIds(run({"list", moment->front(), "500"})), std::vector<std::string>{lib_->beach});
}

TEST_F(Browse, ListShowsTheWholeLibraryNewestFirstWithUtcDatesAndNoAudio) {
  const Json all = run({"list", "-", "500"});
  ASSERT_EQ(all.size(), 1u) << all.dump();
  EXPECT_EQ(itemIds(all), wholeLibraryNewestFirst());
  EXPECT_EQ(run({"list", "", "500"}), all) << "the empty album identifier is the whole library too";

  std::map<std::string, Json> byId;
  for (const Json& item : all["items"]) {
    EXPECT_EQ(item.size(), 4u) << item.dump();
    EXPECT_TRUE(item["isVideo"].is_boolean());
    EXPECT_TRUE(item["name"].is_string() && !item["name"].get<std::string>().empty());
    if (!item["date"].is_null()) {
      EXPECT_TRUE(isUtcText(item["date"].get<std::string>())) << item.dump();
    }
    byId[item["id"].get<std::string>()] = item;
  }
  const auto item = [](const std::string& id, const std::string& name, const Json& date, bool isVideo) {
    return Json{{"id", id}, {"name", name}, {"date", date}, {"isVideo", isVideo}};
  };
  EXPECT_EQ(byId[lib_->beach], item(lib_->beach, "beach.jpg", "2021-03-04T03:06:07Z", false));
  EXPECT_EQ(byId[lib_->clip], item(lib_->clip, "clip.mp4", "2022-05-06T07:08:09Z", true));
  EXPECT_EQ(byId[lib_->summer], item(lib_->summer, "Été 🌅.jpg", "2019-07-01T12:00:00Z", false));
  EXPECT_EQ(byId[lib_->undated], item(lib_->undated, "undated.png", nullptr, false));
  for (int i = 0; i < kFillerCount; ++i) {
    EXPECT_EQ(byId[lib_->fillers[static_cast<std::size_t>(i)]]["date"], utcText(kFillerEpoch + i * 60));
  }
  EXPECT_EQ(byId.count(lib_->song), 0u) << "audio is never listed";

  // Plain UTF-8 and escaped slashes in the raw bytes.
  const ProcessResult raw = lib_->scratch.helper({"list", "-", "500"});
  EXPECT_NE(raw.out.find("\"Été 🌅.jpg\""), std::string::npos);
  EXPECT_EQ(raw.out.find(lib_->beach), std::string::npos) << "a '/' in an identifier must be written as '\\/'";
}

TEST_F(Browse, DatesAreUtcWhateverTheTimeZoneOfTheRun) {
  const Json utcRun = run({"list", "-", "5"}, {{"TZ", "UTC"}});
  EXPECT_EQ(run({"list", "-", "5"}, {{"TZ", "Pacific/Chatham"}}), utcRun);
  EXPECT_EQ(run({"list", "-", "5"}, {{"TZ", "America/St_Johns"}}), utcRun);
}

TEST_F(Browse, ListOfAnAlbumGivesItsPicturesAndVideosNewestFirst) {
  EXPECT_EQ(itemIds(run({"list", lib_->trip, "500"})), (std::vector<std::string>{lib_->clip, lib_->beach}));
  EXPECT_EQ(itemIds(run({"list", lib_->trip})), (std::vector<std::string>{lib_->clip, lib_->beach}));
  EXPECT_EQ(itemIds(run({"list", lib_->trip, "1"})), std::vector<std::string>{lib_->clip});
  EXPECT_EQ(itemIds(run({"list", lib_->tripAgain, "500"})), std::vector<std::string>{lib_->summer});
  EXPECT_TRUE(itemIds(run({"list", lib_->emptyTitle, "500"})).empty());
  EXPECT_TRUE(itemIds(run({"list", lib_->untitled})).empty());
}

TEST_F(Browse, LimitsAreBoundedAndMalformedOnesMeanSixty) {
  const std::vector<std::string> all = wholeLibraryNewestFirst();
  ASSERT_GT(all.size(), 61u);
  const auto first = [&all](std::size_t n) { return std::vector<std::string>(all.begin(), all.begin() + n); };
  EXPECT_EQ(itemIds(run({"list"})), first(60));
  EXPECT_EQ(itemIds(run({"list", "-"})), first(60));
  for (const char* one : {"0", "-1", "1", "-9223372036854775808", "+1", "0001"}) {
    EXPECT_EQ(itemIds(run({"list", "-", one})), first(1)) << "limit " << one;
  }
  for (const char* sixty : {"abc", "", "9223372036854775808", "1e3", " 5", "5 ", "0x10", "--1", "٣"}) {
    EXPECT_EQ(itemIds(run({"list", "-", sixty})), first(60)) << "limit '" << sixty << "'";
  }
  for (const char* everything : {"501", "9223372036854775807", "100000"}) {
    EXPECT_EQ(itemIds(run({"list", "-", everything})), all) << "limit " << everything;
  }
  EXPECT_EQ(itemIds(run({"list", "-", "61"})), first(61));
}

TEST_F(Browse, IdentifiersThatNameNothingGiveEmptyItems) {
  const std::string bigText(100 * 1024, 'x');
  const std::string uuid = lib_->trip.substr(0, lib_->trip.find('/'));
  const std::vector<std::string> nothing = {
      "nothing",
      "\"quoted\" 'album'",
      "%",
      "_",
      "%/L0/040",
      uuid + "%",
      uuid + "/L0/04_",
      lib_->trip + " ",
      " " + lib_->trip,
      lib_->beach,  // an asset, not a collection
      "🌅📷",
      "' OR 1=1 --",
      "\\",
      bigText,
  };
  for (const std::string& id : nothing) {
    EXPECT_EQ(run({"list", id, "500"}), Json::parse(R"({"items":[]})")) << "album '" << id.substr(0, 60) << "'";
  }
}

// One damaged row of the catalog (written past the tool with the SQLite
// shell) spoils nothing else: an asset or album whose identifier is not
// UTF-8 is left out of every list and lookup, and a date past the year 9999
// is null.
TEST(DamagedRows, ARowThatCannotBeWrittenIsLeftOutAndTheRestListed) {
  ScratchLibrary s;
  const std::vector<std::string> ids = s.importDatedPictures(3);
  const std::string album = s.createAlbum("All");
  const std::string broken = s.createAlbum("Broken");
  s.addToAlbum(album, ids);
  s.addToAlbum(broken, ids);
  s.grantAccess();
  auto catalog = CatalogFixture::open(s.catalogPath());
  ASSERT_TRUE(catalog) << catalog.message();
  ASSERT_TRUE(catalog->setAssetIdentifier(ids[1], "bad\xFF").ok());
  ASSERT_TRUE(catalog->setCreationDate(ids[2], 253402300800).ok());  // the year 10000
  ASSERT_TRUE(catalog->setCollectionIdentifier(broken, "alb\xFF").ok());

  const std::vector<std::string> rest = {ids[2], ids[0]};  // newest first: the year 10000, then 2020
  for (const std::string& scope : {std::string("-"), album}) {
    const Json listed = s.run({"list", scope, "500"});
    ASSERT_EQ(itemIds(listed), rest) << scope;
    EXPECT_TRUE(listed["items"][0]["date"].is_null()) << listed["items"][0].dump();
    EXPECT_EQ(listed["items"][1]["date"], "2020-01-01T10:00:00Z");
  }
  const Json albums = s.run({"albums"});
  ASSERT_TRUE(albums.contains("albums"));
  ASSERT_EQ(albums["albums"].size(), 1u) << albums.dump();
  EXPECT_EQ(albums["albums"][0]["id"], album);

  const Json thumbs = s.run({"thumbs", "64", joinIds(ids)});
  ASSERT_TRUE(thumbs.contains("thumbs"));
  EXPECT_EQ(thumbs["thumbs"].size(), 2u) << thumbs.dump().substr(0, 300);
  EXPECT_TRUE(thumbs["thumbs"].contains(ids[0]) && thumbs["thumbs"].contains(ids[2]));
  const Json exported = s.run({"export", s.work("out"), joinIds(ids)});
  ASSERT_TRUE(exported.contains("files"));
  EXPECT_EQ(exported["files"].size(), 2u) << exported.dump();
}

// A library on a read-only mount (here the library folder bind-mounted
// read-only onto itself in a mount namespace of the helper's own), with no
// -wal or -shm file, reads as usual.
TEST(ReadOnlyLibrary, ACatalogThatCannotBeWrittenBesideReadsNormally) {
  ScratchLibrary s;
  const std::vector<std::string> ids = s.importDatedPictures(2);
  s.grantAccess();
  ASSERT_FALSE(std::filesystem::exists(s.catalogPath() + "-wal"));
  ASSERT_FALSE(std::filesystem::exists(s.catalogPath() + "-shm"));

  // Runs `command` with the library folder read-only; 97 when it cannot be
  // mounted so.
  const auto readOnly = [&s](std::vector<std::string> command, const Environment& extra = {}) {
    std::vector<std::string> arguments = {
        "--mount", "--propagation", "private", "/bin/sh", "-c",
        "mount --bind \"$1\" \"$1\" && mount -o remount,bind,ro \"$1\" \"$1\" || exit 97\nshift\nexec \"$@\"",
        "sh", s.libraryFolder()};
    arguments.insert(arguments.end(), command.begin(), command.end());
    // The leak checker's tracer crashes at exit with the media module's
    // threads (thumbs), as in every other run that renders.
    Environment environment = extra;
    environment.push_back(withoutLeakCheck());
    return runProcess("/usr/bin/unshare", arguments, s.options(environment));
  };
  const ProcessResult probe = readOnly({"/usr/bin/touch", s.libraryFolder() + "/probe"});
  if (!probe.exited() || probe.exitStatus == 97 || probe.startError != 0) {
    GTEST_SKIP() << "cannot mount the library read-only here (unshare or mount refused): " << probe.err;
  }
  ASSERT_NE(probe.exitStatus, 0) << "the folder is still writable";

  const Json listed = expectOneDocument(readOnly({TOLVEK_BIN_DIR "/tolvek-photos", "list", "-", "500"}), 0);
  EXPECT_EQ(itemIds(listed), (std::vector<std::string>{ids[1], ids[0]}));
  const Json thumbs = expectOneDocument(readOnly({TOLVEK_BIN_DIR "/tolvek-photos", "thumbs", "64", ids[0]}), 0);
  EXPECT_TRUE(thumbs.contains("thumbs") && thumbs["thumbs"].contains(ids[0])) << thumbs.dump().substr(0, 200);

  // The same library reached through a data folder whose name holds the
  // characters a URI gives a meaning to.
  const std::string odd = s.folder("odd ?#%41&=;+ \xC3\xA9");
  std::filesystem::create_symlink(s.dataHome() + "/tolvek-photos", odd + "/tolvek-photos");
  const Json throughOdd =
      expectOneDocument(readOnly({TOLVEK_BIN_DIR "/tolvek-photos", "list", "-", "500"}, {{"XDG_DATA_HOME", odd}}), 0);
  EXPECT_EQ(throughOdd, listed);
}

struct StackLibrary {
  ScratchLibrary scratch;
  std::string picture;

  void build() {
    picture = scratch.import(scratch.picture("picture.jpg", "jpeg", {.width = 320, .height = 240}));
    scratch.grantAccess();
  }
};

class ImageStack : public SharedLibraryTest<StackLibrary> {
 protected:
  // The run's loader trace; its standard output must still be one document.
  static std::string loaderTrace(const std::vector<std::string>& arguments, int status) {
    const ProcessResult result = lib_->scratch.helper(arguments, {{"LD_DEBUG", "files"}});
    EXPECT_TRUE(result.exited());
    EXPECT_EQ(result.exitStatus, status);
    EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out.substr(0, 200);
    EXPECT_NE(result.err.find("calling init"), std::string::npos) << "no loader trace: is LD_DEBUG honoured here?";
    return result.err;
  }
  static bool loadsVips(const std::string& trace) { return trace.find("libvips.so") != std::string::npos; }
};

TEST_F(ImageStack, AlbumsListAndUsageErrorsNeverLoadIt) {
  const std::vector<std::pair<std::vector<std::string>, int>> runs = {
      {{}, 2}, {{"albums"}, 0}, {{"list", "-", "500"}, 0}, {{"nope"}, 2}, {{"thumbs"}, 2}, {{"export", "x"}, 2}};
  for (const auto& [arguments, status] : runs) {
    const std::string trace = loaderTrace(arguments, status);
    const std::string run = arguments.empty() ? std::string("(no arguments)") : arguments.front();
    EXPECT_FALSE(loadsVips(trace)) << run;
    EXPECT_EQ(trace.find("libavcodec"), std::string::npos);
    // The helper carries its own C++ runtime; only a module maps the shared one.
    if (TOLVEK_HELPER_STATIC_RUNTIME) {
      EXPECT_EQ(trace.find("libstdc++.so"), std::string::npos) << run;
      EXPECT_EQ(trace.find("libgcc_s.so"), std::string::npos) << run;
    }
  }
}

// A symbol of the C++ runtime exported by the helper would interpose on the
// shared runtime of a module it loads (two runtimes' halves mixed).
TEST_F(ImageStack, TheHelperExportsNoSymbolOfTheCxxRuntime) {
  if (!TOLVEK_HELPER_STATIC_RUNTIME) GTEST_SKIP() << "this build links the helper's C++ runtime as a shared library";
  const ProcessResult symbols =
      runProcess("/usr/bin/nm", {"-D", "--defined-only", "--format=just-symbols", TOLVEK_BIN_DIR "/tolvek-photos"});
  ASSERT_EQ(symbols.exitStatus, 0) << symbols.err;
  const std::regex runtime("^(_ZSt|_ZNSt|_ZNKSt|_ZNS|_ZNKS|_ZTISt|_ZTVSt|_ZTSSt|_Znw|_Zna|_Zdl|_Zda|_ZGVNSt|__cxa_|"
                           "__gxx_|_Unwind_|__gcc_personality|_ZN9__gnu_cxx|_ZN10__cxxabiv1)");
  std::istringstream lines(symbols.out);
  for (std::string symbol; std::getline(lines, symbol);) EXPECT_FALSE(std::regex_search(symbol, runtime)) << symbol;
  // A loaded module still finds its own runtime: thumbs of 64 go through the JPEG module.
  const std::string trace = loaderTrace({"thumbs", "64", lib_->picture}, 0);
  EXPECT_NE(trace.find("libtolvek_jpeg.so"), std::string::npos);
  EXPECT_NE(trace.find("libstdc++.so"), std::string::npos);
}

TEST_F(ImageStack, ThumbsHandsOverADerivativeOfTheSizeAskedAndDecodesOtherwise) {
  // 240 is the stored derivative byte for byte; 300 needs the original.
  EXPECT_FALSE(loadsVips(loaderTrace({"thumbs", "240", lib_->picture}, 0)));
  const Json stored = expectOneDocument(lib_->scratch.helper({"thumbs", "240", lib_->picture}), 0);
  const auto derivatives = lib_->scratch.derivativePaths(lib_->picture);
  ASSERT_EQ(derivatives.size(), 1u);
  EXPECT_EQ(jpegFromDataUrl(stored["thumbs"].value(lib_->picture, "")), readFileBytes(derivatives[0]));
  // 64 is shrunk from it by libjpeg alone, to the size that covers 64.
  EXPECT_FALSE(loadsVips(loaderTrace({"thumbs", "64", lib_->picture}, 0)));
  const Json small = expectOneDocument(lib_->scratch.helper({"thumbs", "64", lib_->picture}), 0);
  const auto shrunk = jpegFromDataUrl(small["thumbs"].value(lib_->picture, ""));
  ASSERT_TRUE(shrunk);
  const auto encoded = encodedPictureSize(*shrunk);
  ASSERT_TRUE(encoded);
  EXPECT_EQ(encoded->width, 85);
  EXPECT_EQ(encoded->height, 64);
  EXPECT_TRUE(loadsVips(loaderTrace({"thumbs", "300", lib_->picture}, 0)));
  EXPECT_EQ(expectOneDocument(lib_->scratch.helper({"thumbs", "300", lib_->picture}), 0)["thumbs"].size(), 1u);
}

}  // namespace
}  // namespace tolvek::testing
