// The state of the connection to a streaming server, apart from the network
// so that its rules can be checked with a hand-driven clock:
//
// - The first connection of a broadcast that finds no server (no such host,
//   nothing listening) means the address is wrong, and a server that
//   answers "no" to the stream (a refused key) means the key is: both stop
//   the broadcast with the server's answer, for one box and a pause.
// - A server that goes away once the stream ran (killed, restarted, a
//   dropped idle stream, a stall cut short by the send timeout) is tried
//   again after 1, 2 and 4 seconds, then every 5 seconds, for as long as the
//   broadcast runs.
// - Frames that arrive while nothing can be sent are dropped and counted,
//   and the first frame sent on a new connection must be a key frame.
#pragma once

#include <cstdint>
#include <string>

namespace framory {

enum class StreamLinkState : std::int32_t {
  Connecting,  // an attempt is due or running
  Live,        // frames are sent
  Waiting,     // the last attempt failed; the next one is due later
  Stopped,     // a wrong address or a refused stream: nothing more is tried
};

// What one connection attempt came to.
enum class ConnectOutcome : std::int32_t {
  Connected,
  NoSuchHost,   // the host name did not resolve
  Unreachable,  // nothing answered, the connection was refused or cut
  Refused,      // the server answered and would not take the stream
};

class StreamLink {
 public:
  // The wait before the next attempt after `failures` attempts in a row
  // failed (1 and up).
  static std::int64_t RetryDelayNanoseconds(std::int32_t failures);

  // The first attempt is due at once.
  StreamLink() = default;

  StreamLinkState State() const { return state_; }
  // The stream ran at least once on this link.
  bool EverLive() const { return everLive_; }
  // An attempt is due at `nowNs` (the link is Connecting, or Waiting and its
  // time has come; a due Waiting link turns Connecting).
  bool AttemptDue(std::int64_t nowNs);
  // When the next attempt is due, for a link that is Waiting.
  std::int64_t NextAttemptNanoseconds() const { return nextAttemptNs_; }
  void AttemptEnded(std::int64_t nowNs, ConnectOutcome outcome, const std::string& answer);
  // A send on the live connection failed (the server went away or stalled).
  void SendFailed(std::int64_t nowNs);

  // Whether the next frame can go out; a frame that cannot is counted as
  // dropped.
  bool TakeFrame();
  // Frames dropped because nothing could be sent.
  std::int64_t DroppedFrames() const { return dropped_; }
  // The next frame sent must start a new group of pictures (the viewer
  // joins on the new connection there). Cleared by KeyFrameSent.
  bool NeedsKeyFrame() const { return needsKeyFrame_; }
  void KeyFrameSent() { needsKeyFrame_ = false; }
  // Connections made after the first (reconnections).
  std::int32_t Reconnections() const { return reconnections_; }
  // Why the link stopped: the server's answer or the failure found.
  const std::string& Answer() const { return answer_; }

 private:
  void Wait(std::int64_t nowNs);

  StreamLinkState state_ = StreamLinkState::Connecting;
  bool everLive_ = false;
  bool needsKeyFrame_ = true;
  std::int32_t failures_ = 0;
  std::int32_t reconnections_ = 0;
  std::int64_t nextAttemptNs_ = 0;
  std::int64_t dropped_ = 0;
  std::string answer_;
};

}  // namespace framory
