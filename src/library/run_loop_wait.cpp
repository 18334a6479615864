#include "library/run_loop_wait.h"

namespace tolvek {

void wait(const std::function<bool()>& until, double timeout, MainLoop& mainLoop, const Clock& clock) {
  const double deadline = clock.now() + timeout;
  if (until()) return;
  for (;;) {
    // Written as "not earlier" so that a NaN deadline ends the wait too.
    if (!(clock.now() < deadline)) return;
    mainLoop.runFor(kWaitSliceSeconds);
    if (until()) return;
  }
}

}  // namespace tolvek
