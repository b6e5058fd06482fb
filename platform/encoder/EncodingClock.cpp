#include "platform/encoder/EncodingClock.h"

namespace framory {

void EncodingClock::Start() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::Running || state_ == State::Stopped) return;
  if (state_ == State::Paused) ++resumes_;
  state_ = State::Running;
  runningSince_ = Clock::now();
  changed_.notify_all();
}

void EncodingClock::Pause() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ != State::Running) return;
  accumulatedUs_ = MediaTimeLocked();
  state_ = State::Paused;
  changed_.notify_all();
}

void EncodingClock::Stop() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (state_ == State::Running) accumulatedUs_ = MediaTimeLocked();
  state_ = State::Stopped;
  changed_.notify_all();
}

std::int64_t EncodingClock::MediaTimeLocked() const {
  if (state_ != State::Running) return accumulatedUs_;
  return accumulatedUs_ +
         std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - runningSince_)
             .count();
}

std::int64_t EncodingClock::MediaTimeUs() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return MediaTimeLocked();
}

bool EncodingClock::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_ == State::Stopped;
}

bool EncodingClock::Running() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_ == State::Running;
}

std::uint64_t EncodingClock::Resumes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return resumes_;
}

bool EncodingClock::WaitWhilePaused() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return state_ == State::Running || state_ == State::Stopped; });
  return state_ == State::Running;
}

bool EncodingClock::SleepUntil(std::int64_t mediaUs) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (state_ == State::Running) {
    const std::int64_t now = MediaTimeLocked();
    if (now >= mediaUs) return true;
    // Media time runs with wall time while running, so the wait is exact
    // unless the state changes.
    changed_.wait_for(lock, std::chrono::microseconds(mediaUs - now));
  }
  return false;
}

}  // namespace framory
