// The program's command line, read before any window or display is touched:
// --help and --version print and end the run, the remote-control options
// (--toggle-recording, --toggle-view, --shot, --quit, --status) send one
// command to the Framory running on the display and end, the toolkit's own
// -platform and -display options pass through, and anything else is refused
// with one line and exit status 2. The same help text feeds the manual page.
#pragma once

#include <string>
#include <vector>

#include "app/RemoteCommand.h"

namespace framory {

struct CommandLine {
  enum class Action { Run, Help, Version, Remote, Error };
  Action What = Action::Run;
  // The one-line error for Action::Error.
  std::string Error;
  // The display named with -display, empty for $DISPLAY.
  std::string Display;
  // A toolkit platform chosen with -platform, empty when none.
  std::string Platform;
  // The command for Action::Remote.
  RemoteCommand Command = RemoteCommand::GetStatus;
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text printed by --help (and turned into the manual page).
std::string HelpText();
// The text printed by --version.
std::string VersionText();

}  // namespace framory
