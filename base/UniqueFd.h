// The one owner of a file descriptor: it closes the descriptor once, when it
// goes or is given another one, on every path out of the code that holds it.
// Code that must know whether closing worked (a rewrite that is renamed over
// the old file, a close that reports a write error) calls Close and checks
// its result; Release hands the descriptor over to a new owner unclosed.
#pragma once

#include <unistd.h>

#include <utility>

namespace framory {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  explicit operator bool() const { return Valid(); }

  // Gives up the descriptor without closing it.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (its result is of no interest here) and takes `fd`.
  void Reset(int fd = -1) {
    const int old = std::exchange(fd_, fd);
    if (old >= 0 && old != fd) ::close(old);
  }
  // Closes the descriptor now: 0 on success, else -1 with errno set by the
  // close. The descriptor is gone either way (it must not be closed again,
  // even after EINTR). Nothing held: 0.
  int Close() {
    const int old = Release();
    return old >= 0 ? ::close(old) : 0;
  }

 private:
  int fd_ = -1;
};

}  // namespace framory
