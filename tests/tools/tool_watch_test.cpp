// The library tool's watch, run as a process on real notifications in a
// scratch home: what happens in the sources reaches the helper's answers
// with the identities sync gives; bursts are synced in batches; a source that
// goes away is offline and comes back; one watch per library; SIGTERM ends it
// with the library consistent (its systemd user service:
// tool_user_unit_test.cpp).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <thread>

#include "platform/catalog/catalog_schema.h"
#include "platform/posix/posix_file.h"
#include "support/background_tool.h"
#include "support/catalog_fixture.h"
#include "support/media_fixtures.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using testing::BackgroundTool;
using testing::eventually;
using testing::occurrences;
using testing::listedByName;
using testing::readFileBytes;
using testing::ScratchLibrary;
using testing::writeFileBytes;

class ToolWatch : public ::testing::Test {
 protected:
  void SetUp() override {
    home.grantAccess();
    const std::string first = home.work("stage/first.png");
    ASSERT_TRUE(testing::writePicture(first, "png", {.width = 16, .height = 16}));
    png = readFileBytes(first).value_or("");
    a = home.folder("a");
    put(a + "/seed.png");
    home.tool({"add", a});
  }
  // A picture of content of its own, written at `path`.
  void put(const std::string& path) { ASSERT_TRUE(writeFileBytes(path, png + std::to_string(++made))); }
  // `n` pictures made beside the sources, then moved into `folder` at once.
  void moveIn(const std::string& folder, int n) {
    for (int i = 0; i < n; ++i) put(home.work("stage/b" + std::to_string(i) + ".png"));
    for (int i = 0; i < n; ++i) {
      const std::string name = "/b" + std::to_string(i) + ".png";
      ASSERT_EQ(std::rename(home.work("stage" + name).c_str(), (folder + name).c_str()), 0);
    }
  }
  std::string idOf(const std::string& name) {
    const auto listed = listedByName(home);
    const auto found = listed.find(name);
    return found == listed.end() ? std::string() : found->second;
  }
  bool listed(const std::string& name) { return !idOf(name).empty(); }
  // The helper's albums: name and count.
  std::map<std::string, int> albums() {
    std::map<std::string, int> result;
    const auto document = home.run({"albums"});
    if (!document.contains("albums")) return result;
    for (const auto& album : document["albums"]) result[album["name"].get<std::string>()] = album["count"].get<int>();
    return result;
  }
  std::unique_ptr<BackgroundTool> startWatch() {
    auto watch = std::make_unique<BackgroundTool>(home, std::vector<std::string>{"watch"});
    EXPECT_GT(watch->pid(), 0);
    EXPECT_TRUE(eventually([&] { return occurrences(watch->errors(), "synced:") > 0; })) << watch->errors();
    return watch;
  }

  ScratchLibrary home;
  std::string png, a;
  int made = 0;
};

