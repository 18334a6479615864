#include "support/manual_clock.h"

namespace tolvek {

void ManualClock::advanceTo(double time) {
  double current = now_.load();
  while (current < time && !now_.compare_exchange_weak(current, time)) {
  }
}

}  // namespace tolvek
