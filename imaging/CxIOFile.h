// A CxFile over a C stream. A stream handed in by the caller stays the
// caller's: Close and the destructor close only a stream this object opened.
#pragma once

#include <cerrno>
#include <cstdio>

#include "imaging/CxFile.h"

namespace framory {

class CxIOFile : public CxFile {
 public:
  explicit CxIOFile(std::FILE* stream = nullptr) : stream_(stream) {}
  ~CxIOFile() override;
  CxIOFile(const CxIOFile&) = delete;
  CxIOFile& operator=(const CxIOFile&) = delete;

  // Opens `path` with fopen `mode`; the stream is then owned by this object.
  bool Open(const char* path, const char* mode);
  std::FILE* Stream() const { return stream_; }

  bool Close() override;
  std::size_t Read(void* buffer, std::size_t size, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
  bool Seek(std::int64_t offset, int origin) override;
  std::int64_t Tell() override;
  std::int64_t Size() override;
  bool Flush() override;
  bool AtEnd() override;
  bool HasError() override;
  bool PutByte(std::uint8_t byte) override;
  int GetByte() override;

  // The system error number (errno) of the first write, put or flush that
  // failed; 0 while none has.
  int WriteErrorNumber() const { return writeError_; }

 private:
  void NoteWriteError() {
    if (writeError_ == 0) writeError_ = errno != 0 ? errno : EIO;
  }

  std::FILE* stream_ = nullptr;
  bool owned_ = false;
  int writeError_ = 0;
};

}  // namespace framory
