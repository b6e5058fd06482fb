// Opening files and folders with the desktop's default application
// (QDesktopServices, which runs xdg-open on X11) and starting outside
// programs without waiting for them.
#pragma once

#include "app/Launchers.h"

namespace framory {

class QtDesktopActions : public DesktopActions {
 public:
  bool OpenPath(const std::string& path) override;
  bool StartProgram(const std::string& program, const std::vector<std::string>& arguments) override;
};

}  // namespace framory
