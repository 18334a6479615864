// The access question of the built helper on a real library: no recorded
// answer without a graphical session, a stub zenity on PATH that allows,
// refuses, cannot open the display or crashes (and counts how often it was
// started), and the answers recorded with the library tool: full, limited,
// refused, restricted.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "support/scratch_library.h"

namespace tolvek::testing {
namespace {

const Json kDenied = {{"error", "photos_denied"}, {"message", "Tolvek is not allowed to read your Photos library."}};

struct Library {
  ScratchLibrary scratch;
  std::vector<std::string> pictures;  // three JPEGs, oldest first
  std::string album;                  // holds all three
  std::string counter;                // one line per zenity start

  void build() {
    ScratchLibrary& s = scratch;
    pictures = s.importDatedPictures(3);
    album = s.createAlbum("All");
    s.addToAlbum(album, pictures);

    // A folder stub-<behaviour> with a zenity per behaviour.
    counter = s.work("zenity-starts");
    for (const auto& [name, action] : std::vector<std::pair<std::string, std::string>>{
             {"allow", "exit 0"},
             {"deny", "exit 1"},
             {"crash", "kill -SEGV $$"},
             {"timeout", "exit 5"},
             {"gtk3-no-display", "echo '(zenity:7): Gtk-WARNING **: 10:00:00.000: cannot open display: :97' >&2\nexit 1"},
             {"gtk4-no-display", "echo 'Failed to open display' >&2\nexit 1"},
             {"warning-then-deny", "echo '(zenity:7): Gtk-WARNING **: theme' >&2\nexit 1"}}) {
      const std::string zenity = s.work("stub-" + name) + "/zenity";
      ASSERT_TRUE(writeFileBytes(zenity, "#!/bin/sh\necho \"$*\" >> '" + counter + "'\n" + action + "\n"));
      ::chmod(zenity.c_str(), 0755);
    }
  }
};

class Access : public SharedLibraryTest<Library> {
 protected:
  void SetUp() override {
    lib_->scratch.tool({"access", "reset"});
    std::filesystem::remove(lib_->counter);
  }

