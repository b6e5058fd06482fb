// A fresh folder under the system temp directory, removed with everything in
// it when the object goes away.
#pragma once

#include <string>

namespace framory::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& Path() const { return path_; }
  // Path() + "/" + name.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

// Whole contents of a file; empty when it cannot be read.
std::string ReadWholeFile(const std::string& path);
// Writes `contents` to `path`, replacing it. False on failure.
bool WriteWholeFile(const std::string& path, const std::string& contents);

}  // namespace framory::testing
