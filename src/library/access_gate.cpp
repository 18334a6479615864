#include "library/access_gate.h"

#include <atomic>
#include <memory>

#include "library/run_loop_wait.h"

namespace tolvek {
namespace {

// Shared by the gate and the authorization handler. The handler keeps its own
// reference, so one that answers after the gate has given up still writes
// into live cells that nobody reads any more.
struct ConsentCells {
  explicit ConsentCells(AuthorizationStatus initial) : status(initial) {}
  std::atomic<AuthorizationStatus> status;
  // Set, with release ordering, only after `status` holds the answer.
  std::atomic<bool> done{false};
};

}  // namespace

bool ensureAccess(PhotoLibrary& library, MainLoop& mainLoop, const Clock& clock) {
  auto cells = std::make_shared<ConsentCells>(library.authorizationStatus(AccessLevel::readWrite));
  if (cells->status.load(std::memory_order_relaxed) == AuthorizationStatus::notDetermined) {
    library.requestAuthorization(AccessLevel::readWrite, [cells](AuthorizationStatus answer) {
      cells->status.store(answer, std::memory_order_release);
      cells->done.store(true, std::memory_order_release);
    });
    wait([&cells] { return cells->done.load(std::memory_order_acquire); }, kConsentTimeoutSeconds, mainLoop,
         clock);
  }
  // Only the status decides; a handler that came after the deadline but
  // before this read still counts.
  const AuthorizationStatus decided = cells->status.load(std::memory_order_acquire);
  return decided == AuthorizationStatus::authorized || decided == AuthorizationStatus::limited;
}

}  // namespace tolvek
