#include "cli/document_writer.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <vector>

namespace tolvek {
namespace {

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
  const WriteStep step = script->next < script->steps.size() ? script->steps[script->next++]
                                                               : WriteStep{static_cast<ssize_t>(count)};
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
