#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "commands/albums_command.h"
#include "commands/export_command.h"
#include "commands/list_command.h"
#include "commands/thumbs_command.h"
#include "support/recording_application.h"

namespace tolvek {
namespace {

using testing::RecordingApplication;
using Args = std::vector<std::string>;

Document usageDocument(const std::string& message) { return {{"error", "usage"}, {"message", message}}; }

// What a run asked of the library and what it answered.
struct Observed {
  Document document;
  std::vector<std::int64_t> fetchLimits;
  std::vector<std::string> collectionsFetchedFrom;
  std::vector<std::vector<std::string>> identifierLists;
  std::vector<PixelSize> imageTargets;
  std::vector<std::string> filesWritten;
  std::vector<std::string> foldersMade;
  bool operator==(const Observed&) const = default;
};

Observed observe(RecordingApplication& app, Document document) {
  const LibraryCalls& calls = app.library.calls();
  Observed seen{std::move(document), {}, calls.collectionsFetchedFrom, calls.identifierLists, {},
                app.files.filePaths(), app.files.directoryRequests()};
  for (const FetchOptions& options : calls.fetchOptions) seen.fetchLimits.push_back(options.fetchLimit);
  for (const ImageRequestRecord& request : app.library.images().imageRequests())
    seen.imageTargets.push_back(request.targetSize);
  return seen;
}

// The command called directly, as the dispatch should have called it.
using DirectCall = std::function<Document(RecordingApplication&)>;
DirectCall albums() {
  return [](RecordingApplication& app) { return cmdAlbums(app.library); };
}
DirectCall list(const std::string& album, std::int64_t limit) {
  return [=](RecordingApplication& app) { return cmdList(app.library, app.dates(), album, limit); };
}
DirectCall thumbs(std::int64_t size, const Args& ids) {
  return [=](RecordingApplication& app) { return cmdThumbs(app.library, size, ids); };
}
DirectCall exportTo(const std::string& dir, const Args& ids) {
  return [=](RecordingApplication& app) { return cmdExport(app.services(), dir, ids); };
}

TEST(Dispatch, EmptyCommandLineIsAUsageErrorWithoutAskingForAccess) {
  RecordingApplication app;
  const DispatchResult result = dispatch({}, app);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.document, usageDocument("tolvek-photos albums|list|thumbs|export"));
  EXPECT_EQ(app.gateCalls, 0);
  EXPECT_FALSE(app.servicesAsked);
}

TEST(Dispatch, RefusedAccessEndsEveryNonEmptyCommandLineBeforeTheWordIsLookedAt) {
  const std::vector<Args> commandLines = {
      {"albums"}, {"list"}, {"list", "A", "5"}, {"thumbs"}, {"thumbs", "64", "A"},
      {"export"}, {"export", "/tmp/x", "A"},   {"help"},    {""},
      {"ALBUMS"}, {"\"\\\n"},
  };
  for (const Args& argv : commandLines) {
    RecordingApplication app(/*grantAccess=*/false);
    const DispatchResult result = dispatch(argv, app);
    EXPECT_EQ(result.status, 3) << argv[0];
    EXPECT_EQ(result.document, (Document{{"error", "photos_denied"},
                                         {"message", "Tolvek is not allowed to read your Photos library."}}));
    EXPECT_EQ(app.gateCalls, 1) << argv[0];
    EXPECT_FALSE(app.servicesAsked) << argv[0];
  }
}

struct DispatchCase {
  const char* what;
  Args argv;
  DirectCall call;           // status 0: the call the dispatch makes
  std::string usageMessage;  // otherwise status 2 with this message
};

TEST(Dispatch, SelectsTheCommandAndItsParameters) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  std::vector<DispatchCase> cases = {
      {"albums", {"albums"}, albums(), ""},
      {"albums ignores further arguments", {"albums", "x", "y"}, albums(), ""},
      {"list alone", {"list"}, list("-", 60), ""},
      {"list with an album", {"list", "AL/1"}, list("AL/1", 60), ""},
      {"list with an empty album", {"list", ""}, list("", 60), ""},
      {"list with a limit", {"list", "-", "10"}, list("-", 10), ""},
      {"list with +5", {"list", "-", "+5"}, list("-", 5), ""},
      {"list with -0", {"list", "-", "-0"}, list("-", 0), ""},
      {"list with 007", {"list", "-", "007"}, list("-", 7), ""},
      {"list with a negative limit", {"list", "-", "-3"}, list("-", -3), ""},
      {"list with the largest limit", {"list", "-", "9223372036854775807"}, list("-", kMax), ""},
      {"list ignores a fourth argument", {"list", "AL/1", "1", "x"}, list("AL/1", 1), ""},
      {"thumbs", {"thumbs", "128", "A,B"}, thumbs(128, {"A", "B"}), ""},
      {"thumbs with a non-number size", {"thumbs", "big", "A"}, thumbs(240, {"A"}), ""},
      {"thumbs passes any size on", {"thumbs", "-7", "A"}, thumbs(-7, {"A"}), ""},
      {"thumbs with an empty size", {"thumbs", "", "A"}, thumbs(240, {"A"}), ""},
      {"thumbs cuts the list", {"thumbs", "64", ",A,,B,"}, thumbs(64, {"A", "B"}), ""},
      {"thumbs with only commas", {"thumbs", "64", ",,"}, thumbs(64, {}), ""},
      {"thumbs with an empty list", {"thumbs", "64", ""}, thumbs(64, {}), ""},
      {"thumbs without arguments", {"thumbs"}, nullptr, "thumbs <size> <ids>"},
      {"thumbs with one argument", {"thumbs", "64"}, nullptr, "thumbs <size> <ids>"},
      {"export", {"export", "/tmp/out", "A,B"}, exportTo("/tmp/out", {"A", "B"}), ""},
      {"export keeps the directory as given", {"export", " rel/dir/ ", "A"}, exportTo(" rel/dir/ ", {"A"}), ""},
      {"export with an empty directory", {"export", "", "A"}, exportTo("", {"A"}), ""},
      {"export keeps spaces and duplicates", {"export", "d", " A ,A, A"}, exportTo("d", {" A ", "A", " A"}), ""},
      {"export with an empty list", {"export", "d", ""}, exportTo("d", {}), ""},
      {"export without arguments", {"export"}, nullptr, "export <dir> <ids>"},
      {"export with one argument", {"export", "/tmp/out"}, nullptr, "export <dir> <ids>"},
      {"capitals", {"LIST", "x"}, nullptr, "unknown command LIST"},
  };
  // Malformed limits mean 60; words match exactly (case, spaces, prefixes,
  // options, quotes, controls, text outside ASCII).
  for (const char* limit : {"9223372036854775808", "", "10abc", "1e3", "0x10", " 5", "\xD9\xA3"}) {
    cases.push_back({"list with a malformed limit", {"list", "-", limit}, list("-", 60), ""});
  }
  for (const std::string word : {"help", "Albums", "", " albums", "album", "albums2", "--help", "a\"b\\c",
                                 "a\nb\x01\x1F", "\xF0\x9F\x93\xB7", "\xEF\xBF\xBD"}) {
    cases.push_back({"unknown word", {word}, nullptr, "unknown command " + word});
  }
  for (const DispatchCase& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.argv));
    RecordingApplication app;
    const DispatchResult result = dispatch(c.argv, app);
    EXPECT_EQ(app.gateCalls, 1) << c.what;
    if (!c.call) {
      EXPECT_EQ(result.status, 2) << c.what;
      EXPECT_EQ(result.document, usageDocument(c.usageMessage)) << c.what;
      EXPECT_FALSE(app.servicesAsked) << c.what;
      continue;
    }
    EXPECT_EQ(result.status, 0) << c.what;
    EXPECT_FALSE(result.document.contains("error")) << c.what;
    RecordingApplication direct;
    EXPECT_EQ(observe(app, result.document), observe(direct, c.call(direct))) << c.what;
  }
}

TEST(Dispatch, ReturnsTheCommandsOwnDocument) {
  RecordingApplication app;
  const DispatchResult result = dispatch({"list", "AL/1", "12"}, app);
  ASSERT_TRUE(result.document.contains("items"));
  EXPECT_EQ(result.document.at("items").size(), 2u);
}

TEST(Dispatch, UnknownWordOfTheLargestSizeLinuxPassesIsEchoedWhole) {
  const std::string word(131071, 'w');
  RecordingApplication app;
  const DispatchResult result = dispatch({word}, app);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.document, usageDocument("unknown command " + word));
}

}  // namespace
}  // namespace tolvek
