// The commands' own text encodings: Base64 for data URLs and the lower case
// export names are compared in, both against what GLib produced before.
#include <glib.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "commands/base64.h"
#include "commands/utf8_lowercase.h"

namespace tolvek::testing {
namespace {

TEST(Base64, EncodesTheVectorsOfRfc4648) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},         {"f", "Zg=="},        {"fo", "Zm8="},        {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {std::string("\0\xFF\xFE", 3), "AP/+"}};
  for (const auto& [bytes, text] : vectors) EXPECT_EQ(base64Encoded(bytes), text) << text;
}

TEST(Base64, MatchesGLibOnEveryByteAndEveryRemainder) {
  std::string bytes;
  for (int i = 0; i < 256 * 3 + 2; ++i) bytes += static_cast<char>((i * 131 + i / 256) & 0xFF);
  for (std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{255},
                             std::size_t{256}, std::size_t{257}, bytes.size()}) {
    gchar* glib = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), length);
    EXPECT_EQ(base64Encoded(std::string_view(bytes).substr(0, length)), glib) << length;
    g_free(glib);
  }
}

std::string glibLower(const std::string& text) {
  gchar* lower = g_utf8_strdown(text.data(), static_cast<gssize>(text.size()));
  std::string result(lower);
  g_free(lower);
  return result;
}

std::string utf8(gunichar c) {
  char bytes[8] = {};
  return std::string(bytes, static_cast<std::size_t>(g_unichar_to_utf8(c, bytes)));
}

// Every code point alone, and between letters (where only the capital sigma
// changes), lower-cased as GLib lower-cases it.
TEST(Utf8Lowercase, MatchesGLibForEveryCodePoint) {
  int mismatches = 0;
  for (gunichar c = 1; c < 0x110000; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    const std::string text = utf8(c);
    if (utf8Lowercase(text) != glibLower(text)) ++mismatches;
    if (c % 7 == 0 && utf8Lowercase("A" + text + "b") != glibLower("A" + text + "b")) ++mismatches;
  }
  EXPECT_EQ(mismatches, 0);
}

TEST(Utf8Lowercase, TheCapitalSigmaIsFinalUnlessALetterFollows) {
  const std::vector<std::string> texts = {"\xCE\xA3",  "\xCE\xA3\xCE\xA3", "\xCE\xA3.jpg", "\xCE\xA3" "A",
                                          "\xCE\xA3\xE4\xB8\x80", "\xCE\xA3 x", "\xCE\xA3\xCC\x81", "\xCE\xA3" "1",
                                          "IMG_\xC4\xB0.JPG", "\xC3\x89T\xC3\x89.HEIC"};
  for (const std::string& text : texts) EXPECT_EQ(utf8Lowercase(text), glibLower(text)) << text;
}

}  // namespace
}  // namespace tolvek::testing
