#pragma once
// The question to the user, asked with zenity. Blocking: run it on a thread
// of its own.
#include <string>

#include "library/photo_types.h"

namespace tolvek {

// True when DISPLAY or WAYLAND_DISPLAY is set and not empty.
bool hasGraphicalSession();

// Runs `zenity --question` (found on PATH) with the usage description and
// waits for it: 3 when the user allowed, 2 when the user refused, 0 for
// anything else (no zenity, its timeout, a crash, a signal). The dialog gets
// SIGTERM when the calling thread ends, so it closes with the process.
AuthorizationStatus askWithZenity(const std::string& usageDescription);

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
