// What the options view's commands act on besides the settings: the
// recorder's pause switch, the open clip, the capture target's memory of the
// window it resized, and the area-marking gesture. The view hands its own
// services in; tests put the real recorder behind it.
#pragma once

namespace framory {

class CommandHost {
 public:
  virtual ~CommandHost() = default;
  virtual bool Paused() const = 0;
  // Switches between paused and active with every side effect.
  virtual void TogglePause() = 0;
  // One of the click, window-event, key or timer triggers is on.
  virtual bool AnyTriggerEnabled() const = 0;
  // Forgets the pointer position saved at the last pause.
  virtual void ClearMousePosSaved() = 0;
  virtual bool ClipOpen() const = 0;
  // Ends the open clip, if any.
  virtual void EndClip() = 0;
  // Lets the next shot resize a window again.
  virtual void ForgetResizedWindow() = 0;
  // The next two right clicks mark the user area (or, where the program
  // sees no clicks, the area is dragged out over a picture of the screen).
  virtual void ArmMarking(bool arm) = 0;
  // Whether the area is marked by dragging over a picture of the screen
  // rather than by two right clicks.
  virtual bool MarksByDragging() const { return false; }
};

}  // namespace framory
