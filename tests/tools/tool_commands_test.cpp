// The library tool's commands other than import, run as processes in a
// scratch home: help and usage errors, path and status, albums listed and
// edited, favourites, removal, access answers and offloading. Commands that
// take several identifiers change all of them or none.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/access/access_store.h"
#include "platform/catalog/catalog_reader.h"
#include "platform/catalog/catalog_schema.h"
#include "support/catalog_fixture.h"
#include "support/http_test_server.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::readFileBytes;
using testing::ScratchLibrary;

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

class ToolCommands : public ::testing::Test {
 protected:
  void SetUp() override {
    assets = home.import({home.picture("a.png", "png"), home.picture("b.png", "png")});
    ASSERT_FALSE(HasFailure()) << "the library could not be made";
  }
  AccessAnswer recorded() { return AccessStore(home.location().accessStorePath).read(kHelperBundleIdentifier); }
  std::unique_ptr<PhotoLibrary> library() { return home.library(); }
  // The identifiers of the album's assets, in its order.
  std::vector<std::string> members(const std::string& album) {
    EXPECT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
    auto lib = library();
    const auto collection = lib->fetchAssetCollectionsWithLocalIdentifiers({album})->firstObject();
    if (!collection) return {};
    return identifiersOf(lib->fetchAssetsInAssetCollection(*collection, FetchOptions{}));
  }
  // The lines of album list after the two smart albums (tool_which_test
  // checks those).
  std::vector<std::string> albumLines() {
    std::vector<std::string> lines;
    std::string out = home.tool({"album", "list"});
    for (std::size_t end; (end = out.find('\n')) != std::string::npos; out.erase(0, end + 1)) {
      lines.push_back(out.substr(0, end));
    }
    EXPECT_GE(lines.size(), 2u);
    if (lines.size() >= 2) {
      EXPECT_TRUE(lines[0].ends_with("\tfavorites") && lines[1].ends_with("\tvideos")) << lines[0] << lines[1];
      lines.erase(lines.begin(), lines.begin() + 2);
    }
    return lines;
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  std::vector<std::string> assets;
};

constexpr const char* kCommandWords[] = {"sync",     "add",    "sources", "forget", "import", "which", "album",
                                         "favorite", "remove", "offload", "access", "status", "path",  "watch"};

TEST(ToolBasics, HelpVersionPathAndUsageErrors) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const auto help = home.runTool({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: tolvek-photos-library")) << help.out;
  EXPECT_EQ(help.err, "");
  // Every command is in the overview and has help of its own, both ways.
  for (const char* word : kCommandWords) {
    EXPECT_NE(help.out.find(std::string("\n  ") + word + " "), std::string::npos) << word;
    for (const std::vector<std::string>& args : {std::vector<std::string>{word, "--help"}, {"help", word}}) {
      const auto r = home.runTool(args);
      EXPECT_EQ(r.exitStatus, 0) << word;
      EXPECT_TRUE(r.out.starts_with(std::string("Usage:\n  tolvek-photos-library ") + word)) << r.out;
      // Usage lines hold the usage alone, not the overview's description.
      for (std::size_t at = 0; (at = r.out.find("\n  tolvek-photos-library ", at)) != std::string::npos; ++at) {
        const std::string line = r.out.substr(at + 3, r.out.find('\n', at + 1) - at - 3);
        EXPECT_EQ(line.find("  "), std::string::npos) << line;
      }
    }
  }
  EXPECT_EQ(home.runTool({"help", "help"}).exitStatus, 0);
  const auto version = home.runTool({"--version"});
  EXPECT_EQ(version.exitStatus, 0);
  EXPECT_TRUE(version.out.starts_with("tolvek-photos-library ")) << version.out;

  const auto path = home.runTool({"path"});
  EXPECT_EQ(path.exitStatus, 0);
  EXPECT_EQ(path.out, home.dataHome() + "/tolvek-photos/Library\n");
  EXPECT_FALSE(std::filesystem::exists(home.dataHome() + "/tolvek-photos")) << "path creates nothing";

  // Usage errors exit with 2, name the command and point to its help.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"album"}, {"album", "create"}, {"album", "rename", "x"}, {"album", "list", "x"}, {"album", "frob"},
           {"album", "delete", "--untitled", "x"}, {"access"}, {"access", "maybe"}, {"access", "grant", "extra"},
           {"favorite"}, {"favorite", "--of", "x"}, {"remove"}, {"offload", "x"}, {"offload", "x", "ftp://x/a"},
           {"path", "x"}, {"status", "x"}, {"sync", "--bogus"}, {"add"}, {"forget"}, {"help", "frob"}, {"which"},
           {"which", "--x", "a"}}) {
    const auto r = home.runTool(args);
    EXPECT_EQ(r.exitStatus, 2) << args[0] << " " << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("tolvek-photos-library: " + args[0] + ": ")) << r.err;
    EXPECT_NE(r.err.find("Try 'tolvek-photos-library " + args[0] + " --help'."), std::string::npos) << r.err;
  }
  // Control characters never reach the terminal, on standard error either.
  const auto control = home.runTool({"album", "add", "x\x1b[2Jy", "a"});
  EXPECT_EQ(control.exitStatus, 1);
  EXPECT_NE(control.err.find("x\\x1b[2Jy"), std::string::npos) << control.err;
  EXPECT_EQ(control.err.find('\x1b'), std::string::npos);
  for (const auto& [args, error] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{}, "Usage: tolvek-photos-library COMMAND"},
           {{"frobnicate"}, "unknown command 'frobnicate'\nTry 'tolvek-photos-library --help'."}}) {
    const auto r = home.runTool(args);
    EXPECT_EQ(r.exitStatus, 2);
    EXPECT_NE(r.err.find(error), std::string::npos) << r.err;
  }
}

