// The broadcast writer between the clip session and a streaming server, with
// a stand-in connection the test scripts: a server that stalls never holds
// the caller (frames beyond the few buffers are dropped and counted, and
// closing gets the sending thread out of the stalled call); a refused key or
// a wrong address is reported once, masked, and answered so that the
// recorder pauses; a lost server is reconnected with the stream's time
// stamps going on and a key frame first.
#include "writers/StreamWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

#include "base/MovieFrame.h"

namespace framory {
namespace {

using namespace std::chrono_literals;

struct SentPicture {
  std::int64_t TimeMs;
  bool Key;
};

// A connection whose answers the test sets, shared by the writer's thread and
// the test.
class ScriptedServer {
 public:
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::pair<ConnectOutcome, std::string>> outcomes;  // then Connected
  bool stall = false;
  bool failSends = false;
  bool interrupted = false;
  std::vector<std::int64_t> opens;  // startMs of each successful Open
  std::vector<SentPicture> pictures;

  // Waits (at most a minute, so that a broken writer fails instead of
  // hanging) until `done` holds.
  template <typename Done>
  bool WaitFor(Done done) {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, 60s, [&] { return done(); });
  }
};

class ScriptedOutput : public StreamOutput {
 public:
  explicit ScriptedOutput(ScriptedServer& server) : server_(server) {}
  ConnectOutcome Open(const StreamAddress&, const StreamFormat&, std::int64_t startMs,
                      std::string* answer) override {
    std::lock_guard lock(server_.mutex);
    server_.changed.notify_all();
    if (!server_.outcomes.empty()) {
      auto [outcome, text] = server_.outcomes.front();
      server_.outcomes.pop_front();
      if (outcome != ConnectOutcome::Connected) {
        *answer = text;
        return outcome;
      }
    }
    server_.opens.push_back(startMs);
    return ConnectOutcome::Connected;
  }
  bool SendPicture(const std::uint32_t*, std::ptrdiff_t, std::int64_t timeMs,
                   bool keyFrame) override {
    std::unique_lock lock(server_.mutex);
    server_.changed.wait(lock, [&] { return !server_.stall || server_.interrupted; });
    if (server_.interrupted || server_.failSends) {
      server_.changed.notify_all();
      return false;
    }
    server_.pictures.push_back({timeMs, keyFrame});
    server_.changed.notify_all();
    return true;
  }
  bool SendSound(const float*, std::size_t, std::int64_t) override { return true; }
  void Close() override {}
  void Interrupt() override {
    std::lock_guard lock(server_.mutex);
    server_.interrupted = true;
    server_.changed.notify_all();
  }

 private:
  ScriptedServer& server_;
};

class ScriptedLibrary : public StreamOutputLibrary {
 public:
  explicit ScriptedLibrary(ScriptedServer& server) : server_(server) {}
  std::unique_ptr<StreamOutput> MakeOutput() override {
    return std::make_unique<ScriptedOutput>(server_);
  }

 private:
  ScriptedServer& server_;
};

class NotedReports : public WriterReports {
 public:
  void Report(WriterFailure failure, std::int32_t) override { ReportDetail(failure, ""); }
  void ReportDetail(WriterFailure failure, const std::string& detail) override {
    std::lock_guard lock(mutex);
    failures.push_back(failure);
    details.push_back(detail);
  }
  std::mutex mutex;
  std::vector<WriterFailure> failures;
  std::vector<std::string> details;
};

class StreamWriterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(frame.Create(64, 48)); }
  std::unique_ptr<StreamWriter> Make(const std::string& address) {
    StreamWriterParts parts;
    parts.Outputs = &library;
    parts.Reports = &reports;
    parts.Status = &status;
    return std::make_unique<StreamWriter>(parts, address, 100);
  }

  ScriptedServer server;
  ScriptedLibrary library{server};
  NotedReports reports;
  StreamStatus status;
  MovieFrame frame;
};

TEST_F(StreamWriterTest, AStalledServerNeverHoldsTheCallerAndClosingGetsOut) {
  server.stall = true;
  auto writer = Make("rtmp://127.0.0.1/live/key");
  // Every call returns although the first picture is stuck in the server:
  // the test would hang here otherwise.
  for (int position = 0; position < 50; ++position)
    ASSERT_EQ(writer->AddFrameAt(frame, position), kWriterOk) << position;
  // One picture in the stalled send and a few buffers at most: the rest are
  // dropped, and counted.
  EXPECT_GE(writer->DroppedFrames(),
            50 - 1 - static_cast<std::int64_t>(StreamWriter::kQueuedFrames));
  ASSERT_TRUE(server.WaitFor([&] { return server.opens.size() == 1; }));
  EXPECT_EQ(status.TipText(), "Broadcasting to 127.0.0.1");
  writer->Close();
  EXPECT_TRUE(server.interrupted);
  EXPECT_EQ(status.TipText(), "") << "nothing is told of a closed broadcast";
  EXPECT_TRUE(reports.failures.empty()) << "a stall is no refusal";
}

