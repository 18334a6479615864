// The manual pages the build makes from the command tables, rendered by
// groff: no warnings, every command, option and text of the tool's table
// (so a new row cannot be missing), the same usages as --help, and the
// helper's commands from its own table.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "cli/command_table.h"
#include "cli/dispatch.h"
#include "command_table.h"
#include "support/manual_files.h"
#include "tool_commands.h"

namespace tolvek {
namespace {

using testing::RenderedPage;
using testing::sectionLines;

std::string contentOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// `text` with every run of white space one space, so that a text reads the
// same however a page fills its lines.
std::string words(std::string_view text) {
  std::string out;
  for (const char c : text) {
    const bool space = c == ' ' || c == '\n' || c == '\t';
    if (space && (out.empty() || out.back() == ' ')) continue;
    out += space ? ' ' : c;
  }
  if (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

class ManualPages : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::hasGroff()) GTEST_SKIP() << "no groff to render the manual pages";
  }
  RenderedPage rendered(const std::string& name) {
    const std::string path = testing::builtManualPage(name);
    EXPECT_TRUE(std::ifstream(path).good()) << "not built: " << path;
    RenderedPage page = testing::renderManualPage(path);
    EXPECT_EQ(page.exitStatus, 0) << name;
    EXPECT_EQ(page.warnings, "") << name;
    return page;
  }
};

TEST_F(ManualPages, RenderWithoutWarningsAndAreCompressedReproducibly) {
  for (const std::string name : {"tolvek-photos-library", "tolvek-photos"}) {
    const RenderedPage page = rendered(name);
    // What whatis and apropos read: "name - what it does", on one line.
    const auto nameLines = sectionLines(page.text, "NAME");
    ASSERT_EQ(nameLines.size(), 1U) << page.text;
    EXPECT_TRUE(nameLines.front().starts_with(name + " - ")) << nameLines.front();
    // gzip -n: no file name and no time in the header, so a rebuild makes the same bytes.
    const std::string compressed = contentOf(testing::builtManualPage(name) + ".gz");
    ASSERT_GE(compressed.size(), 10U) << name;
    EXPECT_EQ(compressed.substr(0, 2), "\x1f\x8b") << name;
    EXPECT_EQ(compressed[3] & 0x08, 0) << name << ": the header names the file";
    EXPECT_EQ(compressed.substr(4, 4), std::string(4, '\0')) << name << ": the header holds a time";
  }
}

TEST_F(ManualPages, ToolPageHoldsEveryCommandOptionAndTextOfTheTable) {
  const RenderedPage page = rendered("tolvek-photos-library");
  const std::string text = words(page.text);
  const std::vector<std::string> commands = sectionLines(page.text, "COMMANDS");
  for (const tool::ToolCommand& command : tool::toolCommands()) {
    EXPECT_NE(std::find(commands.begin(), commands.end(), command.word), commands.end()) << command.word;
    for (const tool::KnownOption& option : command.options()) {
      EXPECT_NE(text.find("--" + std::string(option.name)), std::string::npos) << option.name;
    }
    for (const tool::SummaryEntry& entry : tool::summaryEntries(command.summary)) {
      EXPECT_NE(text.find(words(entry.usage + " " + entry.description)), std::string::npos) << entry.usage;
    }
    EXPECT_NE(text.find(words(command.help)), std::string::npos) << command.word << " help:\n" << command.help;
  }
  for (const int status : {tool::kExitOk, tool::kExitFailure, tool::kExitUsage}) {
    const auto lines = sectionLines(page.text, "EXIT STATUS");
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(),
                            [&](const std::string& line) { return line.starts_with(std::to_string(status) + " "); }))
        << status;
  }
  for (const char* section : {"SYNOPSIS", "DESCRIPTION", "OPTIONS", "ENVIRONMENT", "FILES", "SEE ALSO"}) {
    EXPECT_FALSE(sectionLines(page.text, section).empty()) << section;
  }
}

TEST_F(ManualPages, ToolSynopsisListsTheUsagesOfTheOverview) {
  // The overview's command lines, as --help prints them: each usage up to
  // its description; lines indented further continue a description.
  std::vector<std::string> expected;
  std::istringstream overview(tool::overviewText());
  bool inCommands = false;
  for (std::string line; std::getline(overview, line);) {
    if (line == "Commands:") inCommands = true;
    if (!inCommands || !line.starts_with("  ") || line.starts_with("   ")) continue;
    expected.push_back("tolvek-photos-library " + line.substr(2, line.find("  ", 2) - 2));
  }
  ASSERT_GE(expected.size(), tool::toolCommands().size());
  expected.push_back("tolvek-photos-library --help");
  expected.push_back("tolvek-photos-library --version");
  EXPECT_EQ(sectionLines(rendered("tolvek-photos-library").text, "SYNOPSIS"), expected);
}

TEST_F(ManualPages, HelperPageListsTheCommandsOfItsTable) {
  const RenderedPage page = rendered("tolvek-photos");
  std::vector<std::string> expected;
  for (const Command& command : commands()) expected.push_back("tolvek-photos " + std::string(command.usage));
  EXPECT_EQ(sectionLines(page.text, "SYNOPSIS"), expected);
  const std::string listed = words(page.text);
  for (const Command& command : commands()) {
    EXPECT_FALSE(command.description.empty()) << command.word;
    const std::string description = words(command.description);
    EXPECT_NE(listed.find("tolvek-photos " + std::string(command.usage) + " " + description), std::string::npos)
        << command.word;
  }
  const auto statuses = sectionLines(page.text, "EXIT STATUS");
  for (const int status : {kExitSuccess, kExitUsage, kExitAccessRefused}) {
    EXPECT_TRUE(std::any_of(statuses.begin(), statuses.end(),
                            [&](const std::string& line) { return line.starts_with(std::to_string(status) + " "); }))
        << status;
  }
  EXPECT_NE(listed.find(std::string(kAccessRefusedMessage)), std::string::npos);
  EXPECT_NE(listed.find(programUsage()), std::string::npos);
}

}  // namespace
}  // namespace tolvek
