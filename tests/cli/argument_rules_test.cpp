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
  const std::vector<IntegerCase> cases = {
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
      {"9223372036854775808", std::nullopt},
      {"-9223372036854775809", std::nullopt},
      {"99999999999999999999999", std::nullopt},
      {"", std::nullopt},
      {"+", std::nullopt},
      {"-", std::nullopt},
      {"++5", std::nullopt},
      {"+-5", std::nullopt},
      {"--5", std::nullopt},
      {"5-", std::nullopt},
      {"1e3", std::nullopt},
      {"0x10", std::nullopt},
      {"1.5", std::nullopt},
      {"1,5", std::nullopt},
      {" 5", std::nullopt},
      {"5 ", std::nullopt},
      {"\t5", std::nullopt},
      {"5\n", std::nullopt},
      {"12abc", std::nullopt},
      {"abc", std::nullopt},
      {"\xD9\xA3", std::nullopt},          // ARABIC-INDIC DIGIT THREE
      {"1\xEF\xBC\x92", std::nullopt},     // FULLWIDTH DIGIT TWO after an ASCII digit
      {"\xEF\xBC\x8B" "5", std::nullopt},  // FULLWIDTH PLUS SIGN
      {std::string("5\0", 2), std::nullopt},
  };
  for (const IntegerCase& c : cases) {
    EXPECT_EQ(parseInteger(c.text), c.value) << "text: \"" << c.text << "\"";
  }
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
