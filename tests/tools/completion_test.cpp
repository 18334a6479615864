// The bash completion the build makes from the tool's command table, run by
// bash: every command word, every option of every row, the fixed words after
// album and access, and file or folder names where a usage takes a path.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

#include "command_table.h"
#include "support/manual_files.h"
#include "support/media_fixtures.h"

namespace tolvek {
namespace {

using testing::completionsOf;
using Words = std::vector<std::string>;

class ToolCompletion : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasBash()) GTEST_SKIP() << "no bash to run the completion";
    ASSERT_TRUE(std::ifstream(testing::builtCompletion()).good()) << "not built: " << testing::builtCompletion();
  }
  // What completing the last of `words` after the program's name offers.
  Words offered(Words words, const std::string& folder = {}) {
    words.insert(words.begin(), "tolvek-photos-library");
    return completionsOf(testing::builtCompletion(), words, folder);
  }
  static Words sorted(Words words) {
    std::sort(words.begin(), words.end());
    return words;
  }
};

Words commandWords() {
  Words words;
  for (const tool::ToolCommand& command : tool::toolCommands()) words.emplace_back(command.word);
  return words;
}

TEST_F(ToolCompletion, CompletesEveryCommandWord) {
  Words all = commandWords();
  EXPECT_EQ(offered({"help", ""}), all);
  all.push_back("help");
  EXPECT_EQ(offered({""}), all);
  EXPECT_EQ(offered({"-"}), (Words{"--help", "--version"}));
  for (const std::string& word : commandWords()) {
    for (const std::size_t length : {std::size_t{1}, std::size_t{2}, word.size()}) {
      const std::string prefix = word.substr(0, length);
      Words expected;
      for (const std::string& other : all) {
        if (other.starts_with(prefix)) expected.push_back(other);
      }
      EXPECT_EQ(offered({prefix}), expected) << prefix;
    }
  }
  EXPECT_EQ(offered({"nosuchcommand", ""}), Words{});
}

TEST_F(ToolCompletion, CompletesEveryOptionOfEveryCommand) {
  for (const tool::ToolCommand& command : tool::toolCommands()) {
    const std::string word(command.word);
    Words options{"--help"};
    for (const tool::KnownOption& option : command.options()) {
      const std::string name = "--" + std::string(option.name);
      options.push_back(name);
      const Words completed = offered({word, name.substr(0, 3)});
      EXPECT_NE(std::find(completed.begin(), completed.end(), name), completed.end()) << word << " " << name;
      for (const std::string& other : completed) EXPECT_TRUE(other.starts_with(name.substr(0, 3))) << other;
      EXPECT_EQ(offered({word, name}), Words{name}) << word;
    }
    EXPECT_EQ(sorted(offered({word, "--"})), sorted(options)) << word;
    // After "--" every word is an operand, however it starts.
    EXPECT_EQ(offered({word, "--", "--"}), Words{}) << word;
  }
}

TEST_F(ToolCompletion, OffersTheWordsThatFollowACommand) {
  EXPECT_EQ(offered({"album", ""}), (Words{"list", "create", "rename", "delete", "add", "remove"}));
  EXPECT_EQ(offered({"album", "re"}), (Words{"rename", "remove"}));
  EXPECT_EQ(offered({"access", ""}), (Words{"grant", "deny", "restrict", "reset", "limit"}));
  EXPECT_EQ(offered({"album", "--untitled", "c"}), Words{"create"}) << "an option is no sub-word";
  // Once the sub-word is there, what follows it is a title or an identifier.
  EXPECT_EQ(offered({"album", "create", ""}), Words{});
  EXPECT_EQ(offered({"album", "delete", ""}), Words{});
}

TEST_F(ToolCompletion, OffersFilesOrFoldersWhereAUsageTakesAPath) {
  testing::ScratchFolder scratch;
  ASSERT_EQ(::mkdir(scratch.file("pictures").c_str(), 0755), 0);
  std::ofstream(scratch.file("photo.db")) << "x";
  const Words both{"photo.db", "pictures"};
  const struct {
    Words line;
    Words offered;
  } cases[] = {
      {{"sync", ""}, both},
      {{"sync", "pi"}, {"pictures"}},
      {{"forget", ""}, both},
      {{"import", ""}, both},
      {{"import", "--no-date", "p"}, both},
      {{"import", "--album", "X", ""}, both},
      {{"import", "--", ""}, both},
      {{"add", ""}, {"pictures"}},
      {{"add", "pictures", ""}, {"pictures"}},
      {{"add", "--shotwell", ""}, both},
      {{"add", "--digikam", "ph"}, {"photo.db"}},
      // An asset may be named by the path of its file (operands are not told
      // apart by position: an album's identifier or a URL beside one offers
      // files too).
      {{"favorite", ""}, both},
      {{"favorite", "--off", "ph"}, {"photo.db"}},
      {{"album", "add", "ALBUM", ""}, both},
      {{"album", "remove", "ALBUM", "pi"}, {"pictures"}},
      {{"access", "limit", ""}, both},
      {{"remove", "pi"}, {"pictures"}},
      {{"offload", ""}, both},
      // An option's value, albums' identifiers, titles: nothing to offer.
      {{"import", "--album", ""}, {}},
      {{"album", "rename", ""}, {}},
      {{"album", "create", ""}, {}},
      {{"status", ""}, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sorted(offered(c.line, scratch.path())), c.offered) << ::testing::PrintToString(c.line);
  }
}

}  // namespace
}  // namespace tolvek
