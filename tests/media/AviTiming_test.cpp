// Clips placed by the clock, written through the real AVI library and read
// back with ffprobe and ffmpeg: each frame's packet sits at its position ×
// the period, the positions no shot reached are empty chunks that players
// show as the previous picture held, paused time leaves no gap, and gaps far
// longer than libavformat would fill by itself come out whole. Also: a frame
// the library's worker fails is reported by the next write, or by the close
// when no write follows.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"

namespace framory {
namespace {

using testing::AviIndexChunkSizes;
using testing::CountFramesAtConstantRate;

constexpr char kAppendFailure[] = "AVI file unable to append frame. Pausing recorder.";
using testing::DecodeFrames;
using testing::MeanDifference;
using testing::PacketProbe;
using testing::ProbePackets;
using testing::RunInChild;
using testing::TempDir;
using testing::TestPicture;

// A clip session driven by "Capture periodically" on a clock the test moves.
struct TimedRecording : testing::ClipRecording {
  TimedRecording(std::int32_t outputType, std::int32_t timerValue)
      : ClipRecording(testing::ClipRecordingOptions(".avi", outputType, timerValue)
                          .Avi(CreateAviFileLibrary())
                          .Project("timed")
                          .ManualClock()) {
    settings.SetTakeShotOnTimer(true);
  }
  // Moves the clock on by `ms` and shoots picture number `seed`.
  void ShootAfter(double ms, int seed) {
    clock.AdvanceMilliseconds(ms);
    const TestPicture picture = TestPicture::Pattern(64, 48, seed);
    session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    shot.push_back(picture.pixels);
  }

