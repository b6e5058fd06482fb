// Running part of a test in a forked child process: for what must not touch
// the test process itself (a file-size limit, an exit path, a signal, a
// crash the test provokes). The child reports back through a pipe; the
// parent always reaps it before returning.
#pragma once

#include <sys/resource.h>

#include <functional>
#include <string>
#include <vector>

namespace framory::testing {

// What RunInChild returns when the child did not exit normally with status
// 0 (killed by a signal, a non-zero exit, or no pipe or fork to begin with).
// Callers assert that they did not get it.
inline constexpr char kChildFailed[] = "<the child process failed>";

// Runs `body` in a forked child and returns what it returned. With a
// `fileSizeLimit` the child's files may not grow past that many bytes:
// writes beyond fail with EFBIG, SIGXFSZ is ignored.
std::string RunInChild(const std::function<std::string()>& body, rlim_t fileSizeLimit = 0);

// Runs `body`, which ends the process itself (an exit, a signal), in a
// forked child and returns the child's wait status; a body that returns
// exits with 99. -1 when there was no fork.
int ChildWaitStatus(const std::function<void()>& body);

// The whole lines of a child's report, without their line breaks; an
// unfinished last line is left out.
std::vector<std::string> SplitLines(const std::string& text);

}  // namespace framory::testing
