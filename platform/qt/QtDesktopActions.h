// Opening files and folders with the desktop's default application and
// starting outside programs without waiting for them.
//
// A file or folder is opened by xdg-open, run beside the event loop: its exit
// status tells whether the desktop had anything to open the path with (it
// may only exit once the viewer it started has closed, so nothing waits for
// it). A failure is written to stderr, naming the path and what was tried,
// and reported through the caller's `failed`.
#pragma once

#include "app/Launchers.h"

namespace framory {

class QtDesktopActions : public DesktopActions {
 public:
  bool OpenPath(const std::string& path, std::function<void()> failed) override;
  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace framory
