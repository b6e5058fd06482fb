// Encodes and writes the samples of one ASF file on a thread of its own, so
// that the thread that takes the frames (the GUI thread) only copies each
// frame into a sample and queues it. At most kDepth samples wait besides the
// one being encoded: when the encoder falls that far behind, Push waits for
// it to take one (the wait lasts at most the time of encoding one frame), so
// no frame is dropped and memory stays bounded. The samples' buffers go back
// to the writer's pool once encoded.
//
// A failure on the encoding thread (a full disk) closes the file for good:
// the thread stops, the samples still queued are dropped, and the failure
// is returned by every later Push and by Finish.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media/WmAsfEncoder.h"
#include "platform/media/WorkerQueue.h"
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
  struct Item {
    std::shared_ptr<WmBuffer> sample;
    std::uint64_t time = 0;
  };

  explicit WmEncodeQueue(std::unique_ptr<WmAsfEncoder> encoder);
  std::int32_t Encode(Item& item);

  std::unique_ptr<WmAsfEncoder> encoder_;  // used by the encoding thread until it ends
  bool finished_ = false;
  std::int32_t finishResult_ = WmResult::Ok;
  // Last member: destroyed (and its thread stopped) before the encoder.
  WorkerQueue<Item> queue_;
};

}  // namespace framory
