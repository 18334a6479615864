// The POSIX primitives: what a read accepts and how far it reads, bounded
// locks, temporary files that are published whole or removed; and
// DiskFileSystem on them: whole replacement of files, links replaced not
// followed, failures leave what was there. The GLib main loop: a slice
// lasts its time when nothing happens, ends early when another thread wakes
// it, and waiting costs next to no CPU; the system clock.
#include "platform/posix/posix_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <ctime>
#include <filesystem>
#include <thread>

#include "platform/system/disk_file_system.h"
#include "platform/system/poll_main_loop.h"
#include "platform/posix/temporary_files.h"
#include "platform/system/system_clock.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

using namespace std::chrono_literals;

TEST(ReadRegularFile, OnlyRegularFilesAndNeverPastTheCap) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("small"), "12345"));
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::symlink("/dev/zero", folder.file("zero").c_str()), 0);
  ASSERT_EQ(::symlink(folder.file("fifo").c_str(), folder.file("to-fifo").c_str()), 0);
  ASSERT_EQ(::symlink(folder.file("small").c_str(), folder.file("to-small").c_str()), 0);
  struct Case {
    std::string path;
    std::uint64_t cap;
    std::string bytes;  // empty with an error
    std::string error;
  };
  const Case cases[] = {
      {folder.file("small"), 100, "12345", ""},
      {folder.file("to-small"), 5, "12345", ""},
      {folder.file("small"), 4, "", "File too large"},
      {folder.file("fifo"), 100, "", kNotARegularFile},
      {folder.file("to-fifo"), 100, "", kNotARegularFile},
      {folder.file("zero"), 100, "", kNotARegularFile},
      {folder.path(), 100, "", "Is a directory"},
      {folder.file("gone"), 100, "", "No such file or directory"},
  };
  for (const Case& c : cases) {
    const auto started = std::chrono::steady_clock::now();
    const auto read = readRegularFile(c.path, c.cap);
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s) << c.path << " blocked";
    EXPECT_EQ(read.ok() ? *read : std::string(), c.bytes) << c.path;
    EXPECT_EQ(read.message(), c.error) << c.path;
    // The one failure a caller acts on (a missing store) carries its code.
    EXPECT_EQ(read.code(), c.path == folder.file("gone") ? ErrorCode::notFound : ErrorCode::other) << c.path;
  }
  // A file that grows after it was opened is read only as far as it was long.
  auto opened = ReadableFile::open(folder.file("small"));
  ASSERT_TRUE(opened.ok());
  ASSERT_TRUE(writeFileBytes(folder.file("small"), "1234567890"));
  EXPECT_EQ(*opened->read(100), "12345");
}

TEST(FileLock, WaitsOnlyAsLongAsAsked) {
  ScratchFolder folder;
  const std::string path = folder.file("lock");
  auto held = FileLock::acquire(path, 0ms);
  ASSERT_TRUE(held.ok()) << held.message();
  // flock conflicts between open files, also within one process.
  const auto started = std::chrono::steady_clock::now();
  const auto second = FileLock::acquire(path, 300ms);
  const auto waited = std::chrono::steady_clock::now() - started;
  EXPECT_EQ(second.message(), kLockBusy);
  EXPECT_EQ(second.code(), ErrorCode::busy);
  EXPECT_GE(waited, 280ms);
  EXPECT_LT(waited, 2s);
  { FileLock released = std::move(held).value(); }
  EXPECT_TRUE(FileLock::acquire(path, 0ms).ok());
}

