#pragma once
// A library whose Pictures folder is a source, synced by the library tool run
// as a process in a scratch home, with what tests of the sync ask of it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/scratch_library.h"

namespace tolvek::testing {

namespace fs = std::filesystem;

class SourceFixture : public ::testing::Test {
 protected:
  std::string pictures(const std::string& relative = "") const {
    return home.home() + "/Pictures" + (relative.empty() ? "" : "/" + relative);
  }
  void picture(const std::string& relative, int width = 64) {
    ASSERT_TRUE(writePicture(pictures(relative), "png", {.width = width}));
  }
  // Runs sync (or another command) and gives its lines by path (changes that
  // wait for the whole walk come last); `status` expected.
  std::vector<SyncLine> sync(const std::vector<std::string>& arguments = {"sync"}, int status = 0) {
    last = home.runTool(arguments);
    EXPECT_EQ(last.exitStatus, status) << last.err;
    auto lines = syncLines(last.out);
    std::sort(lines.begin(), lines.end(), [](const auto& x, const auto& y) { return x.path < y.path; });
    return lines;
  }
  std::set<std::string> listed() {
    std::set<std::string> ids;
    const Json list = home.run({"list", "-", "500"});
    for (const Json& item : list["items"]) ids.insert(item["id"].get<std::string>());
    EXPECT_FALSE(ids.empty()) << list.dump();
    return ids;
  }
  // Album titles with their counts, in the order the helper lists them.
  std::vector<std::pair<std::string, int>> albums() {
    std::vector<std::pair<std::string, int>> found;
    const Json listing = home.run({"albums"});
    EXPECT_TRUE(listing.contains("albums")) << listing.dump();
    for (const Json& album : listing["albums"])
      found.emplace_back(album["name"].get<std::string>(), album["count"].get<int>());
    return found;
  }
  std::size_t libraryCopies() const {
    return treeOf(home.location().originalsFolder, TreeEntries::regularFiles).size();
  }
  // A first sync of a Pictures folder with duplicates, clutter, a hidden
  // folder, an excluded folder, links and a FIFO.
  void syncFirstTime() {
    picture("a.png");
    picture("2022/Lisbon/b.png", 48);
    ASSERT_TRUE(writeFileBytes(pictures("2022/Lisbon/a-copy.png"), *readFileBytes(pictures("a.png"))));
    ASSERT_TRUE(writeFileBytes(pictures("notes.txt"), "not a picture"));
    picture(".hidden/c.png", 32);
    picture("skip/d.png", 40);
    ASSERT_TRUE(writeFileBytes(pictures("skip/.nomedia"), ""));
    fs::create_symlink(pictures("a.png"), pictures("link.png"));
    fs::create_directory_symlink(pictures("2022"), pictures("linked-folder"));
    ASSERT_EQ(::mkfifo(pictures("pipe.png").c_str(), 0600), 0);
    const auto lines = sync();
    EXPECT_NE(last.err.find("added the Pictures folder"), std::string::npos) << last.err;
    ASSERT_EQ(lines.size(), 3u) << last.out;
    a = lines[0].identifier;  // walk order: bytes, so "2022/..." first
    b = lines[1].identifier;
    EXPECT_EQ(lines, (std::vector<SyncLine>{{"added", a, pictures("2022/Lisbon/a-copy.png")},
                                            {"added", b, pictures("2022/Lisbon/b.png")},
                                            {"added", a, pictures("a.png")}}));
    home.grantAccess();
  }

  ScratchLibrary home;
  ProcessResult last;
  std::string a, b;
};

}  // namespace tolvek::testing
