// The one UTF-8 check and repair, against GLib's g_utf8_validate and
// g_utf8_make_valid, whose answers the catalog and the documents relied on.
#include "library/utf8_text.h"

#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvek::testing {
namespace {

bool glibValid(const std::string& text) { return g_utf8_validate_len(text.data(), text.size(), nullptr); }

std::string glibRepaired(const std::string& text) {
  gchar* repaired = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
  std::string result(repaired);
  g_free(repaired);
  return result;
}

struct Case {
  std::string text;
  std::size_t validPrefix;
};

TEST(Utf8Text, AcceptsOnlyShortestFormsOfScalarValuesWithoutNul) {
  const std::vector<Case> cases = {
      {"", 0},
      {"plain ASCII", 11},
      {"caf\xC3\xA9", 5},
      {"\xE2\x82\xAC \xF0\x9F\x93\xB7", 8},
      {"\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", 19},  // each form's ends
      {std::string("a\0b", 3), 1},                                                     // NUL in counted text
      {"\xC0\x80", 0},                                                                 // overlong NUL
      {"\xC1\xBF", 0},                                                                 // overlong two bytes
      {"\xE0\x9F\xBF", 0},                                                             // overlong three bytes
      {"\xF0\x8F\xBF\xBF", 0},                                                         // overlong four bytes
      {"ok\xED\xA0\x80", 2},                                                           // a surrogate
      {"\xED\x9F\xBF\xED\xBF\xBF", 3},                                                 // last before, a surrogate
      {"\xF4\x90\x80\x80", 0},                                                         // above U+10FFFF
      {"\xF5\x80\x80\x80", 0},
      {"\xFF", 0},
      {"ab\x80", 2},                                                                   // lone continuation
      {"\xE2\x82", 0},                                                                 // cut short
      {"\xF0\x9F\x93", 0},
      {"\xE2\x28\xA1", 0},                                                             // not a continuation
  };
  for (const Case& c : cases) {
    EXPECT_EQ(validUtf8Prefix(c.text), c.validPrefix) << c.text;
    EXPECT_EQ(isValidUtf8(c.text), glibValid(c.text)) << c.text;
    EXPECT_EQ(validUtf8(c.text), glibRepaired(c.text)) << c.text;
  }
}

// Every sequence of one or two bytes, and every three- and four-byte one
// over the bytes where the rules change, decided as GLib decides it.
TEST(Utf8Text, AgreesWithGLibOnEverySequenceAroundTheBoundaries) {
  std::vector<unsigned char> edges;
  for (int b : {0x00, 0x01, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC1, 0xC2, 0xDF, 0xE0, 0xE1,
                0xEC, 0xED, 0xEE, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xFF}) {
    edges.push_back(static_cast<unsigned char>(b));
  }
  int mismatches = 0;
  const auto check = [&](const std::string& text) {
    if (isValidUtf8(text) != glibValid(text) || validUtf8(text) != glibRepaired(text)) ++mismatches;
  };
  for (int a = 0; a < 256; ++a) {
    for (int b = 0; b < 256; ++b) check({static_cast<char>(a), static_cast<char>(b)});
  }
  for (unsigned char a : edges) {
    for (unsigned char b : edges) {
      for (unsigned char c : edges) {
        check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)});
        for (unsigned char d : edges) check({static_cast<char>(a), static_cast<char>(b), static_cast<char>(c), static_cast<char>(d)});
      }
    }
  }
  EXPECT_EQ(mismatches, 0);
}

}  // namespace
}  // namespace tolvek::testing
