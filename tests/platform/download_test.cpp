// Downloads of remote originals: what is accepted as the original, and the
// limits that end a transfer that would never end.
#include <gtest/gtest.h>

#include <atomic>
#include <sys/stat.h>

#include <filesystem>

#include "platform/content_hash.h"
#include "platform/remote_download.h"
#include "support/http_test_server.h"

namespace tolvek::testing {
namespace {

const std::string kPhoto = std::string("\xFF\xD8\xFF\xE0", 4) + std::string(5000, 'p');

std::string sha256Of(const std::string& bytes) {
  auto file = TemporaryFile::createIn(std::filesystem::temp_directory_path().string());
  EXPECT_TRUE(file.ok());
  EXPECT_TRUE(writeAll(file->fd(), bytes).ok());
  return digestOfFile(file->path())->sha256;
}

Status fetch(const std::string& url, const ExpectedContent& expected, DownloadLimits limits = {5, 2, 1, 0, nullptr}) {
  auto file = TemporaryFile::createIn(std::filesystem::temp_directory_path().string());
  EXPECT_TRUE(file.ok());
  return downloadOriginal(url, expected, *file, limits);
}

TEST(DownloadOriginal, OnlyTheRecordedContentIsTheOriginal) {
  HttpTestServer server;
  const std::string hash = sha256Of(kPhoto);
  std::string sameSizeOtherBytes = kPhoto;
  sameSizeOtherBytes.back() = 'q';
  server.serve("/photo", HttpPlan{kPhoto});
  server.serve("/empty", HttpPlan{""});
  server.serve("/html", HttpPlan{"<html><body>Not found</body></html>"});
  server.serve("/gzip", HttpPlan{std::string("\x1f\x8b\x08\x00", 4) + std::string(100, 'z')});
  server.serve("/other", HttpPlan{sameSizeOtherBytes});
  server.serve("/longer", HttpPlan{kPhoto + std::string(100000, 'x')});
  server.serve("/gone", HttpPlan{"", HttpBehaviour::notFound});
  server.serve("/cut", HttpPlan{.body = kPhoto, .behaviour = HttpBehaviour::cutOff, .cutAfter = 100});

  const ExpectedContent recorded{kPhoto.size(), hash};
  const ExpectedContent sizeOnly{kPhoto.size(), ""};
  struct Case {
    const char* path;
    ExpectedContent expected;
    std::string error;  // empty: accepted
  };
  const Case cases[] = {
      {"/photo", recorded, ""},
      {"/photo", sizeOnly, ""},
      {"/empty", recorded, kNotTheOriginal},
      {"/empty", {}, kNotTheOriginal},
      {"/html", recorded, kNotTheOriginal},
      {"/gzip", recorded, kNotTheOriginal},
      {"/other", recorded, kNotTheOriginal},
      {"/longer", recorded, kNotTheOriginal},
      {"/longer", sizeOnly, kNotTheOriginal},
      {"/gone", recorded, "The server answered 404"},
      {"/cut", recorded, "The download broke off before the end"},
  };
  for (const Case& c : cases) {
    const Status result = fetch(server.url(c.path), c.expected);
    EXPECT_EQ(result.message(), c.error) << c.path;
  }
}

TEST(DownloadOriginal, OnlyHttpAndHttps) {
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "", "gopher://x", "/etc/passwd"}) {
    EXPECT_NE(fetch(url, {}).message().find("not an http or https URL"), std::string::npos) << url;
  }
}

TEST(DownloadToFile, CapEndsAnEndlessBody) {
  HttpTestServer server;
  // Far more than the cap, sent slowly enough that the cap, not the end, stops it.
  server.serve("/endless", HttpPlan{.body = std::string(4 << 20, 'e'), .behaviour = HttpBehaviour::slow,
                                    .chunkSize = 65536, .pause = std::chrono::milliseconds(5)});
  FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  const Status result = downloadToFile(server.url("/endless"), fileno(sink), DownloadLimits{5, 2, 1, 100000, nullptr});
  EXPECT_EQ(result.message(), kDownloadTooLarge);
  struct stat info {};
  ASSERT_EQ(::fstat(fileno(sink), &info), 0);
  EXPECT_LE(info.st_size, 100000);
  std::fclose(sink);
}

TEST(DownloadToFile, StallsAndCancelsEndATransfer) {
  HttpTestServer server;
  server.serve("/stall", HttpPlan{.body = std::string(50000, 's'), .behaviour = HttpBehaviour::stall, .cutAfter = 10,
                                  .stallFor = std::chrono::milliseconds(6000)});
  // A few bytes every 200 ms: never silent, but far below the floor.
  server.serve("/trickle", HttpPlan{.body = std::string(50000, 't'), .behaviour = HttpBehaviour::slow,
                                    .chunkSize = 8, .pause = std::chrono::milliseconds(200)});
  std::atomic<bool> cancelled{true};
  struct Case {
    const char* path;
    DownloadLimits limits;
    std::string error;
  };
  const Case cases[] = {
      {"/stall", {5, 1, 1, 0, nullptr}, "The download stalled: nothing received for 1 seconds"},
      {"/trickle", {5, 1, 1024, 0, nullptr}, "The download stalled: less than 1024 bytes a second for 1 seconds"},
      {"/trickle", {5, 1, 1, 0, &cancelled}, kDownloadCancelled},
  };
  for (const Case& c : cases) {
    FILE* sink = std::tmpfile();
    ASSERT_NE(sink, nullptr);
    const auto started = std::chrono::steady_clock::now();
    const Status result = downloadToFile(server.url(c.path), fileno(sink), c.limits);
    const auto took = std::chrono::steady_clock::now() - started;
    std::fclose(sink);
    EXPECT_EQ(result.message(), c.error) << c.path;
    EXPECT_LT(took, std::chrono::seconds(4)) << c.path;
  }
}

}  // namespace
}  // namespace tolvek::testing
