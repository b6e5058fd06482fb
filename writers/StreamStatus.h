// What the tray tip tells of a broadcast to a streaming server: whether the
// stream is going out or being reconnected, and to which host (never the
// address itself, which holds the stream key). The stream's writer sets it
// from its sending thread; the recorder reads it on the event loop each time
// it refreshes the tip.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace framory {

class StreamStatus {
 public:
  enum class Phase : std::int32_t { Off, Broadcasting, Reconnecting };

  void Set(Phase phase, const std::string& host) {
    const std::lock_guard lock(mutex_);
    phase_ = phase;
    host_ = host;
  }
  // "Broadcasting to host", "Reconnecting to host", or empty when off.
  std::string TipText() const {
    const std::lock_guard lock(mutex_);
    switch (phase_) {
      case Phase::Broadcasting:
        return "Broadcasting to " + host_;
      case Phase::Reconnecting:
        return "Reconnecting to " + host_;
      case Phase::Off:
        break;
    }
    return {};
  }

 private:
  mutable std::mutex mutex_;
  Phase phase_ = Phase::Off;
  std::string host_;
};

}  // namespace framory
