#include "writers/StreamLink.h"

namespace framory {

namespace {
constexpr std::int64_t kSecond = 1'000'000'000;
}

std::int64_t StreamLink::RetryDelayNanoseconds(std::int32_t failures) {
  switch (failures) {
    case 0:
    case 1:
      return 1 * kSecond;
    case 2:
      return 2 * kSecond;
    case 3:
      return 4 * kSecond;
    default:
      return 5 * kSecond;
  }
}

bool StreamLink::AttemptDue(std::int64_t nowNs) {
  if (state_ == StreamLinkState::Waiting && nowNs >= nextAttemptNs_)
    state_ = StreamLinkState::Connecting;
  return state_ == StreamLinkState::Connecting;
}

void StreamLink::AttemptEnded(std::int64_t nowNs, ConnectOutcome outcome,
                              const std::string& answer) {
  if (state_ != StreamLinkState::Connecting) return;
  switch (outcome) {
    case ConnectOutcome::Connected:
      if (everLive_) ++reconnections_;
      everLive_ = true;
      failures_ = 0;
      needsKeyFrame_ = true;
      state_ = StreamLinkState::Live;
      return;
    case ConnectOutcome::Refused:
      answer_ = answer;
      state_ = StreamLinkState::Stopped;
      return;
    case ConnectOutcome::NoSuchHost:
    case ConnectOutcome::Unreachable:
      // Before the stream ever ran this is the address's fault; after, the
      // server's, which may come back.
      if (!everLive_) {
        answer_ = answer;
        state_ = StreamLinkState::Stopped;
        return;
      }
      Wait(nowNs);
      return;
  }
}

void StreamLink::SendFailed(std::int64_t nowNs) {
  if (state_ != StreamLinkState::Live) return;
  failures_ = 0;
  Wait(nowNs);
}

void StreamLink::Wait(std::int64_t nowNs) {
  ++failures_;
  nextAttemptNs_ = nowNs + RetryDelayNanoseconds(failures_);
  state_ = StreamLinkState::Waiting;
}

bool StreamLink::TakeFrame() {
  if (state_ == StreamLinkState::Live) return true;
  ++dropped_;
  return false;
}

}  // namespace framory
