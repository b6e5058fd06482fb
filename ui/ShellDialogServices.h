// The dialogs' services over the program's real parts: the recorder, the clip
// session, the capture target, the input watch, the output naming, the main
// window's message queue, the message-box service and the desktop.
#pragma once

#include <functional>

#include "ui/DialogServices.h"

namespace framory {

class CaptureTarget;
class ClipSession;
class DesktopActions;
class InputWatch;
class OutputNaming;
class Recorder;

class ShellDialogServices : public DialogServices {
 public:
  struct Parts {
    framory::Recorder* Control = nullptr;
    ClipSession* Clip = nullptr;
    CaptureTarget* Target = nullptr;
    InputWatch* Input = nullptr;
    OutputNaming* Naming = nullptr;
    MessagePoster* Poster = nullptr;
    MessageBoxService* Boxes = nullptr;
    DesktopActions* Desktop = nullptr;
    // Where the program sees no clicks: opens the window in which the area
    // is dragged out, while DraggingMarks says so (always when it is unset).
    std::function<void()> MarkByDragging;
    std::function<bool()> DraggingMarks;
  };
  explicit ShellDialogServices(Parts parts) : parts_(parts) {}

  bool Paused() const override;
  void TogglePause() override;
  bool AnyTriggerEnabled() const override;
  void ClearMousePosSaved() override;
  void ToggleMainView() override;
  bool ClipOpen() const override;
  void EndClip() override;
  void ForgetResizedWindow() override;
  void ArmMarking(bool arm) override;
  bool MarksByDragging() const override {
    return parts_.MarkByDragging && (!parts_.DraggingMarks || parts_.DraggingMarks());
  }
  std::string LastResult() const override;
  void PostMainMessage(std::uint32_t message) override;
  int MessageBox(const std::string& text, const std::string& caption, std::uint32_t style) override;
  bool OpenPath(const std::string& path, std::optional<FailureBox> lateFailure) override;
  bool ChooseFolder(const std::string& title, const std::string& start,
                    std::string* chosen) override;

 private:
  Parts parts_;
};

}  // namespace framory
