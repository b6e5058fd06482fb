// The options view (the main control dialog) as the recorder drives it: shown
// and hidden by ToggleMainView, its title refreshed on every pause toggle.
#pragma once

namespace framory {

class OptionsViewHost {
 public:
  virtual ~OptionsViewHost() = default;
  virtual bool IsShown() const = 0;
  // Whether the view is the window the user works in now.
  virtual bool IsForeground() const = 0;
  // Shows the view and brings it in front; false when that failed.
  virtual bool ShowAndBringToFront() = 0;
  // Closes the view and forgets it.
  virtual void Destroy() = 0;
  // Creates the view (modeless, owned by the main window) and shows it.
  virtual void Create() = 0;
  // Refreshes the title (" (Recording Active)" / " (Recording Paused)") and
  // the buttons; does nothing while the view is not shown.
  virtual void RefreshTitle() = 0;
};

}  // namespace framory
