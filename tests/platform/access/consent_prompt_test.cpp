// Asking for access with a stub zenity on PATH: the answers it can give,
// no graphical session, a dialog nobody answers, a helper that exits while
// its dialog is open, and two helpers asking at the same time.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/access/access_store.h"
#include "platform/access/consent_prompt.h"
#include "platform/system/poll_main_loop.h"
#include "platform/linux_photo_library.h"
#include "platform/posix/posix_file.h"
#include "support/scratch_library.h"

namespace tolvek {
namespace {

using namespace std::chrono_literals;
using testing::ScratchLibrary;
using enum AuthorizationStatus;
using Statuses = std::vector<AuthorizationStatus>;

constexpr const char* kUsage = "Tolvek shows your photos in its file picker.";

// Collects the handler's calls.
struct Answers {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<AuthorizationStatus> statuses;

  PhotoLibrary::AuthorizationHandler handler(const std::shared_ptr<Answers>& self) {
    return [self](AuthorizationStatus s) {
      std::lock_guard lock(self->mutex);
      self->statuses.push_back(s);
      self->changed.notify_all();
    };
  }
  bool waitForOne(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, timeout, [this] { return !statuses.empty(); });
  }
  std::vector<AuthorizationStatus> snapshot() {
    std::lock_guard lock(mutex);
    return statuses;
  }
};

// Asks as the helper does; once `lib` is gone, the question goes on.
std::shared_ptr<Answers> askOn(PhotoLibrary& lib) {
  auto answers = std::make_shared<Answers>();
  lib.requestAuthorization(AccessLevel::readWrite, answers->handler(answers));
  return answers;
}

// A scratch home, a PATH whose only zenity is the given script, and a
// graphical session in the environment.
class ConsentPrompt : public ::testing::Test {
 protected:
  void SetUp() override {
    savedPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    bin = home.folder("bin");
    log = home.root() + "/zenity.log";
    pidFile = home.root() + "/zenity.pid";
    ::setenv("PATH", (bin + ":/usr/bin:/bin").c_str(), 1);
    ::setenv("DISPLAY", ":77", 1);
    ::unsetenv("WAYLAND_DISPLAY");
  }
  void TearDown() override {
    ::setenv("PATH", savedPath.c_str(), 1);
    ::unsetenv("DISPLAY");
  }
  // The stub logs its arguments, one per line, and its pid, then runs `body`.
  void stubZenity(const std::string& body) {
    const std::string script = bin + "/zenity";
    testing::writeFileBytes(script, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done >> " +
                                   testing::quoted(log) + "\necho $$ > " + testing::quoted(pidFile) + ".tmp\nmv " +
                                   testing::quoted(pidFile) + ".tmp " + testing::quoted(pidFile) + "\n" + body + "\n");
    ::chmod(script.c_str(), 0755);
  }
  AuthorizationStatus recorded() {
    return AccessStore(home.location().accessStorePath).read(kHelperBundleIdentifier).status;
  }
  std::shared_ptr<Answers> ask() { return askOn(*home.library(kUsage)); }
  pid_t waitForStubPid() {
    for (int i = 0; i < 500; ++i) {
      const std::string text = testing::readFileBytes(pidFile).value_or("");
      if (!text.empty()) return static_cast<pid_t>(std::stol(text));
      std::this_thread::sleep_for(10ms);
    }
    return 0;
  }