  std::vector<std::vector<std::uint32_t>> shot;  // the pictures, in shooting order
};

TEST(AviTiming, FramesSitAtTheirTimesAndSkippedPositionsHoldThePicture) {
  for (std::int32_t type : {OutputTypes::AviDivx, OutputTypes::AviMpg4, OutputTypes::AviXvid,
                            OutputTypes::AviUncompressed}) {
    SCOPED_TRACE(std::string("output type ") + std::to_string(type));
    TimedRecording r(type, 40);
    r.ShootAfter(0, 0);    // position 0
    r.ShootAfter(40, 1);   // 1
    r.ShootAfter(40, 2);   // 2
    r.ShootAfter(170, 3);  // 250 ms: 6
    r.ShootAfter(0, 4);    // the same moment: the next free position, 7
    r.session.RecorderPauseChanged(true);
    r.clock.AdvanceMilliseconds(1000);
    r.session.RecorderPauseChanged(false);
    r.ShootAfter(40, 5);   // 290 ms of recording: 7, taken, so 8
    r.ShootAfter(400, 0);  // 690 ms: 17
    r.session.EndClip();
    ASSERT_TRUE(r.host.reports.empty());

    // ffprobe lists the chunks that hold a picture, each at its position ×
    // 40 ms; the file's index has a chunk for every position, the others
    // empty.
    const std::vector<std::int64_t> filled = {0, 1, 2, 6, 7, 8, 17};
    const std::vector<PacketProbe> packets = ProbePackets(r.Movie());
    ASSERT_EQ(packets.size(), filled.size());
    for (std::size_t i = 0; i < packets.size(); ++i) {
      EXPECT_EQ(packets[i].Pts, filled[i]) << "picture " << i;
      EXPECT_NEAR(packets[i].PtsTime, 0.040 * double(filled[i]), 1e-9) << "picture " << i;
      EXPECT_GT(packets[i].Size, 0);
    }
    const std::vector<std::uint32_t> chunks = AviIndexChunkSizes(r.Movie());
    ASSERT_EQ(chunks.size(), 18u) << "one chunk per position up to the last picture";
    for (std::size_t position = 0, next = 0; position < chunks.size(); ++position) {
      const bool picture = next < filled.size() && filled[next] == std::int64_t(position);
      EXPECT_EQ(chunks[position] > 0, picture) << "position " << position;
      if (picture) ++next;
    }

    // Decoded as stored: the seven pictures, in order.
    const auto decoded = DecodeFrames(r.Movie(), 64, 48);
    ASSERT_EQ(decoded.size(), r.shot.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      EXPECT_LT(MeanDifference(decoded[i], r.shot[i]), 4.0) << "picture " << i;
    }
    // At the constant rate the clip declares, every position is a picture.
    EXPECT_EQ(CountFramesAtConstantRate(r.Movie()), 18);
  }
}

TEST(AviTiming, GapsLongerThanLibavformatFillsByItselfComeOutWhole) {
  // 12 minutes without a shot at 10 ms: 72000 empty positions, more than the
  // 60000 the AVI muxer would fill on its own.
  TimedRecording r(OutputTypes::AviDivx, 10);
  r.ShootAfter(0, 0);
  r.ShootAfter(720000, 1);
  r.ShootAfter(10, 2);
  r.session.EndClip();
  ASSERT_TRUE(r.host.reports.empty());
  const std::vector<PacketProbe> packets = ProbePackets(r.Movie());
  ASSERT_EQ(packets.size(), 3u);
  EXPECT_EQ(packets[0].Pts, 0);
  EXPECT_EQ(packets[1].Pts, 72000);
  EXPECT_NEAR(packets[1].PtsTime, 720.0, 1e-9);
  EXPECT_EQ(packets[2].Pts, 72001);
  const std::vector<std::uint32_t> chunks = AviIndexChunkSizes(r.Movie());
  ASSERT_EQ(chunks.size(), 72002u);
  std::size_t empty = 0;
  for (std::uint32_t size : chunks) empty += size == 0 ? 1 : 0;
  EXPECT_EQ(empty, 71999u);
  EXPECT_EQ(DecodeFrames(r.Movie(), 64, 48).size(), 3u);
}

// Positions whose chunk holds a picture, from the file's own index.
std::vector<std::size_t> FilledPositions(const std::vector<std::uint32_t>& chunks) {
  std::vector<std::size_t> filled;
  for (std::size_t i = 0; i < chunks.size(); ++i) {
    if (chunks[i] > 0) filled.push_back(i);
  }
  return filled;
}

TEST(AviTiming, RepeatsOfAnUnchangedScreenAreEmptyChunksAndTheClipKeepsItsLength) {
  for (std::int32_t type : {OutputTypes::AviDivx, OutputTypes::AviUncompressed}) {
    SCOPED_TRACE(std::string("output type ") + std::to_string(type));
    // Shots without the periodic timer: each repeat takes the next position.
    TimedRecording events(type, 40);
    events.settings.SetTakeShotOnTimer(false);
    events.ShootAfter(0, 1);
    for (int i = 0; i < 3; ++i) ASSERT_TRUE(events.session.RepeatMovieFrame());
    events.ShootAfter(0, 2);
    for (int i = 0; i < 2; ++i) ASSERT_TRUE(events.session.RepeatMovieFrame());
    events.session.EndClip();
    ASSERT_TRUE(events.host.reports.empty());
    const std::vector<std::uint32_t> chunks = AviIndexChunkSizes(events.Movie());
    ASSERT_EQ(chunks.size(), 7u) << "a chunk for every shot, repeats at the end included";
    // Repeats are empty chunks, except the last, which ends the clip on the
    // held picture so that every player shows it to the end.
    EXPECT_EQ(FilledPositions(chunks), (std::vector<std::size_t>{0, 4, 6}));
    EXPECT_EQ(CountFramesAtConstantRate(events.Movie()), 7);
    const auto decoded = DecodeFrames(events.Movie(), 64, 48);
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_LT(MeanDifference(decoded[0], events.shot[0]), 4.0);
    EXPECT_LT(MeanDifference(decoded[1], events.shot[1]), 4.0);
    EXPECT_LT(MeanDifference(decoded[2], events.shot[1]), 4.0)
        << "the clip ends on the held picture";

    // Timer-driven: repeats take their clock positions, and a clip that ends
    // on repeats holds its last picture to the last repeat's time.
    TimedRecording timed(type, 40);
    timed.ShootAfter(0, 1);  // position 0
    timed.clock.AdvanceMilliseconds(40);
    ASSERT_TRUE(timed.session.RepeatMovieFrame());  // 1
    timed.clock.AdvanceMilliseconds(120);
    ASSERT_TRUE(timed.session.RepeatMovieFrame());  // 4
    timed.ShootAfter(40, 2);                        // 5
    timed.clock.AdvanceMilliseconds(200);
    ASSERT_TRUE(timed.session.RepeatMovieFrame());  // 10
    timed.session.EndClip();
    ASSERT_TRUE(timed.host.reports.empty());
    const std::vector<std::uint32_t> timedChunks = AviIndexChunkSizes(timed.Movie());
    ASSERT_EQ(timedChunks.size(), 11u);
    EXPECT_EQ(FilledPositions(timedChunks), (std::vector<std::size_t>{0, 5, 10}));
    const std::vector<PacketProbe> packets = ProbePackets(timed.Movie());
    ASSERT_EQ(packets.size(), 3u);
    EXPECT_NEAR(packets[1].PtsTime, 0.200, 1e-9);
    EXPECT_NEAR(packets[2].PtsTime, 0.400, 1e-9);
    const auto timedDecoded = DecodeFrames(timed.Movie(), 64, 48);
    ASSERT_EQ(timedDecoded.size(), 3u);
    EXPECT_LT(MeanDifference(timedDecoded[2], timed.shot[1]), 4.0);

    // A clip that ends right after a frame gets nothing more.
    TimedRecording plain(type, 40);
    plain.ShootAfter(0, 1);
    ASSERT_TRUE(plain.session.RepeatMovieFrame());
    plain.ShootAfter(0, 2);
    plain.session.EndClip();
    EXPECT_EQ(FilledPositions(AviIndexChunkSizes(plain.Movie())), (std::vector<std::size_t>{0, 2}));
  }
}

// Writes uncompressed 160 × 120 frames (76.8 kB each) straight through the
// AVI library and says where a failure surfaced: "write N" when the Nth write
// returned it, "finish" when only Finish did, "none" when nothing failed.
std::string WriteFrames(const std::string& path, int frames) {
  auto library = CreateAviFileLibrary();
  std::unique_ptr<AviFile> file;
  std::unique_ptr<AviStream> stream;
  AviStreamInfo info;
  info.Type = FourCC::Vids;
  info.Scale = 100;
  info.Rate = 1000;
  AviBitmapHeader format;
  format.Width = 160;
  format.Height = 120;
  format.BitCount = 32;
  format.SizeImage = 160 * 120 * 4;
  if (library->OpenFile(&file, path, kAviCreateWrite) != AviResult::Ok ||
      file->CreateStream(&stream, info) != AviResult::Ok ||
      stream->SetFormat(0, format) != AviResult::Ok) {
    return "no stream";
  }
  const std::vector<std::uint8_t> pixels(format.SizeImage, 0x40);
  for (int i = 0; i < frames; ++i) {
    if (stream->Write(i, 1, pixels.data(), std::int32_t(pixels.size()), 0) != AviResult::Ok) {
      return "write " + std::to_string(i);
    }
  }
  return stream->Finish() != AviResult::Ok ? "finish" : "none";
}

TEST(AviTiming, AFrameTheWorkerFailsIsReportedByTheNextWriteOrByFinish) {
  TempDir dir;
  // 100 kB hold the header (written when the format is set, with room
  // reserved for the index) but no frame:
  // the very first frame fails on the worker after its write has returned.
  // With more frames to write, a later write returns the failure.
  const std::string later =
      RunInChild([&] { return WriteFrames(dir.File("a.avi"), 50); }, 100 * 1024);
  ASSERT_EQ(later.rfind("write ", 0), 0u) << later;
  EXPECT_GE(std::stoi(later.substr(6)), 1) << "the write that queued the frame had succeeded";
  // With no write after it, Finish returns it.
  EXPECT_EQ(RunInChild([&] { return WriteFrames(dir.File("b.avi"), 1); }, 100 * 1024), "finish");
  // Frames that fit: nothing to tell.
  EXPECT_EQ(RunInChild([&] { return WriteFrames(dir.File("c.avi"), 2); }, 300 * 1024), "none");
}

TEST(AviTiming, ALastFrameLostAfterItsAppendIsReportedWhenTheClipEnds) {
  // The clip's only frame is accepted, then fails on the worker: ending the
  // clip reports it through the recorder's error channel, with the append
  // failure's text. A clip whose frames fit reports nothing.
  for (const auto& [limit, expected] :
       {std::pair<rlim_t, std::string>{100 * 1024,
                                       "appended; ended; " + std::string(kAppendFailure)},
        std::pair<rlim_t, std::string>{300 * 1024, "appended; ended; "}}) {
    TempDir dir;
    const std::string outcome = RunInChild(
        [&] {
          testing::ClipRecording r(
              testing::ClipRecordingOptions(".avi", OutputTypes::AviUncompressed, 100, dir.Path())
                  .Avi(CreateAviFileLibrary())
                  .Project("lost"));
          const TestPicture picture = TestPicture::Pattern(160, 120, 0);
          r.session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
          std::string log = r.host.reports.empty() ? "appended; " : "append failed; ";
          r.session.EndClip();
          log += "ended; ";
          for (const std::string& report : r.host.reports) log += report;
          return log;
        },
        limit);
    EXPECT_EQ(outcome, expected) << "file size limit " << limit;
  }
}

}  // namespace
}  // namespace framory
