#include "platform/system/system_clock.h"

#include <chrono>

namespace tolvek {

double SystemClock::now() const {
  using namespace std::chrono;
  return duration<double>(system_clock::now().time_since_epoch()).count();
}

}  // namespace tolvek
