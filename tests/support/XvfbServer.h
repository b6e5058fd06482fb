// An Xvfb of the test's own. The server picks a free display number itself
// and writes it to a pipe (-displayfd), so it never collides with another
// session on this machine. Killed when the object goes, whichever way the
// test ends.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace framory::testing {

class XvfbServer {
 public:
  // `screen` as Xvfb takes it ("640x480x24"); `arguments` follow, e.g.
  // {"-extension", "RECORD"}. Waits up to 30 s for the display number.
  explicit XvfbServer(const std::string& screen, const std::vector<std::string>& arguments = {});
  ~XvfbServer() { Kill(); }
  XvfbServer(const XvfbServer&) = delete;
  XvfbServer& operator=(const XvfbServer&) = delete;

  // ":N"; empty when the server did not start.
  const std::string& Name() const { return name_; }
  // Kills the server at once (as a crash or a closed session would).
  void Kill();

 private:
  pid_t pid_ = -1;
  std::string name_;
};

}  // namespace framory::testing
