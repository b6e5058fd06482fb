// A clip's sound whose Start and Stop run on a thread of their own, so the
// caller (the writer, on the event loop) never waits for the sound server:
// connecting to a server that hangs takes seconds before it is given up.
//
// Start queues the start and returns true at once; a failure it meets is
// told later by StartFailed. Stop and the destructor return at once too: the
// thread stops the sound when its start has ended, and ends with it. The
// sound read until then stays to be taken while the object lives.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "writers/ClipSound.h"

namespace framory {

class BackgroundClipSound : public ClipSound {
 public:
  explicit BackgroundClipSound(std::unique_ptr<ClipSound> sound);
  ~BackgroundClipSound() override;
  BackgroundClipSound(const BackgroundClipSound&) = delete;
  BackgroundClipSound& operator=(const BackgroundClipSound&) = delete;

  bool Start(std::string* failure) override;
  void Stop() override;
  std::vector<SoundChunk> TakeChunks() override;
  bool StartFailed(std::string* failure) override;

 private:
  struct Shared;
  // Shared with the thread, which may outlive this object by the rest of a
  // hanging start.
  std::shared_ptr<Shared> shared_;
};

}  // namespace framory
