// Capture dates as EXIF and containers write them.
#include "platform/media/capture_date.h"

#include <gtest/gtest.h>

#include "media_test_module.h"

namespace tolvek::media {
namespace {

TEST(ExifCaptureTime, OffsetsMakeInstants) {
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+02:00")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("-05:30")), 1626247800 + 2 * 3600 + 5 * 3600 + 1800);
  EXPECT_EQ(exifCaptureTime("2021:07:14 07:30:00", std::string_view("Z")), 1626247800);
  EXPECT_EQ(exifCaptureTime("2000:02:29 00:00:00\0", std::string_view("+00:00")), 951782400);
}

TEST(ExifCaptureTime, WithoutUsableOffsetReadsLocalTime) {
  const std::int64_t expected = testing::localInstant(2021, 7, 14, 9, 30);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::nullopt), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("   ")), expected);
  EXPECT_EQ(exifCaptureTime("2021:07:14 09:30:00", std::string_view("+99:00")), expected);
}

TEST(ExifCaptureTime, RejectsWhatIsNoDate) {
  for (const char* text : {"", "0000:00:00 00:00:00", "    :  :     :  :  ", "2021-07-14 09:30:00", "2021:13:01 00:00:00",
                           "2021:07:14 25:00:00", "2021:07:14", "abcd:ef:gh ij:kl:mn"}) {
    EXPECT_FALSE(exifCaptureTime(text, std::nullopt)) << text;
  }
}

TEST(IsoCaptureTime, ContainerForms) {
  EXPECT_EQ(isoCaptureTime("2021-03-04T05:06:07.000000Z"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T05:06:07Z"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T06:06:07+0100"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04T00:06:07-05:00"), 1614834367);
  EXPECT_EQ(isoCaptureTime("2021-03-04 05:06:07"), 1614834367);
  EXPECT_EQ(isoCaptureTime("1969-12-31T23:59:59Z"), -1);
  for (const char* text : {"", "yesterday", "2021-03-04", "2021-03-04T05:06:07 garbage", "2021:03:04 05:06:07"}) {
    EXPECT_FALSE(isoCaptureTime(text)) << text;
  }
}

}  // namespace
}  // namespace tolvek::media
