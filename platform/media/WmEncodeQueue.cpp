#include "platform/media/WmEncodeQueue.h"

#include <system_error>

#include "base/LastError.h"

namespace framory {

WmEncodeQueue::WmEncodeQueue(std::unique_ptr<WmAsfEncoder> encoder)
    : encoder_(std::move(encoder)) {}

std::int32_t WmEncodeQueue::Start(std::unique_ptr<WmAsfEncoder> encoder,
                                  std::unique_ptr<WmEncodeQueue>* queue) {
  if (!encoder || queue == nullptr) return WmResult::InvalidArg;
  std::unique_ptr<WmEncodeQueue> made(new WmEncodeQueue(std::move(encoder)));
  try {
    made->thread_ = std::thread(&WmEncodeQueue::Run, made.get());
  } catch (const std::system_error&) {
    return WmResult::OutOfMemory;
  }
  *queue = std::move(made);
  return WmResult::Ok;
}

WmEncodeQueue::~WmEncodeQueue() { Finish(); }

std::int32_t WmEncodeQueue::Push(std::shared_ptr<WmBuffer> sample, std::uint64_t time) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (stopping_) return WmResult::Unexpected;
  changed_.wait(lock, [this] { return failure_ < 0 || items_.size() < kDepth; });
  if (failure_ < 0) {
    SetLastError(failureError_);  // the encoding thread's reason, for the caller's report
    return failure_;
  }
  items_.push_back(Item{std::move(sample), time});
  changed_.notify_all();
  return WmResult::Ok;
}

void WmEncodeQueue::Run() {
  for (;;) {
    Item item;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      changed_.wait(lock, [this] { return stopping_ || !items_.empty(); });
      if (items_.empty()) return;  // stopping, and everything is encoded
      item = std::move(items_.front());
      items_.pop_front();
      changed_.notify_all();
    }
    std::uint8_t* data = nullptr;
    std::uint32_t length = 0;
    SetLastError(0);  // a failure that names no reason must not show an old one
    std::int32_t result = item.sample->GetBufferAndLength(&data, &length);
    if (result >= 0) result = encoder_->Encode(data, length, item.time);
    item.sample.reset();  // the buffer goes back to the pool
    if (result < 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      failure_ = result;
      failureError_ = GetLastError();  // this thread's
      items_.clear();
      changed_.notify_all();
      return;
    }
  }
}

std::int32_t WmEncodeQueue::Finish() {
  if (finished_) return finishResult_;
  finished_ = true;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (thread_.joinable()) thread_.join();
  // The encoding thread has ended: the encoder is this thread's now, and
  // sets this thread's last error when finishing the file fails.
  SetLastError(0);
  const std::int32_t finished = encoder_->Finish();
  if (failure_ < 0) SetLastError(failureError_);
  finishResult_ = failure_ < 0 ? failure_ : finished;
  return finishResult_;
}

}  // namespace framory
