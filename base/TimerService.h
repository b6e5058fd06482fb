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

// One capture timer together with whether it runs. Starting and killing go
// through here only, so the flag never disagrees with the timer.
class CaptureTimer {
 public:
  explicit CaptureTimer(std::int32_t id) : id_(id) {}

  bool Running() const { return running_; }
  // Marks the timer as running or not without touching the timer service
  // (the state a test or a restored session starts from).
  void SetRunning(bool running) { running_ = running; }

  // Starts the timer unless it already runs; true when it was started.
  bool Start(TimerService& timers, std::int32_t milliseconds) {
    if (running_) return false;
    timers.SetTimer(id_, milliseconds);
    running_ = true;
    return true;
  }
  // A one-shot timer fired: killed so that it does not fire again, even when
  // the flag says it was not running.
  void Expired(TimerService& timers) {
    timers.KillTimer(id_);
    running_ = false;
  }
  // Kills the timer if it runs.
  void Kill(TimerService& timers) {
    if (!running_) return;
    timers.KillTimer(id_);
    running_ = false;
  }

 private:
  std::int32_t id_;
  bool running_ = false;
};

}  // namespace framory
