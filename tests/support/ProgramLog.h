// The programs the tests start, noted as they start them: each helper that
// runs an outside program (a shell command line, an exec) appends the
// program's name to one log, which the bootstrap check reads after the run to
// prove that every one of them comes from a package the bootstrap installs.
// The log is the file named by FRAMORY_TEST_PROGRAM_LOG, else the one the
// build set; writing it never fails a test.
#pragma once

#include <string>

namespace framory::testing {

// Notes every program the shell command line starts.
void NoteShellCommand(const std::string& command);
// Notes one program started by exec (a bare name or a path).
void NoteProgram(const std::string& program);

}  // namespace framory::testing
