#include "platform/media/WmEncodeQueue.h"

#include "base/LastError.h"

namespace framory {

WmEncodeQueue::WmEncodeQueue(std::unique_ptr<WmAsfEncoder> encoder)
    : encoder_(std::move(encoder)),
      queue_(WorkerFailure::Close,
             WorkerQueueResults{WmResult::Ok, WmResult::Unexpected, WmResult::OutOfMemory,
                                WmResult::OutOfMemory}) {}

std::int32_t WmEncodeQueue::Start(std::unique_ptr<WmAsfEncoder> encoder,
                                  std::unique_ptr<WmEncodeQueue>* queue) {
  if (!encoder || queue == nullptr) return WmResult::InvalidArg;
  std::unique_ptr<WmEncodeQueue> made(new WmEncodeQueue(std::move(encoder)));
  // One slot more than kDepth: the sample being encoded keeps its slot.
  const std::int32_t started = made->queue_.Start(
      kDepth + 1, [queue = made.get()](Item& item) { return queue->Encode(item); });
  if (started < 0) return started;
  *queue = std::move(made);
  return WmResult::Ok;
}

WmEncodeQueue::~WmEncodeQueue() { Finish(); }

std::int32_t WmEncodeQueue::Push(std::shared_ptr<WmBuffer> sample, std::uint64_t time) {
  return queue_.Put([&](Item& item) {
    item.sample = std::move(sample);
    item.time = time;
  });
}

std::int32_t WmEncodeQueue::Encode(Item& item) {
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  std::int32_t result = item.sample->GetBufferAndLength(&data, &length);
  if (result >= 0) result = encoder_->Encode(data, length, item.time);
  item.sample.reset();  // the buffer goes back to the pool
  return result < 0 ? result : WmResult::Ok;
}

std::int32_t WmEncodeQueue::Finish() {
  if (finished_) return finishResult_;
  finished_ = true;
  const std::int32_t failure = queue_.Finish();
  const std::uint32_t failureError = GetLastError();  // the worker's reason, when it failed
  // The encoding thread has ended: the encoder is this thread's now, and
  // sets this thread's last error when finishing the file fails.
  SetLastError(0);
  const std::int32_t finished = encoder_->Finish();
  if (failure < 0) SetLastError(failureError);
  finishResult_ = failure < 0 ? failure : finished;
  return finishResult_;
}

}  // namespace framory
