// A small tmpfs mounted for one test (root only) and unmounted when the
// object goes, also when the test stops at a failed assertion.
#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>

namespace framory::testing {

class SmallTmpfs {
 public:
  // Mounts a tmpfs of `size` (mount's notation, e.g. "1m") at `folder`,
  // which is made first. Mounted() tells whether that worked.
  SmallTmpfs(const std::string& folder, const std::string& size) : folder_(folder) {
    std::filesystem::create_directories(folder_);
    mounted_ = mount("tmpfs", folder_.c_str(), "tmpfs", 0, ("size=" + size).c_str()) == 0;
  }
  ~SmallTmpfs() {
    if (mounted_) umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallTmpfs(const SmallTmpfs&) = delete;
  SmallTmpfs& operator=(const SmallTmpfs&) = delete;

  bool Mounted() const { return mounted_; }
  const std::string& Path() const { return folder_; }

 private:
  std::string folder_;
  bool mounted_ = false;
};

}  // namespace framory::testing