TEST_F(ToolCommands, AlbumsListedEditedAndDeleted) {
  const auto trip = home.runTool({"album", "create", "Trip \xff\t1\n\\\x1b\xc2\x9b"});
  const auto empty = home.runTool({"album", "create", ""});
  const auto untitled = home.runTool({"album", "create", "--untitled"});
  for (const auto* r : {&trip, &empty, &untitled}) {
    ASSERT_EQ(r->exitStatus, 0) << r->err;
    EXPECT_TRUE(firstLine(r->out).ends_with("/L0/040")) << r->out;
  }
  const std::string tripId = firstLine(trip.out);
  const std::string emptyId = firstLine(empty.out);
  const std::string untitledId = firstLine(untitled.out);

  // One identifier that names nothing: nothing is added.
  const auto add = home.runTool({"album", "add", tripId, assets[1], "no-such-asset", assets[0]});
  EXPECT_EQ(add.exitStatus, 1);
  EXPECT_NE(add.err.find("no asset with the identifier or path no-such-asset"), std::string::npos) << add.err;
  EXPECT_EQ(members(tripId), std::vector<std::string>{});
  EXPECT_EQ(home.runTool({"album", "add", "no-such-album", assets[0]}).exitStatus, 1);
  // From standard input, in the order given, once each.
  const auto piped = home.runToolWithInput({"album", "add", tripId, "-"}, assets[1] + "\n\n  " + assets[0] + "\r\n" +
                                                                          assets[1] + "\n");
  ASSERT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_EQ(members(tripId), (std::vector<std::string>{assets[1], assets[0]}));

  EXPECT_EQ(albumLines(), (std::vector<std::string>{tripId + "\tTrip \xEF\xBF\xBD\\t1\\n\\\\\\x1b\\xc2\\x9b\t2\tuser",
                                                     emptyId + "\t\t0\tuser", untitledId + "\t\t0\tuser"}));
  home.tool({"album", "rename", untitledId, "Named"});
  home.tool({"album", "remove", tripId, assets[1], assets[1]});
  EXPECT_EQ(members(tripId), std::vector<std::string>{assets[0]});
  EXPECT_EQ(home.runTool({"album", "remove", tripId, assets[0], "nope"}).exitStatus, 1);
  EXPECT_EQ(members(tripId), std::vector<std::string>{assets[0]}) << "nothing removed";
  home.tool({"album", "delete", tripId});
  home.tool({"album", "delete", emptyId});
  EXPECT_EQ(albumLines(), std::vector<std::string>{untitledId + "\tNamed\t0\tuser"});
  EXPECT_EQ(library()->fetchAssets(FetchOptions{})->count(), 2u) << "the assets stay";
  EXPECT_EQ(home.runTool({"album", "delete", tripId}).exitStatus, 1) << "gone";

  // Only albums take members.
  const std::string moment = library()
                                 ->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)
                                 ->firstObject()
                                 ->localIdentifier;
  EXPECT_EQ(home.runTool({"album", "add", moment, assets[0]}).exitStatus, 1);
}

