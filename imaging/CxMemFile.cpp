#include "imaging/CxMemFile.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace framory {

CxMemFile::~CxMemFile() { Close(); }

bool CxMemFile::Close() {
  std::free(buffer_);
  buffer_ = nullptr;
  position_ = size_ = capacity_ = 0;
  error_ = false;
  return true;
}

void CxMemFile::ZeroGap() {
  // A seek past the end leaves a hole; it reads back as zeros.
  if (position_ > size_) std::memset(buffer_ + size_, 0, position_ - size_);
}

bool CxMemFile::Reserve(std::size_t end) {
  if (end <= capacity_) return true;
  const std::size_t steps = (end - capacity_ + kGrowStep - 1) / kGrowStep;
  const std::size_t wanted = capacity_ + steps * kGrowStep;
  void* grown = std::realloc(buffer_, wanted);
  if (grown == nullptr) {
    error_ = true;
    return false;
  }
  buffer_ = static_cast<std::uint8_t*>(grown);
  capacity_ = wanted;
  return true;
}

std::size_t CxMemFile::Read(void* buffer, std::size_t size, std::size_t count) {
  if (size == 0 || count == 0 || position_ >= size_) return 0;
  std::size_t items = (size_ - position_) / size;
  if (items > count) items = count;
  std::memcpy(buffer, buffer_ + position_, items * size);
  position_ += items * size;
  return items;
}

std::size_t CxMemFile::Write(const void* buffer, std::size_t size, std::size_t count) {
  if (size == 0 || count == 0) return 0;
  if (count > (SIZE_MAX - position_) / size) {
    error_ = true;
    return 0;
  }
  const std::size_t bytes = size * count;
  if (!Reserve(position_ + bytes)) return 0;
  ZeroGap();
  std::memcpy(buffer_ + position_, buffer, bytes);
  position_ += bytes;
  if (position_ > size_) size_ = position_;
  return count;
}

bool CxMemFile::Seek(std::int64_t offset, int origin) {
  std::int64_t base = 0;
  if (origin == SEEK_CUR) base = static_cast<std::int64_t>(position_);
  if (origin == SEEK_END) base = static_cast<std::int64_t>(size_);
  const std::int64_t target = base + offset;
  if (target < 0) return false;
  position_ = static_cast<std::size_t>(target);
  return true;
}

bool CxMemFile::PutByte(std::uint8_t byte) { return Write(&byte, 1, 1) == 1; }

int CxMemFile::GetByte() {
  if (position_ >= size_) return -1;
  return buffer_[position_++];
}

}  // namespace framory
