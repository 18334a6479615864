// Sources synced by the library tool, run as a process in a scratch home:
// the user's folders referenced in place, one asset per content, folders as
// albums, edits, moves, removals, offline sources, and what the helper sees.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::Json;
using testing::ScratchLibrary;
using testing::SyncLine;

class SourceSync : public testing::SourceFixture {};

TEST_F(SourceSync, FirstSyncReferencesThePicturesFolderWithFoldersAsAlbums) {
  syncFirstTime();
  EXPECT_EQ(listed(), (std::set<std::string>{a, b})) << "one asset per content, nothing hidden or excluded";
  EXPECT_EQ(albums(), (std::vector<std::pair<std::string, int>>{{"2022/Lisbon", 2}, {"Pictures", 1}}));
  EXPECT_EQ(libraryCopies(), 0u) << "referenced in place, never copied";
  EXPECT_EQ(home.tool({"sources"}), pictures() + "\tpresent\t2\tfolder\n");
  const std::string lisbon = home.run({"albums"})["albums"][0]["id"];
  const auto edit = home.runTool({"album", "add", lisbon, b});
  EXPECT_EQ(edit.exitStatus, 1);
  EXPECT_NE(edit.err.find("is the folder " + pictures("2022/Lisbon")), std::string::npos) << edit.err;
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "nothing changed";
  EXPECT_NE(last.err.find("3 unchanged, 1 skipped"), std::string::npos) << last.err;
  // With nothing to examine, the image stack is never loaded (the loader's
  // trace goes to standard error).
  auto traced = home.toolOptions();
  traced.environment.emplace_back("LD_DEBUG", "files");
  const auto quiet = testing::runProcess(home.toolPath(), {"sync"}, traced);
  EXPECT_NE(quiet.err.find("calling init"), std::string::npos) << "no loader trace";
  EXPECT_EQ(quiet.err.find("libvips"), std::string::npos);
  // Thumbnails come from the derivatives and export copies the user's file.
  const Json thumbs = home.run({"thumbs", "64", a});
  EXPECT_TRUE(thumbs["thumbs"][a].is_string());
  const Json exported = home.run({"export", home.folder("out"), a});
  ASSERT_EQ(exported["files"].size(), 1u) << exported.dump();
  EXPECT_EQ(testing::readFileBytes(exported["files"][0]["path"].get<std::string>()),
            testing::readFileBytes(pictures("a.png")));
  // An only copy edited in place since the sync: the helper shows the file
  // as it is now. (With another copy still as synced, that one is read.)
  const Json before = home.run({"thumbs", "64", b});
  picture("2022/Lisbon/b.png", 20);
  EXPECT_NE(home.run({"thumbs", "64", b})["thumbs"][b], before["thumbs"][b]);
  picture("2022/Lisbon/a-copy.png", 20);
  EXPECT_EQ(home.run({"thumbs", "64", a})["thumbs"][a], thumbs["thumbs"][a]);
}

TEST_F(SourceSync, EditsMovesAndRemovalsKeepIdentifiersWhereTheyShould) {
  syncFirstTime();
  const std::string lisbon = home.run({"albums"})["albums"][0]["id"];
  const auto thumbnailOfB = home.run({"thumbs", "64", b})["thumbs"][b];
  picture("2022/Lisbon/b.png", 56);  // b's only copy, edited in place
  picture("a.png", 20);              // one of a's two copies, edited
  fs::rename(pictures("2022/Lisbon/a-copy.png"), pictures("2022/moved.png"));
  picture("new/e.png", 24);
  const auto lines = sync();
  ASSERT_EQ(lines.size(), 4u) << last.out;
  const std::string edited = lines[2].identifier, e = lines[3].identifier;
  EXPECT_EQ(lines, (std::vector<SyncLine>{{"changed", b, pictures("2022/Lisbon/b.png")},
                                          {"moved", a, pictures("2022/moved.png")},
                                          {"changed", edited, pictures("a.png")},
                                          {"added", e, pictures("new/e.png")}}));
  EXPECT_NE(edited, a);
  EXPECT_EQ(listed(), (std::set<std::string>{a, b, e, edited}));
  EXPECT_NE(home.run({"thumbs", "64", b})["thumbs"][b], thumbnailOfB) << "b's derivatives were renewed";
  EXPECT_EQ(albums(), (std::vector<std::pair<std::string, int>>{
                          {"2022/Lisbon", 1}, {"Pictures", 1}, {"2022", 1}, {"new", 1}}));

  fs::remove(pictures("2022/Lisbon/b.png"));
  const auto derivatives = home.derivativePaths(b);
  EXPECT_EQ(sync(), (std::vector<SyncLine>{{"removed", b, pictures("2022/Lisbon/b.png")}}));
  EXPECT_EQ(listed(), (std::set<std::string>{a, e, edited}));
  EXPECT_EQ(albums(), (std::vector<std::pair<std::string, int>>{{"Pictures", 1}, {"2022", 1}, {"new", 1}}))
      << "the album of a folder without media disappears";
  for (const std::string& d : derivatives) EXPECT_FALSE(fs::exists(d)) << d;

  picture("2022/Lisbon/back.png", 30);  // the folder fills again: the same album
  sync();
  EXPECT_EQ(albums().back(), (std::pair<std::string, int>{"2022/Lisbon", 1}));
  EXPECT_EQ(home.run({"albums"})["albums"].back()["id"], lisbon) << "its identifier is the folder's";
}

