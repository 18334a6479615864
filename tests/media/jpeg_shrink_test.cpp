// A JPEG's large derivative decoded at the smallest DCT scale that still
// covers it: the scale chosen (libjpeg rounds the scaled sides up), and
// pixels of exactly the size, orientation and look that rendering the file
// gives, for every orientation; anything else is left to the renderer.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "library/cover_size.h"
#include "media_test_module.h"
#include "platform/media/file_render.h"
#include "platform/media/jpeg_shrink.h"
#include "platform/media/vips_picture.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

using media::jpegShrinkFor;

TEST(JpegShrink, LargestScaleThatStillCoversBothSides) {
  const struct {
    PixelSize stored, cover;
    int shrink;
  } cases[] = {
      {{4000, 3000}, {683, 512}, 4},   // a 12-megapixel photo: 1000x750, not 500x375
      {{3000, 4000}, {512, 683}, 4},   // the same turned
      {{4032, 3024}, {683, 512}, 4},   // 1008x756
      {{8192, 4096}, {1024, 512}, 8},  // exactly 1/8
      {{8191, 4089}, {1024, 512}, 8},  // 1024x512 only as libjpeg rounds up
      {{8184, 4088}, {1024, 512}, 4},  // 1023x511 at 1/8
      {{1400, 1100}, {652, 512}, 2},   // 700x550
      {{1000, 800}, {640, 512}, 1},    // 500x400 at 1/2 is too small
      {{600, 450}, {600, 450}, 1},     // nothing to shrink
  };
  for (const auto& c : cases) {
    EXPECT_EQ(jpegShrinkFor(c.stored, c.cover), c.shrink)
        << c.stored.width << "x" << c.stored.height << " for " << c.cover.width << "x" << c.cover.height;
  }
}

// The mean absolute difference of two pictures of one size, per sample.
double meanDifference(VipsImage* a, VipsImage* b) {
  VipsImage* difference = nullptr;
  VipsImage* magnitude = nullptr;
  double mean = 255;
  if (vips_subtract(a, b, &difference, nullptr) == 0 && vips_abs(difference, &magnitude, nullptr) == 0)
    vips_avg(magnitude, &mean, nullptr);
  if (magnitude) g_object_unref(magnitude);
  if (difference) g_object_unref(difference);
  return mean;
}

TEST(JpegShrink, SameSizeOrientationAndLookAsTheRenderer) {
  mediaModule();  // starts libvips
  ScratchFolder folder;
  const PixelSize large{512, 512};
  for (const int orientation : {1, 2, 3, 4, 5, 6, 7, 8}) {
    const std::string path = folder.file("o" + std::to_string(orientation) + ".jpg");
    const PictureFixture picture{.width = 4000, .height = 3000, .orientation = orientation, .withIccProfile = true};
    ASSERT_TRUE(writePicture(path, "jpeg", picture));
    auto file = ReadableFile::open(path);
    ASSERT_TRUE(file);
    const media::RenderedFile shrunk = media::shrunkJpeg(*file, large);
    const media::RenderedFile rendered = media::renderFileToPixels(path, 0, MediaType::image, large);
    ASSERT_TRUE(shrunk.pixels && rendered.pixels) << "orientation " << orientation;
    EXPECT_EQ(shrunk.upright, (PixelSize{4000, 3000})) << "orientation " << orientation;
    EXPECT_EQ((PixelSize{shrunk.pixels->Xsize, shrunk.pixels->Ysize}), (PixelSize{683, 512}));
    EXPECT_EQ(shrunk.pixels->Bands, rendered.pixels->Bands);
    EXPECT_EQ(vips_image_get_typeof(shrunk.pixels.get(), VIPS_META_ICC_NAME) != 0,
              vips_image_get_typeof(rendered.pixels.get(), VIPS_META_ICC_NAME) != 0)
        << "the profile travels to the encoder";
    EXPECT_LT(meanDifference(shrunk.pixels.get(), rendered.pixels.get()), 2.0) << "orientation " << orientation;
    const std::string jpeg = media::encodeJpeg(shrunk.pixels.get(), 0.9, JpegMetadata::none).value_or("");
    EXPECT_EQ(markerColourIn(jpeg, Quadrant::topLeft), MarkerColour::red) << "orientation " << orientation;
    EXPECT_EQ(markerColourIn(jpeg, Quadrant::bottomRight), MarkerColour::white) << "orientation " << orientation;
  }
}

TEST(JpegShrink, LeavesWhatNeedsNoShrinkingOrIsNoJpegToTheRenderer) {
  mediaModule();
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("small.jpg"), "jpeg", {.width = 600, .height = 450}));
  ASSERT_TRUE(writePicture(folder.file("big.png"), "png", {.width = 2000, .height = 1500}));
  ASSERT_TRUE(writeFileBytes(folder.file("empty.jpg"), ""));
  ASSERT_TRUE(writeFileBytes(folder.file("not.jpg"), "\xFF\xD8\xFF but nothing more"));
  for (const char* name : {"small.jpg", "big.png", "empty.jpg", "not.jpg"}) {
    auto file = ReadableFile::open(folder.file(name));
    ASSERT_TRUE(file) << name;
    EXPECT_EQ(media::shrunkJpeg(*file, {512, 512}).pixels, nullptr) << name;
  }
}

// A photo damaged after its header shows what decodes, as the renderer
// shows it: at the same size.
TEST(JpegShrink, DamagedPhotoRendersAsTheRendererRendersIt) {
  mediaModule();
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("big.jpg"), "jpeg", {.width = 2000, .height = 1500}));
  const std::string bytes = readFileBytes(folder.file("big.jpg")).value_or("");
  const std::size_t scan = jpegScanDataOffset(bytes).value_or(0);
  ASSERT_GT(scan, 0u);
  ASSERT_TRUE(writeFileBytes(folder.file("header-only.jpg"), bytes.substr(0, scan)));
  ASSERT_TRUE(writeFileBytes(folder.file("cut.jpg"), bytes.substr(0, bytes.size() * 2 / 3)));
  for (const char* name : {"big.jpg", "header-only.jpg", "cut.jpg"}) {
    auto file = ReadableFile::open(folder.file(name));
    ASSERT_TRUE(file) << name;
    const media::RenderedFile shrunk = media::shrunkJpeg(*file, {512, 512});
    const media::RenderedFile rendered = media::renderFileToPixels(folder.file(name), 0, MediaType::image, {512, 512});
    ASSERT_EQ(shrunk.pixels != nullptr, rendered.pixels != nullptr) << name;
    if (!shrunk.pixels) continue;
    EXPECT_EQ((PixelSize{shrunk.pixels->Xsize, shrunk.pixels->Ysize}), (PixelSize{683, 512})) << name;
    EXPECT_EQ((PixelSize{rendered.pixels->Xsize, rendered.pixels->Ysize}), (PixelSize{683, 512})) << name;
  }
}

}  // namespace
}  // namespace tolvek::testing
