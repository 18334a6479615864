// The asset a path names, looked up by the catalog's writer in this process
// over a library the tool synced: a copy in a source by its recorded path
// (absolute or relative, with "." and ".." steps, through linked folders),
// any other file by its content, and links, and files that are no regular
// file, refused without being read or waited on.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <future>

#include "platform/catalog/catalog_writer.h"
#include "support/source_fixture.h"

namespace tolvek {
namespace {

namespace fs = std::filesystem;

// Runs the test's lookups with `folder` as the working directory.
class WorkingDirectory {
 public:
  explicit WorkingDirectory(const std::string& folder) : saved_(fs::current_path()) { fs::current_path(folder); }
  ~WorkingDirectory() { fs::current_path(saved_); }
  WorkingDirectory(const WorkingDirectory&) = delete;
  WorkingDirectory& operator=(const WorkingDirectory&) = delete;

 private:
  fs::path saved_;
};

class CatalogPaths : public testing::SourceFixture {
 protected:
  void SetUp() override {
    syncFirstTime();
    ASSERT_FALSE(HasFailure());
    // b.png edited since the sync: only its recorded path names b now, its
    // content none.
    picture("2022/Lisbon/b.png", 50);
    imported = home.import(home.picture("imported.png", "png", {.width = 20}));
    ASSERT_FALSE(imported.empty());
    fs::create_directory_symlink(pictures(), home.work("pictures-link"));
    ASSERT_TRUE(testing::writePicture(home.work("unknown.png"), "png", {.width = 30}));
    ASSERT_TRUE(testing::writeFileBytes(home.work("a-elsewhere.png"), *testing::readFileBytes(pictures("a.png"))));
    ASSERT_EQ(::mkfifo(home.work("pipe.png").c_str(), 0600), 0);
    fs::create_symlink(home.work("a-elsewhere.png"), home.work("link-elsewhere.png"));
    fs::create_symlink(home.work("gone.png"), home.work("dangling.png"));
    auto opened = CatalogWriter::open(home.location());
    ASSERT_TRUE(opened) << opened.message();
    catalog = std::move(opened).value();
  }
  // The identifier `path` names, or "" with why it was not read.
  std::string lookUp(const std::string& path) {
    auto owner = catalog->assetOfPath(path);
    EXPECT_TRUE(owner) << owner.message();
    if (!owner) return "catalog failure";
    EXPECT_EQ(owner->row.has_value(), !owner->identifier.empty()) << path;
    return owner->row ? owner->identifier : "unknown: " + owner->unread;
  }

  std::string imported;
  std::unique_ptr<CatalogWriter> catalog;
};

TEST_F(CatalogPaths, CopiesByTheirRecordedPathOtherFilesByContent) {
  struct Case {
    std::string path;
    std::string expected;
  };
  const std::vector<Case> cases{
      {pictures("a.png"), a},
      {pictures("2022/Lisbon/b.png"), b},
      {pictures("2022/Lisbon/a-copy.png"), a},
      {pictures("./2022//Lisbon/../Lisbon/b.png"), b},
      {pictures("skip/../a.png"), a},
      {pictures("linked-folder/Lisbon/b.png"), b},  // a link to a folder of the source
      {home.work("pictures-link") + "/2022/Lisbon/b.png", b},
      {pictures("link.png"), "unknown: a symbolic link, not followed"},  // the sync skips it too
      {home.work("link-elsewhere.png"), "unknown: a symbolic link, not followed"},
      {home.work("dangling.png"), "unknown: a symbolic link, not followed"},
      {home.work("src/imported.png"), imported},
      {home.work("a-elsewhere.png"), a},
      {home.work("unknown.png"), "unknown: "},
      {home.work("src"), "unknown: a folder, not a file"},
      {home.work("pipe.png"), "unknown: not a regular file"},
      {home.work("missing.png"), "unknown: No such file or directory"},
  };
  for (const Case& c : cases) EXPECT_EQ(lookUp(c.path), c.expected) << c.path;
}

TEST_F(CatalogPaths, RelativePathsAreTakenFromTheWorkingDirectory) {
  WorkingDirectory in(pictures("2022/Lisbon"));
  for (const auto& [path, expected] : std::vector<std::pair<std::string, std::string>>{
           {"b.png", b}, {"./b.png", b}, {"../../a.png", a}, {"../Lisbon/a-copy.png", a}, {"nothing.png", ""}}) {
    const std::string found = lookUp(path);
    EXPECT_EQ(found.starts_with("unknown: ") ? "" : found, expected) << path;
  }
}

TEST_F(CatalogPaths, AnEditedCopyIsKnownByItsPathNotByItsContent) {
  ASSERT_TRUE(testing::writeFileBytes(home.work("b-now.png"), *testing::readFileBytes(pictures("2022/Lisbon/b.png"))));
  EXPECT_EQ(lookUp(home.work("b-now.png")), "unknown: ");
}

TEST_F(CatalogPaths, ACopyRecordedButGoneSinceIsStillItsAsset) {
  fs::remove(pictures("2022/Lisbon/b.png"));
  EXPECT_EQ(lookUp(pictures("2022/Lisbon/b.png")), b) << "the catalog knows it until the next sync";
}

TEST_F(CatalogPaths, AFifoWithoutWriterIsRefusedWithoutWaiting) {
  auto looked = std::async(std::launch::async, [&] { return catalog->assetOfPath(home.work("pipe.png")); });
  ASSERT_EQ(looked.wait_for(std::chrono::seconds(20)), std::future_status::ready) << "waited on the FIFO";
  const auto owner = looked.get();
  ASSERT_TRUE(owner) << owner.message();
  EXPECT_FALSE(owner->row);
}

}  // namespace
}  // namespace tolvek
