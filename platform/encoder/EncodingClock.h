// The media time of one encoding, shared by its capture threads: wall time
// since the first start minus the time spent paused. Both threads stamp
// what they capture with it, so a pause leaves no gap and no frozen stretch
// in the output: the picture after a resume follows the one before at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace framory {

class EncodingClock {
 public:
  // Starts, or resumes after Pause.
  void Start();
  void Pause();
  // Ends the encoding for good; every waiting thread wakes up.
  void Stop();

  std::int64_t MediaTimeUs() const;
  bool Stopped() const;
  bool Running() const;
  // Blocks while paused (or not started yet). False once stopped.
  bool WaitWhilePaused();
  // Sleeps until the media time reaches `mediaUs`. False when the clock was
  // paused or stopped meanwhile (the caller then waits again).
  bool SleepUntil(std::int64_t mediaUs);
  // How many times the clock has been resumed after a pause.
  std::uint64_t Resumes() const;

 private:
  enum class State { Idle, Running, Paused, Stopped };
  using Clock = std::chrono::steady_clock;
  std::int64_t MediaTimeLocked() const;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  State state_ = State::Idle;
  Clock::time_point runningSince_;
  std::int64_t accumulatedUs_ = 0;
  std::uint64_t resumes_ = 0;
};

}  // namespace framory
