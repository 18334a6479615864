// Runs the built helper as the host does and checks what leaves the process:
// the bytes on standard output, an empty standard error and the exit status;
// and the process runner that does so. The bundle information the helper
// carries, and its reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "bundle/bundle_info.h"
#include "cli/dispatch.h"
#include "cli/utf8_decoding.h"
#include "support/process_runner.h"
#include "support/recording_application.h"
#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

const std::string kHelper = TOLVEK_BIN_DIR "/tolvek-photos";
const Document kDenied = {{"error", "photos_denied"},
                          {"message", "Tolvek is not allowed to read your Photos library."}};

// A scratch environment, so the helper never reaches the real user's library,
// consent answers or screen.
class HelperProcess : public ::testing::Test {
 protected:
  ProcessResult run(const std::vector<std::string>& arguments) const {
    return scratch_.helper(arguments);
  }

  // Every folder of the scratch environment is still empty.
  bool nothingCreated() const {
    for (const auto& [name, folder] : scratch_.environment().variables()) {
      if (!std::filesystem::is_empty(folder)) return false;
    }
    return true;
  }

  ScratchLibrary scratch_;
};

TEST_F(HelperProcess, WithoutArgumentsWritesTheUsageDocumentAndExits2) {
  const ProcessResult result = run({});
  ASSERT_TRUE(result.exited());
  EXPECT_EQ(result.exitStatus, 2);
  EXPECT_EQ(result.err, "");
  EXPECT_TRUE(result.out == "{\"error\":\"usage\",\"message\":\"tolvek-photos albums|list|thumbs|export\"}\n" ||
              result.out == "{\"message\":\"tolvek-photos albums|list|thumbs|export\",\"error\":\"usage\"}\n")
      << result.out;
}

TEST_F(HelperProcess, WithoutArgumentsCreatesNothing) {
  run({});
  EXPECT_TRUE(nothingCreated());
}

TEST_F(HelperProcess, AClosedStandardOutputDoesNotEndTheRunWithASignal) {
  RunOptions o = scratch_.options();
  o.closedStdout = true;
  // Usage; "help" with nothing recorded and no display (refused), then granted (unknown command).
  for (const auto& [grant, arguments, status] : std::vector<std::tuple<bool, std::vector<std::string>, int>>{
           {false, {}, 2}, {false, {"help"}, 3}, {true, {"help"}, 2}}) {
    if (grant) scratch_.grantAccess();
    const ProcessResult result = runProcess(kHelper, arguments, o);
    EXPECT_TRUE(result.exited()) << "signal " << result.signal;
    EXPECT_EQ(result.exitStatus, status) << (grant ? "granted" : "nothing recorded");
    EXPECT_EQ(result.err, "");
  }
}

TEST_F(HelperProcess, TheImageStackIsNotLinkedIntoTheHelper) {
  const ProcessResult readelf = runProcess("/usr/bin/readelf", {"-d", "-W", kHelper});
  ASSERT_EQ(readelf.exitStatus, 0) << readelf.err;
  for (const char* library :
       {"libvips", "libheif", "libavcodec", "libavformat", "libswscale", "libglib-2.0", "libpcre2"}) {
    EXPECT_EQ(readelf.out.find(library), std::string::npos) << library << " is linked:\n" << readelf.out;
  }
}

// The usage path and the denied path (nothing recorded and no display to
// ask on; a recorded denial) map neither GLib nor PCRE2, which GLib pulls
// in: the dynamic loader's own trace names every object it opened.
TEST_F(HelperProcess, TheUsageAndDeniedPathsMapNeitherGLibNorPcre2) {
  const std::vector<std::tuple<std::optional<AuthorizationStatus>, std::vector<std::string>, int>> runs = {
      {std::nullopt, {}, 2}, {std::nullopt, {"albums"}, 3}, {AuthorizationStatus::denied, {"albums"}, 3}};
  for (const auto& [recorded, arguments, status] : runs) {
    if (recorded) {
      ASSERT_TRUE(scratch_.recordAnswer(*recorded));
    }
    const ProcessResult result = scratch_.helper(arguments, {{"LD_DEBUG", "files"}});
    EXPECT_EQ(result.exitStatus, status);
    ASSERT_NE(result.err.find("calling init"), std::string::npos) << "no loader trace: is LD_DEBUG honoured here?";
    for (const char* library : {"libglib-2.0", "libpcre2"}) {
      EXPECT_EQ(result.err.find(library), std::string::npos) << library << " mapped, status " << status;
    }
  }
}

