// The program's parts put together: the X11 window system, screen grabber and
// input sources, the capture engine, the writers, the recorder, the dialogs
// and the Qt shell; then start-up, the event loop and shut-down.
#pragma once

#include <string>
#include <vector>

namespace framory {

class InstanceServer;

// Runs the program; returns its exit code. `instances`, when given, listens
// for second starts and remote commands on this display (the caller holds
// the display's lock); the program serves it while it runs, and serves the
// same commands on the session bus under `busNames` (none when empty).
int RunProgram(int argc, char** argv, InstanceServer* instances,
               const std::vector<std::string>& busNames);

}  // namespace framory
