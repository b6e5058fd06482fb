// The connection rules of a broadcast to a streaming server, on a clock the
// test moves: a wrong address or a refused key stops at once with the
// server's answer, a server lost mid-stream is retried after 1, 2, 4 and then
// every 5 seconds until it is back, and what cannot be sent is dropped,
// counted, and followed by a key frame.
#include "writers/StreamLink.h"

#include <gtest/gtest.h>

#include <vector>

namespace framory {
namespace {

constexpr std::int64_t kSecond = 1'000'000'000;

TEST(StreamLink, AWrongAddressOrARefusedKeyStopsTheBroadcastWithTheAnswer) {
  for (ConnectOutcome outcome : {ConnectOutcome::NoSuchHost, ConnectOutcome::Unreachable}) {
    StreamLink link;
    ASSERT_TRUE(link.AttemptDue(0));
    link.AttemptEnded(0, outcome, "Connection refused");
    EXPECT_EQ(link.State(), StreamLinkState::Stopped) << "a first connection that finds no server";
    EXPECT_EQ(link.Answer(), "Connection refused");
    EXPECT_FALSE(link.AttemptDue(60 * kSecond)) << "nothing is tried again";
  }
  // A key refused after the stream ran (revoked while reconnecting) stops it
  // too.
  StreamLink link;
  link.AttemptDue(0);
  link.AttemptEnded(0, ConnectOutcome::Connected, "");
  link.SendFailed(10 * kSecond);
  ASSERT_TRUE(link.AttemptDue(11 * kSecond));
  link.AttemptEnded(11 * kSecond, ConnectOutcome::Refused, "NetStream.Publish.BadName");
  EXPECT_EQ(link.State(), StreamLinkState::Stopped);
  EXPECT_EQ(link.Answer(), "NetStream.Publish.BadName");
}

TEST(StreamLink, ALostServerIsRetriedAfterOneTwoFourThenEveryFiveSeconds) {
  StreamLink link;
  link.AttemptDue(0);
  link.AttemptEnded(0, ConnectOutcome::Connected, "");
  ASSERT_EQ(link.State(), StreamLinkState::Live);
  link.KeyFrameSent();

  // The server is killed at 100 s and stays away: the attempts' times.
  std::int64_t now = 100 * kSecond;
  link.SendFailed(now);
  std::vector<std::int64_t> attempts;
  while (attempts.size() < 6) {
    now += kSecond / 10;
    if (!link.AttemptDue(now)) continue;
    attempts.push_back((now - 100 * kSecond) / (kSecond / 10));
    link.AttemptEnded(now, ConnectOutcome::Unreachable, "Connection refused");
    EXPECT_EQ(link.State(), StreamLinkState::Waiting) << "a server that ran may come back";
  }
  // In tenths of a second after the loss: 1, +2, +4, +5, +5, +5.
  EXPECT_EQ(attempts, (std::vector<std::int64_t>{10, 30, 70, 120, 170, 220}));

  // Back at the next attempt; a later loss starts the schedule afresh.
  ASSERT_FALSE(link.AttemptDue(now + kSecond));
  now = link.NextAttemptNanoseconds();
  ASSERT_TRUE(link.AttemptDue(now));
  link.AttemptEnded(now, ConnectOutcome::Connected, "");
  EXPECT_EQ(link.State(), StreamLinkState::Live);
  EXPECT_EQ(link.Reconnections(), 1);
  link.SendFailed(now);
  EXPECT_EQ(link.NextAttemptNanoseconds(), now + kSecond);
}

TEST(StreamLink, FramesThatCannotBeSentAreCountedAndTheNextSentIsAKeyFrame) {
  StreamLink link;
  EXPECT_FALSE(link.TakeFrame()) << "nothing goes out before the connection";
  link.AttemptDue(0);
  link.AttemptEnded(0, ConnectOutcome::Connected, "");
  EXPECT_TRUE(link.NeedsKeyFrame());
  EXPECT_TRUE(link.TakeFrame());
  link.KeyFrameSent();
  EXPECT_FALSE(link.NeedsKeyFrame());
  link.SendFailed(kSecond);
  for (int i = 0; i < 9; ++i) EXPECT_FALSE(link.TakeFrame());
  EXPECT_EQ(link.DroppedFrames(), 10);
  link.AttemptDue(3 * kSecond);
  link.AttemptEnded(3 * kSecond, ConnectOutcome::Connected, "");
  EXPECT_TRUE(link.NeedsKeyFrame()) << "a viewer joining the new connection needs a key frame";
}

}  // namespace
}  // namespace framory
