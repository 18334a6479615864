// The pieces the manual pages and the completion are made of, in process:
// text turned into roff, usages read into their words, and a command table
// whose words the completion could not offer unquoted.
#include <gtest/gtest.h>

#include <array>

#include "command_table.h"
#include "completion.h"
#include "roff.h"
#include "usage_shape.h"

namespace tolvek::manual {
namespace {

struct Conversion {
  const char* input;
  const char* roff;
};

TEST(ManualRoff, TextKeepsWhatTheReaderSees) {
  const Conversion cases[] = {
      {"plain words, as is", "plain words, as is"},
      {"a \\ backslash", "a \\e backslash"},
      {".nomedia starts the line", "\\&.nomedia starts the line"},
      {"'quoted' starts the line", "\\&'quoted' starts the line"},
      {"a dot .inside", "a dot .inside"},
      {"--no-date and -x", "\\-\\-no\\-date and \\-x"},
      {"read-only stays a hyphen", "\\%read-only stays a hyphen"},
      {"(-1: rejected) [--album", "(\\-1: rejected) [\\-\\-album"},
      {"an ASSET_ID of - reads", "an ASSET_ID of \\- reads"},
      {"--off,then text-with-hyphens", "\\-\\-off,then \\%text-with-hyphens"},
      {"LINK \xE2\x86\x92 TARGET", "LINK \\[u2192] TARGET"},
      {"caf\xC3\xA9 and \xF0\x9F\x93\xB7", "caf\\[u00E9] and \\[u1F4F7]"},
      {"bad \xFF byte", "bad \\[uFFFD] byte"},
      {"\xE2\x80\xA6 starts the line", "\\&... starts the line"},
      {"\xE2\x80\xA6-after (tolvek-photos)", "\\%...-after \\%(tolvek-photos)"},
  };
  for (const Conversion& c : cases) EXPECT_EQ(roffText(c.input), c.roff) << c.input;
}

TEST(ManualRoff, UsageHasWordsInBoldAndOperandsInItalics) {
  const Conversion cases[] = {
      {"sync [SOURCE...]", "\\fBsync\\fR [\\fISOURCE\\fR...]"},
      {"import [--album ALBUM_ID] [--no-date] PATH...",
       "\\fBimport\\fR [\\fB\\-\\-album\\fR \\fIALBUM_ID\\fR] [\\fB\\-\\-no\\-date\\fR] \\fIPATH\\fR..."},
      {"access grant|deny", "\\fBaccess\\fR \\fBgrant\\fR|\\fBdeny\\fR"},
      {"album create TITLE | --untitled", "\\fBalbum\\fR \\fBcreate\\fR \\fITITLE\\fR | \\fB\\-\\-untitled\\fR"},
      {"list [albumId] [limit]", "\\fBlist\\fR [\\fIalbumId\\fR] [\\fIlimit\\fR]"},
      {"thumbs <size> <ids>", "\\fBthumbs\\fR <\\fIsize\\fR> <\\fIids\\fR>"},
      {".hidden NAME", "\\&.\\fBhidden\\fR \\fINAME\\fR"},
      {"which PATH\xE2\x80\xA6", "\\fBwhich\\fR \\fIPATH\\fR..."},
  };
  for (const Conversion& c : cases) EXPECT_EQ(roffUsage(c.input), c.roff) << c.input;
}

TEST(ManualRoff, HelpBecomesParagraphsAndLists) {
  const Conversion cases[] = {
      {"One line.\n", ".PP\nOne line.\n"},
      {"First\nstill first.\n\nSecond.\n", ".PP\nFirst\nstill first.\n.PP\nSecond.\n"},
      {"Options:\n  --off   stop\n          and more\nAfter.\n",
       ".PP\nOptions:\n.TP 8n\n\\fB\\-\\-off\\fR\nstop\nand more\n.PP\nAfter.\n"},
      {"  grant  full\n  deny   none\n\nNext.\n",
       ".PP\n.TP 7n\n\\fBgrant\\fR\nfull\n.TP 7n\n\\fBdeny\\fR\nnone\n.PP\nNext.\n"},
      {"  --album ALBUM_ID   add\n", ".PP\n.TP 19n\n\\fB\\-\\-album\\fR \\fIALBUM_ID\\fR\nadd\n"},
      {"A line\n  indented alone\n", ".PP\nA line\nindented alone\n"},
      {".dot first\n", ".PP\n\\&.dot first\n"},
  };
  for (const Conversion& c : cases) EXPECT_EQ(roffParagraphs(c.input), c.roff) << c.input;
}

TEST(ManualRoff, ArgumentsAreQuoted) {
  EXPECT_EQ(roffArgument("tolvek-photos 1"), "\"\\%tolvek-photos 1\"");
  EXPECT_EQ(roffArgument("say \"hi\" -x"), "\"say \\(dqhi\\(dq \\-x\"");
}

struct ShapeCase {
  const char* usage;
  std::vector<std::string> subWords;
  std::vector<std::string> requiredOptions;
  std::vector<std::string> operands;
};

TEST(UsageShape, ReadsSubWordsRequiredOptionsAndOperands) {
  const ShapeCase cases[] = {
      {"sync [SOURCE...]", {}, {}, {"SOURCE"}},
      {"add FOLDER...", {}, {}, {"FOLDER"}},
      {"add --shotwell|--digikam [DATABASE]", {}, {"--shotwell", "--digikam"}, {"DATABASE"}},
      {"access grant|deny|restrict|reset", {"grant", "deny", "restrict", "reset"}, {}, {}},
      {"access limit [ASSET_ID...]", {"limit"}, {}, {"ASSET_ID"}},
      {"album create TITLE | --untitled", {"create"}, {}, {"TITLE"}},
      {"album add ALBUM_ID ASSET_ID...", {"add"}, {}, {"ALBUM_ID", "ASSET_ID"}},
      {"import [--album ALBUM_ID] [--no-date] PATH...", {}, {}, {"ALBUM_ID", "PATH"}},
      {"watch [--install | --uninstall]", {}, {}, {}},
      {"thumbs <size> <ids>", {}, {}, {"size", "ids"}},
      {"list [albumId] [limit]", {}, {}, {"albumId", "limit"}},
      {"status", {}, {}, {}},
      {"which PATH\xE2\x80\xA6 [ID\xE2\x80\xA6]", {}, {}, {"PATH", "ID"}},
  };
  for (const ShapeCase& c : cases) {
    const UsageShape shape = usageShape(c.usage);
    EXPECT_EQ(shape.subWords, c.subWords) << c.usage;
    EXPECT_EQ(shape.requiredOptions, c.requiredOptions) << c.usage;
    EXPECT_EQ(shape.operands, c.operands) << c.usage;
  }
}

TEST(UsageShape, OperandNamesSayWhatToOffer) {
  const std::pair<const char*, OperandKind> cases[] = {
      {"FOLDER", OperandKind::folder}, {"SOURCE", OperandKind::file},  {"PATH", OperandKind::file},
      {"DATABASE", OperandKind::file}, {"ALBUM_ID", OperandKind::none}, {"URL", OperandKind::none},
      {"folder", OperandKind::none},   {"TITLE", OperandKind::none},     {"ASSET_ID", OperandKind::file},
  };
  for (const auto& [name, kind] : cases) EXPECT_EQ(operandKind(name), kind) << name;
}

TEST(ToolSummary, EntriesJoinContinuedDescriptions) {
  const auto entries = tool::summaryEntries(
      "  add FOLDER...                      reference folders\n"
      "  add --shotwell|--digikam [DATABASE]\n"
      "                                     take in a Shotwell or digiKam\n"
      "                                     library\n"
      "\n"
      "  path\n");
  ASSERT_EQ(entries.size(), 3U);
  EXPECT_EQ(entries[0].usage, "add FOLDER...");
  EXPECT_EQ(entries[0].description, "reference folders");
  EXPECT_EQ(entries[1].usage, "add --shotwell|--digikam [DATABASE]");
  EXPECT_EQ(entries[1].description, "take in a Shotwell or digiKam library");
  EXPECT_EQ(entries[2].usage, "path");
  EXPECT_EQ(entries[2].description, "");
  // The overview's usages: every row's, in order, then help's.
  const std::vector<std::string> usages = tool::overviewUsages();
  ASSERT_FALSE(usages.empty());
  EXPECT_EQ(usages.front(), tool::usageLines(tool::toolCommands().front()).front());
  EXPECT_EQ(usages.back(), "help COMMAND");
}

int runNothing(const tool::Arguments&) { return 0; }
std::span<const tool::KnownOption> noOptions() { return {}; }
std::span<const tool::KnownOption> quotedOption() {
  static constexpr std::array options{tool::KnownOption{"a$(b)"}};
  return options;
}

TEST(ManualCompletion, RefusesWordsThatWouldNeedQuoting) {
  const std::array<tool::ToolCommand, 1> spaced{tool::ToolCommand{"two words", "  two words\n", "", runNothing, noOptions}};
  const std::array<tool::ToolCommand, 1> subWord{
      tool::ToolCommand{"pick", "  pick one|t*o   choose\n", "", runNothing, noOptions}};
  const std::array<tool::ToolCommand, 1> option{tool::ToolCommand{"pick", "  pick\n", "", runNothing, quotedOption}};
  const std::array<tool::ToolCommand, 1> sound{tool::ToolCommand{"pick", "  pick one|two\n", "", runNothing, noOptions}};
  EXPECT_FALSE(bashCompletion(spaced).ok());
  EXPECT_FALSE(bashCompletion(subWord).ok());
  EXPECT_FALSE(bashCompletion(option).ok());
  const auto made = bashCompletion(sound);
  ASSERT_TRUE(made.ok()) << made.message();
  EXPECT_NE(made->find("subwords=\"one two\""), std::string::npos) << *made;
}

}  // namespace
}  // namespace tolvek::manual
