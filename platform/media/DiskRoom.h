// Disk room reserved ahead of a file being written, so that a full disk or a
// file-size limit refuses the next piece of a movie before a byte of it is
// written, while the room for finishing the file (its index, its last
// packet) is already taken. The room is reserved past the file's end with
// fallocate, keeping the file's size; where the file system cannot reserve,
// the free space is checked instead. Finishing gives back what was not used.
#pragma once

#include <cstdint>
#include <string>

#include "base/UniqueFd.h"

namespace framory {

class DiskRoom {
 public:
  // A descriptor of its own of the file at `path` (already created); with
  // none, every reservation succeeds and the writes report failures.
  void Open(const std::string& path);
  // Room for `bytes` past `position`; false, with the calling thread's last
  // error set (ENOSPC, EFBIG, ENOENT for a deleted file), when there is none.
  bool Reserve(std::int64_t position, std::int64_t bytes);
  // Frees the room reserved past the file's end and closes the descriptor.
  void GiveBack();

 private:
  UniqueFd fd_;
  std::int64_t reservedEnd_ = 0;
};

}  // namespace framory
