#include "imaging/CxIOFile.h"

namespace framory {

CxIOFile::~CxIOFile() { Close(); }

bool CxIOFile::Open(const char* path, const char* mode) {
  if (stream_ != nullptr) return false;
  stream_ = std::fopen(path, mode);
  owned_ = stream_ != nullptr;
  return owned_;
}

bool CxIOFile::Close() {
  if (stream_ == nullptr || !owned_) return false;
  const bool ok = std::fclose(stream_) == 0;
  stream_ = nullptr;
  owned_ = false;
  return ok;
}

std::size_t CxIOFile::Read(void* buffer, std::size_t size, std::size_t count) {
  if (stream_ == nullptr) return 0;
  return std::fread(buffer, size, count, stream_);
}

std::size_t CxIOFile::Write(const void* buffer, std::size_t size, std::size_t count) {
  if (stream_ == nullptr) return 0;
  const std::size_t written = std::fwrite(buffer, size, count, stream_);
  if (written != count) NoteWriteError();
  return written;
}

bool CxIOFile::Seek(std::int64_t offset, int origin) {
  if (stream_ == nullptr) return false;
  return fseeko(stream_, static_cast<off_t>(offset), origin) == 0;
}

std::int64_t CxIOFile::Tell() {
  if (stream_ == nullptr) return -1;
  return ftello(stream_);
}

std::int64_t CxIOFile::Size() {
  if (stream_ == nullptr) return -1;
  const off_t here = ftello(stream_);
  if (here < 0 || fseeko(stream_, 0, SEEK_END) != 0) return -1;
  const off_t end = ftello(stream_);
  fseeko(stream_, here, SEEK_SET);
  return end;
}

bool CxIOFile::Flush() {
  if (stream_ == nullptr) return false;
  if (std::fflush(stream_) == 0) return true;
  NoteWriteError();
  return false;
}

bool CxIOFile::AtEnd() { return stream_ == nullptr || std::feof(stream_) != 0; }

bool CxIOFile::HasError() { return stream_ == nullptr || std::ferror(stream_) != 0; }

bool CxIOFile::PutByte(std::uint8_t byte) {
  if (stream_ == nullptr) return false;
  if (std::fputc(byte, stream_) == byte) return true;
  NoteWriteError();
  return false;
}

int CxIOFile::GetByte() {
  if (stream_ == nullptr) return -1;
  const int c = std::fgetc(stream_);
  return c == EOF ? -1 : c;
}

}  // namespace framory
