#include "support/ProgramLog.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>

#include "support/ShellWords.h"

namespace framory::testing {
namespace {

const char* LogPath() {
  if (const char* path = std::getenv("FRAMORY_TEST_PROGRAM_LOG"); path != nullptr && *path)
    return path;
#ifdef FRAMORY_TEST_PROGRAM_LOG
  return FRAMORY_TEST_PROGRAM_LOG;
#else
  return nullptr;
#endif
}

// One write of one whole line with O_APPEND: lines of tests running side by
// side never interleave.
void Append(const std::string& program) {
  const char* path = LogPath();
  if (path == nullptr || program.empty()) return;
  const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  const std::string line = program + "\n";
  [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
  close(fd);
}

}  // namespace

void NoteShellCommand(const std::string& command) {
  const ShellScan scan = ScanShell(command);
  for (const ShellCommandUse& use : scan.commands) {
    if (scan.functions.count(use.name) == 0) Append(use.name);
  }
}

void NoteProgram(const std::string& program) { Append(program); }

}  // namespace framory::testing