  ScratchLibrary home{ScratchLibrary::Scope::thisProcess};
  std::string savedPath, bin, log, pidFile;
};

// The dialog zenity is asked to show; what it ends with, and what the helper
// makes of it: only the user's own click (or closing the window, which exits
// 1 too) is recorded; a dialog that could not be shown, its timeout (5) or a
// crash answer "not determined" for this run and leave the question open.
TEST_F(ConsentPrompt, OnlyTheUsersOwnAnswerIsRecorded) {
  const std::string big = "head -c 200000 /dev/zero | tr '\\0' x >&2\n";
  struct Case {
    std::string body;
    AuthorizationStatus answered;
  };
  const std::vector<Case> cases = {
      {"exit 0", authorized},
      {"echo 'Gtk-WARNING: theme parsing error' >&2\nexit 0", authorized},
      {"exit 1", denied},
      {"echo '(zenity:12): Gtk-WARNING **: 10:00:00.000: Locale not supported' >&2\nexit 1", denied},
      {big + "exit 1", denied},
      {"echo '(zenity:12): Gtk-WARNING **: 10:00:00.000: cannot open display: :77' >&2\nexit 1", notDetermined},
      {"echo 'Failed to open display' >&2\nexit 1", notDetermined},
      {"echo 'Failed to open display' >&2\n" + big + "exit 1", notDetermined},
      {"exit 5", notDetermined},
      {"exit 2", notDetermined},
      {"exit 255", notDetermined},
      {"kill -SEGV $$", notDetermined},
      {"kill -TERM $$", notDetermined},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 80));
    std::filesystem::remove(home.location().accessStorePath);
    std::filesystem::remove(log);
    stubZenity(c.body);
    auto answers = ask();
    ASSERT_TRUE(answers->waitForOne(20s));
    EXPECT_EQ(answers->snapshot(), Statuses{c.answered});
    EXPECT_EQ(recorded(), c.answered);
    EXPECT_EQ(std::filesystem::exists(home.location().accessStorePath), c.answered != notDetermined);
    EXPECT_EQ(testing::readFileBytes(log).value_or(""),
              std::string("--question\n--title=tolvek-photos\n--text=") + kUsage +
                  "\n--ok-label=Allow\n--cancel-label=Don't Allow\n--timeout=300\n");
  }
}

// The user allows while another process holds the store's lock: the answer
// decides this run at once (not after the gate's long timeout) and is
// recorded once the lock is free.
TEST_F(ConsentPrompt, AllowWhileTheStoreIsBusyCountsAndIsRecordedLater) {
  stubZenity("exit 0");
  std::filesystem::create_directories(std::filesystem::path(home.location().accessStorePath).parent_path());
  auto held = std::make_optional(FileLock::acquire(home.location().accessStorePath + ".lock", 0ms));
  ASSERT_TRUE(held->ok()) << held->message();
  const auto lib = home.library(kUsage);
  auto answers = askOn(*lib);
  ASSERT_TRUE(answers->waitForOne(60s));
  EXPECT_EQ(answers->snapshot(), Statuses{authorized});
  EXPECT_EQ(recorded(), notDetermined) << "written although the lock is held";
  EXPECT_EQ(lib->authorizationStatus(AccessLevel::readWrite), authorized);

  held.reset();
  for (int i = 0; i < 400 && recorded() == notDetermined; ++i) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(recorded(), authorized);
}

TEST_F(ConsentPrompt, AZenityThatCannotStartRecordsNothing) {
  auto expectNotShown = [this](const std::string& what) {
    auto answers = ask();
    ASSERT_TRUE(answers->waitForOne(20s)) << what;
    EXPECT_EQ(answers->snapshot(), Statuses{notDetermined}) << what;
    EXPECT_FALSE(std::filesystem::exists(home.location().accessStorePath)) << what;
  };
  const std::string script = bin + "/zenity";
  testing::writeFileBytes(script, "#!/nonexistent/interpreter\nexit 0\n");
  ::chmod(script.c_str(), 0755);
  expectNotShown("an interpreter that does not exist");
  ::chmod(script.c_str(), 0644);
  expectNotShown("not executable");
  std::filesystem::remove(script);
  ::setenv("PATH", bin.c_str(), 1);
  expectNotShown("no zenity on PATH");
}

