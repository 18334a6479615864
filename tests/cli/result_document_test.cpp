#include "cli/result_document.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace tolvek {
namespace {

// Serialises a document with a single key, so the expected bytes do not
// depend on key order.
std::string one(const std::string& key, const Document& value) { return serializeDocument(Document{{key, value}}); }

TEST(ResultDocument, WritesCompactJsonWithEverySlashEscaped) {
  EXPECT_EQ(serializeDocument(Document::object()), "{}");
  EXPECT_EQ(one("path", "/tmp/out/IMG_0001.jpg"), R"({"path":"\/tmp\/out\/IMG_0001.jpg"})");
  EXPECT_EQ(one("A/1", "data:image/jpeg;base64,/9j/"), R"({"A\/1":"data:image\/jpeg;base64,\/9j\/"})");
  EXPECT_EQ(one("s", "//"), R"({"s":"\/\/"})");
  EXPECT_EQ(one("list", Document::array({"a/b", 1, true, nullptr})), R"({"list":["a\/b",1,true,null]})");
  EXPECT_EQ(one("nested", Document{{"x", Document::array({Document{{"y", "1/2"}}})}}),
            R"({"nested":{"x":[{"y":"1\/2"}]}})");
  EXPECT_EQ(one("backslash-slash", "\\/"), R"({"backslash-slash":"\\\/"})");
}

TEST(ResultDocument, WritesNumbersBooleansAndNull) {
  EXPECT_EQ(one("n", 0), R"({"n":0})");
  EXPECT_EQ(one("n", -42), R"({"n":-42})");
  EXPECT_EQ(one("n", std::numeric_limits<std::int64_t>::max()), R"({"n":9223372036854775807})");
  EXPECT_EQ(one("n", std::numeric_limits<std::int64_t>::min()), R"({"n":-9223372036854775808})");
  EXPECT_EQ(one("b", false), R"({"b":false})");
  EXPECT_EQ(one("v", nullptr), R"({"v":null})");
}

TEST(ResultDocument, WritesTextOutsideAsciiAsPlainUtf8) {
  EXPECT_EQ(one("title", "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7"),
            "{\"title\":\"Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7\"}");
  EXPECT_EQ(one("\xC3\xA9t\xC3\xA9", 1), "{\"\xC3\xA9t\xC3\xA9\":1}");
  EXPECT_EQ(one("s", "\xE2\x80\xA8\xEF\xBF\xBD"), "{\"s\":\"\xE2\x80\xA8\xEF\xBF\xBD\"}");
}

TEST(ResultDocument, EscapesQuotesBackslashesAndControlCharacters) {
  EXPECT_EQ(one("s", "say \"hi\""), R"({"s":"say \"hi\""})");
  EXPECT_EQ(one("s", "a\\b"), R"({"s":"a\\b"})");
  EXPECT_EQ(one("s", "line\nbreak\r\ttab"), R"({"s":"line\nbreak\r\ttab"})");
  EXPECT_EQ(one("s", std::string("\0\x01\x1F\b\f", 5)), R"({"s":"\u0000\u0001\u001f\b\f"})");
  // No raw line feed anywhere, whatever the strings hold.
  const std::string bytes = one("a\nb", Document::array({"\n\n", "x\ny"}));
  EXPECT_EQ(bytes.find('\n'), std::string::npos);
  EXPECT_EQ(Document::parse(bytes), (Document{{"a\nb", Document::array({"\n\n", "x\ny"})}}));
}

TEST(ResultDocument, RoundTripsThroughAJsonParser) {
  const Document document = {
      {"files", Document::array({Document{{"id", "X/L0/001"}, {"path", "/tmp/a b/\"q\".jpg"}}})},
      {"errors", Document::array({"IMG_1.HEIC: could not be read\\"})},
      {"count", 3},
      {"video", true},
      {"created", nullptr},
  };
  EXPECT_EQ(Document::parse(serializeDocument(document)), document);
}

TEST(ResultDocument, WritesEmptyObjectWhenTheDocumentCannotBeWritten) {
  const std::vector<std::pair<const char*, Document>> unwritable = {
      {"invalid UTF-8 in a value", Document{{"s", "caf\xE9"}}},
      {"invalid UTF-8 in a key", Document{{"\xFF", 1}}},
      {"invalid UTF-8 deep inside", Document{{"a", Document::array({1, Document{{"b", "\xC3"}}})}}},
      {"surrogate bytes", Document{{"s", "\xED\xA0\x80"}}},
      {"not finite", Document{{"x", std::numeric_limits<double>::quiet_NaN()}}},
      {"infinite in a list", Document{{"x", Document::array({std::numeric_limits<double>::infinity()})}}},
      {"binary", Document{{"x", Document::binary({1, 2, 3})}}},
      {"an array", Document::array({1, 2})},
      {"a string", Document("text")},
      {"null", Document()},
  };
  for (const auto& [what, document] : unwritable) EXPECT_EQ(serializeDocument(document), "{}") << what;
}

TEST(ResultDocument, ErrorDocumentHasExactlyErrorAndMessage) {
  const Document document = errorDocument("usage", "unknown command a/b");
  EXPECT_EQ(document.size(), 2u);
  EXPECT_EQ(document.at("error"), "usage");
  EXPECT_EQ(document.at("message"), "unknown command a/b");
  const std::string bytes = serializeDocument(document);
  EXPECT_TRUE(bytes == R"({"error":"usage","message":"unknown command a\/b"})" ||
              bytes == R"({"message":"unknown command a\/b","error":"usage"})")
      << bytes;
}

}  // namespace
}  // namespace tolvek