TEST_F(ToolCommands, FolderAlbumsAndReferencedAssetsStayAsTheirFolderHasThem) {
  const std::string folder = home.folder("Pictures/Summer");
  ASSERT_TRUE(testing::writePicture(folder + "/sea.png", "png", {.width = 9, .height = 7}));
  home.tool({"add", home.work("Pictures")});
  const auto lines = albumLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].ends_with("\tSummer\t1\tfolder")) << lines[0];
  const std::string album = lines[0].substr(0, lines[0].find('\t'));
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"album", "rename", album, "x"}, {"album", "delete", album}, {"album", "add", album, assets[0]}}) {
    const auto r = home.runTool(args);
    EXPECT_EQ(r.exitStatus, 1) << args[1];
    EXPECT_NE(r.err.find("is the folder " + folder + ": "), std::string::npos) << r.err;
  }
  const std::string sea = members(album).at(0);
  const auto refused = home.runTool({"remove", assets[0], sea});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("cannot remove " + sea + ": it is in " + folder +
                             "; delete it there, or forget the source"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(library()->fetchAssets(FetchOptions{})->count(), 3u) << "nothing removed";
}

TEST_F(ToolCommands, FavoritesAndRemovalChangeAllOrNothing) {
  EXPECT_EQ(home.runTool({"favorite", assets[0], "unknown"}).exitStatus, 1);
  const auto favoriteIds = [&] {
    EXPECT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
    auto lib = library();
    const auto favorites = lib->fetchAssetCollections(CollectionType::smartAlbum, 203)->firstObject();
    EXPECT_TRUE(favorites && favorites->localizedTitle == std::optional<std::string>("Favorites"));
    return favorites ? identifiersOf(lib->fetchAssetsInAssetCollection(*favorites, FetchOptions{}))
                     : std::vector<std::string>{};
  };
  EXPECT_EQ(favoriteIds(), std::vector<std::string>{}) << "nothing marked";
  home.tool({"favorite", assets[0], assets[1]});
  home.tool({"favorite", "--off", assets[1]});
  EXPECT_EQ(favoriteIds(), std::vector<std::string>{assets[0]});

  const auto files = [&](const std::string& asset) {
    std::vector<std::string> paths = home.derivativePaths(asset);
    if (auto original = home.originalPath(asset)) paths.push_back(*original);
    return paths;
  };
  const std::vector<std::string> removedFiles = files(assets[0]);
  ASSERT_GE(removedFiles.size(), 2u);
  EXPECT_EQ(home.runTool({"remove", assets[0], "unknown"}).exitStatus, 1);
  for (const std::string& path : removedFiles) EXPECT_TRUE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(home.runToolWithInput({"remove", "-"}, "").exitStatus, 0) << "nothing to remove";
  const auto removed = home.runToolWithInput({"remove", "-"}, assets[0] + "\n");
  ASSERT_EQ(removed.exitStatus, 0) << removed.err;
  for (const std::string& path : removedFiles) EXPECT_FALSE(std::filesystem::exists(path)) << path;
  EXPECT_EQ(identifiersOf(library()->fetchAssets(FetchOptions{})), std::vector<std::string>{assets[1]});
  EXPECT_EQ(favoriteIds(), std::vector<std::string>{});
  EXPECT_FALSE(files(assets[1]).empty()) << "the other asset keeps its files";
}

TEST_F(ToolCommands, StatusCountsWhatTheLibraryHolds) {
  home.tool({"album", "create", "One"});
  std::filesystem::create_directories(home.work("gone"));
  home.tool({"add", home.work("gone")});
  std::filesystem::remove(home.work("gone"));
  home.tool({"access", "limit", assets[0]});
  const auto r = home.runTool({"status"});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const std::string expected = "folder\t" + home.libraryFolder() +
                               "\nschema\t" + std::to_string(kCatalogSchemaVersion) +
                               "\nassets\t2\nalbums\t1\nsources\t0 present, 1 offline\n"
                               "access\tlimited to 1 asset\nsize\t";
  EXPECT_TRUE(r.out.starts_with(expected)) << r.out;
  EXPECT_GT(std::stoll(r.out.substr(expected.size())), 10000) << "the catalog and the pictures take room";
  EXPECT_TRUE(r.out.ends_with(" bytes\ncatalog\tok\n")) << r.out;
}

