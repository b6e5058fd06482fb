// Entry point of the framory program. The command line is read and the X
// display checked before the toolkit starts, so --help and --version work
// without a display and a missing display is one clear line, not a toolkit
// abort. Everything after that happens in RunProgram, on the one GUI thread.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "platform/x11/X11Connection.h"
#include "ui/Program.h"

int main(int argc, char** argv) {
  using framory::CommandLine;
  const CommandLine command =
      framory::ParseCommandLine(std::vector<std::string>(argv, argv + argc));
  switch (command.What) {
    case CommandLine::Action::Help:
      std::fputs(framory::HelpText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Version:
      std::fputs(framory::VersionText().c_str(), stdout);
      return 0;
    case CommandLine::Action::Error:
      std::fprintf(stderr, "framory: %s (try 'framory --help')\n", command.Error.c_str());
      return 2;
    case CommandLine::Action::Run:
      break;
  }

  // Our own X connections and the toolkit's must reach the same display.
  if (!command.Display.empty()) setenv("DISPLAY", command.Display.c_str(), 1);
  // System-wide capture needs X: in a Wayland session with Xwayland the
  // toolkit would otherwise pick its Wayland platform. A platform the user
  // chose (-platform, QT_QPA_PLATFORM) is left alone.
  const char* chosen = std::getenv("QT_QPA_PLATFORM");
  if (command.Platform.empty() && (chosen == nullptr || *chosen == '\0')) {
    setenv("QT_QPA_PLATFORM", "xcb", 1);
  }

  const char* display = std::getenv("DISPLAY");
  if (display == nullptr || *display == '\0') {
    std::fputs("framory: cannot open an X display: DISPLAY is not set\n", stderr);
    return 1;
  }
  if (!framory::X11Connection(display).Valid()) {
    std::fprintf(stderr, "framory: cannot open the X display \"%s\"\n", display);
    return 1;
  }
  return framory::RunProgram(argc, argv);
}