TEST_F(ToolWatch, FollowsFilesAndFoldersWithTheIdentitiesOfSync) {
  auto watch = startWatch();
  ASSERT_TRUE(eventually([&] { return listed("seed.png"); }));

  // A file still open for writing waits for its close; a later one does not.
  const std::string halfPath = a + "/half.png";
  const int half = ::open(halfPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  ASSERT_GE(half, 0);
  ASSERT_EQ(::write(half, png.data(), png.size() / 2), static_cast<ssize_t>(png.size() / 2));
  put(a + "/new.png");
  ASSERT_TRUE(eventually([&] { return listed("new.png"); }));
  EXPECT_FALSE(listed("half.png"));
  const std::string rest = png.substr(png.size() / 2) + "half";
  ASSERT_EQ(::write(half, rest.data(), rest.size()), static_cast<ssize_t>(rest.size()));
  ::close(half);
  ASSERT_TRUE(eventually([&] { return listed("half.png"); }));
  // A hard link has no close to wait for.
  put(home.work("stage/linked.png"));
  ASSERT_EQ(::link(home.work("stage/linked.png").c_str(), (a + "/linked.png").c_str()), 0);
  ASSERT_TRUE(eventually([&] { return listed("linked.png"); })) << watch->errors();

  // Changed in place, then moved to a source added meanwhile: one identifier.
  const std::string moved = idOf("new.png");
  put(a + "/new.png");
  ASSERT_TRUE(eventually([&] { return occurrences(watch->errors(), " 1 changed,") > 0; })) << watch->errors();
  const std::string b = home.folder("b");
  home.tool({"add", b});
  ASSERT_EQ(std::rename((a + "/new.png").c_str(), (b + "/new.png").c_str()), 0);
  ASSERT_TRUE(eventually([&] { return albums()["b"] == 1; })) << watch->errors();
  EXPECT_EQ(idOf("new.png"), moved);

  // A folder made later, then renamed: its album follows, the asset stays.
  ASSERT_EQ(::mkdir((a + "/sub").c_str(), 0755), 0);
  put(a + "/sub/s.png");
  ASSERT_TRUE(eventually([&] { return albums()["sub"] == 1; }));
  const std::string inFolder = idOf("s.png");
  ASSERT_EQ(std::rename((a + "/sub").c_str(), (a + "/trip").c_str()), 0);
  ASSERT_TRUE(eventually([&] {
    const auto now = albums();
    return now.contains("trip") && !now.contains("sub");
  }));
  EXPECT_EQ(idOf("s.png"), inFolder);

  // (A source left empty would be offline, as an unmounted drive.)
  ASSERT_EQ(::unlink((a + "/trip/s.png").c_str()), 0);
  ASSERT_TRUE(eventually([&] { return !listed("s.png"); })) << watch->errors();

  const auto ended = watch->stop();
  EXPECT_TRUE(ended.exited());
  EXPECT_EQ(ended.exitStatus, 0);
  EXPECT_NE(ended.out.find("changed\t" + moved + "\t" + a + "/new.png\n"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("moved\t" + moved + "\t" + b + "/new.png\n"), std::string::npos) << ended.out;
  EXPECT_NE(ended.out.find("removed\t" + inFolder + "\t" + a + "/trip/s.png\n"), std::string::npos) << ended.out;
  EXPECT_EQ(occurrences(ended.out, "\t" + halfPath + "\n"), 1u) << ended.out;
}

// A notification names a folder: a burst syncs only the folders named (the
// summary counts only their files unchanged), and a move from another
// folder is still one asset moved; a folder replaced by a file goes with
// what it held.
TEST_F(ToolWatch, ABurstSyncsOnlyTheFoldersItNames) {
  for (const char* name : {"x/old.png", "y/other.png", "z/z1.png", "z/z2.png"}) {
    std::filesystem::create_directories(std::filesystem::path(a + "/" + name).parent_path());
    put(a + "/" + name);
  }
  home.tool({"sync"});
  auto watch = startWatch();
  ASSERT_TRUE(eventually([&] { return listed("z2.png"); }));
  const std::string other = idOf("other.png");

  put(a + "/x/new.png");
  ASSERT_TRUE(eventually([&] { return listed("new.png"); })) << watch->errors();
  EXPECT_TRUE(eventually([&] {
    return occurrences(watch->errors(), "synced: 1 added, 0 changed, 0 moved, 0 removed, 1 unchanged,") == 1;
  })) << "a/x alone: " << watch->errors();

  ASSERT_EQ(std::rename((a + "/y/other.png").c_str(), (a + "/x/other.png").c_str()), 0);
  ASSERT_TRUE(eventually([&] {
    return occurrences(watch->errors(), "synced: 0 added, 0 changed, 1 moved, 0 removed, 2 unchanged,") == 1;
  })) << "a/y and a/x: " << watch->errors();
  EXPECT_EQ(idOf("other.png"), other);

  // A link to a folder made in a/y: told by the sync of a/y alone.
  const std::string outside = std::filesystem::canonical(home.folder("outside")).string();
  std::filesystem::create_directory_symlink(outside, a + "/y/outside");
  const std::string told = "not followed: " + a + "/y/outside \u2192 " + outside + ";";
  ASSERT_TRUE(eventually([&] {
    return occurrences(watch->errors(), "synced: 0 added, 0 changed, 0 moved, 0 removed, 0 unchanged,") == 1;
  })) << "a/y alone: " << watch->errors();
  EXPECT_EQ(occurrences(watch->errors(), told), 1u) << watch->errors();
  EXPECT_EQ(occurrences(watch->errors(), " 0 offline, 1 link not followed\n"), 1u) << watch->errors();

  std::filesystem::remove_all(a + "/z");
  put(a + "/z");
  ASSERT_TRUE(eventually([&] { return listed("z") && !listed("z1.png") && !listed("z2.png"); })) << watch->errors();

  const auto ended = watch->stop();
  EXPECT_EQ(ended.exitStatus, 0);
  EXPECT_NE(ended.out.find("moved\t" + other + "\t" + a + "/x/other.png\n"), std::string::npos) << ended.out;
  EXPECT_EQ(occurrences(ended.out, "removed\t"), 2u) << ended.out;
}

TEST_F(ToolWatch, ABurstIsSyncedInBatches) {
  auto watch = startWatch();
  const std::string burst = a + "/burst";
  ASSERT_EQ(::mkdir(burst.c_str(), 0755), 0);  // files land before the folder is watched
  moveIn(burst, 300);
  ASSERT_TRUE(eventually([&] { return listedByName(home).size() == 301; })) << listedByName(home).size();
  const auto ended = watch->stop();
  EXPECT_EQ(ended.exitStatus, 0);
  EXPECT_EQ(occurrences(ended.out, "added\t"), 300u);
  // One sync per settled burst, each committing up to 200 files at once.
  EXPECT_LT(occurrences(watch->errors(), "synced:"), 30u) << watch->errors();
}

TEST_F(ToolWatch, SigtermEndsItMidBurstWithTheLibraryConsistent) {
  auto watch = startWatch();
  moveIn(a, 300);
  ASSERT_TRUE(eventually([&] { return listedByName(home).size() > 1; }));
  const auto ended = watch->stop(SIGTERM);
  EXPECT_TRUE(ended.exited()) << ended.signal;
  EXPECT_EQ(ended.exitStatus, 0);
  // Every reported change is in the catalog, and the next sync finishes the job.
  const auto listedAtEnd = listedByName(home).size();
  EXPECT_EQ(listedAtEnd, 1 + occurrences(ended.out, "added\t"));
  const auto sync = home.runTool({"sync"});
  EXPECT_EQ(sync.exitStatus, 0) << sync.err;
  EXPECT_EQ(occurrences(sync.out, "added\t"), 301 - listedAtEnd);
  EXPECT_EQ(listedByName(home).size(), 301u);

  // Ended in the middle of moves: each move it reported is whole, so the
  // next sync moves the rest and removes nothing.
  ASSERT_EQ(::mkdir((a + "/to").c_str(), 0755), 0);
  auto again = startWatch();
  for (int i = 0; i < 300; ++i) {
    const std::string name = "/b" + std::to_string(i) + ".png";
    ASSERT_EQ(std::rename((a + name).c_str(), (a + "/to" + name).c_str()), 0);
  }
  ASSERT_TRUE(eventually([&] { return albums()["to"] > 0; }));
  const auto stopped = again->stop(SIGTERM);
  EXPECT_EQ(stopped.exitStatus, 0);
  const auto rest = home.runTool({"sync"});
  EXPECT_EQ(occurrences(rest.out, "removed\t"), 0u) << rest.out;
  EXPECT_EQ(occurrences(stopped.out, "moved\t") + occurrences(rest.out, "moved\t"), 300u) << stopped.out << rest.out;
}

TEST_F(ToolWatch, ASourceThatGoesAwayIsOfflineUntilItIsBack) {
  auto watch = startWatch();
  const std::string seed = idOf("seed.png");
  ASSERT_EQ(std::rename(a.c_str(), (a + "-away").c_str()), 0);
  ASSERT_TRUE(eventually([&] { return occurrences(watch->errors(), a + ": offline") > 0; })) << watch->errors();
  EXPECT_EQ(idOf("seed.png"), seed);
  ASSERT_EQ(std::rename((a + "-away").c_str(), a.c_str()), 0);
  put(a + "/back.png");
  ASSERT_TRUE(eventually([&] { return listed("back.png"); })) << watch->errors();
  EXPECT_EQ(idOf("seed.png"), seed);
  EXPECT_EQ(watch->stop().exitStatus, 0);
}

// The library can no longer be written: its folder was deleted, or its
// catalog is damaged. The watch says so and ends with status 1, rather than
// retrying for ever.
class WatchEnds : public ToolWatch, public ::testing::WithParamInterface<bool> {};

TEST_P(WatchEnds, WithStatusOneWhenTheLibraryCannotBeWritten) {
  const bool damaged = GetParam();
  auto watch = startWatch();
  std::optional<std::string> damagedBytes;
  if (damaged) {
    // Once the watch's run closed the catalog (its log folded in).
    ASSERT_TRUE(eventually([&] {
      return testing::CatalogFixture::overwriteRootPage(home.catalogPath(), catalog::kFile.table).ok();
    }));
    damagedBytes = readFileBytes(home.catalogPath());
  } else {
    std::filesystem::remove_all(home.libraryFolder());
  }
  put(a + "/after.png");
  ASSERT_TRUE(eventually([&] { return watch->ended(); })) << watch->errors();
  EXPECT_EQ(watch->stop().exitStatus, 1);
  EXPECT_NE(watch->errors().find(damaged ? "is damaged" : "was deleted or moved away; the watch ends"),
            std::string::npos)
      << watch->errors();
  if (damaged) {
    EXPECT_TRUE(readFileBytes(home.catalogPath()) == damagedBytes) << "written after the damage";
  }
}

INSTANTIATE_TEST_SUITE_P(DeletedOrDamaged, WatchEnds, ::testing::Bool());

// CPU time (user and system) the process has used, in clock ticks.
long cpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));  // after the command's name
  std::string field;
  long user = 0, system = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14) user = std::stol(field);
    if (i == 15) system = std::stol(field);
  }
  return user + system;
}

