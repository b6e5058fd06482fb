// Encodes and writes the samples of one ASF file on a thread of its own, so
// that the thread that takes the frames (the GUI thread) only copies each
// frame into a sample and queues it. The queue holds at most kDepth samples:
// when the encoder falls that far behind, Push waits for it to take one
// (the wait lasts at most the time of encoding one frame), so no frame is
// dropped and memory stays bounded. The samples' buffers go back to the
// writer's pool once encoded.
//
// A failure on the encoding thread (a full disk) stops it; the failure is
// returned by the next Push and by Finish, with its reason set as the
// calling thread's last error, and the samples still queued are dropped.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/media/WmAsfEncoder.h"
#include "writers/WmFormatApi.h"

namespace framory {

class WmEncodeQueue {
 public:
  static constexpr std::size_t kDepth = 3;
  // Buffers in use at most: the queued samples, the one being encoded and
  // the one being filled.
  static constexpr std::size_t kSamplesInUse = kDepth + 2;

  // Starts the encoding thread; OutOfMemory when it cannot be started.
  static std::int32_t Start(std::unique_ptr<WmAsfEncoder> encoder,
                            std::unique_ptr<WmEncodeQueue>* queue);
  ~WmEncodeQueue();
  WmEncodeQueue(const WmEncodeQueue&) = delete;
  WmEncodeQueue& operator=(const WmEncodeQueue&) = delete;

  // Queues `sample` stamped `time` (100-ns units). A failure of the encoding
  // thread so far is returned instead.
  std::int32_t Push(std::shared_ptr<WmBuffer> sample, std::uint64_t time);
  // Encodes what is queued, stops the thread and finishes the file. Returns
  // the first failure. Safe to call again.
  std::int32_t Finish();

 private:
  explicit WmEncodeQueue(std::unique_ptr<WmAsfEncoder> encoder);
  void Run();

  struct Item {
    std::shared_ptr<WmBuffer> sample;
    std::uint64_t time;
  };

  std::unique_ptr<WmAsfEncoder> encoder_;  // used by the encoding thread until it ends
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> items_;
  bool stopping_ = false;
  std::int32_t failure_ = WmResult::Ok;
  std::uint32_t failureError_ = 0;  // the encoding thread's last error at the failure
  std::thread thread_;
  bool finished_ = false;
  std::int32_t finishResult_ = WmResult::Ok;
};

}  // namespace framory
