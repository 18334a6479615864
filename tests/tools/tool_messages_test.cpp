// What the library tool says when something is in its way, run as a process
// in a scratch home: a lock file that is no regular file is named itself;
// an identifier echoed in an error is cut to a readable length; a folder
// deeper than the walk goes is "too deep", and does not fail the sync; a
// link to a folder outside every source is told once per sync and counted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "platform/catalog/catalog_identifiers.h"
#include "platform/sources/source_walk.h"
#include "support/background_tool.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::ScratchLibrary;

TEST(ToolMessages, ALockFileThatIsNoRegularFileIsNamedItself) {
  ScratchLibrary home;
  fs::create_directories(home.libraryFolder());
  struct Case {
    std::string lock;
    std::vector<std::string> command;
  };
  const Case cases[] = {
      {home.location().writerLockPath, {"album", "create", "Trip"}},
      {home.location().sourcesLockPath, {"sync"}},
      {home.libraryFolder() + "/watch.pid", {"watch"}},
      {home.accessStorePath() + ".lock", {"access", "grant"}},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(::mkfifo(c.lock.c_str(), 0600), 0) << c.lock;
    const auto r = home.runTool(c.command);
    EXPECT_EQ(r.exitStatus, 1) << c.command[0];
    EXPECT_NE(r.err.find(c.lock + ": Not a regular file"), std::string::npos) << r.err;
    fs::remove(c.lock);
  }
}

TEST(ToolMessages, AnIdentifierEchoedInAnErrorIsCutToAReadableLength) {
  ScratchLibrary home;
  home.grantAccess();
  // 99,999 bytes: the cut at 64 falls inside a two-byte character.
  std::string huge = "x";
  while (huge.size() + 2 <= 99999) huge += "\xc3\xa9";
  const std::string told = echoedIdentifier(huge);
  EXPECT_EQ(told, "x" + huge.substr(1, 62) + "\xE2\x80\xA6 (99999 bytes)");
  const std::vector<std::string> commands[] = {
      {"favorite", huge}, {"album", "add", huge, "x"}, {"access", "limit", huge}, {"offload", huge, "http://127.0.0.1:1/x"},
      {"remove", "-"},  // from standard input
  };
  for (const auto& command : commands) {
    const auto r = command.back() == "-" ? home.runToolWithInput(command, huge + "\n") : home.runTool(command);
    EXPECT_EQ(r.exitStatus, 1) << command[0];
    // An album is named by its identifier, an asset by its identifier or path.
    const bool echoed = r.err.find(" with the identifier " + told + "\n") != std::string::npos ||
                        r.err.find(" with the identifier or path " + told + "\n") != std::string::npos;
    EXPECT_TRUE(echoed) << command[0] << ": " << r.err.substr(0, 300);
    EXPECT_LT(r.err.size(), 500u) << command[0];
  }
}

TEST(ToolMessages, AFolderDeeperThanTheWalkGoesIsTooDeepAndFailsNoSync) {
  ScratchLibrary home;
  const std::string source = home.folder("Pictures");
  // The walk lists folders down to kMaxWalkDepth levels below the source.
  std::string deep = source;
  for (int level = 0; level <= kMaxWalkDepth; ++level) deep += "/d";
  fs::create_directories(deep);
  ASSERT_TRUE(testing::writePicture(source + "/top.png", "png"));
  ASSERT_TRUE(testing::writePicture(deep + "/bottom.png", "png", {.width = 12}));
  for (const std::vector<std::string>& command : {std::vector<std::string>{"add", source}, {"sync"}}) {
    const auto r = home.runTool(command);
    EXPECT_EQ(r.exitStatus, 0) << command[0] << ": " << r.err;
    EXPECT_NE(r.err.find(deep + ": too deep (more than " + std::to_string(kMaxWalkDepth) +
                         " folders below the source); left out\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("cannot be read"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(" 0 failed, 0 offline"), std::string::npos) << r.err;
  }
}

TEST(ToolMessages, ALinkToAFolderOutsideEverySourceIsToldOncePerSync) {
  ScratchLibrary home;
  const std::string source = fs::canonical(home.folder("Pictures")).string();
  const std::string other = fs::canonical(home.folder("Other")).string();
  const std::string outside = fs::canonical(home.folder("Holiday2020")).string();
  ASSERT_TRUE(testing::writePicture(source + "/top.png", "png"));
  ASSERT_TRUE(testing::writePicture(outside + "/beach.png", "png", {.width = 12}));
  fs::create_directories(source + "/sub");
  const struct {
    std::string link;  // in the source
    std::string target;
    std::string told;  // the link as printed, "" when not told
  } links[] = {
      {"Holiday2020", outside, source + "/Holiday2020"},
      // In a subfolder, with a tab in its name: escaped as every path is.
      {"sub/again\tholiday", outside, source + "/sub/again\\tholiday"},
      {"same", source + "/sub", ""},  // inside the same source
      {"other", other, ""},           // inside another source
      {"picture.png", outside + "/beach.png", ""},
      {"dangling", outside + "/gone", ""},
      {"loop", source + "/loop", ""},
      {"up", fs::path(source).parent_path().string(), ""},  // holds the source: a loop too
  };
  for (const auto& link : links) fs::create_symlink(link.target, source + "/" + link.link);
  home.tool({"add", other});
  for (const std::vector<std::string>& command : {std::vector<std::string>{"add", source}, {"sync"}}) {
    const auto r = home.runTool(command);
    EXPECT_EQ(r.exitStatus, 0) << command[0] << ": " << r.err;
    EXPECT_EQ(testing::occurrences(r.err, "not followed: "), 2u) << command[0] << ": " << r.err;
    for (const auto& link : links) {
      if (link.told.empty()) continue;
      EXPECT_EQ(testing::occurrences(r.err, "tolvek-photos-library: not followed: " + link.told + " \u2192 " +
                                                outside + "; add " + outside + " as a source to include it\n"),
                1u)
          << command[0] << ": " << r.err;
    }
    EXPECT_NE(r.err.find(" 0 failed, 0 offline, 2 links not followed\n"), std::string::npos) << r.err;
  }
  const auto alone = home.runTool({"sync", other});
  EXPECT_EQ(alone.err.find("not followed"), std::string::npos) << alone.err;
  EXPECT_NE(alone.err.find(" 0 offline\n"), std::string::npos) << "no count where none was told: " << alone.err;
}

}  // namespace
}  // namespace tolvek