// One page of the catalog overwritten, as a failing disk leaves it (a page
// the command itself would never read included): the check at open finds
// it, as the catalog changed since a writer left it, and each command stops,
// says the catalog is damaged and where its last backup is, and writes
// nothing (the catalog's bytes stay as they were); status reports what
// SQLite's quick check found.
TEST_F(ToolCommands, ADamagedCatalogIsReportedAndNotWrittenTo) {
  const std::string folder = home.folder("Pictures");
  ASSERT_TRUE(testing::writePicture(folder + "/sea.png", "png", {.width = 9, .height = 7}));
  home.tool({"add", folder});
  const auto sound = readFileBytes(home.catalogPath());
  ASSERT_TRUE(sound);
  const std::string backup = home.libraryFolder() + "/catalog-v4-backup.sqlite";
  struct Case {
    std::vector<std::string> command;
    std::string page;  // the table or index whose root page is overwritten
    bool withBackup = false;
  };
  const Case cases[] = {
      {{"album", "create", "Trip"}, "derivative"},
      {{"sync"}, "file", true},
      {{"favorite", assets[0]}, "asset_favorites"},
      {{"status"}, "membership"},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(testing::writeFileBytes(home.catalogPath(), *sound));
    std::filesystem::remove(backup);
    if (c.withBackup) {
      ASSERT_TRUE(testing::writeFileBytes(backup, *sound));
    }
    ASSERT_TRUE(testing::CatalogFixture::overwriteRootPage(home.catalogPath(), c.page).ok()) << c.page;
    const auto damaged = readFileBytes(home.catalogPath());
    const auto r = home.runTool(c.command);
    EXPECT_EQ(r.exitStatus, 1) << c.command[0] << ": " << r.err;
    EXPECT_NE(r.err.find("the catalog " + home.catalogPath() + " is damaged"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(c.withBackup ? "Its last backup is " + backup : "There is no backup of it"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Copy the folder " + home.libraryFolder() + " before anything else"), std::string::npos);
    EXPECT_TRUE(readFileBytes(home.catalogPath()) == damaged) << c.command[0] << " wrote to the damaged catalog";
    if (c.command[0] == "status") {
      EXPECT_TRUE(r.out.starts_with("folder\t" + home.libraryFolder() + "\ncatalog\tdamaged: ")) << r.out;
    }
  }
}

TEST_F(ToolCommands, AccessAnswers) {
  struct Case {
    std::vector<std::string> args;
    AuthorizationStatus status;
  };
  for (const Case& c : {Case{{"access", "grant"}, AuthorizationStatus::authorized},
                        Case{{"access", "deny"}, AuthorizationStatus::denied},
                        Case{{"access", "restrict"}, AuthorizationStatus::restricted},
                        Case{{"access", "reset"}, AuthorizationStatus::notDetermined}}) {
    const auto r = home.runTool(c.args);
    EXPECT_EQ(r.exitStatus, 0) << r.err;
    EXPECT_EQ(recorded().status, c.status) << c.args[1];
    EXPECT_EQ(library()->authorizationStatus(AccessLevel::readWrite), c.status);
  }

  // An identifier that names no asset is an error naming it, and nothing
  // is recorded (the earlier answer stays).
  ASSERT_EQ(home.runTool({"access", "grant"}).exitStatus, 0);
  const std::vector<std::vector<std::string>> unknown = {
      {"NOPE"}, {assets[1], "names-nothing"}, {"'; DROP TABLE asset; --", assets[0]}, {assets[0] + " "}};
  for (const auto& ids : unknown) {
    std::vector<std::string> args{"access", "limit"};
    args.insert(args.end(), ids.begin(), ids.end());
    const auto refused = home.runTool(args);
    EXPECT_EQ(refused.exitStatus, 1) << ids.front();
    for (const std::string& id : ids) {
      const bool named = refused.err.find("no asset with the identifier or path " + id + "\n") != std::string::npos;
      EXPECT_EQ(named, id != assets[0] && id != assets[1]) << refused.err;
    }
    EXPECT_EQ(recorded().status, AuthorizationStatus::authorized) << ids.front();
  }

  const auto limit = home.runTool({"access", "limit", assets[1]});
  ASSERT_EQ(limit.exitStatus, 0) << limit.err;
  EXPECT_EQ(limit.err, "");
  EXPECT_EQ(recorded().status, AuthorizationStatus::limited);
  EXPECT_EQ(recorded().chosenAssets, std::vector<std::string>{assets[1]});

  // Assets imported later are not chosen.
  ASSERT_TRUE(testing::writePicture(home.folder("later") + "/c.png", "png"));
  ASSERT_EQ(home.runTool({"import", home.folder("later")}).exitStatus, 0);
  FetchOptions all;
  auto lib = library();
  ASSERT_EQ(lib->fetchAssets(all)->count(), 1u);
  EXPECT_EQ(lib->fetchAssets(all)->firstObject()->localIdentifier, assets[1]);

  ASSERT_EQ(home.runTool({"access", "limit"}).exitStatus, 0);
  EXPECT_EQ(recorded().status, AuthorizationStatus::limited);
  EXPECT_EQ(library()->fetchAssets(all)->count(), 0u);

  testing::writeFileBytes(home.location().accessStorePath, "\x01garbage");
  EXPECT_EQ(recorded().status, AuthorizationStatus::denied);
  ASSERT_EQ(home.runTool({"access", "reset"}).exitStatus, 0);
  EXPECT_EQ(recorded().status, AuthorizationStatus::notDetermined);
}

TEST_F(ToolCommands, OffloadOnlyWhenTheUrlServesTheOriginal) {
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  const Asset asset = *library()->fetchAssetsWithLocalIdentifiers({assets[0]})->firstObject();
  const auto before = CatalogReader::open(home.location())->storedAsset(asset.handle);
  ASSERT_TRUE(before && !before->original.path.empty());
  const std::string bytes = readFileBytes(before->original.path).value_or("");
  ASSERT_FALSE(bytes.empty());
  std::string changed = bytes;
  changed.back() = static_cast<char>(changed.back() ^ 1);

  testing::HttpTestServer server;
  server.serve("/a.png", testing::HttpPlan{bytes});
  server.serve("/changed.png", testing::HttpPlan{changed});
  server.serve("/empty.png", testing::HttpPlan{""});
  server.serve("/page.html", testing::HttpPlan{"<html>Moved</html>"});
  server.serve("/gone.png", testing::HttpPlan{"", testing::HttpBehaviour::notFound});
  // Refused, unknown host, wrong path, other bytes, nothing, an error page:
  // each fails, and the picture stays where it was.
  for (const std::string& url : {std::string("http://127.0.0.1:1/a.png"), std::string("http://no-such-host.invalid/a"),
                                 server.url("/gone.png"), server.url("/wrong/path.png"), server.url("/changed.png"),
                                 server.url("/empty.png"), server.url("/page.html")}) {
    const auto r = home.runTool({"offload", assets[0], url});
    EXPECT_EQ(r.exitStatus, 1) << url;
    EXPECT_FALSE(r.err.empty()) << url;
    EXPECT_EQ(readFileBytes(before->original.path), bytes) << url << ": the local original was touched";
  }
  EXPECT_EQ(home.runTool({"offload", "unknown", server.url("/a.png")}).exitStatus, 1);
  EXPECT_EQ(CatalogReader::open(home.location())->storedAsset(asset.handle)->original.url, "");

  const auto r = home.runTool({"offload", assets[0], server.url("/a.png")});
  ASSERT_EQ(r.exitStatus, 0) << r.err;
  const auto after = CatalogReader::open(home.location())->storedAsset(asset.handle);
  ASSERT_TRUE(after);
  EXPECT_EQ(after->original.path, "");
  EXPECT_EQ(after->original.url, server.url("/a.png"));
  EXPECT_EQ(after->original.size, std::optional<std::uint64_t>(bytes.size()));
  EXPECT_EQ(after->original.sha256, before->original.sha256);
  EXPECT_EQ(after->original.uniformTypeIdentifier, before->original.uniformTypeIdentifier);
  EXPECT_FALSE(std::filesystem::exists(before->original.path));
  ASSERT_EQ(after->derivatives.size(), before->derivatives.size());
  for (const auto& d : after->derivatives) EXPECT_TRUE(std::filesystem::exists(d.path)) << d.path;
  // Moving it on to another URL is checked against the recorded hash.
  EXPECT_EQ(home.runTool({"offload", assets[0], server.url("/changed.png")}).exitStatus, 1);
  // The other asset keeps its local original.
  const Asset other = *library()->fetchAssetsWithLocalIdentifiers({assets[1]})->firstObject();
  EXPECT_NE(CatalogReader::open(home.location())->storedAsset(other.handle)->original.path, "");
}

}  // namespace
}  // namespace tolvek
