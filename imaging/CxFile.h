// The file the image encoders write to. Encoders see only this small set of
// operations, so the same encoder can fill a C stream (CxIOFile) or a growable
// memory buffer (CxMemFile). The operations mirror the C stream calls: Write
// returns the number of whole items written, PutByte and Flush report success.
#pragma once

#include <cstddef>
#include <cstdint>

namespace framory {

class CxFile {
 public:
  virtual ~CxFile() = default;

  virtual bool Close() = 0;
  // Reads up to `count` items of `size` bytes; returns the whole items read.
  virtual std::size_t Read(void* buffer, std::size_t size, std::size_t count) = 0;
  // Writes `count` items of `size` bytes; returns the whole items written.
  virtual std::size_t Write(const void* buffer, std::size_t size, std::size_t count) = 0;
  // `origin` is SEEK_SET, SEEK_CUR or SEEK_END.
  virtual bool Seek(std::int64_t offset, int origin) = 0;
  virtual std::int64_t Tell() = 0;
  virtual std::int64_t Size() = 0;
  virtual bool Flush() = 0;
  virtual bool AtEnd() = 0;
  virtual bool HasError() = 0;
  virtual bool PutByte(std::uint8_t byte) = 0;
  // The next byte, or -1 at the end.
  virtual int GetByte() = 0;
};

}  // namespace framory