// Every non-empty command line ends with the "photos_denied" document and
// status 3 while nothing is recorded (there is no display to ask on), and as
// the dispatch decides it once access is granted. Either way: one valid JSON
// object, one line feed, nothing on standard error, and arguments compared
// only after they were decoded.
TEST_F(HelperProcess, EveryCommandLineEndsWithOneDocumentAndTheDocumentedStatus) {
  std::vector<std::vector<std::string>> commandLines = {
      {"", ""},
      {std::string(131071, 'x')},
      {"\xE2\x82" + std::string(131069, '/')},
      {"albums", "extra", "\xFF"},
      {"list", "", ""},
      {"thumbs", "64"},
      {"thumbs", "\xD9\xA3", ",,"},
      {"thumbs", "9223372036854775808", "A,\xFF,B"},
      {"export", "/nonexistent-dir"},
  };
  for (const char* word : {"", "help", "--version", "ALBUMS", "say \"hi\"", "back\\slash", "line\nfeed",
                           "tab\tbell\aesc\033del\177", "\xF0\x9F\x93\xB7\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD", "\xFF\xFE",
                           "caf\xE9", "\xED\xA0\x80", "a/b", "albums", "list", "thumbs", "export"}) {
    commandLines.push_back({word});
  }
  for (const char* limit :
       {"+5", "-0", "007", "9223372036854775807", "9223372036854775808", "1e3", "0x10", " 5", "\xD9\xA3"}) {
    commandLines.push_back({"list", "-", limit});
  }
  for (const bool granted : {false, true}) {
    if (granted) scratch_.grantAccess();
    for (const std::vector<std::string>& argv : commandLines) {
      SCOPED_TRACE(std::string(granted ? "granted" : "nothing recorded") + ", argv[1] of " +
                   std::to_string(argv[0].size()) + " bytes: " + argv[0].substr(0, 40));
      const ProcessResult result = run(argv);
      if (!granted) {
        EXPECT_EQ(expectOneDocument(result, 3), kDenied);
        continue;
      }
      RecordingApplication application;
      std::vector<std::string> decoded;
      for (const std::string& argument : argv) decoded.push_back(decodeUtf8(argument));
      const DispatchResult expected = dispatch(decoded, application);
      const Document document = expectOneDocument(result, expected.status);
      if (expected.status == 2) {
        EXPECT_EQ(document, expected.document);
      } else {
        EXPECT_FALSE(document.contains("error")) << result.out.substr(0, 200);
      }
    }
  }
}

TEST(ProcessRunner, CapturesBothStreamsAndTheExitStatus) {
  const ProcessResult result = runProcess("/bin/sh", {"-c", "printf out; printf err >&2; exit 7"});
  ASSERT_TRUE(result.exited());
  EXPECT_EQ(result.out, "out");
  EXPECT_EQ(result.err, "err");
  EXPECT_EQ(result.exitStatus, 7);
}

TEST(ProcessRunner, PassesArgumentsAsRawBytes) {
  const std::string invalid = "\xFF\xC3 \"q\" \\ \n";
  const std::string large(131071, 'a');
  const ProcessResult result = runProcess("/usr/bin/printf", {"%s|%s|%s", invalid, "", large});
  ASSERT_EQ(result.exitStatus, 0) << result.err;
  EXPECT_EQ(result.out, invalid + "||" + large);
}

TEST(ProcessRunner, SetsEnvironmentAndWorkingDirectory) {
  const RunOptions options{.environment = {{"TOLVEK_RUNNER_PROBE", "a b"}, {"HOME", "/nonexistent-home"}},
                           .workingDirectory = "/"};
  const ProcessResult result =
      runProcess("/bin/sh", {"-c", "printf '%s|%s|%s' \"$TOLVEK_RUNNER_PROBE\" \"$HOME\" \"$(pwd)\""}, options);
  EXPECT_EQ(result.out, "a b|/nonexistent-home|/");
}

