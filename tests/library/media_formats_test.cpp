// The table of media formats: each row's sniffer knows its own first bytes,
// no earlier row takes them, and the loader check follows the rows.
#include "library/media_formats.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace tolvek {
namespace {

std::string ftyp(const std::string& major, const std::string& compatible) {
  const std::string size(1, static_cast<char>(16 + compatible.size()));
  return std::string(3, '\0') + size + "ftyp" + major + std::string(4, '\0') + compatible;
}

struct SniffCase {
  std::string head;
  const char* typeIdentifier;  // null: no row
};

class SniffedFormats : public ::testing::TestWithParam<SniffCase> {};

TEST_P(SniffedFormats, FirstMatchingRowDecides) {
  const MediaFormat* format = sniffMediaFormat(GetParam().head);
  if (GetParam().typeIdentifier == nullptr) {
    EXPECT_EQ(format, nullptr) << format->typeIdentifier;
  } else {
    ASSERT_NE(format, nullptr);
    EXPECT_EQ(format->typeIdentifier, GetParam().typeIdentifier);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Heads, SniffedFormats,
    ::testing::Values(SniffCase{"\xFF\xD8\xFF\xE0 rest", "public.jpeg"}, SniffCase{"\xFF\xD8", nullptr},
                      SniffCase{"\x89PNG\r\n\x1A\n....", "public.png"}, SniffCase{"\x89PNG\r\n", nullptr},
                      SniffCase{"GIF87a...", "com.compuserve.gif"}, SniffCase{"GIF89a...", "com.compuserve.gif"},
                      SniffCase{"GIF88a...", nullptr}, SniffCase{std::string("II*\0....", 8), "public.tiff"},
                      SniffCase{std::string("MM\0*....", 8), "public.tiff"},
                      SniffCase{std::string("II\0*....", 8), nullptr},
                      SniffCase{std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "org.webmproject.webp"},
                      SniffCase{std::string("RIFF\x10\0\0\0WAVEfmt ", 16), nullptr},
                      SniffCase{std::string("RIFF\x10\0\0\0WEB", 11), nullptr},
                      SniffCase{ftyp("heic", ""), "public.heic"}, SniffCase{ftyp("mif1", "avif"), "public.avif"},
                      SniffCase{ftyp("mif1", "mif1"), "public.heif"},
                      SniffCase{ftyp("qt  ", ""), "com.apple.quicktime-movie"},
                      SniffCase{ftyp("M4VH", ""), "com.apple.m4v-video"},
                      SniffCase{ftyp("M4B ", ""), "com.apple.m4a-audio"},
                      SniffCase{ftyp("isom", "heic"), "public.mpeg-4"},
                      SniffCase{ftyp("isom", "").substr(0, 15), nullptr}, SniffCase{"ID3\x04 mp3", nullptr},
                      SniffCase{"", nullptr}));

TEST(MediaFormats, RowsAreOneEachAndFoundByTheirType) {
  std::set<std::string_view> types, extensions;
  for (const MediaFormat& format : kMediaFormats) {
    EXPECT_TRUE(types.insert(format.typeIdentifier).second) << format.typeIdentifier;
    EXPECT_TRUE(extensions.insert(format.extension).second) << format.extension;
    EXPECT_TRUE(format.extension.starts_with('.')) << format.typeIdentifier;
    EXPECT_EQ(mediaFormatOfType(format.typeIdentifier), &format);
    // Pictures are decoded by libvips and recognised by their bytes.
    EXPECT_EQ(format.family == FormatFamily::picture, !format.loaders[0].empty()) << format.typeIdentifier;
    EXPECT_EQ(format.family != FormatFamily::other, format.sniff != nullptr) << format.typeIdentifier;
  }
  EXPECT_EQ(mediaFormatOfType("public.unknown"), nullptr);
}

TEST(MediaFormats, OnlyThePictureRowsLoadersCount) {
  for (const char* accepted : {"VipsForeignLoadJpegFile", "jpegload_buffer", "VipsForeignLoadHeifSource",
                               "VipsForeignLoadNsgifFile", "pngload", "webpload_source", "tiffload"}) {
    EXPECT_TRUE(isPictureLoaderName(accepted)) << accepted;
  }
  for (const char* refused : {"VipsForeignLoadMagick", "magickload", "pdfload", "svgload", "matrixload", "", "jpeg"}) {
    EXPECT_FALSE(isPictureLoaderName(refused)) << refused;
  }
}

}  // namespace
}  // namespace tolvek
