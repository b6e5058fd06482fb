// The program's parts put together: the X11 window system, screen grabber and
// input sources, the capture engine, the writers, the recorder, the dialogs
// and the Qt shell; then start-up, the event loop and shut-down.
#pragma once

namespace framory {

// Runs the program; returns its exit code.
int RunProgram(int argc, char** argv);

}  // namespace framory
