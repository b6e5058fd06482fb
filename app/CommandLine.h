// The program's command line, read before any window or display is touched:
// --help and --version print and end the run, the toolkit's own -platform and
// -display options pass through, and anything else is refused with one line
// and exit status 2. The same help text feeds the manual page.
#pragma once

#include <string>
#include <vector>

namespace framory {

struct CommandLine {
  enum class Action { Run, Help, Version, Error };
  Action What = Action::Run;
  // The one-line error for Action::Error.
  std::string Error;
  // The display named with -display, empty for $DISPLAY.
  std::string Display;
  // A toolkit platform chosen with -platform, empty when none.
  std::string Platform;
};

CommandLine ParseCommandLine(const std::vector<std::string>& arguments);

// The text printed by --help (and turned into the manual page).
std::string HelpText();
// The text printed by --version.
std::string VersionText();

}  // namespace framory
