#include "cli/argument_rules.h"

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <string>
#include <vector>

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

}  // namespace
}  // namespace tolvek
