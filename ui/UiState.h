// Flags of the dialogs that outlive any one showing of them.
#pragma once

namespace framory {

struct UiState {
  // The next fill of the options view is the first since start-up: it
  // imposes the trigger defaults of the output family.
  bool FirstFill = true;
  // "Stop and Exit" or "Exit" was chosen; never cleared. Every later
  // project dialog run ends the program.
  bool ExitRequested = false;
  // The default project directory is worked out on the first run only.
  bool FirstProjectRun = true;
  // The screen comes from the Wayland source (a portal's stream or the
  // compositor's screen copies): the input triggers reach the program only
  // from X11 windows, and the options view says so. Not while capture fell
  // back to X11, where the triggers work for what is recorded.
  bool WaylandSession = false;
};

}  // namespace framory
