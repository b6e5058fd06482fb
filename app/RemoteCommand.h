// The remote control's vocabulary, shared by the running recorder and the
// command line that drives it: the commands, the words they travel as on the
// instance socket, the recorder's state as it is reported, the answers, and
// the name the recorder of a display owns on the session bus.
//
// The bus name carries the display, like the instance lock: one recorder per
// user and display, so two recorders on two displays of one login session
// (a nested X server, a test display) each answer for their own display, and
// `framory --status` run on a display asks the recorder of that display.
// A Wayland display is spelled out after "wayland:" (a name no X display
// has).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace framory {

enum class RemoteCommand {
  ShowOptionsView,    // a second start: show the options view, never hide it
  ToggleRecording,    // the Ctrl-then-Shift chord
  ToggleOptionsView,  // the Shift-then-Ctrl chord
  TakeShot,           // one picture or frame now, as Print Screen takes it
  Quit,               // "Stop and Exit"
  GetStatus,          // the state, as one line (not "Status": Xlib defines that)
};

// The request word of a command on the instance socket ("show",
// "toggle-recording", "toggle-view", "shot", "quit", "status"), and back; no
// command for any other word.
const char* RemoteRequestWord(RemoteCommand command);
std::optional<RemoteCommand> RemoteCommandOfWord(const std::string& word);

// What the recorder tells about itself.
struct RemoteState {
  bool Recording = false;
  std::int32_t OutputType = 0;
  // A short name of the output type ("PNG pictures", "AVI movie", "live
  // broadcast").
  std::string OutputName;
  // The file being written, else the last one written in this run; empty
  // before the first.
  std::string CurrentFile;
  bool operator==(const RemoteState&) const = default;
};

// The one line `framory --status` prints:
//   "recording; output type 3 (PNG pictures); file /home/me/shots/pic4.png"
//   "paused; output type 16 (WMV movie); no file yet"
// The file comes last, so that everything after "; file " is the path; a
// control character in it (a line feed in a file name) shows as "?".
std::string StatusLine(const RemoteState& state);

// The short name of an output type, from the table of output formats.
std::string OutputTypeName(std::int32_t outputType);

// How a command ended, as the command line sees it.
struct RemoteReply {
  enum class Kind {
    Done,        // carried out; Text is the status line for Status
    Refused,     // the recorder said no; Text says why
    NoAnswer,    // a recorder runs but did not answer in time
    NotRunning,  // no recorder serves this display
  };
  Kind What = Kind::NotRunning;
  std::string Text;
};

// The texts the command line prints.
inline constexpr const char* kNotRunningText = "Framory is not running";

// The session-bus name of the recorder of the display `displayKey` (as
// DisplayKey gives it): "org.framory.Framory.Display0" for ":0"; any other
// key is spelled out byte by byte after "org.framory.Framory.Display_"
// (letters and digits as they are, other bytes as "_" and two hex digits),
// so that different displays never share a name.
std::string RemoteBusName(const std::string& displayKey);
// The Wayland display as a path: WAYLAND_DISPLAY names the compositor's
// socket in XDG_RUNTIME_DIR ("wayland-1") or by its full path; both
// spellings of one socket give the same text. Empty when `waylandDisplay` is.
std::string WaylandDisplayKey(const std::string& waylandDisplay, const std::string& runtimeDir);

// The names the recorder of a session owns: its X display's, and in a
// Wayland session the Wayland display's as well, so that a desktop shortcut
// of a compositor that gives its commands no X display (sway without
// XWayland) still reaches it. `waylandDisplay` as WaylandDisplayKey gives it.
std::vector<std::string> RemoteBusNames(const std::string& xDisplay,
                                        const std::string& waylandDisplay);
// The name a command line reaches: its X display's when it has one (given
// with -display or in DISPLAY), else its Wayland display's; empty with
// neither.
std::string RemoteBusNameFor(const std::string& xDisplay, const std::string& waylandDisplay);
inline constexpr const char* kRemoteObjectPath = "/org/framory/Framory";
inline constexpr const char* kRemoteInterface = "org.framory.Framory1";

}  // namespace framory