TEST_F(StreamWriterTest, ARefusedKeyOrAWrongAddressIsOneMaskedReportAndThenPause) {
  server.outcomes.push_back(
      {ConnectOutcome::Refused, "Server error: rtmp://example.net/live/T0PSECRET not allowed"});
  auto writer = Make("rtmp://example.net/live/T0PSECRET");
  std::int32_t result = kWriterOk;
  for (int position = 0; position < 600 && result == kWriterOk; ++position) {
    result = writer->AddFrameAt(frame, position);
    if (result == kWriterOk) std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(result, kWriterFailReported) << "the clip session pauses on this answer";
  EXPECT_TRUE(reports.failures.empty()) << "told once the recorder is paused";
  writer->ReportFailure();
  EXPECT_EQ(writer->AddFrameAt(frame, 1000), kWriterFailReported);
  writer->ReportFailure();
  ASSERT_EQ(reports.failures, std::vector<WriterFailure>{WriterFailure::StreamRefused})
      << "one box, however many frames follow";
  const std::string& detail = reports.details[0];
  EXPECT_NE(detail.find("rtmp://example.net/live/" + std::string(kStreamKeyMask)),
            std::string::npos)
      << detail;
  EXPECT_NE(detail.find("not allowed"), std::string::npos) << "the server's answer: " << detail;
  EXPECT_EQ(detail.find("T0PSECRET"), std::string::npos) << detail;
  EXPECT_TRUE(server.opens.empty());

  // An address that is no address is told the same way, without a connection.
  auto wrong = Make("rtmp://example.net/T0PSECRET");
  EXPECT_LT(wrong->StartResult(), 0);
  EXPECT_EQ(wrong->AddFrameAt(frame, 0), kWriterFailReported);
  wrong->ReportFailure();
  ASSERT_EQ(reports.details.size(), 2u);
  EXPECT_EQ(reports.details[1].find("T0PSECRET"), std::string::npos) << reports.details[1];
  EXPECT_NE(reports.details[1].find("key"), std::string::npos) << reports.details[1];
}

TEST_F(StreamWriterTest, ALostServerIsReconnectedWithTimeGoingOnAndAKeyFrameFirst) {
  auto writer = Make("rtmp://127.0.0.1:1935/live/key");
  std::int32_t position = 0;
  // Offers the next frame and waits until the server has it.
  auto deliver = [&] {
    const std::size_t before = server.pictures.size();
    ASSERT_EQ(writer->AddFrameAt(frame, position++), kWriterOk);
    ASSERT_TRUE(server.WaitFor([&] { return server.pictures.size() > before; }));
  };
  for (int i = 0; i < 5; ++i) deliver();
  ASSERT_EQ(server.opens, std::vector<std::int64_t>{0});
  EXPECT_TRUE(server.pictures[0].Key);

  // The server goes away: the next send fails.
  {
    std::lock_guard lock(server.mutex);
    server.failSends = true;
  }
  ASSERT_EQ(writer->AddFrameAt(frame, position++), kWriterOk);
  // Until it is back, frames come on at the period; the reconnection follows
  // within the first retry's second.
  std::this_thread::sleep_for(300ms);
  {
    std::lock_guard lock(server.mutex);
    server.failSends = false;
  }
  EXPECT_EQ(status.TipText(), "Reconnecting to 127.0.0.1");
  auto picturesAfterLoss = [&] {
    std::lock_guard lock(server.mutex);
    return server.pictures.size() > 5;
  };
  for (int i = 0; i < 100 && !picturesAfterLoss(); ++i) {
    ASSERT_EQ(writer->AddFrameAt(frame, position++), kWriterOk);
    std::this_thread::sleep_for(100ms);
  }
  ASSERT_EQ(server.opens.size(), 2u) << "reconnected";
  ASSERT_TRUE(picturesAfterLoss());
  const SentPicture first = server.pictures[5];
  EXPECT_TRUE(first.Key) << "the new connection starts with a key frame";
  EXPECT_EQ(server.opens[1], first.TimeMs) << "the new stream's time starts at its first picture";
  EXPECT_GT(first.TimeMs, server.pictures[4].TimeMs) << "time goes on, it does not restart";
  EXPECT_EQ(first.TimeMs % 100, 0) << "at the clip's positions";
  EXPECT_EQ(writer->Reconnections(), 1);
  EXPECT_GT(writer->DroppedFrames(), 0) << "frames offered while away were dropped and counted";
  EXPECT_EQ(status.TipText(), "Broadcasting to 127.0.0.1");
}

}  // namespace
}  // namespace framory
