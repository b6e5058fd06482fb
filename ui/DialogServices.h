// What the dialogs need from the rest of the program: the recorder's pause
// control, the clip session, the capture target, the input watch, the last
// result, the hidden main window's message queue, message boxes and the
// desktop. The shell implements it over the real parts; tests use fakes.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "app/Launchers.h"
#include "base/MessageBoxService.h"
#include "base/MessagePoster.h"

namespace framory {

class DialogServices {
 public:
  virtual ~DialogServices() = default;

  // Recorder control.
  virtual bool Paused() const = 0;
  virtual void TogglePause() = 0;
  virtual bool AnyTriggerEnabled() const = 0;
  virtual void ClearMousePosSaved() = 0;
  // Shows the options view (or brings it forward, or closes it).
  virtual void ToggleMainView() = 0;

  // Clip session and capture target.
  virtual bool ClipOpen() const = 0;
  virtual void EndClip() = 0;
  virtual void ForgetResizedWindow() = 0;
  // Input watch: the next two right clicks mark the user area.
  virtual void ArmMarking(bool arm) = 0;
  // The area is dragged out over a picture of the screen instead.
  virtual bool MarksByDragging() const { return false; }
  // Path of the last result file; empty when there is none.
  virtual std::string LastResult() const = 0;

  // Posts a message to the hidden main window; it is handled after the
  // current one.
  virtual void PostMainMessage(std::uint32_t message) = 0;

  // Shows a message box (MessageBoxFlags), kept above all windows; returns
  // the answer (MessageBoxResults).
  virtual int MessageBox(const std::string& text, const std::string& caption,
                         std::uint32_t style) = 0;
  // Shows the box a launcher answered with, if it failed; true when shown.
  bool ShowFailure(const std::optional<FailureBox>& failure) {
    if (!failure) return false;
    MessageBox(failure->Text, failure->Caption, failure->Style);
    return true;
  }

  // Opens a file or folder with the desktop's default application; false
  // when it does not exist or nothing could be started for it. When the
  // desktop turns out to have nothing to open it with, `lateFailure` (if
  // any) is shown then.
  virtual bool OpenPath(const std::string& path,
                        std::optional<FailureBox> lateFailure = std::nullopt) = 0;
  // Lets the user pick a folder; false when the choice was cancelled or has
  // no file-system path.
  virtual bool ChooseFolder(const std::string& title, const std::string& start,
                            std::string* chosen) = 0;
};

}  // namespace framory
