// The library tool's other commands, run as a process: help and errors,
// path, albums, favourites, access answers and offloading.
#include <gtest/gtest.h>

#include "platform/catalog_reader.h"
#include "support/fetch_results.h"
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

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  std::vector<std::string> assets;
};

TEST(ToolBasics, HelpPathAndErrors) {
  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  const auto help = home.runTool({"--help"});
  EXPECT_EQ(help.exitStatus, 0);
  EXPECT_TRUE(help.out.starts_with("Usage: tolvek-photos-library")) << help.out;
  EXPECT_EQ(help.err, "");

  const auto path = home.runTool({"path"});
  EXPECT_EQ(path.exitStatus, 0);
  EXPECT_EQ(path.out, home.dataHome() + "/tolvek-photos/Library\n");
  EXPECT_FALSE(std::filesystem::exists(home.dataHome() + "/tolvek-photos")) << "path creates nothing";

  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"frobnicate"}, {"album"}, {"album", "create"}, {"album", "rename", "x"}, {"access"},
           {"access", "maybe"}, {"access", "grant", "extra"}, {"favorite"}, {"offload", "x"}, {"path", "x"}}) {
    const auto r = home.runTool(args);
    EXPECT_EQ(r.exitStatus, 1) << (args.empty() ? "(none)" : args[0]);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err, "");
  }
}

TEST_F(ToolCommands, AlbumsWithTitlesEmptyOrAbsent) {
  const auto trip = home.runTool({"album", "create", "Trip \xff"});
  const auto empty = home.runTool({"album", "create", ""});
  const auto untitled = home.runTool({"album", "create", "--untitled"});
  for (const auto* r : {&trip, &empty, &untitled}) {
    ASSERT_EQ(r->exitStatus, 0) << r->err;
    EXPECT_TRUE(firstLine(r->out).ends_with("/L0/040")) << r->out;
  }
  const std::string tripId = firstLine(trip.out);
  const auto add = home.runTool({"album", "add", tripId, assets[1], "no-such-asset", assets[0], assets[1]});
  EXPECT_EQ(add.exitStatus, 1);
  EXPECT_NE(add.err.find("no-such-asset"), std::string::npos);
  EXPECT_EQ(home.runTool({"album", "add", "no-such-album", assets[0]}).exitStatus, 1);

  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  auto lib = library();
  std::vector<std::optional<std::string>> titles;
  lib->fetchAssetCollections(CollectionType::album, kCollectionSubtypeAny)
      ->enumerateObjects([&](const AssetCollection& c, std::size_t, bool&) { titles.push_back(c.localizedTitle); });
  EXPECT_EQ(titles, (std::vector<std::optional<std::string>>{"Trip \xEF\xBF\xBD", "", std::nullopt}));
  const auto album = *lib->fetchAssetCollectionsWithLocalIdentifiers({tripId})->firstObject();
  EXPECT_EQ(identifiersOf(lib->fetchAssetsInAssetCollection(album, FetchOptions{})),
            (std::vector<std::string>{assets[1], assets[0]}))
      << "in the order added, once each";
  EXPECT_EQ(lib->fetchAssetsInAssetCollection(album, FetchOptions{})->count(), 2u);

  // Only albums take members.
  const std::string moment =
      lib->fetchAssetCollections(CollectionType::moment, kCollectionSubtypeAny)->firstObject()->localIdentifier;
  EXPECT_EQ(home.runTool({"album", "add", moment, assets[0]}).exitStatus, 1);
}

TEST_F(ToolCommands, FavoritesShowInTheSmartAlbum) {
  const auto r = home.runTool({"favorite", assets[0], "unknown"});
  EXPECT_EQ(r.exitStatus, 1);
  ASSERT_TRUE(home.recordAnswer(AuthorizationStatus::authorized));
  auto lib = library();
  const auto favorites = lib->fetchAssetCollections(CollectionType::smartAlbum, 203)->firstObject();
  ASSERT_TRUE(favorites);
  EXPECT_EQ(favorites->localizedTitle, std::optional<std::string>("Favorites"));
  auto result = lib->fetchAssetsInAssetCollection(*favorites, FetchOptions{});
  ASSERT_EQ(result->count(), 1u);
  EXPECT_EQ(result->firstObject()->localIdentifier, assets[0]);
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
      const bool named = refused.err.find("no asset with the identifier " + id + "\n") != std::string::npos;
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
                                 server.url("/empty.png"), server.url("/page.html"), std::string("ftp://x/a.png")}) {
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
