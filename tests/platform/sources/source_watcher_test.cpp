// The watch's bookkeeping on real notifications: which folders of a source a
// change names (a file's folder alone, a folder made, moved or removed with
// everything below it), and when the whole source is to be synced.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/sources/source_watcher.h"
#include "platform/system/library_location.h"
#include "support/media_fixtures.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;

TEST(SourceWatcherScopes, AChangeNamesTheFoldersItTouches) {
  struct Case {
    const char* what;
    std::function<void(const std::string& root)> change;
    std::set<std::string> shallow, deep;  // relative to the root
  };
  const auto write = [](const std::string& path) { std::ofstream(path) << "x"; };
  const std::vector<Case> cases = {
      {"a file written", [&](const std::string& r) { write(r + "/x/new.txt"); }, {"x"}, {}},
      {"a file moved between folders",
       [](const std::string& r) { fs::rename(r + "/x/old.txt", r + "/y/old.txt"); }, {"x", "y"}, {}},
      {"a file removed in the root", [](const std::string& r) { fs::remove(r + "/top.txt"); }, {""}, {}},
      {"a folder made", [](const std::string& r) { fs::create_directory(r + "/x/sub"); }, {}, {"x/sub"}},
      {"a folder removed",
       [](const std::string& r) { fs::remove_all(r + "/y"); }, {"y"}, {"y"}},
      {"a folder moved", [](const std::string& r) { fs::rename(r + "/y", r + "/x/y"); }, {}, {"y", "x/y"}},
      {"a .nomedia made", [&](const std::string& r) { write(r + "/x/.nomedia"); }, {}, {"x"}},
      {"a dot-file written", [&](const std::string& r) { write(r + "/x/.hidden"); }, {}, {}},
  };
  for (const Case& c : cases) {
    testing::ScratchFolder scratch;
    const std::string root = scratch.path() + "/source";
    for (const char* folder : {"/x", "/y", "/lib"}) fs::create_directories(root + folder);
    write(root + "/x/old.txt");
    write(root + "/top.txt");
    write(root + "/y/y.txt");
    LibraryLocation location;
    location.libraryFolder = scratch.path() + "/library";
    location.sourcesLockPath = location.libraryFolder + "/sources.lock";
    fs::create_directories(location.libraryFolder);
    SourceWatcher watcher(location, nullptr);
    ASSERT_TRUE(watcher.ok());
    watcher.follow({Source{7, root, std::nullopt, SourceKind::folder}});
    ASSERT_FALSE(watcher.scopes().at(7)) << "a source followed anew is synced whole";
    watcher.clearDirty({7});
    c.change(root);
    watcher.readEvents();
    std::set<std::string> shallow, deep;
    if (const auto found = watcher.scopes().find(7); found != watcher.scopes().end()) {
      ASSERT_TRUE(found->second) << c.what << ": not the whole source";
      for (const std::string& path : found->second->shallow) shallow.insert(path == root ? "" : path.substr(root.size() + 1));
      for (const std::string& path : found->second->deep) deep.insert(path.substr(root.size() + 1));
    }
    EXPECT_EQ(shallow, c.shallow) << c.what;
    EXPECT_EQ(deep, c.deep) << c.what;
    EXPECT_EQ(watcher.dirty().contains(7), !c.shallow.empty() || !c.deep.empty()) << c.what;
    // A sync that did not finish puts its scope back; the whole source stays whole.
    const SourceWatcher::Scopes taken = watcher.scopes();
    watcher.clearDirty({7});
    watcher.markDirty({7}, taken);
    EXPECT_EQ(watcher.scopes().at(7).has_value(), taken.contains(7)) << c.what;
    watcher.rewatchAll();
    EXPECT_FALSE(watcher.scopes().at(7)) << c.what << ": after lost notifications, all of it";
  }
}

}  // namespace
}  // namespace tolvek