TEST_F(ConsentPrompt, AnAnswerCountsWhenTheDialogLeavesItsStandardErrorOpen) {
  const std::string holder = home.root() + "/holder.pid";
  stubZenity("sleep 60 &\necho $! > " + testing::quoted(holder) + "\nexit 1");
  auto answers = ask();
  const bool answered = answers->waitForOne(20s);
  const std::string pid = testing::readFileBytes(holder).value_or("");
  if (!pid.empty()) ::kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
  ASSERT_TRUE(answered) << "waited for the pipe instead of the dialog";
  EXPECT_EQ(answers->snapshot(), Statuses{denied});
  EXPECT_EQ(recorded(), denied);
}

TEST(PromptAnswer, FollowsTheExitStatusAndTheDisplayMessages) {
  struct Case {
    int waitStatus;
    std::string standardError;
    PromptAnswer expected;
  };
  // Wait statuses as Linux encodes them: the exit code in the second byte,
  // a signal number alone.
  auto exited = [](int code) { return code << 8; };
  const std::vector<Case> cases = {
      {exited(0), "", PromptAnswer::allowed},
      {exited(0), "cannot open display", PromptAnswer::allowed},
      {exited(1), "", PromptAnswer::refused},
      {exited(1), "Gtk-Message: 10:00: Failed to load module\n", PromptAnswer::refused},
      {exited(1), "cannot open display", PromptAnswer::notShown},
      {exited(1), "first line\n(zenity:9): Gtk-WARNING **: cannot open display: :0\n", PromptAnswer::notShown},
      {exited(1), "Failed to open display\n", PromptAnswer::notShown},
      {exited(5), "", PromptAnswer::notShown},
      {exited(127), "", PromptAnswer::notShown},
      {SIGSEGV, "", PromptAnswer::notShown},
      {SIGKILL, "", PromptAnswer::notShown},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(promptAnswerFrom(c.waitStatus, c.standardError), c.expected)
        << "status " << c.waitStatus << ", " << c.standardError;
  }
}

TEST_F(ConsentPrompt, WithoutGraphicalSessionAnswersAtOnceWithoutAsking) {
  stubZenity("exit 0");
  ::setenv("DISPLAY", "", 1);
  ::setenv("WAYLAND_DISPLAY", "", 1);
  auto answers = ask();
  EXPECT_EQ(answers->snapshot(), Statuses{notDetermined});  // before returning
  ::unsetenv("WAYLAND_DISPLAY");
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(answers->snapshot().size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(log));
  EXPECT_FALSE(std::filesystem::exists(home.location().accessStorePath));
}

TEST_F(ConsentPrompt, WaylandAloneCountsAsASession) {
  stubZenity("exit 0");
  ::unsetenv("DISPLAY");
  ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  auto answers = ask();
  ASSERT_TRUE(answers->waitForOne(20s));
  ::unsetenv("WAYLAND_DISPLAY");
  EXPECT_EQ(answers->snapshot(), Statuses{authorized});
}

TEST_F(ConsentPrompt, UnansweredDialogKeepsTheHandlerUntilItEnds) {
  stubZenity("exec sleep 1000");
  auto answers = ask();
  const pid_t dialog = waitForStubPid();
  ASSERT_GT(dialog, 0);
  EXPECT_FALSE(answers->waitForOne(300ms));
  ::kill(dialog, SIGTERM);  // what zenity's own timeout or a closed window comes to
  ASSERT_TRUE(answers->waitForOne(20s));
  EXPECT_EQ(answers->snapshot(), Statuses{notDetermined});
  EXPECT_EQ(recorded(), notDetermined);
}

TEST_F(ConsentPrompt, AnswerRecordedMeanwhileIsUsedWithoutAsking) {
  stubZenity("exit 1");
  ASSERT_TRUE(home.recordAnswer(AccessAnswer{limited, {"x"}}));
  auto answers = ask();
  ASSERT_TRUE(answers->waitForOne(20s));
  EXPECT_EQ(answers->snapshot(), Statuses{limited});
  EXPECT_FALSE(std::filesystem::exists(log));
}

