#pragma once
// The wall clock that waits measure against.
#include "library/main_loop.h"

namespace tolvek {

class SystemClock final : public Clock {
 public:
  double now() const override;
};

}  // namespace tolvek
