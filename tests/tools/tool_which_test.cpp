// Files where the tool takes identifiers, run as processes in a scratch home
// whose Pictures folder is a source: which prints the identifier of each
// file's asset, commands that take identifiers take paths too, album list
// shows the smart albums the helper lists.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <sstream>

#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchLibrary;

// The fields of each line of `out`, split at tabs.
std::vector<std::vector<std::string>> fieldsOf(const std::string& out) {
  std::vector<std::vector<std::string>> rows;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    std::vector<std::string> fields;
    std::istringstream parts(line);
    for (std::string field; std::getline(parts, field, '\t');) fields.push_back(field);
    rows.push_back(std::move(fields));
  }
  return rows;
}

class ToolWhich : public testing::SourceFixture {
 protected:
  void SetUp() override {
    syncFirstTime();
    ASSERT_FALSE(HasFailure());
    imported = home.import(home.picture("imported.png", "png", {.width = 20}));
    ASSERT_FALSE(imported.empty());
  }
  testing::ProcessResult runIn(const std::string& folder, const std::vector<std::string>& arguments) {
    auto options = home.toolOptions();
    options.workingDirectory = folder;
    return testing::runProcess(home.toolPath(), arguments, options);
  }
  std::string imported;
};

TEST_F(ToolWhich, PrintsEachKnownPathsIdentifierAndNamesTheOthers) {
  ASSERT_TRUE(testing::writePicture(home.work("unknown.png"), "png", {.width = 30}));
  ASSERT_EQ(::mkfifo(home.work("pipe.png").c_str(), 0600), 0);
  const auto r = runIn(pictures("2022"), {"which", "Lisbon/b.png", "../a.png", home.work("src/imported.png"),
                                          home.work("unknown.png"), home.work("src"), home.work("pipe.png"),
                                          pictures("linked-folder/Lisbon/../Lisbon/b.png")});
  EXPECT_EQ(r.exitStatus, 1) << "a path the library does not know";
  EXPECT_EQ(r.out, b + "\tLisbon/b.png\n" + a + "\t../a.png\n" + imported + "\t" + home.work("src/imported.png") +
                       "\n" + b + "\t" + pictures("linked-folder/Lisbon/../Lisbon/b.png") + "\n");
  for (const std::string& message :
       {home.work("unknown.png") + ": not in the library\n", home.work("src") + ": not in the library: a folder",
        home.work("pipe.png") + ": not in the library: not a regular file"}) {
    EXPECT_NE(r.err.find("tolvek-photos-library: " + message), std::string::npos) << r.err;
  }
  // Paths from standard input, as identifiers are read.
  const auto piped = home.runToolWithInput({"which", "-"}, pictures("a.png") + "\n\n" + pictures("2022/Lisbon/b.png"));
  EXPECT_EQ(piped.exitStatus, 0) << piped.err;
  EXPECT_EQ(piped.out, a + "\t" + pictures("a.png") + "\n" + b + "\t" + pictures("2022/Lisbon/b.png") + "\n");
}

TEST_F(ToolWhich, PathsNameAssetsWhereIdentifiersAreTaken) {
  const std::string trip = home.createAlbum("Trip");
  ASSERT_EQ(runIn(pictures(), {"album", "add", trip, "2022/Lisbon/b.png", "./a.png", imported}).exitStatus, 0);
  EXPECT_EQ(testing::itemIds(home.run({"list", trip, "500"})).size(), 3u);
  // All or nothing: a path the library does not know changes nothing.
  const auto refused = home.runTool({"favorite", pictures("a.png"), home.work("nothing.png")});
  EXPECT_EQ(refused.exitStatus, 1);
  EXPECT_NE(refused.err.find("no asset with the identifier or path " + home.work("nothing.png")), std::string::npos)
      << refused.err;
  ASSERT_EQ(home.runTool({"favorite", pictures("a.png")}).exitStatus, 0);
  const auto offload = home.runTool({"offload", pictures("2022/Lisbon/b.png"), "http://127.0.0.1:9/b.png"});
  EXPECT_NE(offload.err.find("cannot offload " + b + ": the original lives in"), std::string::npos) << offload.err;
  ASSERT_EQ(home.runTool({"access", "limit", pictures("2022/Lisbon/b.png"), imported}).exitStatus, 0);
  EXPECT_EQ(testing::itemIds(home.run({"list", "-", "500"})).size(), 2u) << "b and the imported one";
  home.grantAccess();
  ASSERT_EQ(home.runTool({"remove", home.work("src/imported.png")}).exitStatus, 0) << "an imported file's original";
  EXPECT_EQ(home.run({"list", "-", "500"})["items"].size(), 2u);
  // The smart albums are listed first, and the helper takes their identifiers.
  const auto albums = fieldsOf(home.tool({"album", "list"}));
  ASSERT_GE(albums.size(), 2u);
  EXPECT_EQ(albums[0], (std::vector<std::string>{albums[0].at(0), "Favorites", "1", "favorites"}));
  EXPECT_EQ(albums[1], (std::vector<std::string>{albums[1].at(0), "Videos", "0", "videos"}));
  EXPECT_EQ(testing::itemIds(home.run({"list", albums[0][0], "500"})), std::vector<std::string>{a});
  EXPECT_TRUE(testing::itemIds(home.run({"list", albums[1][0], "500"})).empty());
  const auto smart = home.runTool({"album", "add", albums[0][0], b});
  EXPECT_EQ(smart.exitStatus, 1);
  EXPECT_NE(smart.err.find("is a smart album"), std::string::npos) << smart.err;
}

// which reads: on an account without a library it says so and makes none.
TEST(ToolWhichWithoutLibrary, SaysThereIsNoLibraryAndCreatesNothing) {
  ScratchLibrary home;
  ASSERT_TRUE(testing::writePicture(home.work("a.png"), "png", {.width = 16}));
  const auto r = home.runTool({"which", home.work("a.png")});
  EXPECT_EQ(r.exitStatus, 1);
  EXPECT_EQ(r.out, "");
  EXPECT_NE(r.err.find("no library yet at " + home.libraryFolder()), std::string::npos) << r.err;
  EXPECT_FALSE(fs::exists(home.libraryFolder()));
}

}  // namespace
}  // namespace tolvek
