// The catalog's identifiers: name-based ones stay what every earlier version
// computed (collections are found again by them), random ones are RFC 4122
// version 4 UUIDs in upper case.
#include "platform/catalog/catalog_identifiers.h"

#include <gtest/gtest.h>

#include <regex>
#include <set>

namespace tolvek::testing {
namespace {

TEST(CatalogIdentifiers, NameBasedOnesKeepTheirKnownValues) {
  EXPECT_EQ(folderCollectionIdentifier("/photos"), "CC6DB37C-3E37-5F10-A0FF-15956273A5E1/L0/040");
  EXPECT_EQ(folderCollectionIdentifier("caf\xC3\xA9"), "425A4CD6-02FF-5F3B-B099-4188AB4F3C8D/L0/040");
  EXPECT_EQ(sourceCollectionIdentifier("/home/u/.local/share/shotwell/data/photo.db", "tag:12"),
            "821089F3-F26D-5B70-B73D-6DE920555080/L0/040");
}

TEST(CatalogIdentifiers, RandomOnesAreVersion4UuidsAndDiffer) {
  const std::regex assetForm("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}/L0/001");
  const std::regex collectionForm("[0-9A-F]{8}-[0-9A-F]{4}-4[0-9A-F]{3}-[89AB][0-9A-F]{3}-[0-9A-F]{12}/L0/040");
  std::set<std::string> seen;
  for (int i = 0; i < 200; ++i) {
    const std::string asset = newAssetIdentifier();
    EXPECT_TRUE(std::regex_match(asset, assetForm)) << asset;
    EXPECT_TRUE(std::regex_match(newCollectionIdentifier(), collectionForm));
    seen.insert(asset.substr(0, 36));
  }
  EXPECT_EQ(seen.size(), 200u);
}

}  // namespace
}  // namespace tolvek::testing
