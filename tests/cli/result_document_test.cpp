// Result documents: their exact bytes, and how they are written out (whole
// writes, the line feed, the error document and exit of fail).
#include "cli/result_document.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <string>
#include <vector>

#include "cli/document_writer.h"

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

// A scripted write(2): each call takes the next step, either "accept at most
// N bytes" or "fail with this errno", and records what it was offered and took.
struct WriteStep {
  ssize_t accept;  // bytes taken (capped at the count), or -1 to fail
  int error = 0;
};

struct ScriptedWrites {
  std::vector<WriteStep> steps;
  std::size_t next = 0;
  std::string written;
  std::vector<std::string> calls;  // the bytes of each successful call
};

ScriptedWrites* script = nullptr;

ssize_t scriptedWrite(int, const void* bytes, std::size_t count) {
  // After the script: accept everything.
  const WriteStep step =
      script->next < script->steps.size() ? script->steps[script->next++] : WriteStep{static_cast<ssize_t>(count)};
  if (step.accept < 0) {
    errno = step.error;
    return -1;
  }
  const std::size_t taken = std::min(count, static_cast<std::size_t>(step.accept));
  script->written.append(static_cast<const char*>(bytes), taken);
  script->calls.emplace_back(static_cast<const char*>(bytes), taken);
  return static_cast<ssize_t>(taken);
}

class DocumentWriter : public ::testing::Test {
 protected:
  void SetUp() override { script = &writes; }
  void TearDown() override { script = nullptr; }
  ScriptedWrites writes;
};

TEST_F(DocumentWriter, ContinuesAfterPartialWritesAndInterruptions) {
  writes.steps = {{3}, {-1, EINTR}, {1}, {-1, EINTR}, {-1, EINTR}, {5}};
  EXPECT_TRUE(writeFully(1, "0123456789abcdef", scriptedWrite));
  EXPECT_EQ(writes.written, "0123456789abcdef");
  EXPECT_EQ(writes.calls, (std::vector<std::string>{"012", "3", "45678", "9abcdef"}));
}

TEST_F(DocumentWriter, GivesUpOnAFailedWriteOrOneWithoutProgress) {
  writes.steps = {{2}, {-1, EPIPE}};
  EXPECT_FALSE(writeFully(1, "abcdef", scriptedWrite));
  EXPECT_EQ(writes.written, "ab");

  ScriptedWrites stuck;
  script = &stuck;
  stuck.steps = {{0}};
  EXPECT_FALSE(writeFully(1, "abcdef", scriptedWrite));
  EXPECT_EQ(stuck.next, 1u);  // no second attempt at a descriptor that takes nothing
}

TEST_F(DocumentWriter, EmitWritesTheDocumentThenALineFeedAsASeparateWrite) {
  emitTo(1, Document{{"path", "/a"}}, scriptedWrite);
  EXPECT_EQ(writes.calls, (std::vector<std::string>{R"({"path":"\/a"})", "\n"}));
}

TEST_F(DocumentWriter, EmitFinishesADocumentWrittenInPieces) {
  writes.steps = {{1}, {-1, EINTR}, {2}};
  emitTo(1, Document{{"k", "v"}}, scriptedWrite);
  EXPECT_EQ(writes.written, "{\"k\":\"v\"}\n");
  EXPECT_EQ(writes.calls.back(), "\n");
}

TEST_F(DocumentWriter, EmitStillWritesTheLineFeedAfterAFailedDocumentWrite) {
  writes.steps = {{-1, EIO}};
  emitTo(1, Document{{"k", "v"}}, scriptedWrite);
  EXPECT_EQ(writes.written, "\n");
}

TEST_F(DocumentWriter, EmitWritesEmptyObjectForAnUnwritableDocument) {
  emitTo(1, Document{{"name", "\xFF"}}, scriptedWrite);
  EXPECT_EQ(writes.written, "{}\n");
}

TEST(DocumentWriterOnDescriptors, WritesLargeDocumentsThroughAPipe) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const std::string big(1 << 20, 'x');  // more than a pipe holds at once
  std::string received;
  const pid_t reader = ::fork();
  ASSERT_GE(reader, 0);
  if (reader == 0) {
    ::close(fds[0]);
    emitTo(fds[1], Document{{"s", big}}, ::write);
    ::_exit(0);
  }
  ::close(fds[1]);
  char buffer[65536];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(reader, &status, 0), reader);
  EXPECT_EQ(received, "{\"s\":\"" + big + "\"}\n");
}

TEST(DocumentWriterOnDescriptors, FailWritesTheErrorDocumentToStandardOutputAndExits) {
  char path[] = "/tmp/tolvek-fail-XXXXXX";
  const int file = ::mkstemp(path);
  ASSERT_GE(file, 0);
  EXPECT_EXIT(
      {
        ::dup2(file, STDOUT_FILENO);
        fail("usage", "thumbs <size> <ids>", 2);
      },
      ::testing::ExitedWithCode(2), "");
  std::string output(4096, '\0');
  const ssize_t n = ::pread(file, output.data(), output.size(), 0);
  ASSERT_GE(n, 0);
  output.resize(static_cast<std::size_t>(n));
  ::close(file);
  ::unlink(path);
  EXPECT_TRUE(output == "{\"error\":\"usage\",\"message\":\"thumbs <size> <ids>\"}\n" ||
              output == "{\"message\":\"thumbs <size> <ids>\",\"error\":\"usage\"}\n")
      << output;
}

}  // namespace
}  // namespace tolvek
