// Finding the programs a shell script or command line starts, without running
// it: the word at each command position (after a newline, `;`, `|`, `&&`,
// `$(`, `then`, ...), past variable assignments and the wrappers that start
// the word after them (`env`, `timeout`, `exec`, ...). Quoting, here-documents,
// comments, arrays, case patterns and `[[ ]]` are read as bash reads them, so
// their contents are not taken for commands; `bash -c '...'` is read too.
//
// Used by the check that every program the tests, benchmarks and scripts start
// comes from a package the bootstrap installs, and by the test helpers that
// record the programs they start at run time.
#pragma once

#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace framory::testing {

struct ShellCommandUse {
  std::string name;  // as written: a bare name or an absolute path
  int line = 0;      // 1-based line of the script where it starts
};

struct ShellScan {
  // Words in command position that may name a program: not a keyword, not a
  // builtin, not built from an expansion, not a relative path.
  std::vector<ShellCommandUse> commands;
  // Functions the text defines: a call of one is not a program.
  std::set<std::string> functions;
  // Those of them that run their arguments as a command (`"$@"`), as a test
  // script's `check "what" program args...` does.
  std::set<std::string> runners;
};

// `runners` are such functions defined elsewhere (a sourced file): the first
// word of their arguments that is neither quoted nor an expansion is a command.
ShellScan ScanShell(std::string_view text, const std::set<std::string>& runners = {});

// Bash's reserved words and builtins.
bool IsShellBuiltin(std::string_view word);

}  // namespace framory::testing
