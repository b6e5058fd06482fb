// A sound server that takes the connection and then never answers (a hung
// or stopped server): the writers that record the server's sound call its
// start and stop on the event loop, and those calls must not wait for the
// server, which only gives up after its answer time. The clip is recorded
// all the same, and once the server's failure is known the user is told
// once.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/MovieFrame.h"
#include "platform/sound/PulseClipSound.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/TempDir.h"
#include "writers/StreamWriter.h"
#include "writers/WebMovieWriter.h"
#include "writers/WriterReports.h"

namespace framory {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ProbeVideo;
using testing::TestPicture;

// The server's answers are waited for this long (the hang the calls must
// not sit through).
constexpr std::int64_t kAnswerNs = 20'000'000'000;

// A Unix socket that listens and never accepts: the client's connection is
// made (the kernel queues it) and its greeting is never answered. Closing
// the socket breaks the queued connection.
class HungServer {
 public:
  explicit HungServer(const std::string& path) {
    fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    ok_ = fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
          listen(fd_, 16) == 0;
    setenv("PULSE_SERVER", ("unix:" + path).c_str(), 1);
  }
  ~HungServer() { Break(); }
  bool Ok() const { return ok_; }
  void Break() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
  bool ok_ = false;
};

struct CountedReports : WriterReports {
  void Report(WriterFailure failure, std::int32_t) override { failures.push_back(failure); }
  void ReportDetail(WriterFailure failure, const std::string& detail) override {
    failures.push_back(failure);
    details.push_back(detail);
  }
  int Count(WriterFailure failure) const {
    int n = 0;
    for (WriterFailure each : failures) n += each == failure ? 1 : 0;
    return n;
  }
  std::vector<WriterFailure> failures;
  std::vector<std::string> details;
};

std::int64_t SinceNs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - start).count();
}

MovieFrame Picture(int seed) {
  TestPicture picture = TestPicture::Pattern(64, 48, seed);
  MovieFrame frame;
  frame.Create(64, 48);
  frame.Compose(picture.frame);
  return frame;
}

PulseClipSound::Limits SlowAnswers() {
  PulseClipSound::Limits limits;
  limits.AnswerNs = kAnswerNs;
  return limits;
}

// The clip's first shot, a pause, the resume and the end all come back long
// before the server's answer time is over, and the clip has every picture.
// When the server then breaks, the missing sound is reported, once.
TEST(HungSoundServer, ClipCallsDoNotWaitForTheServerAndTheClipIsRecorded) {
  for (const WebMovieKind kind : {WebMovieKind::Mp4, WebMovieKind::WebM}) {
    SCOPED_TRACE(kind == WebMovieKind::Mp4 ? "mp4" : "webm");
    testing::TempDir dir;
    HungServer server(dir.File("hung-server"));
    ASSERT_TRUE(server.Ok());
    PulseClipSoundSource source(SlowAnswers());
    auto library = CreateWebMovieLibrary();
    CountedReports reports;
    const std::string path = dir.File(kind == WebMovieKind::Mp4 ? "clip.mp4" : "clip.webm");

    const auto start = Clock::now();
    std::int64_t now = 0;
    {
      WebMovieWriter writer(*library, reports, kind, path);
      writer.SetFramePeriod(100);
      writer.SetSound(&source, SoundSourceChoice::Microphone);
      writer.ClipClockStarted(now);
      for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.AddFrame(Picture(i)), kWriterOk);
      writer.ClipPaused(now += 300'000'000);
      writer.ClipResumed(now += 300'000'000);
      for (int i = 3; i < 6; ++i) ASSERT_EQ(writer.AddFrame(Picture(i)), kWriterOk);
      writer.Close();
      EXPECT_EQ(writer.CloseResult(), kWriterOk);
    }
    EXPECT_LT(SinceNs(start), kAnswerNs) << "a call waited for the hung server";
    EXPECT_EQ(ProbeVideo(path).FrameCount, 6) << "the pictures are recorded all the same";
    EXPECT_EQ(reports.Count(WriterFailure::ClipSoundMissing), 0)
        << "nothing is known of the server yet";
  }
}

TEST(HungSoundServer, AFailureFoundLaterIsReportedOnceAndTheClipGoesOn) {
  testing::TempDir dir;
  HungServer server(dir.File("hung-server"));
  ASSERT_TRUE(server.Ok());
  PulseClipSoundSource source(SlowAnswers());
  auto library = CreateWebMovieLibrary();
  CountedReports reports;
  const std::string path = dir.File("clip.webm");
  WebMovieWriter writer(*library, reports, WebMovieKind::WebM, path);
  writer.SetFramePeriod(100);
  writer.SetSound(&source, SoundSourceChoice::Both);
  writer.ClipClockStarted(0);
  int frames = 0;
  ASSERT_EQ(writer.AddFrame(Picture(frames++)), kWriterOk);
  EXPECT_EQ(reports.Count(WriterFailure::ClipSoundMissing), 0);
  // The server goes away: the waiting start fails now, and the next
  // pictures find it. (A bound on the waiting, not on how soon: a test that
  // never sees the report fails.)
  server.Break();
  const auto broken = Clock::now();
  while (reports.Count(WriterFailure::ClipSoundMissing) == 0 && SinceNs(broken) < kAnswerNs) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_EQ(writer.AddFrame(Picture(frames++)), kWriterOk);
  }
  ASSERT_EQ(reports.Count(WriterFailure::ClipSoundMissing), 1);
  EXPECT_NE(reports.details.back().find("sound server"), std::string::npos)
      << reports.details.back();
  // A pause and resume do not try again, nor tell it again.
  writer.ClipPaused(1'000'000'000);
  writer.ClipResumed(2'000'000'000);
  for (int i = 0; i < 3; ++i) ASSERT_EQ(writer.AddFrame(Picture(frames++)), kWriterOk);
  writer.Close();
  EXPECT_EQ(writer.CloseResult(), kWriterOk);
  EXPECT_EQ(reports.Count(WriterFailure::ClipSoundMissing), 1);
  EXPECT_EQ(ProbeVideo(path).FrameCount, frames);
}

// The broadcast's writer starts the sound when it is made and stops it when
// it closes, both on the event loop.
TEST(HungSoundServer, BroadcastWriterIsMadeAndClosedWithoutWaiting) {
  testing::TempDir dir;
  HungServer server(dir.File("hung-server"));
  ASSERT_TRUE(server.Ok());
  PulseClipSoundSource source(SlowAnswers());
  CountedReports reports;
  StreamWriterParts parts;
  parts.Reports = &reports;
  parts.Sound = &source;
  parts.RecordSound = true;
  const auto start = Clock::now();
  {
    StreamWriter writer(parts, "rtmp://127.0.0.1/live/key", 100);
    EXPECT_EQ(writer.StartResult(), kWriterOk);
    writer.Close();
  }
  EXPECT_LT(SinceNs(start), kAnswerNs) << "the writer waited for the hung server";
}

}  // namespace
}  // namespace framory
