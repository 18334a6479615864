#include "cli/dispatch.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "cli/recording_application.h"

namespace tolvek {
namespace {

using testing::RecordedCall;
using testing::RecordingApplication;
using Args = std::vector<std::string>;

const RecordedCall kGate{"ensureAccess", "", 0, {}};

Document usageDocument(const std::string& message) { return {{"error", "usage"}, {"message", message}}; }

TEST(Dispatch, EmptyCommandLineIsAUsageErrorWithoutAskingForAccess) {
  RecordingApplication app;
  const DispatchResult result = dispatch({}, app);
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.document, usageDocument("tolvek-photos albums|list|thumbs|export"));
  EXPECT_TRUE(app.calls.empty());
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
    EXPECT_EQ(app.calls, std::vector<RecordedCall>{kGate}) << argv[0];
  }
}

struct DispatchCase {
  const char* what;
  Args argv;
  int status;
  std::vector<RecordedCall> calls;  // after the gate
  std::string usageMessage;         // when status is 2
};

TEST(Dispatch, SelectsTheCommandAndItsParameters) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const std::vector<DispatchCase> cases = {
      {"albums", {"albums"}, 0, {{"cmdAlbums", "", 0, {}}}, ""},
      {"albums ignores further arguments", {"albums", "x", "y"}, 0, {{"cmdAlbums", "", 0, {}}}, ""},
      {"list alone", {"list"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with an album", {"list", "AL/1"}, 0, {{"cmdList", "AL/1", 60, {}}}, ""},
      {"list with an empty album", {"list", ""}, 0, {{"cmdList", "", 60, {}}}, ""},
      {"list with a limit", {"list", "-", "10"}, 0, {{"cmdList", "-", 10, {}}}, ""},
      {"list with +5", {"list", "-", "+5"}, 0, {{"cmdList", "-", 5, {}}}, ""},
      {"list with -0", {"list", "-", "-0"}, 0, {{"cmdList", "-", 0, {}}}, ""},
      {"list with 007", {"list", "-", "007"}, 0, {{"cmdList", "-", 7, {}}}, ""},
      {"list with a negative limit", {"list", "-", "-3"}, 0, {{"cmdList", "-", -3, {}}}, ""},
      {"list with the largest limit", {"list", "-", "9223372036854775807"}, 0, {{"cmdList", "-", kMax, {}}}, ""},
      {"list one past the largest", {"list", "-", "9223372036854775808"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with an empty limit", {"list", "-", ""}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with trailing letters", {"list", "-", "10abc"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with 1e3", {"list", "-", "1e3"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with 0x10", {"list", "-", "0x10"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with a leading space", {"list", "-", " 5"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list with an Arabic-Indic digit", {"list", "-", "\xD9\xA3"}, 0, {{"cmdList", "-", 60, {}}}, ""},
      {"list ignores a fourth argument", {"list", "A", "1", "x"}, 0, {{"cmdList", "A", 1, {}}}, ""},
      {"thumbs", {"thumbs", "128", "A,B"}, 0, {{"cmdThumbs", "", 128, {"A", "B"}}}, ""},
      {"thumbs with a non-number size", {"thumbs", "big", "A"}, 0, {{"cmdThumbs", "", 240, {"A"}}}, ""},
      {"thumbs passes any size on", {"thumbs", "-7", "A"}, 0, {{"cmdThumbs", "", -7, {"A"}}}, ""},
      {"thumbs with an empty size", {"thumbs", "", "A"}, 0, {{"cmdThumbs", "", 240, {"A"}}}, ""},
      {"thumbs cuts the list", {"thumbs", "64", ",A,,B,"}, 0, {{"cmdThumbs", "", 64, {"A", "B"}}}, ""},
      {"thumbs with only commas", {"thumbs", "64", ",,"}, 0, {{"cmdThumbs", "", 64, {}}}, ""},
      {"thumbs with an empty list", {"thumbs", "64", ""}, 0, {{"cmdThumbs", "", 64, {}}}, ""},
      {"thumbs without arguments", {"thumbs"}, 2, {}, "thumbs <size> <ids>"},
      {"thumbs with one argument", {"thumbs", "64"}, 2, {}, "thumbs <size> <ids>"},
      {"export", {"export", "/tmp/out", "A,B"}, 0, {{"cmdExport", "/tmp/out", 0, {"A", "B"}}}, ""},
      {"export keeps the directory as given", {"export", " rel/dir/ ", "A"}, 0,
       {{"cmdExport", " rel/dir/ ", 0, {"A"}}}, ""},
      {"export with an empty directory", {"export", "", "A"}, 0, {{"cmdExport", "", 0, {"A"}}}, ""},
      {"export keeps spaces and duplicates", {"export", "d", " A ,A, A"}, 0,
       {{"cmdExport", "d", 0, {" A ", "A", " A"}}}, ""},
      {"export with an empty list", {"export", "d", ""}, 0, {{"cmdExport", "d", 0, {}}}, ""},
      {"export without arguments", {"export"}, 2, {}, "export <dir> <ids>"},
      {"export with one argument", {"export", "/tmp/out"}, 2, {}, "export <dir> <ids>"},
      {"unknown word", {"help"}, 2, {}, "unknown command help"},
      {"words are case-sensitive", {"Albums"}, 2, {}, "unknown command Albums"},
      {"capitals", {"LIST", "x"}, 2, {}, "unknown command LIST"},
      {"empty word", {""}, 2, {}, "unknown command "},
      {"word with spaces around it", {" albums"}, 2, {}, "unknown command  albums"},
      {"prefix of a word", {"album"}, 2, {}, "unknown command album"},
      {"word with more after it", {"albums2"}, 2, {}, "unknown command albums2"},
      {"option-like word", {"--help"}, 2, {}, "unknown command --help"},
      {"word with quotes and backslashes", {"a\"b\\c"}, 2, {}, "unknown command a\"b\\c"},
      {"word with a line feed and controls", {"a\nb\x01\x1F"}, 2, {}, "unknown command a\nb\x01\x1F"},
      {"word with an emoji", {"\xF0\x9F\x93\xB7"}, 2, {}, "unknown command \xF0\x9F\x93\xB7"},
      {"word with U+FFFD", {"\xEF\xBF\xBD"}, 2, {}, "unknown command \xEF\xBF\xBD"},
  };
  for (const DispatchCase& c : cases) {
    RecordingApplication app;
    const DispatchResult result = dispatch(c.argv, app);
    std::vector<RecordedCall> expected{kGate};
    expected.insert(expected.end(), c.calls.begin(), c.calls.end());
    EXPECT_EQ(app.calls, expected) << c.what;
    EXPECT_EQ(result.status, c.status) << c.what;
    if (c.status == 2) {
      EXPECT_EQ(result.document, usageDocument(c.usageMessage)) << c.what;
    } else {
      ASSERT_FALSE(app.calls.empty());
      EXPECT_FALSE(result.document.contains("error")) << c.what;
    }
  }
}

TEST(Dispatch, ReturnsTheCommandsOwnDocument) {
  RecordingApplication app;
  const DispatchResult result = dispatch({"list", "AL/9", "12"}, app);
  EXPECT_EQ(result.document, (Document{{"items", Document::array()}, {"albumId", "AL/9"}, {"limit", 12}}));
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
