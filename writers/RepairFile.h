// A clip file as the start-up repairs read and mend it: whole reads and
// writes at given offsets (retried after a signal), its size, truncation and
// a data sync. Opened without blocking on a FIFO and without becoming the
// controlling terminal, since the journal names it and anything may stand
// there now.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>

#include "base/UniqueFd.h"

namespace framory {

class RepairFile {
 public:
  explicit RepairFile(const std::string& path)
      : fd_(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY)) {}
  bool Ok() const { return fd_.Valid(); }
  // -1 for anything but a regular file.
  std::int64_t Size() const {
    struct stat st;
    return fstat(fd_.Get(), &st) == 0 && S_ISREG(st.st_mode) ? st.st_size : -1;
  }
  bool Read(std::int64_t at, void* to, std::size_t n) const {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t got = ::pread(fd_.Get(), static_cast<char*>(to) + done, n - done,
                                  static_cast<off_t>(at + static_cast<std::int64_t>(done)));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      done += static_cast<std::size_t>(got);
    }
    return true;
  }
  bool Write(std::int64_t at, const void* from, std::size_t n) {
    std::size_t done = 0;
    while (done < n) {
      const ssize_t put = ::pwrite(fd_.Get(), static_cast<const char*>(from) + done, n - done,
                                   static_cast<off_t>(at + static_cast<std::int64_t>(done)));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += static_cast<std::size_t>(put);
    }
    return true;
  }
  bool Truncate(std::int64_t size) { return ::ftruncate(fd_.Get(), size) == 0; }
  bool Sync() { return ::fdatasync(fd_.Get()) == 0; }
  int Fd() const { return fd_.Get(); }

 private:
  UniqueFd fd_;
};

}  // namespace framory
