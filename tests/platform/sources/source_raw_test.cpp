// A Pictures folder of camera RAW files: a sync adds every one as a picture
// (none fails), thumbnails come from their previews or a development, and
// export hands over the RAW's own bytes under its own name.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/raw_fixtures.h"
#include "support/source_fixture.h"

namespace tolvek {
namespace {

using testing::Json;
using testing::RawLayout;

class SourceRaw : public testing::SourceFixture {};

TEST_F(SourceRaw, RawFilesArePicturesThumbnailedAndExportedUnchanged) {
  const std::map<std::string, testing::RawFixture> files = {
      {"DSC_0001.NEF", {.layout = RawLayout::previewInSubIfd}},
      {"DSC00002.ARW", {.layout = RawLayout::previewInIfd1, .orientation = 6}},
      {"IMGP0003.PEF", {.layout = RawLayout::previewInIfd0}},
      {"L1000004.DNG", {.layout = RawLayout::dng}},
      {"bare.dng", {.layout = RawLayout::dng, .previewWidth = 0, .sensorWidth = 600, .sensorHeight = 400}},
  };
  for (const auto& [name, raw] : files) ASSERT_TRUE(testing::writeRaw(pictures(name), raw)) << name;
  const auto lines = sync();
  ASSERT_EQ(lines.size(), files.size()) << last.out << last.err;
  for (const auto& line : lines) EXPECT_EQ(line.change, "added") << line.path;
  EXPECT_EQ(last.err.find("cannot be read"), std::string::npos) << last.err;
  home.grantAccess();

  std::map<std::string, std::string> ids;
  const Json list = home.run({"list", "-", "500"});
  for (const Json& item : list["items"]) {
    EXPECT_EQ(item["isVideo"], false) << item.dump();
    ids[item["name"].get<std::string>()] = item["id"].get<std::string>();
  }
  ASSERT_EQ(ids.size(), files.size()) << list.dump();
  for (const auto& [name, id] : ids) {
    const Json thumbs = home.run({"thumbs", "240", id});
    EXPECT_TRUE(thumbs["thumbs"][id].is_string()) << name << thumbs.dump();
    const Json exported = home.run({"export", home.folder("out-" + name), id});
    ASSERT_EQ(exported["files"].size(), 1u) << exported.dump();
    const std::string path = exported["files"][0]["path"].get<std::string>();
    EXPECT_EQ(path.substr(path.rfind('/') + 1), name);
    EXPECT_EQ(testing::readFileBytes(path), testing::readFileBytes(pictures(name))) << name;
  }
}

}  // namespace
}  // namespace tolvek
