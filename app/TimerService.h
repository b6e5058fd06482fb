// The main window's two capture timers. The event loop implementation delivers
// each expiry back by id to whoever it was given (Recorder::OnTimer in the
// program); an id is either running or not, and setting a running id again
// restarts it with the new period.
#pragma once

#include <cstdint>

namespace framory {

inline constexpr std::int32_t kDelayedShotTimer = 1;
inline constexpr std::int32_t kPeriodicShotTimer = 2;
// The delay of the one-shot timer after a window event or a window resize.
inline constexpr std::int32_t kDelayedShotMilliseconds = 100;

class TimerService {
 public:
  virtual ~TimerService() = default;
  virtual void SetTimer(std::int32_t id, std::int32_t milliseconds) = 0;
  virtual void KillTimer(std::int32_t id) = 0;
};

}  // namespace framory
