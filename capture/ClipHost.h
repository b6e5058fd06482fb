// What the clip session needs from the recorder around it: the pause toggle
// and the one error channel, the options view's title, and the saved mouse
// position. The recorder control implements it.
#pragma once

#include <string>

namespace framory {

class ClipHost {
 public:
  virtual ~ClipHost() = default;
  // Switches between paused and active with every side effect.
  virtual void TogglePause() = 0;
  virtual bool Paused() const { return false; }
  // Pauses if active and shows "<name> failed: GetLastError returned <code>"
  // in the "Error - Recorder will go in pause mode" box.
  virtual void ReportApiFailure(const std::string& name) = 0;
  // Refreshes the main dialog's title and buttons (nothing while it is hidden).
  virtual void RefreshMainDialogTitle() = 0;
  // Forgets the cursor position saved at the last pause.
  virtual void ClearMousePosSaved() = 0;
  // A clip ended (also when none was open); `savedPath` is the movie file it
  // left, empty when it left none (a broadcast, no clip).
  virtual void ClipEnded(const std::string& /*savedPath*/) {}
  // A clip's file was finished after the clip ended: the movie its sound
  // track was joined into.
  virtual void FileSaved(const std::string& /*savedPath*/) {}
};

}  // namespace framory
