#include "writers/QtRuntimeThread.h"

#include <system_error>
#include <utility>

namespace framory {

namespace {

// Held by whichever runtime thread is inside the runtime.
std::mutex& RuntimeLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

QtRuntimeThread::QtRuntimeThread() {
  try {
    thread_ = std::thread(&QtRuntimeThread::Run, this);
  } catch (const std::system_error&) {
    // No thread: every call reports that nothing ran, and the writer fails
    // as it does when the runtime cannot be reached.
    stopping_ = true;
  }
}

QtRuntimeThread::~QtRuntimeThread() { Stop(); }

bool QtRuntimeThread::Call(const std::function<void()>& call) {
  if (!Post(call)) return false;
  Wait();
  return true;
}

bool QtRuntimeThread::Post(std::function<void()> call) {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_ || stopping_; });
  if (stopping_) return false;
  pending_ = std::move(call);
  busy_ = true;
  changed_.notify_all();
  return true;
}

void QtRuntimeThread::Wait() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
}

void QtRuntimeThread::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void QtRuntimeThread::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;  // stopping, with nothing left to run
    lock.unlock();
    {
      std::lock_guard<std::mutex> inside(RuntimeLock());
      pending_();
    }
    lock.lock();
    pending_ = nullptr;
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace framory