// A lock file that cannot be one is named in the failure, so that the
// message of what it locks does not blame that file instead.
TEST(FileLock, ALockFileThatIsNoRegularFileIsNamed) {
  ScratchFolder folder;
  ASSERT_EQ(::mkfifo(folder.file("fifo").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(folder.file("folder").c_str(), 0700), 0);
  ASSERT_EQ(::symlink("/dev/null", folder.file("device").c_str()), 0);
  const std::pair<std::string, std::string> cases[] = {
      {folder.file("fifo"), kNotARegularFile},
      {folder.file("device"), kNotARegularFile},
      {folder.file("folder"), "Is a directory"},
      {folder.file("missing/lock"), "No such file or directory"},
  };
  for (const auto& [path, reason] : cases) EXPECT_EQ(FileLock::acquire(path, 0ms).message(), path + ": " + reason);
}


TEST(TemporaryFile, PublishedWholeOrRemoved) {
  ScratchFolder folder;
  ASSERT_TRUE(writeFileBytes(folder.file("taken"), "old"));
  const mode_t mask = ::umask(022);
  {
    auto file = TemporaryFile::createIn(folder.path());
    ASSERT_TRUE(file.ok());
    ASSERT_TRUE(writeAll(file->fd(), "new").ok());
    EXPECT_EQ(file->publish(folder.file("taken"), Publish::neverReplace).message(),
              "A file already exists at " + folder.file("taken"));
    auto second = TemporaryFile::createIn(folder.path());
    ASSERT_TRUE(second.ok());
    ASSERT_TRUE(writeAll(second->fd(), "fresh").ok());
    EXPECT_TRUE(second->publish(folder.file("fresh"), Publish::neverReplace).ok());
    auto dropped = TemporaryFile::createIn(folder.path());  // never published
    ASSERT_TRUE(dropped.ok());
  }
  ::umask(mask);
  EXPECT_EQ(readFileBytes(folder.file("taken")), "old");
  EXPECT_EQ(readFileBytes(folder.file("fresh")), "fresh");
  EXPECT_EQ(std::filesystem::status(folder.file("fresh")).permissions(), std::filesystem::perms(0644));
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"fresh", "taken"}));
}

TEST(TemporaryFile, AbandonedFilesOfDeadWritersAreRemovedOthersKept) {
  ScratchFolder folder;
  // A writer that is gone: a child that has exited and been reaped.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(::waitpid(child, nullptr, 0), child);
  const std::string dead = ".tolvek-" + std::to_string(child) + "-0-1.partial";
  const std::string live = ".tolvek-" + std::to_string(::getppid()) + "-0-1.partial";
  const std::vector<std::string> kept = {live, ".tolvek-x-0-1.partial", "IMG_0001.JPG", ".tolvek-12-3.partial"};
  for (const std::string& name : kept) ASSERT_TRUE(writeFileBytes(folder.file(name), "x"));
  ASSERT_TRUE(writeFileBytes(folder.file(dead), "x"));
  removeAbandonedTemporaryFiles(folder.path());
  auto expected = kept;
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(namesIn(folder.path()), expected);
}

TEST(ReplaceFile, WritesNewAndReplacesExistingFiles) {
  ScratchFolder folder;
  DiskFileSystem files;
  EXPECT_TRUE(files.replaceFile(folder.file("a.jpg"), "first").ok());
  EXPECT_EQ(readFileBytes(folder.file("a.jpg")), "first");
  EXPECT_TRUE(files.replaceFile(folder.file("a.jpg"), std::string(3, '\0') + "second").ok());
  EXPECT_EQ(readFileBytes(folder.file("a.jpg")), std::string(3, '\0') + "second");
  EXPECT_TRUE(files.replaceFile(folder.file("empty"), "").ok());
  EXPECT_EQ(readFileBytes(folder.file("empty")), "");
  // No temporary file stays behind.
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"a.jpg", "empty"}));
}

TEST(ReplaceFile, SymbolicLinkIsReplacedNeverFollowed) {
  ScratchFolder folder;
  DiskFileSystem files;
  ASSERT_TRUE(writeFileBytes(folder.file("precious.txt"), "keep me"));
  ASSERT_EQ(::symlink(folder.file("precious.txt").c_str(), folder.file("photo.jpg").c_str()), 0);
  ASSERT_EQ(::symlink(folder.file("nowhere").c_str(), folder.file("dangling.jpg").c_str()), 0);
  EXPECT_TRUE(files.replaceFile(folder.file("photo.jpg"), "picture").ok());
  EXPECT_TRUE(files.replaceFile(folder.file("dangling.jpg"), "picture").ok());
  EXPECT_EQ(readFileBytes(folder.file("precious.txt")), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(folder.file("photo.jpg")));
  EXPECT_EQ(readFileBytes(folder.file("photo.jpg")), "picture");
  EXPECT_FALSE(std::filesystem::exists(folder.file("nowhere")));
}

