// The walk of a source folder: its files in byte order of their whole paths
// (the catalog's order of rows), whatever order names have by folder, by
// locale or by the file system; the folders it could not read or went no
// deeper than and the links to folders at their place in that order.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/sources/source_walk.h"
#include "support/media_fixtures.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;

// Makes each relative path under `root`: a file, or a folder when it ends in "/".
void makeTree(const std::string& root, const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const fs::path full = root + "/" + path;
    if (path.ends_with('/')) {
      fs::create_directories(full);
    } else {
      fs::create_directories(full.parent_path());
      std::ofstream(full) << path;
    }
  }
}

std::vector<std::string> walkedPaths(const SourceWalk& walk) {
  std::vector<std::string> paths;
  for (const WalkedFile& file : walk.files) paths.push_back(file.path);
  return paths;
}

TEST(SourceWalk, FilesComeInByteOrderOfTheirWholePaths) {
  struct Case {
    const char* what;
    std::vector<std::string> made;
    std::vector<std::string> walked;  // in the order expected
  };
  const std::vector<Case> cases = {
      // "-" and "." sort before "/": a folder's files come after a sibling
      // named like it with more characters.
      {"folder before longer sibling names", {"a/x", "a-b", "a.c", "a0"}, {"a-b", "a.c", "a/x", "a0"}},
      {"folder versus files of its prefix", {"ab/z", "a/y", "abc"}, {"a/y", "ab/z", "abc"}},
      // By byte, upper case before lower case and UTF-8 after ASCII; no locale.
      {"bytes, not the locale", {"b", "B", "\xc3\xa9t\xc3\xa9", "e", "Z/1"}, {"B", "Z/1", "b", "e", "\xc3\xa9t\xc3\xa9"}},
      {"nested folders", {"2/b/c", "2/a", "10/x", "1/y"}, {"1/y", "10/x", "2/a", "2/b/c"}},
      {"hidden, excluded and empty folders", {".h/a", "n/.nomedia", "n/p", "e/", "f/.dot", "f/g"}, {"f/g"}},
  };
  for (const Case& c : cases) {
    testing::ScratchFolder scratch;
    makeTree(scratch.path(), c.made);
    const SourceWalk walk = walkSource(scratch.path());
    ASSERT_TRUE(walk.listed) << c.what;
    EXPECT_EQ(walkedPaths(walk), c.walked) << c.what;
    std::vector<std::string> sorted = walkedPaths(walk);
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(walkedPaths(walk), sorted) << c.what << ": std::string order is the catalog's";
    ASSERT_FALSE(walk.folders.empty());
    EXPECT_EQ(walk.folders.front().path, "") << c.what;
  }
}

TEST(SourceWalk, StepsTellFoldersAndOnesTooDeepInPlace) {
  testing::ScratchFolder scratch;
  std::string deep = "b";
  for (int i = 0; i < kMaxWalkDepth; ++i) deep += "/x";  // the first folder left out
  makeTree(scratch.path(), {"a/1", deep + "/x/f", "b/y", "c/3", "d"});
  fs::create_directory_symlink(scratch.path() + "/a", scratch.path() + "/b/link");
  SourceWalker walker(scratch.path());
  ASSERT_TRUE(walker.listed());
  EXPECT_FALSE(walker.root().empty);
  std::vector<std::string> steps;
  WalkStep step;
  while (walker.next(step)) {
    switch (step.kind) {
      case WalkStep::Kind::file: steps.push_back("file " + step.file.path); break;
      case WalkStep::Kind::folder:
        if (step.folder.path.size() <= 3) steps.push_back("folder " + step.folder.path);
        break;
      case WalkStep::Kind::unreadable: steps.push_back("unreadable " + step.path); break;
      case WalkStep::Kind::tooDeep: steps.push_back("too deep " + step.path); break;
      case WalkStep::Kind::folderLink: steps.push_back("link " + step.path); break;
    }
  }
  EXPECT_EQ(steps, (std::vector<std::string>{"folder a", "file a/1", "folder b", "link b/link", "folder b/x",
                                             "too deep " + deep, "file b/y", "folder c", "file c/3", "file d"}));
}

// Links are never followed; those to folders are steps of their own, in
// their place in the walk, and the others are left out without a word.
TEST(SourceWalk, LinksToFoldersAreToldAndNoLinkIsFollowed) {
  struct Case {
    const char* what;
    std::string link;    // made in the source
    std::string target;  // relative to the scratch folder, or as written
    std::vector<std::string> linksTold;
  };
  const std::vector<Case> cases = {
      {"a folder outside the source", "Holiday", "outside", {"Holiday"}},
      {"a folder inside the same source", "again", "source/sub", {"again"}},
      {"a link in a subfolder", "sub/deeper", "outside", {"sub/deeper"}},
      {"a file", "photo.jpg", "outside/x.jpg", {}},
      {"nothing (dangling)", "dangling", "nowhere", {}},
      {"itself (a loop)", "loop", "source/loop", {}},
      {"the source's own parent", "up", ".", {"up"}},
      {"a link in a hidden folder", ".h/link", "outside", {}},
  };
  for (const Case& c : cases) {
    testing::ScratchFolder scratch;
    const std::string source = scratch.path() + "/source";
    makeTree(scratch.path(), {"outside/x.jpg", "source/sub/f.jpg", "source/sub/deeper-file.jpg"});
    fs::create_directories(fs::path(source + "/" + c.link).parent_path());
    fs::create_symlink(scratch.path() + "/" + c.target, source + "/" + c.link);
    const SourceWalk walk = walkSource(source);
    ASSERT_TRUE(walk.listed) << c.what;
    EXPECT_EQ(walk.folderLinks, c.linksTold) << c.what;
    EXPECT_EQ(walkedPaths(walk), (std::vector<std::string>{"sub/deeper-file.jpg", "sub/f.jpg"})) << c.what;
  }
}

TEST(SourceWalk, ARootThatIsNoFolderOrEmptyIsToldSo) {
  testing::ScratchFolder scratch;
  EXPECT_FALSE(SourceWalker(scratch.path() + "/missing").listed());
  std::ofstream(scratch.file("file")) << "x";
  const SourceWalker file(scratch.file("file"));
  EXPECT_FALSE(file.listed());
  EXPECT_FALSE(file.error().empty());
  fs::create_directory(scratch.path() + "/empty");
  const SourceWalker empty(scratch.path() + "/empty");
  ASSERT_TRUE(empty.listed());
  EXPECT_TRUE(empty.root().empty);
}

}  // namespace
}  // namespace tolvek
