#include "platform/media/AviFrameQueue.h"

#include <cstring>
#include <new>
#include <system_error>

#include "base/LastError.h"
#include "writers/AviFileApi.h"

namespace framory {

AviFrameQueue::~AviFrameQueue() { Finish(); }

std::int32_t AviFrameQueue::Start(std::size_t frameBytes, std::size_t depth, Consumer consume) {
  if (worker_.joinable() || finished_ || depth == 0 || frameBytes == 0) {
    return AviResult::Unsupported;
  }
  try {
    entries_.resize(depth);
    for (Entry& e : entries_) e.bytes.resize(frameBytes);
  } catch (const std::bad_alloc&) {
    std::vector<Entry>().swap(entries_);
    return AviResult::Memory;
  }
  frameBytes_ = frameBytes;
  consume_ = std::move(consume);
  try {
    worker_ = std::thread(&AviFrameQueue::Run, this);
  } catch (const std::system_error&) {
    return AviResult::Internal;
  }
  return AviResult::Ok;
}

std::int32_t AviFrameQueue::Put(std::int32_t position, const void* data, std::uint32_t flags) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (!worker_.joinable() || stopping_) return AviResult::Unsupported;
  // The worker frees a buffer and records the failure of its frame in one
  // step, so a caller that had to wait learns of that frame's failure now.
  changed_.wait(lock, [this] { return count_ < entries_.size(); });
  if (failure_ != AviResult::Ok) return TakeFailure();
  Entry& e = entries_[(head_ + count_) % entries_.size()];
  // The copy is made outside the lock: the worker never touches a free entry.
  lock.unlock();
  e.hasBytes = data != nullptr;
  if (e.hasBytes) std::memcpy(e.bytes.data(), data, frameBytes_);
  e.position = position;
  e.flags = flags;
  lock.lock();
  ++count_;
  changed_.notify_all();
  return AviResult::Ok;
}

void AviFrameQueue::Run() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return count_ > 0 || stopping_; });
    if (count_ == 0) return;  // stopping, and everything is written
    // The head entry stays counted, so Put leaves it alone meanwhile.
    Entry& e = entries_[head_];
    lock.unlock();
    SetLastError(0);  // a failure that names no reason must not show an old one
    const std::int32_t result = consume_(e.hasBytes ? e.bytes.data() : nullptr, e.position, e.flags);
    lock.lock();
    if (result != AviResult::Ok && failure_ == AviResult::Ok) {
      failure_ = result;
      failureError_ = GetLastError();  // this thread's; the caller's is set on report
    }
    head_ = (head_ + 1) % entries_.size();
    --count_;
    changed_.notify_all();
  }
}

std::int32_t AviFrameQueue::Finish() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (finished_ || !worker_.joinable()) {
      finished_ = true;
      return AviResult::Ok;
    }
    stopping_ = true;
  }
  changed_.notify_all();
  worker_.join();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_ = true;
  std::vector<Entry>().swap(entries_);
  return failure_ != AviResult::Ok ? TakeFailure() : AviResult::Ok;
}

std::int32_t AviFrameQueue::TakeFailure() {
  // The reason (a full disk, a file-size limit) goes with the failure to the
  // thread that reports it.
  SetLastError(failureError_);
  const std::int32_t failure = failure_;
  failure_ = AviResult::Ok;
  failureError_ = 0;
  return failure;
}

}  // namespace framory
