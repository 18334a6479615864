// Paths as text: the folder and name of a path, whether one lies within a
// folder, a path made absolute and plain without following links, and the
// real path with every link resolved.
#include "platform/posix/path_text.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace tolvek::testing {
namespace {

namespace fs = std::filesystem;

TEST(PathText, PlainAndRealPaths) {
  const std::string root = fs::weakly_canonical(::testing::TempDir()).string() + "/tolvek-path-text-" +
                           std::to_string(::getpid());
  fs::remove_all(root);
  fs::create_directories(root + "/real/inner");
  fs::create_directory_symlink(root + "/real", root + "/link");
  const std::string cwd = fs::current_path().string();
  struct Case {
    std::string path;
    std::string plain;                // plainAbsolutePath
    std::optional<std::string> real;  // realPath
  };
  const Case cases[] = {
      {root + "/real", root + "/real", root + "/real"},
      {root + "//real///inner/", root + "/real/inner", root + "/real/inner"},
      {root + "/real/./inner/..", root + "/real", root + "/real"},
      {root + "/link/inner", root + "/link/inner", root + "/real/inner"},  // plain: the link stays
      {root + "/link/../real", root + "/real", root + "/real"},  // plain ".." is lexical; real follows the link
      {root + "/missing/..", root, std::nullopt},
      {root + "/real/missing", root + "/real/missing", std::nullopt},
      {"relative/./name/", cwd + "/relative/name", std::nullopt},
      {"/", "/", "/"},
      {"", "", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(plainAbsolutePath(c.path), c.plain) << c.path;
    EXPECT_EQ(realPath(c.path), c.real) << c.path;
  }
  fs::remove_all(root);
}

TEST(PathText, FoldersAndNames) {
  struct Case {
    std::string_view path, folder, name;
  };
  for (const Case& c : {Case{"/a/b.png", "/a", "b.png"}, Case{"b.png", "", "b.png"}, Case{"/b", "", "b"},
                        Case{"a/", "a", ""}}) {
    EXPECT_EQ(folderPart(c.path), c.folder) << c.path;
    EXPECT_EQ(namePart(c.path), c.name) << c.path;
  }
  struct Within {
    std::string_view path, folder;
    bool within;
  };
  for (const Within& c : {Within{"/a/b", "/a", true}, Within{"/a", "/a", true}, Within{"/ab", "/a", false},
                          Within{"/a", "/a/b", false}, Within{"/x", "/", true}, Within{"x", "/", false},
                          Within{"x/y", "", true}}) {
    EXPECT_EQ(isWithinFolder(c.path, c.folder), c.within) << c.path << " in " << c.folder;
  }
}

}  // namespace
}  // namespace tolvek::testing