TEST(ProcessRunner, RemovesVariablesUnlessTheyAreSetAgain) {
  ASSERT_EQ(::setenv("TOLVEK_RUNNER_GONE", "inherited", 1), 0);
  ASSERT_EQ(::setenv("TOLVEK_RUNNER_BACK", "inherited", 1), 0);
  const RunOptions options{.environment = {{"TOLVEK_RUNNER_BACK", "set"}},
                           .removed = {"TOLVEK_RUNNER_GONE", "TOLVEK_RUNNER_BACK"}};
  const ProcessResult result = runProcess(
      "/bin/sh", {"-c", "printf '%s|%s' \"${TOLVEK_RUNNER_GONE-unset}\" \"${TOLVEK_RUNNER_BACK-unset}\""}, options);
  ::unsetenv("TOLVEK_RUNNER_GONE");
  ::unsetenv("TOLVEK_RUNNER_BACK");
  EXPECT_EQ(result.out, "unset|set");
}

TEST(ProcessRunner, KillsAChildThatOutlivesTheTimeout) {
  const ProcessResult result =
      runProcess("/bin/sh", {"-c", "printf started; exec sleep 30"}, {.timeout = std::chrono::milliseconds(200)});
  EXPECT_TRUE(result.timedOut);
  EXPECT_FALSE(result.exited());
  EXPECT_EQ(result.out, "started");
}

TEST(ProcessRunner, ReportsSignalsAndStartFailures) {
  const ProcessResult killed = runProcess("/bin/sh", {"-c", "kill -TERM $$"});
  EXPECT_EQ(killed.signal, SIGTERM);
  EXPECT_FALSE(killed.exited());

  const ProcessResult missing = runProcess("/nonexistent/program", {});
  EXPECT_EQ(missing.startError, ENOENT);
  EXPECT_FALSE(missing.exited());
}

TEST(ProcessRunner, AClosedStandardOutputRaisesSigpipeInTheChildEvenWhenTheCallerIgnoresIt) {
  struct sigaction ignore {};
  struct sigaction previous {};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(::sigaction(SIGPIPE, &ignore, &previous), 0);
  const ProcessResult result = runProcess("/usr/bin/printf", {"x"}, {.closedStdout = true});
  ::sigaction(SIGPIPE, &previous, nullptr);
  EXPECT_EQ(result.signal, SIGPIPE);
}

const char* const kUsageDescription =
    "Tolvek shows your Photos library in its file picker and imports only the pictures and videos you choose.";

std::vector<std::string> keysInOrder(const std::string& plist) {
  static const std::regex key("<key>([^<]*)</key>");
  std::vector<std::string> keys;
  for (auto it = std::sregex_iterator(plist.begin(), plist.end(), key); it != std::sregex_iterator(); ++it) {
    keys.push_back((*it)[1]);
  }
  return keys;
}

void expectShippedValues(const BundleInfo& info) {
  EXPECT_EQ(info.identifier, "app.tolvek.photos-helper");
  EXPECT_EQ(info.name, "tolvek-photos");
  EXPECT_EQ(info.version, "1");
  EXPECT_EQ(info.usageDescription, kUsageDescription);
}

// The four keys in order, read back as the shipped values.
void expectShippedPropertyList(const std::string& plist) {
  EXPECT_EQ(keysInOrder(plist), (std::vector<std::string>{"CFBundleIdentifier", "CFBundleName", "CFBundleVersion",
                                                          "NSPhotoLibraryUsageDescription"}));
  const std::optional<BundleInfo> info = parseBundleInfo(plist);
  ASSERT_TRUE(info.has_value());
  expectShippedValues(*info);
}

