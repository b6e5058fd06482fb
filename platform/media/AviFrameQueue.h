// The AVI streams' frame queue: frames go from the caller's thread to a
// worker thread of the stream's own, where they are converted, encoded and
// written. A fixed number of frame buffers is allocated once, and a caller
// that finds every buffer taken waits for the worker to free one.
//
// A frame the worker fails to write is reported once, by the next Put
// (which then queues nothing) or, if no Put comes, by Finish, with the
// worker's last error for it; the frames after it are written all the same.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/media/WorkerQueue.h"

namespace framory {

class AviFrameQueue {
 public:
  // Writes one frame on the worker thread; returns an AviResult.
  using Consumer = std::function<std::int32_t(const std::uint8_t* data, std::int32_t position,
                                              std::uint32_t flags)>;

  AviFrameQueue();
  AviFrameQueue(const AviFrameQueue&) = delete;
  AviFrameQueue& operator=(const AviFrameQueue&) = delete;

  // Allocates `depth` buffers of `frameBytes` bytes and starts the worker.
  // Memory when the buffers cannot be had, Unsupported when already started.
  std::int32_t Start(std::size_t frameBytes, std::size_t depth, Consumer consume);
  bool Started() const { return queue_.Started(); }

  // Copies `frameBytes` bytes from `data` into a free buffer and queues them
  // for `position`; a null `data` queues no bytes, and the consumer gets a
  // null pointer for that position. Returns at once with a failure the
  // worker met since the last call, and then queues nothing.
  std::int32_t Put(std::int32_t position, const void* data, std::uint32_t flags);

  // Waits until every queued frame is written and stops the worker. Returns
  // the failure no Put has returned yet, Ok when there is none. Later calls
  // return Ok; Put then returns Unsupported.
  std::int32_t Finish() { return queue_.Finish(); }

 private:
  struct Entry {
    std::vector<std::uint8_t> bytes;
    bool hasBytes = false;
    std::int32_t position = 0;
    std::uint32_t flags = 0;
  };

  std::size_t frameBytes_ = 0;
  // Last member: destroyed (and its worker stopped) first.
  WorkerQueue<Entry> queue_;
};

}  // namespace framory
