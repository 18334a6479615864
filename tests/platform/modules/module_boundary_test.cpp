// The modules' C boundary: the front ends the platform calls, over the shims
// the modules export (driven here through a fake module built with the same
// shims, and through the real modules where they can fail on their own). What
// fails or throws inside a module comes back as nothing or as a failed
// Status, never as an exception; values and large buffers cross whole both
// ways; a module that cannot be loaded gives nothing.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "platform/modules/download_entry.h"
#include "platform/modules/jpeg_module.h"
#include "platform/modules/media_module.h"
#include "platform/modules/remote_download.h"
#include "support/media_fixtures.h"

namespace tolvek::testing {
namespace {

constexpr char kFake[] = "libtolvek_fake_modules.so";

class ModuleBoundary : public ::testing::Test {
 protected:
  void SetUp() override {
    media_ = openMediaModule(kFake);
    jpeg_ = openJpegModule(kFake);
    download_ = openDownloadModule(kFake);
    ASSERT_TRUE(media_ && jpeg_ && download_) << kFake << " did not load";
  }
  // The picture's JPEG; "(none)" when it has no bitmap or no JPEG.
  static std::string jpegOf(const Picture& picture, JpegMetadata metadata = JpegMetadata::none) {
    const auto bitmap = picture.bitmap();
    return bitmap ? bitmap->jpegRepresentation(0.8, metadata).value_or("(none)") : "(none)";
  }
  std::unique_ptr<MediaModule> media_;
  std::unique_ptr<JpegModule> jpeg_;
  const TolvekDownloadTable* download_ = nullptr;
};

TEST(ModuleLoading, AModuleThatCannotBeLoadedGivesNothing) {
  // Missing, or another module's file, which lacks the entry asked for.
  for (const std::string file : {"libtolvek_missing.so", "libtolvek_download.so"}) {
    EXPECT_EQ(openMediaModule(file), nullptr) << file;
    EXPECT_EQ(openJpegModule(file), nullptr) << file;
  }
  EXPECT_EQ(openDownloadModule("libtolvek_missing.so"), nullptr);
  EXPECT_EQ(openDownloadModule("libtolvek_jpeg.so"), nullptr);
  const Status unavailable = downloadThrough(nullptr, "http://localhost/", 1, DownloadLimits{});
  EXPECT_EQ(unavailable.message(), "Downloads are not available: the download module could not be loaded");
}

TEST_F(ModuleBoundary, FailuresAndThrowsInsideComeBackAsNothing) {
  for (const std::string input : {"throw", "none"}) {
    EXPECT_EQ(media_->pictureDecoder().decode(input), nullptr) << input;
    EXPECT_EQ(jpeg_->shrink(input, {4, 3}), nullptr) << input;
    EXPECT_FALSE(media_->probe(input, "named")) << input;
  }
  EXPECT_EQ(media_->renderFile("throw", 0, MediaType::image, {1, 1}, std::nullopt), nullptr);
  EXPECT_TRUE(media_->makeDerivatives("throw", MediaType::image, "/prefix").empty());
  // A picture whose bitmap or JPEG fails or throws later.
  const std::vector<std::pair<std::string, std::string>> later = {
      {"throw-bitmap", "(none)"}, {"no-bitmap", "(none)"}, {"throw-jpeg", "(none)"}, {"no-jpeg", "(none)"}};
  for (const auto& [input, expected] : later) {
    const auto picture = media_->pictureDecoder().decode(input);
    ASSERT_TRUE(picture) << input;
    EXPECT_EQ(jpegOf(*picture), expected) << input;
  }
}

TEST_F(ModuleBoundary, LargeBuffersCrossWholeBothWays) {
  std::string large(24 << 20, '\0');
  for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<char>(i * 131 + (i >> 16));
  const auto picture = media_->pictureDecoder().decode(large);
  ASSERT_TRUE(picture);
  EXPECT_EQ(picture->size(), (PixelSize{static_cast<std::int64_t>(large.size()), 7}));
  const auto bitmap = picture->bitmap();
  ASSERT_TRUE(bitmap);
  EXPECT_TRUE(bitmap->jpegRepresentation(0.5, JpegMetadata::none) == large);  // not printed when it fails
  EXPECT_EQ(bitmap->jpegRepresentation(0.5, JpegMetadata::keepCaptureData)->substr(0, 6), "kept:" + large.substr(0, 1));
  // The bitmap outlives its picture; the JPEG module's table too.
  const auto shrunk = jpeg_->shrink(large, {640, 480});
  ASSERT_TRUE(shrunk);
  EXPECT_EQ(shrunk->size(), (PixelSize{640, 480}));
  EXPECT_TRUE(jpegOf(*shrunk) == large);
}

TEST_F(ModuleBoundary, RenderProbeAndDerivativesCrossEveryField) {
  const auto rendered = media_->renderFile("/a b/ü.heic", 1ULL << 40, MediaType::video, {320, 200}, PixelSize{4032, 3024});
  ASSERT_TRUE(rendered);
  EXPECT_EQ(rendered->size(), (PixelSize{320, 200}));
  EXPECT_EQ(jpegOf(*rendered), "/a b/ü.heic|1099511627776|2|4032x3024");
  EXPECT_EQ(jpegOf(*media_->renderFile("/p", 0, MediaType::image, {1, 1}, std::nullopt)), "/p|0|1|-");

  const auto full = media_->probe("/proc/self/fd/9", "/photos/IMG_1.jpg");
  ASSERT_TRUE(full);
  EXPECT_EQ(full->mediaType, MediaType::video);
  EXPECT_EQ(full->uniformTypeIdentifier, "/proc/self/fd/9");
  EXPECT_EQ(full->contentIdentifier, "/photos/IMG_1.jpg");
  EXPECT_EQ(full->creationDate, -1'234'567'890'123);
  EXPECT_EQ(full->dateFrom, MediaProbe::DateFrom::sidecar);
  EXPECT_TRUE(full->rejected);
  EXPECT_EQ(full->durationSeconds, 2.5);
  const auto bare = media_->probe("bare");
  ASSERT_TRUE(bare);
  EXPECT_EQ(bare->contentIdentifier, "bare");
  EXPECT_FALSE(bare->creationDate || bare->durationSeconds || bare->rejected);
  EXPECT_EQ(bare->dateFrom, MediaProbe::DateFrom::content);

  const auto made = media_->makeDerivatives("abc", MediaType::image, "/lib/d/x-");
  ASSERT_EQ(made.size(), 3u);
  for (std::size_t i = 0; i < made.size(); ++i) {
    const bool filled = i % 2 == 1;
    const auto n = static_cast<std::int64_t>(i) + 1;
    EXPECT_EQ(made[i].path, "/lib/d/x-" + std::to_string(i));
    EXPECT_EQ(made[i].width, n);
    EXPECT_EQ(made[i].height, n + 1);
    EXPECT_EQ(made[i].bytes, filled ? std::optional<std::uint64_t>(5'000'000'000ULL + i) : std::nullopt);
    EXPECT_EQ(made[i].quality, filled ? std::optional<int>(static_cast<int>(i)) : std::nullopt);
    EXPECT_EQ(made[i].originalSize, filled ? std::optional<PixelSize>(PixelSize{n * 10, n * 20}) : std::nullopt);
  }
}

TEST_F(ModuleBoundary, DownloadsReportFailuresAsStatus) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::tmpfile(), std::fclose);
  ASSERT_TRUE(file);
  const int sink = fileno(file.get());
  const Status ok = downloadThrough(download_, "http://h/x", sink, DownloadLimits{3, 4, 5, 6, nullptr});
  EXPECT_TRUE(ok.ok()) << ok.message();
  EXPECT_EQ(readFileBytes("/proc/self/fd/" + std::to_string(sink)), "http://h/x|3,4,5,6");

  const Status thrown = downloadThrough(download_, "throw", sink, {});
  EXPECT_EQ(thrown.message(), "The download failed inside the download module");
  // Cut to what the failure holds, before the character that does not fit.
  const Status cut = downloadThrough(download_, "long", sink, {});
  EXPECT_EQ(cut.code(), ErrorCode::tooLarge);
  EXPECT_EQ(cut.message(), std::string(1022, 'x'));
  // The caller's flag, read through the callback.
  std::atomic<bool> cancelled{false};
  DownloadLimits limits;
  limits.cancelled = &cancelled;
  EXPECT_EQ(downloadThrough(download_, "cancel", sink, limits).message(), "not cancelled");
  cancelled = true;
  const Status stopped = downloadThrough(download_, "cancel", sink, limits);
  EXPECT_EQ(stopped.message(), kDownloadCancelled);
  EXPECT_EQ(stopped.code(), ErrorCode::busy);
}

TEST(RealModules, DataTheyCannotReadGivesNothing) {
  MediaModule* media = loadMediaModule();
  JpegModule* jpeg = loadJpegModule();
  ASSERT_TRUE(media && jpeg);
  for (const std::string& data : {std::string(), std::string("\xFF\xD8\xFF\xE0 not a jpeg"), std::string(1 << 20, 'z')}) {
    EXPECT_EQ(media->pictureDecoder().decode(data), nullptr) << data.size();
    EXPECT_EQ(jpeg->shrink(data, {8, 8}), nullptr) << data.size();
  }
  EXPECT_FALSE(media->probe("/nonexistent/file.jpg"));
  EXPECT_EQ(media->renderFile("/nonexistent/file.jpg", 0, MediaType::image, {64, 64}, std::nullopt), nullptr);
}

}  // namespace
}  // namespace tolvek::testing
