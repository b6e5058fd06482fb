// Hands frames from the caller's thread to a worker thread of the stream's
// own, where they are converted, encoded and written. The queue is bounded:
// a fixed number of frame buffers is allocated once, and a caller that finds
// every buffer taken waits for the worker to free one (so a slow disk or
// encoder slows the caller down instead of piling up memory).
//
// A frame the worker fails to write cannot be reported by the call that
// queued it, which has already returned; its result is kept and returned by
// the next Put (which then queues nothing) or, if no Put comes, by Finish,
// and the worker's last error for it becomes the reporting thread's.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace framory {

class AviFrameQueue {
 public:
  // Writes one frame on the worker thread; returns an AviResult.
  using Consumer = std::function<std::int32_t(const std::uint8_t* data, std::int32_t position,
                                              std::uint32_t flags)>;

  AviFrameQueue() = default;
  ~AviFrameQueue();  // Finish()
  AviFrameQueue(const AviFrameQueue&) = delete;
  AviFrameQueue& operator=(const AviFrameQueue&) = delete;

  // Allocates `depth` buffers of `frameBytes` bytes and starts the worker.
  // Memory when the buffers cannot be had, Unsupported when already started.
  std::int32_t Start(std::size_t frameBytes, std::size_t depth, Consumer consume);
  bool Started() const { return worker_.joinable(); }

  // Copies `frameBytes` bytes from `data` into a free buffer and queues them
  // for `position`; a null `data` queues no bytes, and the consumer gets a
  // null pointer for that position. Returns at once with a failure the
  // worker met since the last call, and then queues nothing.
  std::int32_t Put(std::int32_t position, const void* data, std::uint32_t flags);

  // Waits until every queued frame is written and stops the worker. Returns
  // the failure no Put has returned yet, Ok when there is none. Later calls
  // return Ok; Put then returns Unsupported.
  std::int32_t Finish();

 private:
  struct Entry {
    std::vector<std::uint8_t> bytes;
    bool hasBytes = false;
    std::int32_t position = 0;
    std::uint32_t flags = 0;
  };
  void Run();
  // Returns the failure kept for the caller and sets its last error; locked.
  std::int32_t TakeFailure();

  Consumer consume_;
  std::size_t frameBytes_ = 0;
  std::vector<Entry> entries_;  // a ring: `count_` filled entries from `head_`
  std::size_t head_ = 0;
  std::size_t count_ = 0;
  bool stopping_ = false;
  bool finished_ = false;
  std::int32_t failure_ = 0;  // first failure not reported yet
  std::uint32_t failureError_ = 0;  // the worker's last error for it
  std::mutex mutex_;
  std::condition_variable changed_;
  std::thread worker_;
};

}  // namespace framory
