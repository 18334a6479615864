// The document writer against the serialiser documents were written with
// before: nlohmann's compact, strict dump followed by a pass that escapes
// every "/". Both must give the same bytes for every value.
#include "commands/json_writer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace tolvek {
namespace {

// The earlier serialiser, kept here as the reference.
std::string referenceBytes(const Document& document) {
  const auto writable = [](const auto& self, const Document& value) -> bool {
    if (value.is_structured()) {
      for (const Document& element : value) {
        if (!self(self, element)) return false;
      }
      return true;
    }
    if (value.is_number_float()) return std::isfinite(value.get<double>());
    return !value.is_binary() && !value.is_discarded();
  };
  if (!document.is_object() || !writable(writable, document)) return "{}";
  std::string json;
  try {
    json = document.dump(-1, ' ', false, Document::error_handler_t::strict);
  } catch (const Document::exception&) {
    return "{}";
  }
  std::string escaped;
  for (const char c : json) {
    if (c == '/') escaped.push_back('\\');
    escaped.push_back(c);
  }
  return escaped;
}

// `text` as a value and as a key, each alone and beside other members.
void expectSameBytes(const std::string& text) {
  for (const Document& document : {Document{{"k", text}}, Document{{text, 1}},
                                   Document{{"a", Document::array({text, text})}, {"z/", Document{{text, text}}}}}) {
    const std::string expected = referenceBytes(document);
    const std::string written = ResultDocument(document).bytes();
    ASSERT_EQ(written, expected) << "bytes of " << ::testing::PrintToString(text);
  }
}

TEST(JsonWriter, EveryStringOfOneOrTwoBytesAsTheEarlierSerialiser) {
  // Every escape, "/", DEL, every lone or cut-off lead byte and stray
  // continuation byte, and every two-byte sequence, valid or not.
  for (int first = 0; first < 256; ++first) {
    expectSameBytes(std::string(1, static_cast<char>(first)));
    for (int second = 0; second < 256; ++second) {
      const char pair[] = {static_cast<char>(first), static_cast<char>(second)};
      expectSameBytes(std::string(pair, 2));
    }
  }
}

TEST(JsonWriter, LongerSequencesAsTheEarlierSerialiser) {
  const std::vector<std::string> cases = {
      "",
      "plain text with spaces",
      "/tmp/out/IMG_0001.jpg",
      "\\/",
      "say \"hi\"\\",
      std::string("\0a\0", 3),
      "\x7F\x1F\x20",
      "Caf\xC3\xA9 \xE6\x97\xA5\xE6\x9C\xAC \xF0\x9F\x93\xB7",
      "\xE0\xA0\x80",          // U+0800, the first three-byte character
      "\xE0\x9F\xBF",          // an overlong three-byte form
      "\xED\x9F\xBF",          // U+D7FF, just below the surrogates
      "\xED\xA0\x80",          // a surrogate
      "\xED\xBF\xBF",          // the last surrogate
      "\xEE\x80\x80",          // U+E000, just above them
      "\xEF\xBF\xBF",          // U+FFFF
      "\xEF\xBF\xBE",          // U+FFFE
      "\xE2\x80\xA8",          // U+2028
      "\xF0\x90\x80\x80",      // U+10000
      "\xF0\x8F\xBF\xBF",      // an overlong four-byte form
      "\xF4\x8F\xBF\xBF",      // U+10FFFF
      "\xF4\x90\x80\x80",      // beyond U+10FFFF
      "\xF5\x80\x80\x80",
      "\xF0\x9F\x93",          // cut off
      "\xE6\x97",              // cut off
      "ok\xE6\x97\xA5/\xC3",   // cut off after valid text
      "\xF0\x9F\x93\xB7\x80",  // a stray continuation after a valid character
      std::string(70000, '/'),
      std::string(70000, 'x') + "\xFF",
  };
  for (const std::string& text : cases) expectSameBytes(text);
}

TEST(JsonWriter, ValuesOfEveryKindAsTheEarlierSerialiser) {
  const std::vector<Document> values = {
      Document::object(),
      Document::array(),
      Document::array({Document::object(), Document::array(), Document::array({Document::array()})}),
      nullptr,
      true,
      false,
      0,
      -1,
      std::numeric_limits<std::int64_t>::max(),
      std::numeric_limits<std::int64_t>::min(),
      std::numeric_limits<std::uint64_t>::max(),
      std::size_t{1200},
      1.5,
      -0.0,
      1e100,
      1e-7,
      std::numeric_limits<double>::quiet_NaN(),
      std::numeric_limits<double>::infinity(),
      -std::numeric_limits<double>::infinity(),
      Document::binary({1, 2, 3}),
      Document::array({1, "two/2", nullptr, Document{{"three", 3}}}),
  };
  for (const Document& value : values) {
    const Document document = {{"v", value}, {"after", "/"}};
    EXPECT_EQ(ResultDocument(document).bytes(), referenceBytes(document)) << value.dump();
  }
  // Only an object is a document.
  for (const Document& value : values) EXPECT_EQ(ResultDocument(value).bytes(), referenceBytes(value));
}

TEST(JsonWriter, WritesMembersInTheOrderGivenWithCommasBetween) {
  JsonWriter out;
  out.beginObject().key("items").beginArray();
  for (int i = 0; i < 3; ++i) {
    out.beginObject().key("date").null().key("id").string("A/" + std::to_string(i)).key("isVideo").boolean(i == 1);
    out.key("n").integer(-i).key("u").unsignedInteger(std::numeric_limits<std::uint64_t>::max()).endObject();
  }
  out.endArray().key("empty").beginObject().endObject().key("none").beginArray().endArray().endObject();
  const std::string item = R"({"date":null,"id":"A\/%d","isVideo":%s,"n":%s,"u":18446744073709551615})";
  std::string expected = R"({"items":[)";
  for (int i = 0; i < 3; ++i) {
    std::string one = item;
    one.replace(one.find("%d"), 2, std::to_string(i));
    one.replace(one.find("%s"), 2, i == 1 ? "true" : "false");
    one.replace(one.find("%s"), 2, i == 0 ? "0" : "-" + std::to_string(i));
    expected += (i > 0 ? "," : "") + one;
  }
  expected += R"(],"empty":{},"none":[]})";
  EXPECT_EQ(std::move(out).finish().bytes(), expected);
}

TEST(JsonWriter, OneUnwritableValueMakesTheWholeDocumentEmpty) {
  JsonWriter invalid;
  invalid.beginObject().key("good").string("fine").key("bad").string("caf\xE9").endObject();
  EXPECT_EQ(std::move(invalid).finish().bytes(), "{}");
  JsonWriter badKey;
  badKey.beginObject().key("\xC0\xAF").integer(1).endObject();
  EXPECT_EQ(std::move(badKey).finish().bytes(), "{}");
  JsonWriter refused;
  refused.beginObject().key("x").null();
  refused.refuse();
  EXPECT_EQ(std::move(refused.endObject()).finish().bytes(), "{}");
}

TEST(JsonWriter, EscapingLeavesTheBufferAsItWasOnInvalidText) {
  std::string out = "kept";
  EXPECT_FALSE(appendJsonEscaped(out, "a/b\xFF"));
  EXPECT_EQ(out, "kept");
  EXPECT_TRUE(appendJsonEscaped(out, "a/b\n\xC3\xA9"));
  EXPECT_EQ(out, "kepta\\/b\\n\xC3\xA9");
}

}  // namespace
}  // namespace tolvek
