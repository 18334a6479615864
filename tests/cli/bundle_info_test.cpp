#include "bundle/bundle_info.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace tolvek {
namespace {

const char* const kUsageDescription =
    "Tolvek shows your Photos library in its file picker and imports only the pictures and videos you choose.";

std::vector<std::string> keysInOrder(const std::string& plist) {
  static const std::regex key("<key>([^<]*)</key>");
  std::vector<std::string> keys;
  for (auto it = std::sregex_iterator(plist.begin(), plist.end(), key); it != std::sregex_iterator(); ++it) {
    keys.push_back((*it)[1]);
  }
  return keys;
}

void expectShippedValues(const BundleInfo& info) {
  EXPECT_EQ(info.identifier, "app.tolvek.photos-helper");
  EXPECT_EQ(info.name, "tolvek-photos");
  EXPECT_EQ(info.version, "1");
  EXPECT_EQ(info.usageDescription, kUsageDescription);
}

// The four keys in order, read back as the shipped values.
void expectShippedPropertyList(const std::string& plist) {
  EXPECT_EQ(keysInOrder(plist), (std::vector<std::string>{"CFBundleIdentifier", "CFBundleName", "CFBundleVersion",
                                                          "NSPhotoLibraryUsageDescription"}));
  const std::optional<BundleInfo> info = parseBundleInfo(plist);
  ASSERT_TRUE(info.has_value());
  expectShippedValues(*info);
}

TEST(BundleInfo, ResourceIsAnXmlPropertyListWithTheFourKeysInOrder) {
  const std::string plist = testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or("");
  ASSERT_FALSE(plist.empty());
  EXPECT_EQ(plist.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
  EXPECT_NE(plist.find("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"),
            std::string::npos);
  expectShippedPropertyList(plist);
}

TEST(BundleInfo, ThisExecutableCarriesTheResourceAndReadsItBack) {
  EXPECT_EQ(embeddedInfoPlist(), testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or(""));
  expectShippedValues(embeddedBundleInfo());
}

TEST(BundleInfo, ObjcopyExtractsThePropertyListFromTheHelper) {
  const std::string out = ::testing::TempDir() + "/tolvek-extracted.plist";
  const testing::ProcessResult objcopy =
      testing::runProcess("/usr/bin/objcopy", {"-O", "binary", "--only-section=" + std::string(kInfoPlistSection),
                                               TOLVEK_BIN_DIR "/tolvek-photos", out});
  ASSERT_TRUE(objcopy.exited()) << objcopy.err;
  ASSERT_EQ(objcopy.exitStatus, 0) << objcopy.err;
  const std::string plist = testing::readFileBytes(out).value_or("");
  std::remove(out.c_str());
  EXPECT_EQ(plist, testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or(""));
  expectShippedPropertyList(plist);
}

TEST(BundleInfo, ParserReadsOnlyStringValuesOfTheTopLevelDictionary) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict>\n"
      "<!-- a comment -->\n"
      "<key>Nested</key><dict><key>CFBundleName</key><string>inner</string></dict>\n"
      "<key>CFBundleVersion</key><integer>7</integer>\n"
      "<key>CFBundleName</key><string>R&amp;D &lt;x&gt; caf\xC3\xA9</string>\n"
      "<key>Other</key><string>ignored</string>\n"
      "<key>NSPhotoLibraryUsageDescription</key><string></string>\n"
      "</dict></plist>\n";
  const std::optional<BundleInfo> info = parseBundleInfo(plist);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->name, "R&D <x> caf\xC3\xA9");
  EXPECT_EQ(info->version, "");
  EXPECT_EQ(info->identifier, "");
  EXPECT_EQ(info->usageDescription, "");
}

TEST(BundleInfo, ParserRejectsTextThatIsNoPropertyList) {
  const std::vector<std::string> broken = {
      "",
      "not xml",
      "<plist><dict><key>CFBundleName</key><string>x</string></dict>",  // unclosed
      "<plist><array><string>x</string></array></plist>",               // no dictionary
      "<dict><key>CFBundleName</key><string>x</string></dict>",         // not inside plist
  };
  for (const std::string& text : broken) EXPECT_FALSE(parseBundleInfo(text).has_value()) << text;
}

}  // namespace
}  // namespace tolvek
