// The sequence around the welcome/project dialog that the main window runs at
// start-up and on every "New Project": end the clip, work out the default
// directory on the first run, run the dialog, create the folders and show the
// options view.
#pragma once

#include <string>

#include "base/Settings.h"

class QWidget;

namespace framory {

class DialogServices;
class ProjectDialog;
class Launchers;
struct UiState;

class ProjectDialogRun {
 public:
  ProjectDialogRun(Settings& settings, DialogServices& services, Launchers& launchers,
                   UiState& state);

  // True when the user went on, false when the program is to end.
  bool Run();
  // Raises and activates the dialog while Run shows it; nothing otherwise.
  void BringForward();

  // The first-run default: the pictures folder (created when missing)
  // followed by "/Framory/", or the home folder followed by "/".
  static std::string DefaultProjectDirectory();

 private:
  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
  UiState& state_;
  ProjectDialog* shown_ = nullptr;
};

}  // namespace framory
