// The broadcast writer over FFmpeg against a real nginx RTMP server on
// loopback (tests/support/stream-server.sh): a server that stalls (stopped
// with SIGSTOP, so its socket takes nothing more once the buffers are full)
// never holds the caller,
// which stands for the event loop: every frame offered returns while the
// server is stopped, its longest call is printed and must be shorter than
// the stall itself; once the server runs again the stalled connection has
// been given up and the stream is published anew. A key the server's
// on_publish refuses stops the broadcast with one report that does not
// name the key.
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "base/MovieFrame.h"
#include "platform/media/FfmpegStreamOutput.h"
#include "platform/media/MediaLog.h"
#include "support/TempDir.h"
#include "writers/StreamWriter.h"

namespace framory {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t size = sizeof address;
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
  close(fd);
  return ntohs(address.sin_port);
}

bool PortOpen(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return open;
}

// nginx with the RTMP module, for as long as the object lives.
class StreamServer {
 public:
  explicit StreamServer(const std::string& folder)
      : folder_(folder), rtmpPort_(FreePort()), httpPort_(FreePort()) {
    pid_ = fork();
    if (pid_ == 0) {
      const std::string script =
          std::string(FRAMORY_SOURCE_DIR) + "/tests/support/stream-server.sh";
      const std::string rtmp = std::to_string(rtmpPort_), http = std::to_string(httpPort_);
      freopen("/dev/null", "w", stdout);
      execl(script.c_str(), script.c_str(), folder_.c_str(), rtmp.c_str(), http.c_str(), nullptr);
      _exit(127);
    }
    for (int i = 0; i < 200 && !PortOpen(rtmpPort_); ++i) std::this_thread::sleep_for(50ms);
  }
  ~StreamServer() {
    kill(pid_, SIGCONT);
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  bool Running() const { return PortOpen(rtmpPort_); }
  void Stop() { kill(pid_, SIGSTOP); }
  void Continue() { kill(pid_, SIGCONT); }
  std::string Address(const std::string& key) const {
    return "rtmp://127.0.0.1:" + std::to_string(rtmpPort_) + "/live/" + key;
  }
  // How many times stream `key` was published.
  int Publications(const std::string& key) const {
    std::ifstream log(folder_ + "/logs/error.log");
    std::string line;
    int count = 0;
    while (std::getline(log, line)) {
      if (line.find("publish: name='" + key + "'") != std::string::npos) ++count;
    }
    return count;
  }

 private:
  std::string folder_;
  int rtmpPort_;
  int httpPort_;
  pid_t pid_ = -1;
};

class NotedReports : public WriterReports {
 public:
  void Report(WriterFailure failure, std::int32_t) override { ReportDetail(failure, ""); }
  void ReportDetail(WriterFailure failure, const std::string& detail) override {
    failures.push_back(failure);
    details.push_back(detail);
  }
  std::vector<WriterFailure> failures;
  std::vector<std::string> details;
};

class StreamServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QuietMediaLog();
    ASSERT_TRUE(server.Running()) << "nginx with the RTMP module did not start";
    // Noise at 1920 x 1080 keeps the encoder at its highest rate, so that a
    // stalled server fills the sockets' buffers within the stall.
    ASSERT_TRUE(frame.Create(1920, 1080));
  }
  std::unique_ptr<StreamWriter> Make(const std::string& key) {
    StreamWriterParts parts;
    parts.Outputs = &library;
    parts.Reports = &reports;
    parts.Status = &status;
    return std::make_unique<StreamWriter>(parts, server.Address(key), 100);
  }
  // Offers frames at the period until `done` holds or `limit` passes; the
  // longest call is kept.
  template <typename Done>
  void OfferUntil(StreamWriter& writer, Done done, std::chrono::seconds limit) {
    const auto end = Clock::now() + limit;
    while (!done() && Clock::now() < end) {
      for (std::int32_t y = 0; y < frame.Height(); ++y) {
        std::uint32_t* row = frame.Row(y);
        for (std::int32_t x = 0; x < frame.Width(); ++x) {
          noise = noise * 1664525u + 1013904223u;
          row[x] = noise >> 8;
        }
      }
      const auto before = Clock::now();
      lastResult = writer.AddFrameAt(frame, position++);
      longestCall = std::max(longestCall, Clock::now() - before);
      std::this_thread::sleep_for(100ms);
    }
  }

  testing::TempDir dir;
  StreamServer server{dir.File("server")};
  FfmpegStreamOutputLibrary library;
  NotedReports reports;
  StreamStatus status;
  MovieFrame frame;
  std::int32_t position = 0;
  std::uint32_t noise = 1;
  std::int32_t lastResult = kWriterOk;
  Clock::duration longestCall{};
};

TEST_F(StreamServerTest, AStalledServerNeverHoldsTheCallerAndIsLeftForANewConnection) {
  auto writer = Make("stall");
  OfferUntil(
      *writer, [&] { return writer->SentFrames() >= 20; }, 60s);
  ASSERT_GE(writer->SentFrames(), 20) << "the stream went out";
  EXPECT_EQ(server.Publications("stall"), 1);

  // Stalled for longer than a send may wait: the frames offered meanwhile
  // return at once and are dropped.
  constexpr auto kStall = 45s;
  server.Stop();
  longestCall = {};
  const std::int64_t droppedBefore = writer->DroppedFrames();
  OfferUntil(
      *writer, [] { return false; }, kStall);
  server.Continue();
  std::printf("longest AddFrame while the server stalled %.0f s: %.1f ms\n",
              std::chrono::duration<double>(kStall).count(),
              std::chrono::duration<double, std::milli>(longestCall).count());
  EXPECT_LT(longestCall, kStall) << "the caller waited on the server";
  EXPECT_GT(writer->DroppedFrames(), droppedBefore);
  EXPECT_EQ(lastResult, kWriterOk) << "a stall is no refusal";

  // The stalled connection was given up: the stream is published again.
  const std::int64_t sentBefore = writer->SentFrames();
  OfferUntil(
      *writer,
      [&] { return server.Publications("stall") >= 2 && writer->SentFrames() > sentBefore + 10; },
      60s);
  EXPECT_GE(server.Publications("stall"), 2);
  EXPECT_GT(writer->SentFrames(), sentBefore + 10);
  EXPECT_GE(writer->Reconnections(), 1);
  EXPECT_TRUE(reports.failures.empty());
}

TEST_F(StreamServerTest, ARefusedKeyIsOneReportNamingTheServerNotTheKey) {
  auto writer = Make("badSECRET42");
  OfferUntil(
      *writer, [&] { return lastResult != kWriterOk; }, 60s);
  ASSERT_EQ(lastResult, kWriterFailReported);
  writer->ReportFailure();
  ASSERT_EQ(reports.failures, std::vector<WriterFailure>{WriterFailure::StreamRefused});
  EXPECT_EQ(reports.details[0].find("SECRET42"), std::string::npos) << reports.details[0];
  EXPECT_NE(reports.details[0].find("rtmp://127.0.0.1:"), std::string::npos) << reports.details[0];
  std::printf("refusal: %s\n", reports.details[0].c_str());
}

}  // namespace
}  // namespace framory
