#include "app/CommandLine.h"

namespace framory {

namespace {

// Options of the toolkit that take a value and are passed on to it as they
// are: "-platform xcb", "-display :1", also written "--platform=xcb".
bool TakeToolkitOption(const std::string& name, const std::string& argument,
                       const std::vector<std::string>& arguments, std::size_t& i,
                       std::string& value, std::string& error) {
  const std::string single = "-" + name;
  const std::string doubled = "--" + name;
  if (argument == single || argument == doubled) {
    if (i + 1 >= arguments.size()) {
      error = "option '" + argument + "' needs a value";
      return true;
    }
    value = arguments[++i];
    return true;
  }
  for (const std::string& prefix : {single + "=", doubled + "="}) {
    if (argument.rfind(prefix, 0) == 0) {
      value = argument.substr(prefix.size());
      if (value.empty()) error = "option '" + argument + "' needs a value";
      return true;
    }
  }
  return false;
}

struct RemoteOption {
  const char* Name;
  RemoteCommand Command;
};
constexpr RemoteOption kRemoteOptions[] = {
    {"--toggle-recording", RemoteCommand::ToggleRecording},
    {"--toggle-view", RemoteCommand::ToggleOptionsView},
    {"--shot", RemoteCommand::TakeShot},
    {"--quit", RemoteCommand::Quit},
    {"--status", RemoteCommand::GetStatus},
};

}  // namespace

CommandLine ParseCommandLine(const std::vector<std::string>& arguments) {
  CommandLine result;
  std::string remoteOption;
  // arguments[0] is the program's name.
  for (std::size_t i = 1; i < arguments.size(); ++i) {
    const std::string& argument = arguments[i];
    bool remote = false;
    for (const RemoteOption& option : kRemoteOptions) {
      if (argument != option.Name) continue;
      remote = true;
      // Two commands in one call would leave their order to chance.
      if (!remoteOption.empty() && remoteOption != argument) {
        result.What = CommandLine::Action::Error;
        result.Error =
            "options '" + remoteOption + "' and '" + argument + "' cannot be given together";
        return result;
      }
      remoteOption = argument;
      result.What = CommandLine::Action::Remote;
      result.Command = option.Command;
    }
    if (remote) continue;
    if (argument == "--help" || argument == "-h") {
      result.What = CommandLine::Action::Help;
      return result;
    }
    if (argument == "--version" || argument == "-v") {
      result.What = CommandLine::Action::Version;
      return result;
    }
    std::string error;
    if (TakeToolkitOption("display", argument, arguments, i, result.Display, error) ||
        TakeToolkitOption("platform", argument, arguments, i, result.Platform, error)) {
      if (!error.empty()) {
        result.What = CommandLine::Action::Error;
        result.Error = error;
        return result;
      }
      continue;
    }
    result.What = CommandLine::Action::Error;
    result.Error = argument.rfind('-', 0) == 0 ? "unknown option '" + argument + "'"
                                               : "unexpected argument '" + argument + "'";
    return result;
  }
  return result;
}

std::string HelpText() {
  return "Usage: framory [OPTION]...\n"
         "Record the screen as numbered pictures or movie clips, or broadcast it live.\n"
         "\n"
         "Framory starts paused, with an icon in the system tray, and asks where results go.\n"
         "Hold Ctrl and press Shift anywhere to start, pause or resume recording; hold Shift\n"
         "and press Ctrl to show or hide the options window. Started again on the same\n"
         "display, it shows the options window of the Framory already running there.\n"
         "\n"
         "Options:\n"
         "  -h, --help             show this help and exit\n"
         "  -v, --version          show the version and exit\n"
         "  -display NAME          the X display to record (default: $DISPLAY)\n"
         "  -platform NAME         the toolkit's window platform (default: xcb, the X11\n"
         "                         platform; screen capture needs an X display either way)\n"
         "\n"
         "Remote control of the Framory running on the display (one at a time; none\n"
         "of them starts Framory). Bind them to keys in the desktop's keyboard settings\n"
         "where the key chords cannot work; the help page framory.html, beside the\n"
         "program, shows how on GNOME, KDE Plasma and sway:\n"
         "  --toggle-recording     start, pause or resume recording (as Ctrl then Shift)\n"
         "  --toggle-view          show or hide the options window (as Shift then Ctrl)\n"
         "  --shot                 take one picture or movie frame now (as Print Screen),\n"
         "                         while recording\n"
         "  --quit                 end the clip and exit (as \"Stop and Exit\")\n"
         "  --status               print one line: paused or recording, the output type\n"
         "                         and the current file\n"
         "They reach Framory through the session bus (org.framory.Framory.DisplayN for\n"
         "display :N, object /org/framory/Framory, interface org.framory.Framory1), or\n"
         "through its socket in $XDG_RUNTIME_DIR/framory where there is no bus.\n"
         "\n"
         "Files:\n"
         "  ~/.config/framory/registry.ini   the settings, kept between runs\n"
         "  /etc/framory/registry.ini        machine-wide settings, read only\n"
         "\n"
         "Exit status: 0 after \"Stop and Exit\" or a request to end, and when Framory\n"
         "already runs on the display; 1 when the X display cannot be opened or is lost;\n"
         "2 for a bad command line. A remote-control option ends with 0 when done; with\n"
         "1 when Framory is not running on the display (\"Framory is not running\"),\n"
         "does not answer, or refuses (a shot while paused, a message box waiting).\n";
}

std::string VersionText() { return std::string("framory ") + FRAMORY_VERSION + "\n"; }

}  // namespace framory
