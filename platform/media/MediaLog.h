// FFmpeg's own messages. Its libraries print warnings to stderr as they go
// (a clipped coefficient, a guessed rate), once per frame at worst; a program
// that runs all day in the background keeps only the errors. Setting
// FRAMORY_MEDIA_LOG in the environment keeps FFmpeg's usual level, for a
// user tracking down a problem.
//
// Every message goes through one callback of ours, which replaces the
// secrets registered here (a streaming server's key, which FFmpeg's network
// layers print with the address) by the mask before anything is printed,
// and lets a thread collect the warnings and errors of one call, to tell
// the user what a server answered.
#pragma once

#include <string>
#include <vector>

namespace framory {

// Process-wide: also quiets the encoder's and the QuickTime runtime's use of
// the same libraries. Installs the masking callback.
void QuietMediaLog();
// The masking callback alone, leaving the level as it is (safe to call
// again).
void InstallMediaLogMask();

// Secrets no message of FFmpeg shows while registered.
void AddMediaLogSecrets(const std::vector<std::string>& secrets);
void RemoveMediaLogSecrets(const std::vector<std::string>& secrets);

// FFmpeg's warnings and errors on the calling thread for as long as it
// lives, masked, one line each (printed or not).
class MediaLogCapture {
 public:
  MediaLogCapture();
  ~MediaLogCapture();
  MediaLogCapture(const MediaLogCapture&) = delete;
  MediaLogCapture& operator=(const MediaLogCapture&) = delete;
  const std::vector<std::string>& Lines() const { return lines_; }
  // A line of the log, its line end dropped.
  void Add(std::string line);

 private:
  std::vector<std::string> lines_;
  MediaLogCapture* outer_ = nullptr;
};

}  // namespace framory
