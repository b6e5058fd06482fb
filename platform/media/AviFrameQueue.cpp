#include "platform/media/AviFrameQueue.h"

#include <cstring>
#include <new>

#include "writers/AviFileApi.h"

namespace framory {

AviFrameQueue::AviFrameQueue()
    : queue_(WorkerFailure::ReportOnce,
             WorkerQueueResults{AviResult::Ok, AviResult::Unsupported, AviResult::Memory,
                                AviResult::Internal}) {}

std::int32_t AviFrameQueue::Start(std::size_t frameBytes, std::size_t depth, Consumer consume) {
  if (frameBytes == 0 || queue_.Started()) return AviResult::Unsupported;
  Entry prototype;
  try {
    prototype.bytes.resize(frameBytes);
  } catch (const std::bad_alloc&) {
    return AviResult::Memory;
  }
  frameBytes_ = frameBytes;
  return queue_.Start(
      depth,
      [consume = std::move(consume)](Entry& e) {
        return consume(e.hasBytes ? e.bytes.data() : nullptr, e.position, e.flags);
      },
      prototype);
}

std::int32_t AviFrameQueue::Put(std::int32_t position, const void* data, std::uint32_t flags) {
  return queue_.Put([&](Entry& e) {
    e.hasBytes = data != nullptr;
    if (e.hasBytes) std::memcpy(e.bytes.data(), data, frameBytes_);
    e.position = position;
    e.flags = flags;
  });
}

}  // namespace framory
