#include "platform/media/DiskRoom.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "base/LastError.h"

namespace framory {

void DiskRoom::Open(const std::string& path) {
  fd_.Reset(::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY));
  reservedEnd_ = 0;
}

bool DiskRoom::Reserve(std::int64_t position, std::int64_t bytes) {
  if (!fd_.Valid()) return true;
  struct stat st;
  if (fstat(fd_.Get(), &st) != 0 || st.st_nlink == 0) {
    SetLastError(ENOENT);  // the file (or its folder) was deleted
    return false;
  }
  const std::int64_t end = std::max<std::int64_t>(position, st.st_size) + bytes;
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<std::uint64_t>(end) > limit.rlim_cur) {
    SetLastError(EFBIG);
    return false;
  }
  if (end <= reservedEnd_) return true;
  const std::int64_t from = std::max<std::int64_t>(reservedEnd_, st.st_size);
  if (fallocate(fd_.Get(), FALLOC_FL_KEEP_SIZE, from, end - from) == 0) {
    reservedEnd_ = end;
    return true;
  }
  if (errno != EOPNOTSUPP && errno != ENOSYS) {
    SetLastError(static_cast<std::uint32_t>(errno));
    return false;
  }
  struct statvfs fs;
  if (fstatvfs(fd_.Get(), &fs) == 0 &&
      static_cast<std::uint64_t>(end - from) >
          static_cast<std::uint64_t>(fs.f_bavail) * static_cast<std::uint64_t>(fs.f_frsize)) {
    SetLastError(ENOSPC);
    return false;
  }
  return true;
}

void DiskRoom::GiveBack() {
  if (!fd_.Valid()) return;
  struct stat st;
  if (fstat(fd_.Get(), &st) == 0 && st.st_nlink > 0) {
    // On failure only unused room stays taken; nothing of the file is lost.
    const int truncated = ftruncate(fd_.Get(), st.st_size);
    (void)truncated;
  }
  fd_.Reset();
  reservedEnd_ = 0;
}

}  // namespace framory
