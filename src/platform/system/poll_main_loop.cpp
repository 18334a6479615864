#include "platform/system/poll_main_loop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace tolvek {
namespace {

// Longest slice, in milliseconds: poll counts them in an int.
constexpr double kMaxSliceMs = 24.0 * 3600.0 * 1000.0;

// The process's one wakeup counter, made on first use (thread-safe as a
// function-local static); -1 when eventfd failed, and then every slice
// simply lasts its time.
int wakeupDescriptor() {
  static const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd;
}

}  // namespace

void PollMainLoop::runFor(double seconds) {
  const int fd = wakeupDescriptor();
  const double ms = seconds > 0 ? std::min(std::ceil(seconds * 1000.0), kMaxSliceMs) : 0.0;
  pollfd wake{fd, POLLIN, 0};
  // A signal ends the slice early, which the contract allows.
  const int ready = ::poll(&wake, fd < 0 ? 0 : 1, static_cast<int>(ms));
  if (ready > 0 && (wake.revents & POLLIN) != 0) {
    std::uint64_t count = 0;
    (void)!::read(fd, &count, sizeof count);  // resets the counter to zero
  }
}

void wakeMainLoop() {
  const int fd = wakeupDescriptor();
  if (fd < 0) return;
  const std::uint64_t one = 1;
  (void)!::write(fd, &one, sizeof one);
}

}  // namespace tolvek