TEST(BundleInfo, ResourceIsAnXmlPropertyListWithTheFourKeysInOrder) {
  const std::string plist = testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or("");
  ASSERT_FALSE(plist.empty());
  EXPECT_EQ(plist.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n", 0), 0u);
  EXPECT_NE(plist.find("<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
                       "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">"),
            std::string::npos);
  expectShippedPropertyList(plist);
}

TEST(BundleInfo, ThisExecutableCarriesTheResourceAndReadsItBack) {
  EXPECT_EQ(embeddedInfoPlist(), testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or(""));
  expectShippedValues(embeddedBundleInfo());
}

TEST(BundleInfo, ObjcopyExtractsThePropertyListFromTheHelper) {
  const std::string out = ::testing::TempDir() + "/tolvek-extracted.plist";
  const testing::ProcessResult objcopy = testing::runProcess(
      "/usr/bin/objcopy",
      {"-O", "binary", "--only-section=" + std::string(kInfoPlistSection), TOLVEK_BIN_DIR "/tolvek-photos", out});
  ASSERT_TRUE(objcopy.exited()) << objcopy.err;
  ASSERT_EQ(objcopy.exitStatus, 0) << objcopy.err;
  const std::string plist = testing::readFileBytes(out).value_or("");
  std::remove(out.c_str());
  EXPECT_EQ(plist, testing::readFileBytes(TOLVEK_SOURCE_DIR "/resources/Info.plist").value_or(""));
  expectShippedPropertyList(plist);
}

TEST(BundleInfo, ParserReadsOnlyStringValuesOfTheTopLevelDictionary) {
  const std::string plist =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" \"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
      "<plist version=\"1.0\"><dict>\n"
      "<!-- a comment -->\n"
      "<key>Nested</key><dict><key>CFBundleName</key><string>inner</string></dict>\n"
      "<key>CFBundleVersion</key><integer>7</integer>\n"
      "<key>CFBundleName</key><string>R&amp;D &lt;x&gt; caf\xC3\xA9</string>\n"
      "<key>Other</key><string>ignored</string>\n"
      "<key>NSPhotoLibraryUsageDescription</key><string></string>\n"
      "</dict></plist>\n";
  const std::optional<BundleInfo> info = parseBundleInfo(plist);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->name, "R&D <x> caf\xC3\xA9");
  EXPECT_EQ(info->version, "");
  EXPECT_EQ(info->identifier, "");
  EXPECT_EQ(info->usageDescription, "");
}

TEST(BundleInfo, ParserDecodesReferencesAndLineEndsAndSkipsWhatIsNoText) {
  const std::string plist =
      "<!DOCTYPE plist [ <!ENTITY x \"]>\"> ]>\r\n<?pi x?>"
      "<plist version='1.0'><dict >\r\n"
      "<key>CFBundleName</key><string>caf&#xE9;&#233;\r\nx\ry<![CDATA[skipped]]><!-- no -->z</string>\n"
      "<key>CFBundleIdentifier</key><string a=\"&quot;\" b = 'v'>id&apos;&#x1F4F7;</string>\n"
      "<key>CFBundleVersion</key><true/><key>CFBundleVersion</key>\n"
      "</dict></plist>\n";
  const std::optional<BundleInfo> info = parseBundleInfo(plist);
  ASSERT_TRUE(info.has_value());
  EXPECT_EQ(info->name, "caf\xC3\xA9\xC3\xA9\nx\nyz");
  EXPECT_EQ(info->identifier, "id'\xF0\x9F\x93\xB7");
  EXPECT_EQ(info->version, "");
  EXPECT_TRUE(parseBundleInfo("<plist><dict/></plist>").has_value());
}

TEST(BundleInfo, ParserRejectsTextThatIsNoPropertyList) {
  const std::vector<std::string> broken = {
      "",
      "not xml",
      "<plist><dict><key>CFBundleName</key><string>x</string></dict>",  // unclosed
      "<plist><array><string>x</string></array></plist>",               // no dictionary
      "<dict><key>CFBundleName</key><string>x</string></dict>",         // not inside plist
      "<plist><dict></plist></dict>",                                   // crossed
      "<plist><dict><key>&bogus;</key></dict></plist>",                 // unknown entity
      "<plist><dict><key>&#0;</key></dict></plist>",                    // no such character
      "<plist><dict><key>a & b</key></dict></plist>",                   // bare ampersand
      "text<plist><dict/></plist>",                                     // text outside
      "<plist><dict/></plist>trailing",
      "<plist><dict a=b/></plist>",                                     // unquoted attribute
      "<plist><dict/></plist>\xFF",                                     // not UTF-8
      "<plist><dict/><!-- unclosed comment </plist>",
  };
  for (const std::string& text : broken) EXPECT_FALSE(parseBundleInfo(text).has_value()) << text;
}

}  // namespace
}  // namespace tolvek::testing
