// The thread that makes every QuickTime runtime call of one movie writer,
// from QuickTime's initialisation to its termination. The writer's caller
// (the GUI thread) never enters the runtime: it hands calls over and either
// waits for them (Call) or goes on while they run (Post).
//
// At most one posted call is ahead of the caller: a caller that posts while
// the last posted call has not finished waits for it first. So a slow
// runtime (a slow disk under it) slows the caller down instead of letting
// work pile up.
//
// The runtime keeps process-wide state without locks of its own, and two
// writers may be open at once (a clip ending while the next starts, or in
// tests). Every call therefore runs under one process-wide lock: however
// many writers there are, the runtime is entered by one thread at a time.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace framory {

class QtRuntimeThread {
 public:
  QtRuntimeThread();
  ~QtRuntimeThread();  // Stop()
  QtRuntimeThread(const QtRuntimeThread&) = delete;
  QtRuntimeThread& operator=(const QtRuntimeThread&) = delete;

  // Runs `call` on the thread after what was posted before it, and waits for
  // it. False, with nothing run, when the thread could not be started or
  // has been stopped.
  bool Call(const std::function<void()>& call);
  // Hands `call` to the thread and returns while it runs. False, with
  // nothing run, as for Call.
  bool Post(std::function<void()> call);
  // Waits until every posted call has run.
  void Wait();
  // Lets what was posted run, then ends the thread. Later calls run nothing.
  void Stop();

 private:
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::function<void()> pending_;  // posted and not finished yet
  bool busy_ = false;              // pending_ holds a call
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace framory
