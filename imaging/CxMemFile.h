// A CxFile held in memory: a buffer with a position, a size (the highest
// position written so far) and a capacity that grows in 4096-byte steps. The
// PCX encoder collects its compressed body in one and writes it out at once.
#pragma once

#include <cstdint>

#include "imaging/CxFile.h"

namespace framory {

class CxMemFile : public CxFile {
 public:
  static constexpr std::size_t kGrowStep = 4096;

  CxMemFile() = default;
  ~CxMemFile() override;
  CxMemFile(const CxMemFile&) = delete;
  CxMemFile& operator=(const CxMemFile&) = delete;

  // The bytes written so far (Size() of them); null while nothing was written.
  const std::uint8_t* Buffer() const { return buffer_; }
  std::size_t Capacity() const { return capacity_; }

  bool Close() override;
  std::size_t Read(void* buffer, std::size_t size, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
  bool Seek(std::int64_t offset, int origin) override;
  std::int64_t Tell() override { return static_cast<std::int64_t>(position_); }
  std::int64_t Size() override { return static_cast<std::int64_t>(size_); }
  bool Flush() override { return true; }
  bool AtEnd() override { return position_ >= size_; }
  bool HasError() override { return error_; }
  bool PutByte(std::uint8_t byte) override;
  int GetByte() override;

 private:
  // Makes room for `end` bytes; false (and the error flag) when memory runs out.
  bool Reserve(std::size_t end);
  void ZeroGap();

  std::uint8_t* buffer_ = nullptr;
  std::size_t position_ = 0;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
  bool error_ = false;
};

}  // namespace framory
