// Running the outside tools the tests read files back with (ffprobe, ffmpeg,
// xdotool...) through the shell, and quoting what goes into their command
// lines.
#pragma once

#include <string>

namespace framory::testing {

// Runs `command` with /bin/sh and returns its standard output as it is
// (standard error goes where the command line sends it).
std::string CommandOutput(const std::string& command);
// Runs a shell command; its standard output (standard error too when
// `withStderr`, otherwise standard error is dropped).
std::string RunCommand(const std::string& command, bool withStderr = false);
// `text` in single quotes, safe as one shell word.
std::string ShellQuote(const std::string& text);

}  // namespace framory::testing
