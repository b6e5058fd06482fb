#include "support/ShellCommand.h"

#include <cstdio>

#include "support/ProgramLog.h"

namespace framory::testing {

std::string CommandOutput(const std::string& command) {
  NoteShellCommand(command);
  std::string out;
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, got);
  pclose(pipe);
  return out;
}

std::string RunCommand(const std::string& command, bool withStderr) {
  return CommandOutput(command + (withStderr ? " 2>&1" : " 2>/dev/null"));
}

std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

}  // namespace framory::testing
