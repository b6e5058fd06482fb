// The rule the WMV writer's queue keeps (Close): a failure on the worker
// ends the queue for good. What the AVI frame queue's tests cannot show:
// a caller waiting for a slot is let go with the failure instead of waiting
// for ever, the items still queued are dropped (their sample buffers go back
// at once, not when the writer is destroyed) and never reach the encoder,
// and the worker's reason for the failure comes to every caller told of it.
#include "platform/media/WorkerQueue.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "base/LastError.h"

namespace framory {
namespace {

constexpr std::int32_t kOk = 0;
constexpr std::int32_t kNotRunning = -10;
constexpr std::int32_t kWriteFault = -20;
const WorkerQueueResults kResults{kOk, kNotRunning, -30, -40};

struct Sample {
  std::shared_ptr<int> buffer;
};

TEST(WorkerQueue, UnderCloseAFailureDropsTheQueueLetsWaitingCallersGoAndStays) {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = true;
  std::vector<int> seen;
  WorkerQueue<Sample> queue(WorkerFailure::Close, kResults);
  // Every write fails for want of room, once the test lets the worker go.
  auto diskFull = [&](Sample& sample) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return !held; });
    seen.push_back(*sample.buffer);
    sample.buffer.reset();
    SetLastError(ENOSPC);
    return kWriteFault;
  };
  ASSERT_EQ(queue.Start(2, diskFull), kOk);

  // The worker holds the first sample; the second fills the other slot.
  auto first = std::make_shared<int>(1);
  auto second = std::make_shared<int>(2);
  std::weak_ptr<int> queued = second;
  ASSERT_EQ(queue.Put([&](Sample& s) { s.buffer = std::move(first); }), kOk);
  ASSERT_EQ(queue.Put([&](Sample& s) { s.buffer = std::move(second); }), kOk);
  std::int32_t waited = kOk;
  std::uint32_t waitedError = 0;
  std::thread caller([&] {
    waited = queue.Put([](Sample& s) { s.buffer = std::make_shared<int>(3); });
    waitedError = GetLastError();
  });
  // Gives the caller time to find the queue full; it is let go either way.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  {
    std::lock_guard<std::mutex> lock(mutex);
    held = false;
    changed.notify_all();
  }
  caller.join();
  EXPECT_EQ(waited, kWriteFault) << "the waiting caller learns of the failure";
  EXPECT_EQ(waitedError, static_cast<std::uint32_t>(ENOSPC)) << "with the worker's reason";
  EXPECT_TRUE(queued.expired()) << "the queued sample was dropped at the failure";

  SetLastError(0);
  EXPECT_EQ(queue.Put([](Sample& s) { s.buffer = std::make_shared<int>(4); }), kWriteFault)
      << "the queue stays closed";
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOSPC));
  // A writer with nothing to queue (a repeat of a still screen) is told the
  // same, with the same reason.
  SetLastError(0);
  EXPECT_EQ(queue.Check(), kWriteFault);
  EXPECT_EQ(GetLastError(), static_cast<std::uint32_t>(ENOSPC));
  EXPECT_EQ(queue.Finish(), kWriteFault);
  EXPECT_EQ(queue.Finish(), kWriteFault) << "told again, unlike ReportOnce";
  EXPECT_EQ(seen, std::vector<int>{1}) << "nothing after the failure reaches the worker";
}

}  // namespace
}  // namespace framory