TEST_F(ConsentPrompt, AnswerEndsTheMainLoopSliceItArrivesIn) {
  stubZenity("sleep 0.3\nexit 0");
  PollMainLoop loop;
  for (int i = 0; i < 5; ++i) loop.runFor(0);
  auto answers = ask();
  const auto start = std::chrono::steady_clock::now();
  while (answers->snapshot().empty() && std::chrono::steady_clock::now() - start < 60s) loop.runFor(60);
  // Without the wakeup the first slice alone would last a minute.
  EXPECT_LT(std::chrono::steady_clock::now() - start, 30s);
  EXPECT_EQ(answers->snapshot(), Statuses{authorized});
}

testing::ProcessResult runChild(const std::string& mode) {
  return testing::runThisTestBinary("ConsentChild.AskAsAHelperWould",
                                    {.environment = {{"TOLVEK_CONSENT_CHILD", mode}}, .timeout = 60s});
}

TEST_F(ConsentPrompt, TwoHelpersAskingTogetherShowOneDialog) {
  stubZenity("sleep 1\nexit 0");
  testing::ProcessResult first, second;
  std::thread a([&] { first = runChild("wait"); });
  std::thread b([&] { second = runChild("wait"); });
  a.join();
  b.join();
  EXPECT_NE(first.out.find("answer=3"), std::string::npos) << first.out << first.err;
  EXPECT_NE(second.out.find("answer=3"), std::string::npos) << second.out << second.err;
  const std::string shown = testing::readFileBytes(log).value_or("");
  EXPECT_EQ(std::count(shown.begin(), shown.end(), '\n'), 6) << "one dialog has six argument lines:\n" << shown;
  EXPECT_EQ(recorded(), authorized);
}

TEST_F(ConsentPrompt, HelperThatExitsClosesItsDialog) {
  stubZenity("exec sleep 1000");
  const testing::ProcessResult child = runChild("exit");
  ASSERT_TRUE(child.exited()) << child.err;
  EXPECT_EQ(child.exitStatus, 0) << child.out << child.err;
  const pid_t dialog = static_cast<pid_t>(std::stol(testing::readFileBytes(pidFile).value_or("")));
  bool gone = false;
  for (int i = 0; i < 500 && !gone; ++i) {
    const std::string stat = testing::readFileBytes("/proc/" + std::to_string(dialog) + "/stat").value_or("");
    const auto close = stat.rfind(')');
    gone = stat.empty() || (close != std::string::npos && stat.substr(close + 2, 1) == "Z");
    if (!gone) std::this_thread::sleep_for(10ms);
  }
  if (!gone) ::kill(dialog, SIGKILL);
  EXPECT_TRUE(gone) << "the dialog outlived its helper";
  EXPECT_EQ(recorded(), notDetermined);
}

// Runs only as the child of the tests above: asks like the helper does, then
// either waits for the answer ("wait") or leaves while the dialog is open
// ("exit"), ending the process with a detached question still running.
TEST(ConsentChild, AskAsAHelperWould) {
  const char* mode = std::getenv("TOLVEK_CONSENT_CHILD");
  if (mode == nullptr) GTEST_SKIP() << "only runs as a child process of the consent tests";
  LinuxPhotoLibrary lib(userLibraryLocation(), kHelperBundleIdentifier, kUsage);
  auto answers = askOn(lib);
  if (std::string(mode) == "exit") {
    const std::string pidFile = std::filesystem::path(std::getenv("XDG_DATA_HOME")).parent_path() / "zenity.pid";
    for (int i = 0; i < 1000 && !std::filesystem::exists(pidFile); ++i) std::this_thread::sleep_for(10ms);
    std::exit(0);
  }
  ASSERT_TRUE(answers->waitForOne(30s));
  std::printf("answer=%lld\n", static_cast<long long>(answers->snapshot().at(0)));
}

}  // namespace
}  // namespace tolvek
