// Export's own rule for what becomes a JPEG agrees with the format table's
// column, for every format's type identifier and copy name.
#include <gtest/gtest.h>

#include <string>

#include "commands/export_naming.h"
#include "library/media_formats.h"

namespace tolvek {
namespace {

TEST(MediaFormatsOnExport, ConversionRuleMatchesTheTable) {
  for (const MediaFormat& format : kMediaFormats) {
    const std::string type(format.typeIdentifier);
    const std::string name = "IMG_0001" + std::string(format.extension);
    EXPECT_EQ(needsJpegConversion(type, "IMG_0001"), format.convertedOnExport) << type;
    EXPECT_EQ(needsJpegConversion(std::nullopt, name), format.convertedOnExport) << name;
  }
}

}  // namespace
}  // namespace tolvek
