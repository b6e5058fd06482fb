// One recorder per user and X display. Two recorders on one display would both
// answer the same key chords (one pausing while the other resumes) and the
// one ending last would overwrite the settings of the other, so a start finds
// out first whether a recorder of this user already runs on its display.
//
// The answer comes from a lock, not from a file's existence: an flock'd lock
// file per display, in a folder only this user can enter ($XDG_RUNTIME_DIR/
// framory when that folder is private, else a private folder under the cache
// folder). A crashed recorder leaves its files behind, but the kernel drops
// its lock with the process, so nothing stale can block a later start. The
// folder is private so that no other user can take a display's lock or stand
// in for its recorder; the file names also carry the host name, since a cache
// folder may be shared by several machines.
#pragma once

#include <string>

namespace framory {

// The display a DISPLAY value names, in one spelling: ":0", ":0.0", "unix:0"
// and "unix/:0" all give ":0" (the screen number and the local-socket spelling
// dropped, leading zeros too); a display reached over the network keeps its
// host ("remote:10"). Text that is not a display name comes back unchanged.
std::string DisplayKey(const std::string& display);

// Where the per-user instance files live.
struct InstanceEnvironment {
  std::string RuntimeDir;  // $XDG_RUNTIME_DIR
  std::string CacheHome;   // $XDG_CACHE_HOME
  std::string Home;        // $HOME
  static InstanceEnvironment FromProcess();
};

// The private folder for the instance files, made when missing (mode 0700,
// owned by this user; a folder of ours with looser rights is tightened).
// Empty when no such folder can be had; `problem` then says why.
std::string InstanceFolder(const InstanceEnvironment& environment, std::string* problem = nullptr);

// Where the recorder of `display` listens in `folder` (empty when the folder
// is): the socket path a claim on that display gives, found without taking
// the lock, for a command line that only talks to a running recorder.
std::string InstanceSocketPath(const std::string& folder, const std::string& display);

// This start's claim on its display, held for the life of the object.
class InstanceClaim {
 public:
  enum class Outcome {
    First,           // the lock is ours: this start is the recorder of the display
    AlreadyRunning,  // another process of this user holds it
    Unavailable,     // no private folder or no lock file: nothing can be told
  };

  // Takes the lock of `display` in `folder` (an empty folder gives
  // Unavailable). Never blocks.
  static InstanceClaim Make(const std::string& folder, const std::string& display);

  InstanceClaim() = default;
  InstanceClaim(InstanceClaim&& other) noexcept;
  InstanceClaim& operator=(InstanceClaim&& other) noexcept;
  InstanceClaim(const InstanceClaim&) = delete;
  InstanceClaim& operator=(const InstanceClaim&) = delete;
  ~InstanceClaim();

  Outcome What() const { return outcome_; }
  // Where the recorder of the display listens (for First and AlreadyRunning).
  const std::string& SocketPath() const { return socketPath_; }
  // Why the claim is Unavailable.
  const std::string& Problem() const { return problem_; }

 private:
  Outcome outcome_ = Outcome::Unavailable;
  int lockFd_ = -1;
  std::string socketPath_;
  std::string problem_;
};

}  // namespace framory
