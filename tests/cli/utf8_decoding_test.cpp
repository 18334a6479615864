#include "cli/utf8_decoding.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace tolvek {
namespace {

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
