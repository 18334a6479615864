// DiskFileSystem: whole replacement of files, links replaced not followed,
// failures leave what was there.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "platform/disk_file_system.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {


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

}  // namespace
}  // namespace tolvek::testing
