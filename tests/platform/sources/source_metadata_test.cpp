// What a sync takes from pictures' metadata: a date from a sidecar or a
// name, which beats the file's modification time, and pictures marked
// rejected, which are left out (and go when they become rejected).
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/source_fixture.h"

namespace tolvek {
namespace {

using testing::Json;
using testing::SyncLine;

class SourceMetadata : public testing::SourceFixture {
 protected:
  std::map<std::string, Json> listedByName() {
    std::map<std::string, Json> byName;
    const Json list = home.run({"list", "-", "500"});
    for (const Json& item : list["items"]) byName[item["name"].get<std::string>()] = item;
    return byName;
  }
  void sidecar(const std::string& name, const std::string& attributes) {
    ASSERT_TRUE(testing::writeFileBytes(pictures(name), testing::xmpPacket(attributes)));
  }
};

TEST_F(SourceMetadata, SidecarAndNameDatesAndRejectedPicturesLeftOut) {
  constexpr std::int64_t kYear2000 = 946684800;
  picture("IMG_20230704_174510.png");
  picture("sidecar.png", 40);
  sidecar("sidecar.png.xmp", "exif:DateTimeOriginal=\"2021-07-14T07:30:00Z\"");
  picture("rejected.png", 48);
  sidecar("rejected.xmp", "xmp:Rating=\"-1\"");
  picture("later.png", 56);
  for (const char* name : {"IMG_20230704_174510.png", "sidecar.png", "later.png"})
    ASSERT_TRUE(testing::setModificationTime(pictures(name), kYear2000));
  EXPECT_EQ(sync().size(), 3u) << last.out;
  // The rejected picture and the two sidecars.
  EXPECT_NE(last.err.find("3 skipped"), std::string::npos) << last.err;
  home.grantAccess();
  auto items = listedByName();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items.count("rejected.png"), 0u);
  // The scratch home's zone is UTC; a name's time is local time there.
  EXPECT_EQ(items["IMG_20230704_174510.png"]["date"], "2023-07-04T17:45:10Z");
  EXPECT_EQ(items["sidecar.png"]["date"], "2021-07-14T07:30:00Z");
  EXPECT_EQ(items["later.png"]["date"], "2000-01-01T00:00:00Z");

  // Marked rejected in the file itself: it goes as a removed file would.
  const std::string later = items["later.png"]["id"];
  ASSERT_TRUE(testing::writePicture(pictures("later.png"), "png",
                                    {.width = 56, .xmp = testing::xmpPacket("xmp:Rating=\"-1\"")}));
  EXPECT_EQ(sync(), (std::vector<SyncLine>{{"removed", later, pictures("later.png")}}));
  EXPECT_EQ(listedByName().count("later.png"), 0u);
}

}  // namespace
}  // namespace tolvek
