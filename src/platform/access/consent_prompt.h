#pragma once
// The question to the user, asked with zenity. Blocking: run it on a thread
// of its own.
#include <cstddef>
#include <string>
#include <string_view>

namespace tolvek {

// True when DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool hasGraphicalSession();

// What came of showing the question.
enum class PromptAnswer {
  allowed,   // the user clicked Allow
  refused,   // the user clicked Don't Allow or closed the window
  notShown,  // no answer from the user: no dialog, its timeout, a crash
};

// The most of zenity's standard error that is kept and looked at.
inline constexpr std::size_t kPromptErrorCap = 64 * 1024;

// The answer a finished zenity gave, from its wait status and (the start
// of) its standard error. Exit 0 is Allow. Exit 1 is Don't Allow or a closed
// window, unless GTK said it could not open the display ("cannot open
// display" from GTK 3, "Failed to open display" from GTK 4), which exits 1
// as well. Every other status and every signal is no answer.
PromptAnswer promptAnswerFrom(int waitStatus, std::string_view standardError);

// Runs `zenity --question` (found on PATH) with the usage description and
// waits for it, reading its standard error meanwhile (at most
// kPromptErrorCap bytes are kept). No zenity, or one that cannot be started,
// is not shown. The dialog gets SIGTERM when the calling thread ends, so it
// closes with the process.
PromptAnswer askWithZenity(const std::string& usageDescription);

// Holds an exclusive lock on a file while it lives, waiting for it as long as
// another process holds it; a lock that cannot be taken is not held.
class PromptLock {
 public:
  explicit PromptLock(const std::string& path);
  ~PromptLock();
  PromptLock(const PromptLock&) = delete;
  PromptLock& operator=(const PromptLock&) = delete;
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace tolvek
