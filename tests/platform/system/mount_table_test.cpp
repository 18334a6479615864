#include "platform/system/mount_table.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvek {
namespace {

TEST(MountTable, ParsesFieldsWithTheirEscapesAndSkipsShortLines) {
  const std::vector<Mount> mounts = parseMountTable(
      "22 1 0:21 / / rw - overlay overlay rw\n"
      "garbage\n"
      "31 22 8:1 /a\\040b /media/My\\040Disk rw shared:2 master:1 - ext4 /dev/disk\\134x rw\n"
      "40 22 0:50 / /mnt/odd rw -");
  ASSERT_EQ(mounts.size(), 3u);
  EXPECT_EQ(mounts[1].device, "8:1");
  EXPECT_EQ(mounts[1].root, "/a b");
  EXPECT_EQ(mounts[1].mountPoint, "/media/My Disk");
  EXPECT_EQ(mounts[1].source, "/dev/disk\\x");
  EXPECT_EQ(mounts[2].source, "") << "a line cut short after the separator";
}

TEST(MountTable, MountsWithinAFolderAreThoseAtOrBelowIt) {
  std::vector<Mount> mounts;
  for (const char* point : {"/", "/home/me/Pictures", "/home/me/PicturesOld", "/home/me/Pictures/usb", "/home"}) {
    mounts.push_back({"0:1", "/", point, "none"});
  }
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases{
      {"/home/me/Pictures", {"/home/me/Pictures", "/home/me/Pictures/usb"}},
      {"/home/me/Pictures/usb/2024", {}},
      {"/home/me", {"/home/me/Pictures", "/home/me/PicturesOld", "/home/me/Pictures/usb"}},
      {"/", {"/", "/home/me/Pictures", "/home/me/PicturesOld", "/home/me/Pictures/usb", "/home"}},
  };
  for (const auto& [folder, within] : cases) {
    std::vector<std::string> points;
    for (const Mount& mount : mountsWithin(mounts, folder)) points.push_back(mount.mountPoint);
    EXPECT_EQ(points, within) << folder;
  }
}

TEST(MountTable, ThisProcessHasARootMount) {
  const Result<std::vector<Mount>> mounts = readMountTable();
  ASSERT_TRUE(mounts.ok()) << mounts.message();
  EXPECT_TRUE(std::any_of(mounts->begin(), mounts->end(), [](const Mount& m) { return m.mountPoint == "/"; }));
}

}  // namespace
}  // namespace tolvek
