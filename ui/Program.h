// The program's parts put together: the X11 window system, screen grabber and
// input sources, the capture engine, the writers, the recorder, the dialogs
// and the Qt shell; then start-up, the event loop and shut-down.
#pragma once

#include <string>

namespace framory {

// Runs the program; returns its exit code. `instanceSocket`, when not empty,
// is where this recorder of the display answers a second start (the caller
// holds the display's instance lock).
int RunProgram(int argc, char** argv, const std::string& instanceSocket);

}  // namespace framory
