// The samples a writer hands out: byte buffers that go back to the pool
// when the last reference to their sample is released, so a clip reuses the
// same few frame buffers instead of allocating one per frame. The pool may be
// destroyed before its samples.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "writers/WmFormatApi.h"

namespace framory {

class WmSamplePool : public std::enable_shared_from_this<WmSamplePool> {
 public:
  // Keeps up to `spares` released buffers for reuse: as many as can be in
  // use at once, so a steady clip allocates no buffer after its first few.
  static std::shared_ptr<WmSamplePool> Create(std::size_t spares) {
    return std::shared_ptr<WmSamplePool>(new WmSamplePool(spares));
  }

  // A sample whose buffer holds exactly `bytes` bytes.
  std::int32_t Allocate(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample);

 private:
  explicit WmSamplePool(std::size_t spares) : sparesLimit_(spares) {}
  void Return(std::vector<std::uint8_t> storage);

  const std::size_t sparesLimit_;
  std::mutex mutex_;  // samples are released on the encoding thread too
  std::vector<std::vector<std::uint8_t>> spares_;
};

}  // namespace framory
