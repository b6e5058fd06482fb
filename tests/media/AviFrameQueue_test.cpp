// The AVI streams' frame queue with a worker the test holds back: frames
// come out in order with their own bytes (the caller's buffer is free again
// once Put returns), a full queue holds the caller until the worker takes a
// frame, and a worker failure comes back once, from the next Put or Finish.
#include "platform/media/AviFrameQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "writers/AviFileApi.h"

namespace framory {
namespace {

// A consumer that records what it gets and waits while the test holds it.
struct HeldConsumer {
  std::mutex mutex;
  std::condition_variable changed;
  bool held = false;
  std::vector<std::pair<std::int32_t, std::uint8_t>> seen;  // position, first byte
  std::vector<std::int32_t> results;                        // returned in turn, then Ok

  AviFrameQueue::Consumer Make() {
    return [this](const std::uint8_t* data, std::int32_t position, std::uint32_t) {
      std::unique_lock<std::mutex> lock(mutex);
      changed.wait(lock, [this] { return !held; });
      seen.emplace_back(position, data[0]);
      changed.notify_all();
      const std::size_t turn = seen.size() - 1;
      return turn < results.size() ? results[turn] : AviResult::Ok;
    };
  }
  void Hold(bool on) {
    std::lock_guard<std::mutex> lock(mutex);
    held = on;
    changed.notify_all();
  }
};

TEST(AviFrameQueue, FramesComeOutInOrderWithTheirOwnBytes) {
  HeldConsumer consumer;
  AviFrameQueue queue;
  ASSERT_EQ(queue.Start(16, 3, consumer.Make()), AviResult::Ok);
  std::vector<std::uint8_t> frame(16);
  for (std::int32_t i = 0; i < 10; ++i) {
    frame[0] = static_cast<std::uint8_t>(100 + i);
    ASSERT_EQ(queue.Put(i * 2, frame.data(), 0), AviResult::Ok);
    frame[0] = 0;  // the caller reuses its buffer at once
  }
  EXPECT_EQ(queue.Finish(), AviResult::Ok);
  ASSERT_EQ(consumer.seen.size(), 10u) << "Finish writes everything queued";
  for (std::int32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(consumer.seen[i].first, i * 2);
    EXPECT_EQ(consumer.seen[i].second, 100 + i);
  }
  EXPECT_EQ(queue.Put(20, frame.data(), 0), AviResult::Unsupported) << "finished";
  EXPECT_EQ(queue.Finish(), AviResult::Ok);
}

TEST(AviFrameQueue, AFullQueueHoldsTheCallerUntilTheWorkerTakesAFrame) {
  HeldConsumer consumer;
  consumer.Hold(true);
  AviFrameQueue queue;
  ASSERT_EQ(queue.Start(8, 2, consumer.Make()), AviResult::Ok);
  std::vector<std::uint8_t> frame(8, 7);
  // The worker holds the first frame; the second fills the other buffer.
  ASSERT_EQ(queue.Put(0, frame.data(), 0), AviResult::Ok);
  ASSERT_EQ(queue.Put(1, frame.data(), 0), AviResult::Ok);
  std::atomic<bool> returned{false};
  std::thread caller([&] {
    queue.Put(2, frame.data(), 0);
    returned = true;
  });
  // No buffer can come free while the worker is held, whatever the wait.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(returned.load());
  consumer.Hold(false);
  caller.join();
  EXPECT_TRUE(returned.load());
  EXPECT_EQ(queue.Finish(), AviResult::Ok);
  EXPECT_EQ(consumer.seen.size(), 3u);
}

TEST(AviFrameQueue, AWorkerFailureComesBackOnceFromTheNextPutOrFromFinish) {
  std::vector<std::uint8_t> frame(8, 1);
  {
    // One buffer: each Put waits until the frame before it is written, so
    // it sees that frame's result.
    HeldConsumer consumer;
    consumer.results = {AviResult::Ok, AviResult::FileWrite};
    AviFrameQueue queue;
    ASSERT_EQ(queue.Start(8, 1, consumer.Make()), AviResult::Ok);
    ASSERT_EQ(queue.Put(0, frame.data(), 0), AviResult::Ok);
    ASSERT_EQ(queue.Put(1, frame.data(), 0), AviResult::Ok);
    EXPECT_EQ(queue.Put(2, frame.data(), 0), AviResult::FileWrite) << "queues nothing";
    EXPECT_EQ(queue.Put(3, frame.data(), 0), AviResult::Ok) << "told once; writing goes on";
    EXPECT_EQ(queue.Finish(), AviResult::Ok);
    ASSERT_EQ(consumer.seen.size(), 3u);
    EXPECT_EQ(consumer.seen[2].first, 3);
  }
  {
    HeldConsumer consumer;
    consumer.results = {AviResult::FileWrite};
    AviFrameQueue queue;
    ASSERT_EQ(queue.Start(8, 3, consumer.Make()), AviResult::Ok);
    ASSERT_EQ(queue.Put(0, frame.data(), 0), AviResult::Ok);
    EXPECT_EQ(queue.Finish(), AviResult::FileWrite) << "no Put came after the failure";
  }
}

}  // namespace
}  // namespace framory
