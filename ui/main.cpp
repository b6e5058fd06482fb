// Entry point of the framory program. The command line is read and the X
// display checked before the toolkit starts, so --help and --version work
// without a display and a missing display is one clear line, not a toolkit
// abort. A remote-control option only talks to the recorder running on the
// display and ends; it never starts one. Otherwise the start claims its
// display: when a recorder of this user already runs there, it is asked to
// show its options view and this start ends with status 0 before anything
// is loaded, saved or repaired. Everything after that happens in RunProgram,
// on the one GUI thread.
#include <QCoreApplication>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/InstanceChannel.h"
#include "app/RemoteCommand.h"
#include "app/SingleInstance.h"
#include "platform/qt/DbusInstanceLink.h"
#include "platform/x11/X11Connection.h"
#include "ui/Program.h"

namespace {

// The Wayland display, as the path of its socket.
std::string WaylandDisplay() {
  const char* value = std::getenv("WAYLAND_DISPLAY");
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  return framory::WaylandDisplayKey(value != nullptr ? value : "",
                                    runtime != nullptr ? runtime : "");
}

// How long a second start or a remote command waits for the running
// recorder's answer.
constexpr int kAnswerMilliseconds = 3000;

// Ends a run that only talked to the running recorder. The D-Bus library's
// connection thread may still be handling the bus's last messages while the
// static objects of the toolkit are destroyed, and then warns on standard
// error about types that are gone; such a run has printed its answer and
// holds nothing else, so it ends here without those destructors.
[[noreturn]] void EndTalkingRun(int status) {
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(status);
}

// Sends one remote command to the recorder of `display` (the X display;
// without one, the recorder of the Wayland display is asked, on the bus
// alone) and prints what came of it: --status prints its one line (or
// "Framory is not running") on standard output, the other commands print
// nothing when done and their failure on standard error.
int RunRemoteCommand(int argc, char** argv, const std::string& display,
                     framory::RemoteCommand command) {
  using Kind = framory::RemoteReply::Kind;
  framory::RemoteReply reply;
  const std::string busName = framory::RemoteBusNameFor(display, WaylandDisplay());
  if (!busName.empty()) {
    // The bus library wants an application object; it opens no window.
    QCoreApplication application(argc, argv);
    const std::string folder =
        display.empty() ? std::string()
                        : framory::InstanceFolder(framory::InstanceEnvironment::FromProcess());
    framory::SessionInstanceLink link(busName, framory::InstanceSocketPath(folder, display),
                                      kAnswerMilliseconds);
    reply = link.Ask(command);
  }
  const bool status = command == framory::RemoteCommand::GetStatus;
  switch (reply.What) {
    case Kind::Done:
      if (status) std::printf("%s\n", reply.Text.c_str());
      return 0;
    case Kind::NotRunning:
      std::fprintf(status ? stdout : stderr, "%s\n", framory::kNotRunningText);
      return 1;
    case Kind::Refused:
      std::fprintf(stderr, "framory: %s\n", reply.Text.c_str());
      return 1;
    case Kind::NoAnswer:
      std::fprintf(stderr, "framory: Framory runs on the display \"%s\" but did not answer\n",
                   display.c_str());
      return 1;
  }
  return 1;
}

}  // namespace

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
    case CommandLine::Action::Remote: {
      const char* display = std::getenv("DISPLAY");
      EndTalkingRun(RunRemoteCommand(argc, argv,
                                     !command.Display.empty() ? command.Display
                                     : display != nullptr     ? display
                                                              : "",
                                     command.Command));
    }
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

  std::string folderProblem;
  const std::string folder =
      framory::InstanceFolder(framory::InstanceEnvironment::FromProcess(), &folderProblem);
  framory::InstanceClaim claim = framory::InstanceClaim::Make(folder, display);
  switch (claim.What()) {
    case framory::InstanceClaim::Outcome::AlreadyRunning: {
      QCoreApplication application(argc, argv);
      framory::SessionInstanceLink link(framory::RemoteBusNameFor(display, ""), claim.SocketPath(),
                                        kAnswerMilliseconds);
      if (!link.AskToShow()) {
        std::fprintf(stderr,
                     "framory: Framory already runs on the display \"%s\" but did not answer; "
                     "nothing was changed\n",
                     display);
      }
      EndTalkingRun(0);
    }
    case framory::InstanceClaim::Outcome::Unavailable:
      std::fprintf(stderr, "framory: %s; a second start on this display will not be noticed\n",
                   (folder.empty() ? folderProblem : claim.Problem()).c_str());
      return framory::RunProgram(argc, argv, nullptr,
                                 framory::RemoteBusNames(display, WaylandDisplay()));
    case framory::InstanceClaim::Outcome::First:
      break;
  }
  // Listening at once: a second start made while this one starts up waits
  // in the socket's backlog until the event loop serves it.
  framory::InstanceServer instances;
  std::string listenProblem;
  if (!instances.Listen(claim.SocketPath(), &listenProblem)) {
    std::fprintf(stderr, "framory: %s; a second start on this display cannot reach this one\n",
                 listenProblem.c_str());
  }
  return framory::RunProgram(argc, argv, instances.Listening() ? &instances : nullptr,
                             framory::RemoteBusNames(display, WaylandDisplay()));
}
