// A monotonic clock that moves only when the test says so.
#pragma once

#include <cstdint>

#include "base/MonotonicClock.h"

namespace framory::testing {

class ManualClock : public MonotonicClock {
 public:
  std::int64_t NowNanoseconds() const override { return now_; }
  void AdvanceMilliseconds(double ms) { now_ += static_cast<std::int64_t>(ms * 1e6); }

 private:
  std::int64_t now_ = 5'000'000'000;  // an arbitrary start, not 0
};

}  // namespace framory::testing
