// What the remote control's commands do in the running recorder, and what its
// state says. The commands are the chords and keys a desktop without global
// input (Wayland) cannot give: a desktop shortcut runs `framory
// --toggle-recording`, which reaches this class through the session bus (or
// the instance socket) on the GUI thread, and it does exactly what the chord
// does there:
//   ToggleRecording    the Ctrl-then-Shift chord: pause or resume
//   ToggleOptionsView  the Shift-then-Ctrl chord: pause first when an
//                      automatic trigger records, then show or hide the view
//   ShowOptionsView    a second start: show the view or bring it forward
//   TakeShot           one shot now, as Print Screen takes it: only while
//                      recording (a paused recorder records nothing), but
//                      whether "Ctrl-Print Screen" is ticked or not, since
//                      the command is asked for by name (and on Wayland that
//                      box cannot be ticked)
//   Quit               "Stop and Exit"
// Like the chords, nothing but Quit and ShowOptionsView acts while one of
// the program's system-modal boxes waits for an answer (an error box that
// just paused the recorder must not be answered by a resume from
// elsewhere), nor once the program is ending.
//
// The state (paused or recording, the output type, the current file) is
// compared after each round of work of the event loop (Refresh), so every
// change is announced once, whatever made it: a chord, a dialog, a failure
// that paused, a new picture.
#pragma once

#include <functional>
#include <string>

#include "app/Recorder.h"
#include "app/RemoteCommand.h"
#include "base/MessagePoster.h"
#include "base/Settings.h"

namespace framory {

class RemoteControl {
 public:
  // `openClipFile` gives the file of the open clip, empty when none is open.
  RemoteControl(const Settings& settings, Recorder& recorder, MessagePoster& poster,
                std::function<std::string()> openClipFile);

  // Whether the command may be carried out now: Done (with the status line
  // for GetStatus), or Refused with the reason. Changes nothing.
  RemoteReply Check(RemoteCommand command) const;
  // Carries out a command that Check allowed. The answer goes to the caller
  // between the two, since a command may show a box (a shot that cannot be
  // saved, an encoder that cannot start) whose own event loop holds this
  // call until the user answers it; a command no longer allowed by then
  // does nothing.
  void Carry(RemoteCommand command);
  // Check, then Carry when allowed.
  RemoteReply Run(RemoteCommand command);

  RemoteState State() const;

  // A result file was written (a picture) or finished (a clip, a merged
  // movie): the current file when no clip is open.
  void FileWritten(const std::string& path);
  // One of the program's system-modal boxes is shown or gone.
  void SetModalBox(bool shown) { modalBox_ = shown; }

  // Told the new state each time it differs from the last one told.
  void SetStateListener(std::function<void(const RemoteState&)> listener);
  // Compares the state with the last one told, and tells a change.
  void Refresh();

 private:
  const Settings& settings_;
  Recorder& recorder_;
  MessagePoster& poster_;
  std::function<std::string()> openClipFile_;
  std::function<void(const RemoteState&)> listener_;
  RemoteState told_;
  std::string lastFile_;
  bool modalBox_ = false;
};

// The refusals' texts.
inline constexpr const char* kRefusedPaused = "Framory is paused; no shot was taken";
inline constexpr const char* kRefusedBox = "a Framory message box waits for an answer";
inline constexpr const char* kRefusedEnding = "Framory is ending";

}  // namespace framory
