// Folders the library already covers, run as processes in a scratch home
// whose Pictures folder is a source: adding one is no error and says which
// source covers it, and sync of a folder that is no source names the command
// that takes it in.
#include <gtest/gtest.h>

#include "support/source_fixture.h"

namespace tolvek {
namespace {

class ToolAdd : public testing::SourceFixture {
 protected:
  void SetUp() override {
    syncFirstTime();
    ASSERT_FALSE(HasFailure());
  }
};

TEST_F(ToolAdd, AFolderTheLibraryCoversIsNoErrorAndSyncNamesACommandThatWorks) {
  const std::string other = home.folder("Other");
  ASSERT_TRUE(testing::writePicture(other + "/o.png", "png", {.width = 24}));
  const auto r = home.runTool({"add", pictures(), pictures("2022/Lisbon/"), pictures("2022/.."), other});
  EXPECT_EQ(r.exitStatus, 0) << r.err;
  for (const std::string& said :
       {pictures() + " is already a source\n", pictures("2022/..") + " is already a source\n",
        pictures("2022/Lisbon/") + " is already in the library: it lies inside the source " + pictures() + "\n"}) {
    EXPECT_NE(r.err.find("tolvek-photos-library: " + said), std::string::npos) << r.err;
  }
  EXPECT_EQ(testing::syncLines(r.out).size(), 1u) << "the other folder is added: " << r.out;
  EXPECT_EQ(home.tool({"sources"}), pictures() + "\tpresent\t2\tfolder\n" + other + "\tpresent\t1\tfolder\n");

  // sync of a folder inside a source names the source, of any other folder add.
  const std::string loose = home.folder("Loose Photos");
  for (const auto& [folder, hint] : std::vector<std::pair<std::string, std::string>>{
           {pictures("2022/Lisbon"), "tolvek-photos-library sync " + pictures()},
           {loose, "tolvek-photos-library add '" + loose + "'"}}) {
    const auto refused = home.runTool({"sync", folder});
    EXPECT_EQ(refused.exitStatus, 1);
    EXPECT_TRUE(refused.err.ends_with(hint + "\n")) << refused.err;
  }
  EXPECT_EQ(home.runTool({"sync", pictures()}).exitStatus, 0);
  EXPECT_EQ(home.runTool({"add", loose}).exitStatus, 0);
}

// Only an existing folder is covered: a path inside a source that is missing
// or names a file keeps add's own refusal.
TEST_F(ToolAdd, APathInsideASourceThatIsNoFolderIsRefused) {
  struct Case {
    std::string path, message;
  };
  for (const Case& c : std::vector<Case>{{pictures("2022/Typo"), "No such file or directory"},
                                          {pictures("2022/Lisbon/b.png"), "not a folder"},
                                          {pictures("link.png"), "not a folder"}}) {
    const auto r = home.runTool({"add", c.path});
    EXPECT_EQ(r.exitStatus, 1) << c.path << ": " << r.err;
    EXPECT_EQ(r.err, "tolvek-photos-library: " + c.path + ": " + c.message + "\n");
  }
  EXPECT_EQ(home.tool({"sources"}), pictures() + "\tpresent\t2\tfolder\n");
  // Nor does sync hint at a command for them: neither add nor sync would take them.
  for (const Case& c : std::vector<Case>{{pictures("2022/Typo"), "No such file or directory"},
                                          {pictures("2022/Lisbon/b.png"), "not a source (see the sources command)"}}) {
    const auto r = home.runTool({"sync", c.path});
    EXPECT_EQ(r.exitStatus, 1) << c.path;
    EXPECT_EQ(r.err, "tolvek-photos-library: " + c.path + ": " + c.message + "\n");
  }
}

}  // namespace
}  // namespace tolvek
