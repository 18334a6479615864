// Nothing of libvips, libheif, GLib or FFmpeg reaches standard error, even on
// damaged input. A child process does the work so its stderr can be checked.
#include <gtest/gtest.h>

#include <cstdlib>

#include "media_test_module.h"
#include "support/media_fixtures.h"
#include "support/process_runner.h"

namespace tolvek::testing {
namespace {

TEST(QuietChild, DISABLED_DamagedInputEverywhere) {
  const char* folderPath = std::getenv("TOLVEK_QUIET_DIR");
  ASSERT_NE(folderPath, nullptr);
  const std::string folder = folderPath;
  MediaModule& module = mediaModule();
  for (const char* name : {"cut.jpg", "scrambled.jpg", "cut.heic", "huge.png", "cut.mp4", "text.mov"}) {
    const std::string path = folder + "/" + name;
    module.probe(path);
    module.renderFile(path, 0, MediaType::image, {240, 240});
    module.renderFile(path, 0, MediaType::video, {240, 240});
    module.makeDerivatives(path, MediaType::image, path + ".d");
    if (const auto bytes = readFileBytes(path)) {
      if (const auto picture = module.pictureDecoder().decode(*bytes)) {
        if (const auto bitmap = picture->bitmap()) bitmap->jpegRepresentation(0.8, JpegMetadata::none);
      }
    }
  }
}

TEST(QuietOutput, DamagedInputWritesNothingToStandardError) {
  ScratchFolder folder;
  ASSERT_TRUE(writePicture(folder.file("whole.jpg"), "jpeg", PictureFixture{.width = 600, .height = 400}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.jpg"), folder.file("cut.jpg"), 2500));
  std::string scrambled = readFileBytes(folder.file("whole.jpg")).value_or("");
  for (std::size_t i = scrambled.size() / 3; i + 2 < scrambled.size(); i += 11) scrambled[i] = '\xFF';
  ASSERT_TRUE(writeFileBytes(folder.file("scrambled.jpg"), scrambled));
  ASSERT_TRUE(writePicture(folder.file("whole.heic"), "heic", PictureFixture{.width = 600, .height = 400}));
  ASSERT_TRUE(writeTruncatedCopy(folder.file("whole.heic"), folder.file("cut.heic"), 1500));
  ASSERT_TRUE(writePngHeaderOnly(folder.file("huge.png"), 100000, 100000));
  ASSERT_TRUE(writeFileBytes(folder.file("text.mov"), "not a movie"));
  if (haveFfmpeg()) {
    ASSERT_TRUE(writeVideo(folder.file("whole.mp4"), VideoFixture{.width = 320, .height = 240, .seconds = 2}));
    std::string video = readFileBytes(folder.file("whole.mp4")).value_or("");
    for (std::size_t i = video.size() / 4; i < video.size(); i += 97) video[i] = static_cast<char>(~video[i]);
    ASSERT_TRUE(writeFileBytes(folder.file("cut.mp4"), video));
  }
  RunOptions options;
  options.environment = {{"TOLVEK_QUIET_DIR", folder.path()}};
  const ProcessResult child = runThisTestBinary("QuietChild.*", options);
  ASSERT_TRUE(child.exited());
  EXPECT_EQ(child.exitStatus, 0) << child.out;
  EXPECT_EQ(child.err, "");
}

}  // namespace
}  // namespace tolvek::testing
