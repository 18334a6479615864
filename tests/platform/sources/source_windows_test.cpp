// A sync with more new or changed files than one window of them
// (kPendingWindow): planned again window by window as each is applied, with
// every file counted once, moves still seen across windows, removals in the
// middle of the walk and a folder replaced by a file; a link to a folder
// past the first window is told once.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/sources/sync_run.h"
#include "support/background_tool.h"
#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::SyncLine;

class SourceWindows : public testing::SourceFixture {
 protected:
  // `count` small text files (no media) in the folder `folder` of Pictures.
  void notes(const std::string& folder, std::size_t count) {
    fs::create_directories(pictures(folder));
    for (std::size_t i = 0; i < count; ++i) {
      ASSERT_TRUE(testing::writeFileBytes(pictures(folder + "/n" + std::to_string(i) + ".txt"), std::to_string(i)));
    }
  }
  std::string tally() const { return last.err.substr(last.err.rfind("synced:")); }
};

TEST_F(SourceWindows, ManyNewFilesAreAllRecordedAndAMoveAcrossWindowsIsSeen) {
  const std::size_t many = kPendingWindow + 100;
  picture("a/moving.png");
  picture("b/gone.png", 48);
  notes("c", 3);
  ASSERT_TRUE(testing::writeFileBytes(pictures("d/folder-then-file.txt"), "in a folder"));
  const auto first = sync();
  ASSERT_EQ(first.size(), 2u) << last.out;
  const std::string moving = first[0].identifier;
  const std::string gone = first[1].identifier;
  // Then: the picture moves past a window of new files, a file in the middle
  // goes, and a folder is replaced by a file of the same name.
  notes("m", many);
  fs::create_directories(pictures("z"));
  fs::rename(pictures("a/moving.png"), pictures("z/moving.png"));
  fs::remove(pictures("b/gone.png"));
  fs::remove(pictures("c/n1.txt"));
  fs::remove_all(pictures("d"));
  ASSERT_TRUE(testing::writeFileBytes(pictures("d"), "now a file"));
  EXPECT_EQ(sync(), (std::vector<SyncLine>{{"removed", gone, pictures("b/gone.png")},
                                           {"moved", moving, pictures("z/moving.png")}}));
  EXPECT_NE(tally().find("0 added, 0 changed, 1 moved, 1 removed, 0 unchanged, " + std::to_string(many + 3) +
                         " skipped"),
            std::string::npos)
      << tally();
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "every file was recorded once";
  EXPECT_NE(tally().find("1 unchanged, " + std::to_string(many + 3) + " skipped"), std::string::npos) << tally();
  home.grantAccess();
  EXPECT_EQ(listed(), (std::set<std::string>{moving}));
}

TEST_F(SourceWindows, ALinkToAFolderPastTheFirstWindowIsToldOnce) {
  notes("m", kPendingWindow + 100);
  const std::string outside = fs::canonical(home.folder("Holiday")).string();
  fs::create_directories(pictures("z"));
  fs::create_directory_symlink(outside, pictures("z/holiday"));
  for (int run = 0; run < 2; ++run) {
    EXPECT_EQ(sync(), std::vector<SyncLine>{});
    EXPECT_EQ(testing::occurrences(last.err, "not followed: " + pictures("z/holiday") + " \u2192 " + outside + ";"), 1u)
        << "run " << run << ": " << last.err;
    EXPECT_NE(tally().find(" 0 offline, 1 link not followed\n"), std::string::npos) << tally();
  }
}

}  // namespace
}  // namespace tolvek
