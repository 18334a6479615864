// The sync's pieces that hold logic of their own: the ordered worker pool
// and the lookup of a photo manager's files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <future>

#include "platform/sources/manager_file_stat.h"
#include "platform/sources/ordered_pool.h"
#include "support/media_fixtures.h"

namespace tolvek {
namespace {

TEST(OrderedPool, GivesEveryResultInOrderAndWaitsForOneNotReady) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  OrderedPool<std::size_t> pool(100, [&](std::size_t i) {
    if (i == 0) released.wait();
    return i * i;
  });
  const auto soon = std::chrono::steady_clock::now() + std::chrono::milliseconds(20);
  EXPECT_FALSE(pool.readyBy(0, soon)) << "the first item is still being worked on";
  release.set_value();
  for (std::size_t i = 0; i < 100; ++i) ASSERT_EQ(pool.take(i), i * i);
}

TEST(ManagerFiles, RelativePathsAreCleanOrNone) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/a/b.jpg", "a/b.jpg"}, {"/a//b.jpg", "a/b.jpg"}, {"/b.jpg", "b.jpg"}, {"/a/", "a"},
      {"a/b.jpg", ""},         {"/a/./b.jpg", ""},       {"/a/../b.jpg", ""}, {"/", ""},
      {std::string("/a\0b", 4), ""}};
  for (const auto& [given, expected] : cases) EXPECT_EQ(managerRelativePath(given), expected) << given;
}

TEST(ManagerFiles, OnlyRegularFilesThatAreNoLinksAreFound) {
  testing::ScratchFolder scratch;
  std::ofstream(scratch.file("a.jpg")) << "12345";
  std::ofstream(scratch.file("b.jpg")) << "1";
  ASSERT_EQ(::symlink(scratch.file("a.jpg").c_str(), scratch.file("link.jpg").c_str()), 0);
  const std::vector<ManagerAsset> assets = {{scratch.file("a.jpg"), std::nullopt},
                                            {scratch.file("missing.jpg"), std::nullopt},
                                            {scratch.file("link.jpg"), std::nullopt},
                                            {scratch.path(), std::nullopt},
                                            {scratch.path() + "/gone/c.jpg", std::nullopt},
                                            {scratch.file("b.jpg"), std::nullopt}};
  const std::vector<std::optional<WalkedFile>> found = statManagerFiles(assets);
  ASSERT_EQ(found.size(), assets.size());
  ASSERT_TRUE(found[0]);
  EXPECT_EQ(found[0]->path, managerRelativePath(scratch.file("a.jpg")));
  EXPECT_EQ(found[0]->size, 5u);
  for (const std::size_t none : {1, 2, 3, 4}) EXPECT_FALSE(found[none]) << assets[none].path;
  ASSERT_TRUE(found[5]) << "found after a folder that could not be opened";
  EXPECT_EQ(found[5]->size, 1u);
}

}  // namespace
}  // namespace tolvek
