// A clock that only moves forward, in nanoseconds from an arbitrary start.
// Code that times a recording asks this interface rather than the system, so
// tests can drive time by hand; SteadyClock is the real one.
#pragma once

#include <chrono>
#include <cstdint>

namespace framory {

class MonotonicClock {
 public:
  virtual ~MonotonicClock() = default;
  virtual std::int64_t NowNanoseconds() const = 0;
};

class SteadyClock : public MonotonicClock {
 public:
  std::int64_t NowNanoseconds() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
};

}  // namespace framory