TEST_F(SourceSync, SwappedAndReplacedFilesKeepTheirPicturesIdentifiers) {
  syncFirstTime();
  const std::string album = home.createAlbum("Mine");
  home.addToAlbum(album, {b});
  // The names of b and of one copy of a swapped.
  fs::rename(pictures("a.png"), pictures("t.png"));
  fs::rename(pictures("2022/Lisbon/b.png"), pictures("a.png"));
  fs::rename(pictures("t.png"), pictures("2022/Lisbon/b.png"));
  EXPECT_EQ(sync(), (std::vector<SyncLine>{{"changed", a, pictures("2022/Lisbon/b.png")},
                                          {"changed", b, pictures("a.png")}}));
  EXPECT_EQ(listed(), (std::set<std::string>{a, b}));
  EXPECT_EQ(home.run({"list", album, "10"})["items"].size(), 1u) << "b stayed in the user's album";

  // b renamed, and another picture saved under its old name.
  fs::rename(pictures("a.png"), pictures("b-renamed.png"));
  picture("a.png", 36);
  const auto lines = sync();
  ASSERT_EQ(lines.size(), 2u) << last.out;
  EXPECT_EQ(lines[1], (SyncLine{"added", b, pictures("b-renamed.png")}));
  EXPECT_EQ(lines[0].change, "changed");
  EXPECT_EQ(lines[0].path, pictures("a.png"));
  EXPECT_NE(lines[0].identifier, b) << "the new picture is a new asset";
  EXPECT_EQ(listed(), (std::set<std::string>{a, b, lines[0].identifier}));
}

// A source whose folder went missing or was emptied (an unmounted drive).
class OfflineSource : public SourceSync, public ::testing::WithParamInterface<bool> {};

TEST_P(OfflineSource, KeepsItsAssetsAndSyncSaysSo) {
  syncFirstTime();
  const bool removed = GetParam();
  fs::rename(pictures(), home.work("elsewhere"));
  if (!removed) fs::create_directories(pictures());
  EXPECT_EQ(sync({"sync"}, 1), std::vector<SyncLine>{});
  EXPECT_NE(last.err.find("offline"), std::string::npos) << last.err;
  EXPECT_EQ(home.tool({"sources"}), pictures() + "\toffline\t2\tfolder\n");
  EXPECT_EQ(listed(), (std::set<std::string>{a, b}));
  EXPECT_TRUE(home.run({"thumbs", "64", b})["thumbs"][b].is_string()) << "thumbnails from the derivatives";
  const Json exported = home.run({"export", home.folder("out"), b});
  EXPECT_EQ(exported["errors"].size(), 1u) << exported.dump();

  fs::remove_all(pictures());
  fs::rename(home.work("elsewhere"), pictures());
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "back, and nothing changed";
}

INSTANTIATE_TEST_SUITE_P(MissingOrEmpty, OfflineSource, ::testing::Bool());

TEST_F(SourceSync, ImportOwnsReferencedContentAndForgetKeepsOwnedAssets) {
  syncFirstTime();
  const auto copied = home.runTool({"import", pictures("a.png")});
  EXPECT_EQ(copied.out, a + "\t" + pictures("a.png") + "\n");
  EXPECT_NE(copied.err.find("already in the library as " + a), std::string::npos) << copied.err;
  EXPECT_EQ(libraryCopies(), 1u);
  EXPECT_EQ(home.runTool({"import", pictures("2022/Lisbon/a-copy.png")}).exitStatus, 0);
  EXPECT_EQ(libraryCopies(), 1u) << "content already copied is not copied again";

  const auto offload = home.runTool({"offload", b, "http://127.0.0.1:9/b.png"});
  EXPECT_EQ(offload.exitStatus, 1);
  EXPECT_NE(offload.err.find("the original lives in " + pictures("2022/Lisbon")), std::string::npos) << offload.err;

  const auto before = testing::readFileBytes(pictures("2022/Lisbon/b.png"));
  EXPECT_EQ(home.runTool({"forget", pictures()}).exitStatus, 0);
  EXPECT_EQ(listed(), std::set<std::string>{a}) << "b was found only through the source";
  EXPECT_EQ(albums(), (std::vector<std::pair<std::string, int>>{}));
  EXPECT_EQ(testing::readFileBytes(pictures("2022/Lisbon/b.png")), before) << "the user's files stay";
  EXPECT_EQ(home.tool({"sources"}), "");
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "a forgotten Pictures folder is not added again";
}

TEST_F(SourceSync, OverlappingSourcesAreRefused) {
  picture("a.png");
  fs::create_directories(home.libraryFolder());
  ASSERT_EQ(home.runTool({"add", pictures()}).exitStatus, 0);
  struct Case {
    std::string folder, message;
  };
  for (const Case& c : std::vector<Case>{{home.home(), "holds the source"},
                                          {home.libraryFolder(), "lies inside the library folder"},
                                          {home.dataHome(), "holds the library folder"},
                                          {home.work("missing"), "No such file"}}) {
    const auto r = home.runTool({"add", c.folder});
    EXPECT_EQ(r.exitStatus, 1) << c.folder;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << c.folder << ": " << r.err;
  }
}

TEST_F(SourceSync, NamesThatAreNotUtf8AreFoundAgainAndShownEscaped) {
  picture("caf\xe9.png");
  ASSERT_TRUE(testing::writeFileBytes(pictures("keeps-the-folder-in-use.txt"), ""));
  const auto lines = sync({"add", pictures()});
  ASSERT_EQ(lines.size(), 1u) << last.out << last.err;
  EXPECT_EQ(lines[0].path, pictures("caf\\xe9.png"));
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "found again by its bytes";
  home.grantAccess();
  EXPECT_EQ(home.run({"list", "-", "1"})["items"][0]["name"], "caf\xEF\xBF\xBD.png");
  fs::remove(pictures("caf\xe9.png"));
  EXPECT_EQ(sync(), (std::vector<SyncLine>{{"removed", lines[0].identifier, lines[0].path}}));
}

}  // namespace
}  // namespace tolvek