TEST_F(ToolWatch, WaitsQuietlyWhileAnotherWriterHoldsTheLibrary) {
  auto watch = startWatch();
  {
    auto lock = FileLock::acquire(home.location().writerLockPath, std::chrono::seconds(5));
    ASSERT_TRUE(lock.ok()) << lock.message();
    put(a + "/while-locked.png");
    const long before = cpuTicks(watch->pid());
    std::this_thread::sleep_for(std::chrono::seconds(1));  // an interval to measure, not a wait
    EXPECT_LT(cpuTicks(watch->pid()) - before, ::sysconf(_SC_CLK_TCK) / 4) << "it retries, it does not spin";
    EXPECT_FALSE(listed("while-locked.png"));
  }
  ASSERT_TRUE(eventually([&] { return listed("while-locked.png"); })) << watch->errors();
  EXPECT_EQ(watch->stop().exitStatus, 0);
}

TEST_F(ToolWatch, OneWatchPerLibrary) {
  auto watch = startWatch();
  const auto second = home.runTool({"watch"});
  EXPECT_EQ(second.exitStatus, 1);
  EXPECT_NE(second.err.find("already running, pid " + std::to_string(watch->pid()) + "\n"), std::string::npos)
      << second.err;
  EXPECT_EQ(watch->stop().exitStatus, 0);
}

}  // namespace
}  // namespace tolvek
