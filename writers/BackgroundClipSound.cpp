#include "writers/BackgroundClipSound.h"

#include <condition_variable>
#include <mutex>
#include <thread>
#include <utility>

namespace framory {

struct BackgroundClipSound::Shared {
  explicit Shared(std::unique_ptr<ClipSound> sound) : sound(std::move(sound)) {}

  // Set before the thread starts and not changed after; its members may be
  // called from any thread.
  std::unique_ptr<ClipSound> sound;

  std::mutex lock;
  std::condition_variable wake;
  bool started = false;  // the thread runs
  bool stopAsked = false;
  bool failed = false;
  std::string failure;
};

BackgroundClipSound::BackgroundClipSound(std::unique_ptr<ClipSound> sound)
    : shared_(std::make_shared<Shared>(std::move(sound))) {}

BackgroundClipSound::~BackgroundClipSound() { Stop(); }

bool BackgroundClipSound::Start(std::string* /*failure*/) {
  {
    const std::lock_guard hold(shared_->lock);
    if (shared_->started || shared_->stopAsked) return !shared_->failed;
    shared_->started = true;
  }
  // Not joined: a start that waits on a hanging server must not hold whoever
  // ends this object. The thread holds the shared part until it is done.
  std::thread([shared = shared_] {
    std::string failure;
    const bool ok = shared->sound->Start(&failure);
    std::unique_lock hold(shared->lock);
    if (!ok) {
      shared->failed = true;
      shared->failure = failure.empty() ? "The sound server refused to record." : failure;
      return;
    }
    shared->wake.wait(hold, [&shared] { return shared->stopAsked; });
    hold.unlock();
    shared->sound->Stop();
  }).detach();
  return true;
}

void BackgroundClipSound::Stop() {
  {
    const std::lock_guard hold(shared_->lock);
    shared_->stopAsked = true;
  }
  shared_->wake.notify_all();
}

std::vector<SoundChunk> BackgroundClipSound::TakeChunks() { return shared_->sound->TakeChunks(); }

bool BackgroundClipSound::StartFailed(std::string* failure) {
  const std::lock_guard hold(shared_->lock);
  if (shared_->failed && failure != nullptr) *failure = shared_->failure;
  return shared_->failed;
}

}  // namespace framory
