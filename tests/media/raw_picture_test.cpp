// Camera RAW files: recognised by content (never as video), probed as
// pictures, rendered from the largest embedded preview that covers a
// request (else developed at half size), upright by the RAW's own
// orientation, and refused when they declare more than the memory cap.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "library/media_formats.h"
#include "media_test_module.h"
#include "platform/media/content_kind.h"
#include "support/media_fixtures.h"
#include "support/raw_fixtures.h"

namespace tolvek::testing {
namespace {

std::string le16(unsigned v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string le32(unsigned v) { return le16(v & 0xFFFF) + le16(v >> 16); }

// A TIFF head whose IFD0 (at 8) holds Make, Model and optionally DNGVersion.
std::string tiffHead(std::string_view make, std::string_view model = "X", bool dngVersion = false) {
  const unsigned entries = dngVersion ? 3 : 2;
  const unsigned values = 8 + 2 + 12 * entries + 4;
  std::string head = std::string("II*\0", 4) + le32(8) + le16(entries);
  head += le16(0x10F) + le16(2) + le32(static_cast<unsigned>(make.size()) + 1) + le32(values);
  head += le16(0x110) + le16(2) + le32(static_cast<unsigned>(model.size()) + 1) +
          le32(values + static_cast<unsigned>(make.size()) + 1);
  if (dngVersion) head += le16(0xC612) + le16(1) + le32(4) + std::string("\1\4\0\0", 4);
  head += le32(0) + std::string(make) + '\0' + std::string(model) + '\0';
  return head + std::string(64, '\0');
}

std::string padded(std::string head) { return head + std::string(64, '\0'); }

TEST(RawSniffing, EachFamilyByContentAndNeverVideo) {
  const struct {
    std::string head;
    std::string_view type;
  } cases[] = {
      {padded(std::string("II*\0\x10\0\0\0CR\2\0", 12)), "com.canon.cr2-raw-image"},
      {padded(std::string("\0\0\0\x18" "ftypcrx \0\0\0\1crx isom", 24)), "com.canon.cr3-raw-image"},
      {padded(std::string("II\x1a\0\0\0HEAPCCDR", 14)), "com.canon.crw-raw-image"},
      {padded("FUJIFILMCCD-RAW 0201"), "com.fuji.raw-image"},
      {padded("IIRO\x08\0\0\0"), "com.olympus.raw-image"},
      {padded("IIRS\x08\0\0\0"), "com.olympus.raw-image"},
      {padded(std::string("MMOR\0\0\0\x08", 8)), "com.olympus.raw-image"},
      {padded(std::string("IIU\0\x08\0\0\0", 8)), "com.panasonic.rw2-raw-image"},
      {padded(std::string("\0MRM\0\0\0\0", 8)), "com.minolta.raw-image"},
      {padded("FOVb"), "com.sigma.raw-image"},
      {padded("IIII\1\0\0\0"), "com.phaseone.raw-image"},
      {tiffHead("Tolvek", "X", true), "com.adobe.raw-image"},
      {tiffHead("NIKON CORPORATION", "NIKON D850"), "com.nikon.raw-image"},
      {tiffHead("NIKON", "COOLPIX P7800"), "com.nikon.nrw-raw-image"},
      {tiffHead("SONY", "ILCE-7M3"), "com.sony.arw-raw-image"},
      {tiffHead("PENTAX Corporation", "PENTAX K-5"), "com.pentax.raw-image"},
      {tiffHead("RICOH IMAGING COMPANY, LTD.", "PENTAX K-1"), "com.pentax.raw-image"},
      {tiffHead("SAMSUNG", "NX300"), "com.samsung.raw-image"},
      {tiffHead("Hasselblad", "H6D"), "com.hasselblad.3fr-raw-image"},
      {tiffHead("SEIKO EPSON CORP.", "R-D1"), "com.epson.raw-image"},
      {tiffHead("KODAK", "DCS Pro"), "com.kodak.raw-image"},
      {tiffHead("Mamiya", "ZD"), "com.mamiya.raw-image"},
      {tiffHead("Leaf", "Aptus 75"), "com.leafamerica.raw-image"},
      // Plain TIFFs stay TIFF: a scanner's maker, no maker, IFD0 beyond the head.
      {tiffHead("Nikon", "Nikon SUPER COOLSCAN 5000 ED"), "public.tiff"},
      {tiffHead("EPSON", "Perfection V600"), "public.tiff"},
      {padded(std::string("II*\0\x08\0\0\0\0\0", 10)), "public.tiff"},
      {padded(std::string("II*\0\0\0\1\0", 8)), "public.tiff"},
  };
  for (const auto& c : cases) {
    const MediaFormat* format = sniffMediaFormat(c.head);
    ASSERT_NE(format, nullptr) << c.type;
    EXPECT_EQ(format->typeIdentifier, c.type);
    const bool raw = c.type != "public.tiff";
    EXPECT_EQ(format->family == FormatFamily::cameraRaw, raw) << c.type;
    EXPECT_EQ(media::sniffContent(c.head).kind, raw ? media::Sniffed::cameraRaw : media::Sniffed::picture) << c.type;
    EXPECT_FALSE(format->convertedOnExport) << c.type;
  }
  // A head cut inside IFD0 or its strings is read no further than it goes.
  const std::string nikon = tiffHead("NIKON CORPORATION");
  for (std::size_t cut = 0; cut < nikon.size(); ++cut) (void)sniffMediaFormat(std::string_view(nikon).substr(0, cut));
}

struct Layout {
  RawLayout layout;
  std::string_view name;
  std::string_view type;
};
constexpr Layout kLayouts[] = {
    {RawLayout::previewInSubIfd, "nikon.nef", "com.nikon.raw-image"},
    {RawLayout::previewInIfd1, "sony.arw", "com.sony.arw-raw-image"},
    {RawLayout::previewInIfd0, "pentax.pef", "com.pentax.raw-image"},
    {RawLayout::dng, "camera.dng", "com.adobe.raw-image"},
};

TEST(RawPicture, EveryLayoutIsAPictureThumbnailedFromItsLargestPreview) {
  ScratchFolder folder;
  for (const Layout& l : kLayouts) {
    const std::string path = folder.file(l.name);
    // The sensor is flat grey: the marker can come from the 1800-pixel preview only.
    ASSERT_TRUE(writeRaw(path, {.layout = l.layout, .sensorWidth = 600, .sensorHeight = 400, .markerInSensor = false}));
    const auto probe = mediaModule().probe(path);
    ASSERT_TRUE(probe.has_value()) << l.name;
    EXPECT_EQ(probe->mediaType, MediaType::image) << l.name;
    EXPECT_EQ(probe->uniformTypeIdentifier, l.type) << l.name;
    const auto picture = mediaModule().renderFile(path, 0, MediaType::image, {240, 240}, std::nullopt);
    ASSERT_NE(picture, nullptr) << l.name;
    EXPECT_EQ(picture->size(), (PixelSize{360, 240})) << l.name;
    EXPECT_TRUE(showsUprightMarker(jpegOf(*picture))) << l.name;
  }
}

TEST(RawPicture, UprightByTheRawsOwnOrientation) {
  ScratchFolder folder;
  for (const int orientation : {3, 6, 8}) {
    for (const bool preview : {true, false}) {
      const std::string path = folder.file("turned-" + std::to_string(orientation) + (preview ? "p" : "d") + ".arw");
      // Upright 400x600 (portrait) once turned.
      // Sony-like: no small bitmap in IFD0 to stand in for the development.
      ASSERT_TRUE(writeRaw(path, {.layout = RawLayout::previewInIfd1, .previewWidth = preview ? 800 : 0, .previewHeight = preview ? 1200 : 0,
                                  .sensorWidth = 400, .sensorHeight = 600, .orientation = orientation,
                                  .markerInSensor = !preview}));
      const auto picture = mediaModule().renderFile(path, 0, MediaType::image, {120, 120}, std::nullopt);
      ASSERT_NE(picture, nullptr) << path;
      EXPECT_EQ(picture->size(), (PixelSize{120, 180})) << path;
      EXPECT_EQ(markerColoursIn(jpegOf(*picture)), uprightMarkerColours()) << path;
    }
  }
}

TEST(RawPicture, WithoutACoveringPreviewItDevelopsAtHalfSize) {
  ScratchFolder folder;
  const std::string bare = folder.file("bare.dng"), small = folder.file("small.dng");
  ASSERT_TRUE(writeRaw(bare, {.layout = RawLayout::dng, .previewWidth = 0, .sensorWidth = 600, .sensorHeight = 400}));
  ASSERT_TRUE(writeRaw(small, {.layout = RawLayout::dng, .previewWidth = 120, .previewHeight = 80,
                               .sensorWidth = 600, .sensorHeight = 400}));
  for (const std::string& path : {bare, small}) {
    ASSERT_TRUE(mediaModule().probe(path).has_value()) << path;
    const auto picture = mediaModule().renderFile(path, 0, MediaType::image, {240, 240}, std::nullopt);
    ASSERT_NE(picture, nullptr) << path;
    // Half size is 300x200: the request is answered as the development allows.
    EXPECT_EQ(picture->size(), (PixelSize{300, 200})) << path;
    EXPECT_EQ(markerColoursIn(jpegOf(*picture)), uprightMarkerColours()) << path;
  }
  // A 64-pixel request is covered by the 120-pixel preview: it is used.
  const auto thumb = mediaModule().renderFile(small, 0, MediaType::image, {64, 64}, std::nullopt);
  ASSERT_NE(thumb, nullptr);
  EXPECT_EQ(thumb->size(), (PixelSize{96, 64}));
}

TEST(RawPicture, HostileSensorSizesAndDamageAreRefused) {
  ScratchFolder folder;
  const std::string huge = folder.file("huge.nef"), cut = folder.file("cut.dng"), whole = folder.file("whole.dng");
  // No preview at all (the Sony-like layout has no bitmap in IFD0).
  ASSERT_TRUE(writeRaw(huge, {.layout = RawLayout::previewInIfd1, .previewWidth = 0,
                              .declaredSensor = std::pair{60000, 60000}}));
  ASSERT_TRUE(writeRaw(whole, {.layout = RawLayout::dng, .previewWidth = 0}));
  ASSERT_TRUE(writeTruncatedCopy(whole, cut, 600));
  for (const std::string& path : {huge, cut}) {
    EXPECT_FALSE(mediaModule().probe(path).has_value()) << path;
    EXPECT_EQ(mediaModule().renderFile(path, 0, MediaType::image, {240, 240}, std::nullopt), nullptr) << path;
  }
  // The same file read only up to a recorded size it no longer has.
  EXPECT_EQ(mediaModule().renderFile(whole, 1 << 30, MediaType::image, {240, 240}, std::nullopt), nullptr);
}

TEST(RawPicture, DerivativesComeFromThePreview) {
  ScratchFolder folder;
  const std::string path = folder.file("d.nef");
  ASSERT_TRUE(writeRaw(path, {.sensorWidth = 3000, .sensorHeight = 2000, .markerInSensor = false}));
  const auto made = mediaModule().makeDerivatives(path, MediaType::image, folder.file("asset"));
  ASSERT_EQ(made.size(), 2u);
  EXPECT_EQ(made[0].width, 360);
  EXPECT_EQ(made[1].width, 768);
  EXPECT_EQ(made[1].originalSize, (PixelSize{3000, 2000}));
  EXPECT_TRUE(showsUprightMarker(readFileBytes(made[1].path).value_or("")));
}

}  // namespace
}  // namespace tolvek::testing
