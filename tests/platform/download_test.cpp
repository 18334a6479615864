// Downloads of remote originals into memory: limits and refusals.
#include <gtest/gtest.h>

#include "platform/remote_download.h"
#include "support/http_test_server.h"

namespace tolvek::testing {
namespace {

TEST(DownloadToMemory, BodyOrADescribedError) {
  HttpTestServer server;
  server.serve("/ok", HttpPlan{"hello"});
  server.serve("/gone", HttpPlan{"", HttpBehaviour::notFound});
  server.serve("/big", HttpPlan{std::string(10000, 'b')});
  DownloadLimits limits{5, 2};
  std::string error;
  EXPECT_EQ(downloadToMemory(server.url("/ok"), limits, &error), "hello");
  EXPECT_FALSE(downloadToMemory(server.url("/gone"), limits, &error));
  EXPECT_EQ(error, "The server answered 404");
  limits.maxMemoryBytes = 1000;
  EXPECT_FALSE(downloadToMemory(server.url("/big"), limits, &error));
  EXPECT_EQ(error, "The original is too large to hold in memory");
}

TEST(DownloadToMemory, OnlyHttpAndHttps) {
  std::string error;
  for (const char* url : {"file:///etc/passwd", "ftp://127.0.0.1/x", "", "gopher://x", "/etc/passwd"}) {
    EXPECT_FALSE(downloadToMemory(url, DownloadLimits{}, &error)) << url;
    EXPECT_NE(error.find("not an http or https URL"), std::string::npos) << url;
  }
}

TEST(DownloadToFile, StallLimitEndsASilentTransfer) {
  HttpTestServer server;
  server.serve("/stall", HttpPlan{.body = std::string(50000, 's'), .behaviour = HttpBehaviour::stall, .cutAfter = 10, .stallFor = std::chrono::milliseconds(6000)});
  FILE* sink = std::tmpfile();
  ASSERT_NE(sink, nullptr);
  const auto started = std::chrono::steady_clock::now();
  const auto error = downloadToFile(server.url("/stall"), fileno(sink), DownloadLimits{5, 1});
  const auto took = std::chrono::steady_clock::now() - started;
  std::fclose(sink);
  ASSERT_TRUE(error);
  EXPECT_EQ(*error, "The download stalled: nothing received for 1 seconds");
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_LT(took, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tolvek::testing
