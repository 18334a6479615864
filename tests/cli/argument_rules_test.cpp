// How arguments are read: UTF-8 decoding of argv, then the number and
// identifier list rules.
#include "cli/argument_rules.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "cli/utf8_decoding.h"

namespace tolvek {
namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

struct IntegerCase {
  std::string text;
  std::optional<std::int64_t> value;
};

TEST(IntegerRule, AcceptsOnlyAnOptionalSignAndAsciiDigitsWithinSigned64Bits) {
  const std::vector<IntegerCase> accepted = {
      {"0", 0},
      {"5", 5},
      {"+5", 5},
      {"-5", -5},
      {"-0", 0},
      {"+0", 0},
      {"007", 7},
      {"-007", -7},
      {"0000000000000000000000000000042", 42},
      {"9223372036854775807", kMax},
      {"+9223372036854775807", kMax},
      {"-9223372036854775808", kMin},
  };
  for (const IntegerCase& c : accepted) EXPECT_EQ(parseInteger(c.text), c.value) << "text: \"" << c.text << "\"";
  // Signs alone or doubled, other notations, spaces, digits outside ASCII
  // (ARABIC-INDIC THREE, FULLWIDTH TWO and PLUS SIGN); out of range; a NUL.
  std::vector<std::string> rejected = {"",    "+",  "-",  "++5", "+-5", "--5",   "5-",  "1e3",    "0x10",    "1.5",
                                       "1,5", " 5", "5 ", "\t5", "5\n", "12abc", "abc", "\u0663", "1\uFF12", "\uFF0B5"};
  rejected.insert(rejected.end(), {"9223372036854775808", "-9223372036854775809", "99999999999999999999999"});
  rejected.push_back(std::string("5\0", 2));
  for (const std::string& text : rejected) EXPECT_EQ(parseInteger(text), std::nullopt) << "text: \"" << text << "\"";
}

TEST(IntegerRule, IntegerOrFallsBackToTheDefaultOnlyWhenRejected) {
  EXPECT_EQ(integerOr("", 60), 60);
  EXPECT_EQ(integerOr("abc", 60), 60);
  EXPECT_EQ(integerOr("9223372036854775808", 60), 60);
  EXPECT_EQ(integerOr("0", 60), 0);
  EXPECT_EQ(integerOr("-1", 240), -1);
  EXPECT_EQ(integerOr("9223372036854775807", 240), kMax);
}

struct ListCase {
  std::string text;
  std::vector<std::string> pieces;
};

TEST(IdentifierListRule, DropsEmptyPiecesAndKeepsTheRestUnaltered) {
  const std::vector<ListCase> cases = {
      {"", {}},
      {",", {}},
      {",,,", {}},
      {"A", {"A"}},
      {"A,B", {"A", "B"}},
      {",A,,B,", {"A", "B"}},
      {",,A", {"A"}},
      {"A,,", {"A"}},
      {" A , B ", {" A ", " B "}},
      {" ", {" "}},
      {"A,A,B,A", {"A", "A", "B", "A"}},
      {"B,A", {"B", "A"}},
      {"ID/L0/001,ID/L0/002", {"ID/L0/001", "ID/L0/002"}},
      {"\xEF\xBF\xBD,\xF0\x9F\x98\x80", {"\xEF\xBF\xBD", "\xF0\x9F\x98\x80"}},
      {"a;b|c", {"a;b|c"}},
      {"\"q\"\\,\n", {"\"q\"\\", "\n"}},
  };
  for (const ListCase& c : cases) {
    EXPECT_EQ(splitIdentifierList(c.text), c.pieces) << "text: \"" << c.text << "\"";
  }
}

TEST(IdentifierListRule, HandlesAnArgumentOfTheLargestSizeLinuxPasses) {
  std::string text(131071, ',');
  text[0] = 'x';
  text[65536] = 'y';
  text[131070] = 'z';
  EXPECT_EQ(splitIdentifierList(text), (std::vector<std::string>{"x", "y", "z"}));
}

const std::string R = "\xEF\xBF\xBD";  // U+FFFD

struct DecodingCase {
  const char* what;
  std::string bytes;
  std::string text;
};

TEST(Utf8Decoding, KeepsWellFormedTextUnchanged) {
  const std::vector<std::string> wellFormed = {
      "",
      "albums",
      "caf\xC3\xA9",
      "\xE2\x82\xAC",                  // U+20AC
      "\xF0\x9F\x98\x80",              // U+1F600
      "\xED\x9F\xBF",                  // U+D7FF, just below the surrogates
      "\xEE\x80\x80",                  // U+E000, just above them
      "\xF4\x8F\xBF\xBF",              // U+10FFFF
      "\xC2\x80\xDF\xBF",              // the ends of the two-byte range
      std::string("\x01\x1F\x7F", 3),  // control characters are valid text
      "\xEF\xBF\xBD",                  // U+FFFD itself
  };
  for (const std::string& text : wellFormed) EXPECT_EQ(decodeUtf8(text), text);
}

TEST(Utf8Decoding, ReplacesEachMaximalSubpartOfAnIllFormedSequence) {
  const std::vector<DecodingCase> cases = {
      // The example of the Unicode standard (chapter 3.9, "U+FFFD Substitution of Maximal Subparts").
      {"standard example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
       "a" + R + R + R + "b" + R + "c" + R + R + "d"},
      {"lone continuation byte", "\x80", R},
      {"two continuation bytes", "\x80\xBF", R + R},
      {"bytes that never occur", "\xC0\xC1\xF5\xFF", R + R + R + R},
      {"overlong two-byte", "\xC0\xAF", R + R},
      {"overlong three-byte", "\xE0\x80\xAF", R + R + R},
      {"overlong four-byte", "\xF0\x80\x80\xAF", R + R + R + R},
      {"surrogate", "\xED\xA0\x80", R + R + R},
      {"beyond U+10FFFF", "\xF4\x90\x80\x80", R + R + R + R},
      {"truncated two-byte at the end", "a\xC3", "a" + R},
      {"truncated three-byte at the end", "a\xE2\x82", "a" + R},
      {"truncated four-byte at the end", "\xF0\x9F\x98", R},
      {"truncated three-byte before ASCII", "\xE2\x82z", R + "z"},
      {"truncated four-byte before a valid character", "\xF0\x9F\xC3\xA9", R + "\xC3\xA9"},
      {"lead byte followed by a lead byte", "\xE2\xE2\x82\xAC", R + "\xE2\x82\xAC"},
      {"Latin-1 text", "caf\xE9", "caf" + R},
      {"Latin-1 before ASCII", "\xE9t\xE9", R + "t" + R},
      {"valid then stray", "\xF0\x9F\x98\x80\x80", "\xF0\x9F\x98\x80" + R},
  };
  for (const DecodingCase& c : cases) EXPECT_EQ(decodeUtf8(c.bytes), c.text) << c.what;
}

TEST(Utf8Decoding, DecodesEveryArgumentAfterTheProgramPath) {
  const char* argv[] = {"/path/\xFFtolvek-photos", "list", "\xFF", "", "\xE2\x82\xAC"};
  EXPECT_EQ(decodeArguments(5, argv), (std::vector<std::string>{"list", R, "", "\xE2\x82\xAC"}));
  EXPECT_TRUE(decodeArguments(1, argv).empty());
  EXPECT_TRUE(decodeArguments(0, nullptr).empty());
}

}  // namespace
}  // namespace tolvek