  // A graphical session whose zenity is the stub `behaviour`.
  static Environment withZenity(const std::string& behaviour) {
    const char* path = std::getenv("PATH");
    return {{"DISPLAY", ":97"}, {"PATH", lib_->scratch.work("stub-" + behaviour) + ":" + (path ? path : "/usr/bin:/bin")}};
  }
  static int zenityStarts() {
    const std::string starts = readFileBytes(lib_->counter).value_or("");
    return static_cast<int>(std::count(starts.begin(), starts.end(), '\n'));
  }
};

TEST_F(Access, NoAnswerAndNoGraphicalSessionRefusesEveryCommandLine) {
  const std::vector<std::vector<std::string>> lines = {
      {"albums"}, {"list"}, {"list", "-", "5"}, {"thumbs", "240", lib_->pictures[0]}, {"thumbs"},
      {"export", lib_->scratch.work("out"), lib_->pictures[0]}, {"export"}, {"help"}, {""}};
  for (const auto& line : lines) {
    EXPECT_EQ(lib_->scratch.run(line, 3), kDenied) << line.front();
  }
  EXPECT_FALSE(std::filesystem::exists(lib_->scratch.work("out"))) << "nothing exported without access";
  // A refused run never opened the catalog (which would leave its WAL files).
  for (const char* suffix : {"-wal", "-shm"}) {
    EXPECT_FALSE(std::filesystem::exists(lib_->scratch.catalogPath() + suffix)) << suffix;
  }
  // The usage path is decided before the question.
  const Json usage = lib_->scratch.run({}, 2);
  EXPECT_EQ(usage, Json({{"error", "usage"}, {"message", "tolvek-photos albums|list|thumbs|export"}}));
}

TEST_F(Access, AllowingInThePromptRunsTheCommandAndIsNotAskedAgain) {
  const Json albums = lib_->scratch.run({"albums"}, 0, withZenity("allow"));
  ASSERT_TRUE(albums.contains("albums")) << albums.dump();
  EXPECT_EQ(albums["albums"].size(), 1u);
  EXPECT_EQ(zenityStarts(), 1);
  // Recorded: neither a graphical run nor one without a session asks again.
  EXPECT_EQ(itemIds(lib_->scratch.run({"list", "-", "500"}, 0, withZenity("deny"))).size(), 3u);
  EXPECT_EQ(itemIds(lib_->scratch.run({"list", "-", "500"})).size(), 3u);
  EXPECT_EQ(zenityStarts(), 1);
}

TEST_F(Access, AnUnknownCommandAsksFirstThenIsAUsageError) {
  const Json document = lib_->scratch.run({"Albums"}, 2, withZenity("allow"));
  EXPECT_EQ(document, Json({{"error", "usage"}, {"message", "unknown command Albums"}}));
  EXPECT_EQ(zenityStarts(), 1);
  const Json thumbs = lib_->scratch.run({"thumbs", "240"}, 2);
  EXPECT_EQ(thumbs, Json({{"error", "usage"}, {"message", "thumbs <size> <ids>"}}));
}

TEST_F(Access, RefusingInThePromptIsRecordedAndEndsWithStatus3) {
  EXPECT_EQ(lib_->scratch.run({"albums"}, 3, withZenity("deny")), kDenied);
  EXPECT_EQ(zenityStarts(), 1);
  // The refusal is recorded: an allowing prompt is never shown again.
  EXPECT_EQ(lib_->scratch.run({"list"}, 3, withZenity("allow")), kDenied);
  EXPECT_EQ(zenityStarts(), 1);
}

// Only the user's own click is recorded. A dialog that could not open the
// display, timed out or crashed refuses this run (status 3) and leaves the
// question open, so the next run asks again.
TEST_F(Access, APromptWithoutTheUsersAnswerRefusesThisRunAndRecordsNothing) {
  for (const char* behaviour : {"crash", "timeout", "gtk3-no-display", "gtk4-no-display"}) {
    SCOPED_TRACE(behaviour);
    SetUp();  // each behaviour from no answer and no starts
    EXPECT_EQ(lib_->scratch.run({"albums"}, 3, withZenity(behaviour)), kDenied);
    EXPECT_EQ(zenityStarts(), 1) << "asked once per run";
    EXPECT_EQ(lib_->scratch.run({"list"}, 3, withZenity(behaviour)), kDenied);
    EXPECT_EQ(zenityStarts(), 2) << "nothing recorded, so the next run asks again";
    EXPECT_EQ(itemIds(lib_->scratch.run({"list"}, 0, withZenity("allow"))).size(), 3u);
    EXPECT_EQ(zenityStarts(), 3);
  }
}

TEST_F(Access, ARefusalWithAWarningOnStandardErrorIsRecorded) {
  EXPECT_EQ(lib_->scratch.run({"albums"}, 3, withZenity("warning-then-deny")), kDenied);
  EXPECT_EQ(lib_->scratch.run({"albums"}, 3, withZenity("allow")), kDenied);
  EXPECT_EQ(zenityStarts(), 1);
}

TEST_F(Access, RecordedRefusalAndRestrictionNeverPrompt) {
  for (const char* answer : {"deny", "restrict"}) {
    lib_->scratch.tool({"access", answer});
    EXPECT_EQ(lib_->scratch.run({"albums"}, 3, withZenity("allow")), kDenied) << answer;
    EXPECT_EQ(lib_->scratch.run({"nope"}, 3, withZenity("allow")), kDenied) << answer;
    EXPECT_EQ(zenityStarts(), 0) << answer;
  }
}

TEST_F(Access, LimitedAccessShowsOnlyTheChosenAssetsAndNoAlbums) {
  const std::string& a = lib_->pictures[0];
  const std::string& b = lib_->pictures[1];
  const std::string& hidden = lib_->pictures[2];
  lib_->scratch.tool({"access", "limit", a, b});

  EXPECT_EQ(lib_->scratch.run({"albums"}, 0, withZenity("deny")), Json::parse(R"({"albums":[]})"));
  EXPECT_EQ(zenityStarts(), 0) << "limited access is an answer";
  EXPECT_EQ(itemIds(lib_->scratch.run({"list", "-", "500"})), (std::vector<std::string>{b, a}));
  EXPECT_EQ(lib_->scratch.run({"list", lib_->album, "500"}), Json::parse(R"({"items":[]})"));

  const Json thumbs = lib_->scratch.run({"thumbs", "64", a + "," + hidden});
  ASSERT_TRUE(thumbs.contains("thumbs"));
  EXPECT_EQ(thumbs["thumbs"].size(), 1u);
  EXPECT_TRUE(thumbs["thumbs"].contains(a));

  const std::string out = lib_->scratch.work("limited-out");
  const Json exported = lib_->scratch.run({"export", out, hidden + "," + a});
  ASSERT_TRUE(exported.contains("files"));
  ASSERT_EQ(exported["files"].size(), 1u) << exported.dump();
  EXPECT_EQ(exported["files"][0]["id"], a);
  EXPECT_EQ(exported["errors"], Json::array());
  EXPECT_EQ(namesIn(out).size(), 1u);

  // An empty choice sees nothing at all, yet is not refused.
  lib_->scratch.tool({"access", "limit"});
  EXPECT_EQ(lib_->scratch.run({"list", "-", "500"}), Json::parse(R"({"items":[]})"));
}

}  // namespace
}  // namespace tolvek::testing
