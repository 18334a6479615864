// Drives that go away and come back, mounted for real in a mount namespace
// of the test's own (skipped where the machine refuses one): nothing the user
// made of their pictures is lost, and a source copied to a new drive is the
// same source.
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/background_tool.h"
#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;
using testing::Json;
using testing::SyncLine;

class Drives : public testing::SourceFixture {
 protected:
  void SetUp() override {
    // This test process alone (ctest runs each test in one) gets its own
    // mount table; the tools it starts inherit it.
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
      GTEST_SKIP() << "cannot make a mount namespace here: " << std::strerror(errno);
  }
  // A new, empty drive at `folder` (over what is mounted there already).
  static void mountDrive(const std::string& folder) {
    fs::create_directories(folder);
    ASSERT_EQ(::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=16m"), 0) << std::strerror(errno);
  }
  static void unmountDrive(const std::string& folder) { ASSERT_EQ(::umount(folder.c_str()), 0) << std::strerror(errno); }
  // The files of `from`, copied into `to` as `cp -r` does (times not kept).
  static void copyFiles(const std::string& from, const std::string& to) {
    for (const auto& entry : fs::directory_iterator(from)) fs::copy(entry.path(), to + "/" + entry.path().filename().string());
  }
  std::set<std::string> favourites() {
    auto rows = testing::sqliteQuery(home.catalogPath(), "SELECT identifier FROM asset WHERE favorite = 1;");
    return rows ? std::set<std::string>(rows->begin(), rows->end()) : std::set<std::string>{};
  }
  // Album titles with their counts as the helper lists them.
  std::map<std::string, int> counts() {
    std::map<std::string, int> found;
    const Json listing = home.run({"albums"});
    for (const Json& album : listing["albums"]) found[album["name"]] = album["count"];
    return found;
  }
};

// No file event reaches a folder that a drive is mounted over: the watch
// learns of it from the mount table, and syncs the source it lies in.
TEST_F(Drives, TheWatchSyncsTheSourceADriveIsMountedIn) {
  picture("p0.png");
  fs::create_directories(pictures("usb"));
  ASSERT_EQ(sync({"add", pictures()}).size(), 1u) << last.out;
  home.grantAccess();
  const std::string drive = home.folder("drive");
  ASSERT_NO_FATAL_FAILURE(mountDrive(drive));
  ASSERT_TRUE(testing::writePicture(drive + "/u1.png", "png", {.width = 40}));
  testing::BackgroundTool watch(home, {"watch"});
  ASSERT_TRUE(testing::eventually([&] { return testing::occurrences(watch.errors(), "synced:") > 0; }))
      << watch.errors();
  ASSERT_EQ(::mount(drive.c_str(), pictures("usb").c_str(), nullptr, MS_BIND, nullptr), 0) << std::strerror(errno);
  EXPECT_TRUE(testing::eventually([&] { return testing::listedByName(home).count("u1.png") == 1; }))
      << watch.errors();
}

TEST_F(Drives, AMountPointHoldingADotEntryIsStillOffline) {
  picture("p0.png");
  mountDrive(pictures("usb"));
  picture("usb/u1.png", 40);
  picture("usb/u2.png", 50);
  const std::string saved = home.folder("saved");
  copyFiles(pictures("usb"), saved);
  const auto lines = sync({"add", pictures()});
  ASSERT_EQ(lines.size(), 3u) << last.out;
  const std::string p0 = lines[0].identifier, u1 = lines[1].identifier, u2 = lines[2].identifier;
  home.grantAccess();
  home.addToAlbum(home.createAlbum("Trip"), {u1});
  home.tool({"favorite", u2});

  unmountDrive(pictures("usb"));
  EXPECT_EQ(sync({"sync"}, 1), std::vector<SyncLine>{});
  fs::create_directories(pictures("usb/.Trash-1000/files"));  // what a file manager leaves
  EXPECT_EQ(sync({"sync"}, 1), std::vector<SyncLine>{}) << "nothing removed";
  EXPECT_NE(last.err.find(pictures("usb") + ": offline"), std::string::npos) << last.err;
  EXPECT_EQ(listed(), (std::set<std::string>{p0, u1, u2}));
  EXPECT_EQ(counts()["Trip"], 1);

  mountDrive(pictures("usb"));
  copyFiles(saved, pictures("usb"));
  sync();
  EXPECT_EQ(listed(), (std::set<std::string>{p0, u1, u2})) << "back under the same identifiers";
  EXPECT_EQ(counts()["Trip"], 1);
  EXPECT_EQ(favourites(), std::set<std::string>{u2});
}

TEST_F(Drives, ASourceCopiedToANewDriveKeepsItsIdentifiers) {
  const std::string drive = home.work("Drive");
  mountDrive(drive);
  for (const auto& [name, width] : std::vector<std::pair<std::string, int>>{{"a.png", 40}, {"b.png", 50}})
    ASSERT_TRUE(testing::writePicture(drive + "/" + name, "png", {.width = width}));
  const auto lines = sync({"add", drive});
  ASSERT_EQ(lines.size(), 2u) << last.out << last.err;
  a = lines[0].identifier;
  b = lines[1].identifier;
  home.grantAccess();
  home.addToAlbum(home.createAlbum("Mine"), {a});
  home.tool({"favorite", b});
  const std::string saved = home.folder("saved");
  copyFiles(drive, saved);

  // Other pictures under the same names: not this source. Each new drive is
  // mounted over the last one, which keeps its device number taken, so the
  // kernel cannot hand the same number out again.
  mountDrive(drive);
  for (const auto& [name, width] : std::vector<std::pair<std::string, int>>{{"a.png", 41}, {"b.png", 51}})
    ASSERT_TRUE(testing::writePicture(drive + "/" + name, "png", {.width = width}));
  sync({"sync"}, 1);
  EXPECT_NE(last.err.find("tolvek-photos-library forget " + drive), std::string::npos) << "says what to run: " << last.err;

  // The same files copied to a new drive, times not kept, and one more.
  mountDrive(drive);
  copyFiles(saved, drive);
  ASSERT_TRUE(testing::writePicture(drive + "/c.png", "png", {.width = 60}));
  const auto back = sync();
  ASSERT_EQ(back.size(), 1u) << last.out << last.err;
  EXPECT_EQ(back[0].change, "added");
  EXPECT_EQ(back[0].path, drive + "/c.png");
  EXPECT_EQ(listed(), (std::set<std::string>{a, b, back[0].identifier}));
  EXPECT_EQ(counts()["Mine"], 1);
  EXPECT_EQ(favourites(), std::set<std::string>{b});
  EXPECT_EQ(sync(), std::vector<SyncLine>{}) << "settled on the new drive";
}

}  // namespace
}  // namespace tolvek
