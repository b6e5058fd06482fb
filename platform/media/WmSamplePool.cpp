#include "platform/media/WmSamplePool.h"

#include <new>

namespace framory {

namespace {

class WmSample : public WmBuffer {
 public:
  WmSample(std::vector<std::uint8_t> storage, std::uint32_t length)
      : storage_(std::move(storage)), length_(length) {}
  std::int32_t GetBufferAndLength(std::uint8_t** buffer, std::uint32_t* length) override {
    if (buffer == nullptr || length == nullptr) return WmResult::InvalidArg;
    *buffer = storage_.data();
    *length = length_;
    return WmResult::Ok;
  }
  std::vector<std::uint8_t> TakeStorage() { return std::move(storage_); }

 private:
  std::vector<std::uint8_t> storage_;
  std::uint32_t length_;
};

}  // namespace

std::int32_t WmSamplePool::Allocate(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample) {
  if (sample == nullptr) return WmResult::InvalidArg;
  std::vector<std::uint8_t> storage;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = spares_.begin(); it != spares_.end(); ++it) {
      if (it->capacity() >= bytes) {
        storage = std::move(*it);
        spares_.erase(it);
        break;
      }
    }
  }
  try {
    storage.resize(bytes);
    std::weak_ptr<WmSamplePool> pool = weak_from_this();
    *sample = std::shared_ptr<WmBuffer>(new WmSample(std::move(storage), bytes),
                                        [pool](WmBuffer* buffer) {
                                          auto* own = static_cast<WmSample*>(buffer);
                                          if (std::shared_ptr<WmSamplePool> alive = pool.lock())
                                            alive->Return(own->TakeStorage());
                                          delete own;
                                        });
  } catch (const std::bad_alloc&) {
    return WmResult::OutOfMemory;
  }
  return WmResult::Ok;
}

void WmSamplePool::Return(std::vector<std::uint8_t> storage) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (spares_.size() < sparesLimit_) spares_.push_back(std::move(storage));
}

}  // namespace framory
