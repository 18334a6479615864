// Folders made with their parents, as GLib's g_mkdir_with_parents made them
// before: existing folders are fine, a file on the way is ENOTDIR.
#include "platform/posix/make_folders.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

namespace tolvek::testing {
namespace {

TEST(MakeFolders, MakesEveryMissingStepAndRefusesFilesOnTheWay) {
  const std::string root = ::testing::TempDir() + "/tolvek-make-folders-" + std::to_string(::getpid());
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root + "/exists");
  std::ofstream(root + "/file") << "x";
  std::filesystem::create_directory_symlink(root + "/exists", root + "/link");
  struct Case {
    std::string path;
    bool made;
    int error;
  };
  const Case cases[] = {
      {root + "/a/b/c", true, 0},       {root + "/a/b/c", true, 0},     {root + "/exists", true, 0},
      {root + "//d///e/", true, 0},     {root + "/link/f", true, 0},    {root + "/file", false, ENOTDIR},
      {root + "/file/g", false, ENOTDIR}, {"", false, EINVAL},
  };
  for (const Case& c : cases) {
    errno = 0;
    EXPECT_EQ(makeFolders(c.path, 0700), c.made) << c.path;
    if (c.made) {
      EXPECT_TRUE(std::filesystem::is_directory(c.path)) << c.path;
    } else {
      EXPECT_EQ(errno, c.error) << c.path;
    }
  }
  struct stat info {};
  ASSERT_EQ(::stat((root + "/a/b").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777 & ~0700, 0u);
  std::filesystem::remove_all(root);
}

}  // namespace
}  // namespace tolvek::testing