TEST(ReplaceFile, FailureLeavesWhatWasThere) {
  ScratchFolder folder;
  DiskFileSystem files;
  EXPECT_EQ(files.replaceFile(folder.file("missing/a.jpg"), "x").message(), "No such file or directory");
  std::filesystem::create_directory(folder.file("dir.jpg"));
  ASSERT_TRUE(writeFileBytes(folder.file("dir.jpg/inside"), "inside"));
  ASSERT_FALSE(files.replaceFile(folder.file("dir.jpg"), "x").ok());
  EXPECT_EQ(readFileBytes(folder.file("dir.jpg/inside")), "inside");
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"dir.jpg"}));
  EXPECT_FALSE(files.replaceFile("", "x").ok());
  // A file size limit makes the write itself fail part way: the old file stays whole.
  ASSERT_TRUE(writeFileBytes(folder.file("old.jpg"), "old and whole"));
  rlimit saved{};
  ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 4096;
  ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
  const auto tooBig = files.replaceFile(folder.file("old.jpg"), std::string(100000, 'n'));
  ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  EXPECT_EQ(tooBig.message(), "File too large");
  EXPECT_EQ(readFileBytes(folder.file("old.jpg")), "old and whole");
  EXPECT_EQ(namesIn(folder.path()), (std::vector<std::string>{"dir.jpg", "old.jpg"}));
}

TEST(Directories, CreatesParentsAndReportsFailure) {
  ScratchFolder folder;
  DiskFileSystem files;
  EXPECT_TRUE(files.createDirectories(folder.file("a/b/c")));
  EXPECT_TRUE(std::filesystem::is_directory(folder.file("a/b/c")));
  EXPECT_TRUE(files.createDirectories(folder.file("a/b/c")));
  ASSERT_TRUE(writeFileBytes(folder.file("file"), "x"));
  EXPECT_FALSE(files.createDirectories(folder.file("file")));
  EXPECT_FALSE(files.createDirectories(folder.file("file/sub")));
  char cwd[4096];
  ASSERT_NE(::getcwd(cwd, sizeof cwd), nullptr);
  EXPECT_EQ(files.currentDirectory(), cwd);
}

using Steady = std::chrono::steady_clock;

double cpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Wakeups left over from earlier tests would end the first slice at once.
void drain(PollMainLoop& loop) {
  for (int i = 0; i < 5; ++i) loop.runFor(0);
}

TEST(PollMainLoop, QuietSliceLastsItsTime) {
  PollMainLoop loop;
  drain(loop);
  const auto start = Steady::now();
  loop.runFor(0.2);
  const auto took = Steady::now() - start;
  EXPECT_GE(took, 190ms);
  EXPECT_LT(took, 2s);
}

TEST(PollMainLoop, ZeroOrNegativeSliceDoesNotBlock) {
  PollMainLoop loop;
  const auto start = Steady::now();
  loop.runFor(0);
  loop.runFor(-3);
  EXPECT_LT(Steady::now() - start, 1s);
}

TEST(PollMainLoop, WakeFromAnotherThreadEndsTheSliceEarly) {
  PollMainLoop loop;
  drain(loop);
  std::thread waker([] {
    std::this_thread::sleep_for(50ms);
    wakeMainLoop();
  });
  const auto start = Steady::now();
  loop.runFor(30);
  const auto took = Steady::now() - start;
  waker.join();
  EXPECT_LT(took, 10s);
}

// Wakeups that come while nobody waits end the next slice at once (all of
// them together); a zero slice takes them, and the slice after lasts its time.
TEST(PollMainLoop, WakeupsBeforeASliceEndItAndAZeroSliceTakesThem) {
  PollMainLoop loop;
  drain(loop);
  wakeMainLoop();
  wakeMainLoop();
  auto start = Steady::now();
  loop.runFor(30);
  EXPECT_LT(Steady::now() - start, 10s);
  start = Steady::now();
  loop.runFor(0.2);
  EXPECT_GE(Steady::now() - start, 190ms) << "two wakeups ended two slices";

  wakeMainLoop();
  loop.runFor(0);
  start = Steady::now();
  loop.runFor(0.2);
  EXPECT_GE(Steady::now() - start, 190ms) << "the zero slice left the wakeup pending";
}

TEST(PollMainLoop, WaitingDoesNotSpin) {
  PollMainLoop loop;
  drain(loop);
  const double cpuBefore = cpuSeconds();
  const auto start = Steady::now();
  while (Steady::now() - start < 1s) loop.runFor(0.05);
  // A spinning loop would burn about one second of CPU here.
  EXPECT_LT(cpuSeconds() - cpuBefore, 0.2);
}

TEST(SystemClock, IsTheWallClock) {
  SystemClock clock;
  const double now = clock.now();
  EXPECT_NEAR(now, static_cast<double>(std::time(nullptr)), 2.0);
  std::this_thread::sleep_for(20ms);
  EXPECT_GT(clock.now(), now);
}

}  // namespace
}  // namespace tolvek::testing
