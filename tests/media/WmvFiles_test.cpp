// WMV clips recorded through the clip session, the WMV writer and the FFmpeg
// Windows-Media-Format-like library, then read back with ffprobe/ffmpeg.
// Faults are put into the real library by a thin wrapper: a component that
// cannot be made, or a write that fails from some frame on.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/TempDir.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::ContainerProbe;
using testing::DecodeFrames;
using testing::kChildFailed;
using testing::MeanDifference;
using testing::ProbeContainer;
using testing::ProbeVideo;
using testing::RunInChild;
using testing::SplitLines;
using testing::TempDir;
using testing::TestPicture;
using testing::VideoProbe;

constexpr char kAppendFailure[] = "AVI file unable to append frame. Pausing recorder.";
constexpr char kHelpAddress[] = "file:///opt/framory/framory.html#windows-media";

// The writer of the real library, failing every sample from `failFrom` on.
class FaultyWriter : public WmWriter {
 public:
  FaultyWriter(std::unique_ptr<WmWriter> real, int failFrom, int* samples, int* ends)
      : real_(std::move(real)), failFrom_(failFrom), samples_(samples), ends_(ends) {}
  std::int32_t SetProfile(const WmProfile& p) override { return real_->SetProfile(p); }
  std::int32_t SetOutputFilename(const std::u16string& p) override {
    return real_->SetOutputFilename(p);
  }
  std::int32_t GetInputCount(std::uint32_t* c) override { return real_->GetInputCount(c); }
  std::int32_t GetInputProps(std::uint32_t i, std::unique_ptr<WmMediaProps>* p) override {
    return real_->GetInputProps(i, p);
  }
  std::int32_t SetInputProps(std::uint32_t i, const WmMediaProps& p) override {
    return real_->SetInputProps(i, p);
  }
  std::int32_t BeginWriting() override { return real_->BeginWriting(); }
  std::int32_t AllocateSample(std::uint32_t b, std::shared_ptr<WmBuffer>* s) override {
    return real_->AllocateSample(b, s);
  }
  std::int32_t WriteSample(std::uint32_t i, std::uint64_t t, std::uint32_t f,
                           const std::shared_ptr<WmBuffer>& s) override {
    if ((*samples_)++ >= failFrom_) return WmResult::WriteFault;
    return real_->WriteSample(i, t, f, s);
  }
  std::int32_t EndWriting() override {
    ++*ends_;
    return real_->EndWriting();
  }

 private:
  std::unique_ptr<WmWriter> real_;
  int failFrom_;
  int* samples_;
  int* ends_;
};

// The real library with one fault put in.
class FaultyLibrary : public WmFormatLibrary {
 public:
  enum class Fault { NoProfileManager, NoWriter, WriteFails };
  explicit FaultyLibrary(Fault fault, int failFrom = 0) : fault_(fault), failFrom_(failFrom) {}

  std::int32_t CreateProfileManager(std::unique_ptr<WmProfileManager>* manager) override {
    if (fault_ == Fault::NoProfileManager) return WmResult::ClassNotRegistered;
    return real_->CreateProfileManager(manager);
  }
  std::int32_t CreateWriter(void* certificate, std::unique_ptr<WmWriter>* writer) override {
    if (fault_ == Fault::NoWriter) return WmResult::ClassNotRegistered;
    std::unique_ptr<WmWriter> real;
    const std::int32_t result = real_->CreateWriter(certificate, &real);
    if (result >= 0) {
      *writer = std::make_unique<FaultyWriter>(std::move(real), failFrom_, &samples, &ends);
    }
    return result;
  }

  int samples = 0;  // WriteSample calls
  int ends = 0;     // EndWriting calls

 private:
  std::unique_ptr<WmFormatLibrary> real_ = CreateWmFormatLibrary();
  Fault fault_;
  int failFrom_;
};

// A clip session writing WMV files through the real library, or through
// `library` (one the test keeps to look at afterwards), timed by a clock the
// test moves.
struct Recording : testing::ClipRecording {
  Recording(std::int32_t outputType, std::int32_t timerValue,
            std::shared_ptr<WmFormatLibrary> library = nullptr, const std::string& folder = "")
      : ClipRecording(testing::ClipRecordingOptions(".wmv", outputType, timerValue, folder)
                          .Wmv(library != nullptr ? library : CreateWmFormatLibrary(), kHelpAddress)
                          .ManualClock()) {}
};

// Content the codec has to spend bits on: ramps under grain that changes
// with every frame, so that no profile can code it exactly.
TestPicture GrainyPicture(std::int32_t width, std::int32_t height, int seed) {
  TestPicture p(width, height);
  std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(seed) * 16777619u;
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      state = state * 1664525u + 1013904223u;
      const int grain = static_cast<int>(state >> 26) - 32;  // -32 .. 31
      const int base = 64 + (x * 128 / width);
      const auto v = static_cast<std::uint32_t>(std::clamp(base + grain, 0, 255));
      p.At(x, y) = (v << 16) | (v << 8) | (255 - v);
    }
  }
  return p;
}

// Four flat quadrants (red, green, blue, white) with a grey bar that moves
// with `seed`: any flip, swap or shift of the picture shows at once.
TestPicture QuadrantPicture(std::int32_t width, std::int32_t height, int seed) {
  TestPicture p(width, height);
  for (std::int32_t y = 0; y < height; ++y) {
    for (std::int32_t x = 0; x < width; ++x) {
      const bool right = x >= width / 2;
      const bool bottom = y >= height / 2;
      std::uint32_t c = !bottom ? (right ? 0x00C000u : 0xC00000u) : (right ? 0xF0F0F0u : 0x0000C0u);
      if (x / 8 == seed % (width / 8)) c = 0x808080u;
      p.At(x, y) = c;
    }
  }
  return p;
}

// Mean absolute difference per colour channel.
TEST(WmvFiles, ClipIsAnAsfFileWithOneWmv2StreamStampedAtTheFramePeriod) {
  struct Case {
    std::int32_t timerValue;
    std::vector<std::int64_t> stamps;
  };
  // 1000 / 30 frames a second, and 0.1 (held a little above a tenth), fall
  // just short of each multiple of the period.
  for (const Case& c :
       {Case{30, {0, 29, 59, 89, 119}}, Case{200, {0, 200, 400, 600, 800}},
        Case{10, {0, 10, 20, 30, 40}}, Case{10000, {0, 9999, 19999, 29999, 39999}}}) {
    SCOPED_TRACE("TimerValue " + std::to_string(c.timerValue));
    Recording r(OutputTypes::WmvV80_384Video, c.timerValue);
    // 158 × 118 becomes a 160 × 120 movie with the picture at (1, 1) on black.
    std::vector<std::vector<std::uint32_t>> composed;
    for (int i = 0; i < 5; ++i) composed.push_back(r.Shoot(QuadrantPicture(158, 118, i)));
    ASSERT_EQ(r.session.MovieWidth(), 160);
    ASSERT_EQ(r.session.MovieHeight(), 120);
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());
    EXPECT_TRUE(r.boxes.shown.empty());

    const ContainerProbe container = ProbeContainer(r.Movie(0));
    ASSERT_TRUE(container.Ok) << "ffprobe cannot read " << r.Movie(0);
    EXPECT_EQ(container.FormatName, "asf");
    EXPECT_EQ(container.StreamTypes, std::vector<std::string>{"video"})
        << "the profile's unfed audio stream is left out";
    EXPECT_EQ(container.PacketTimes, c.stamps);

    const VideoProbe probe = ProbeVideo(r.Movie(0));
    EXPECT_EQ(probe.CodecName, "wmv2");
    EXPECT_EQ(probe.Width, 160);
    EXPECT_EQ(probe.Height, 120);
    EXPECT_EQ(probe.FrameCount, 5);

    const auto decoded = DecodeFrames(r.Movie(0), 160, 120);
    ASSERT_EQ(decoded.size(), composed.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      EXPECT_LT(MeanDifference(decoded[i], composed[i]), 6.0) << "frame " << i;
    }
  }
}

TEST(WmvFiles, RepeatedFramesKeepTheirSlotsAndTheClipItsLength) {
  // Two pictures, each followed by repeats of an unchanged screen: only the
  // pictures are samples, stamped at their own slots, and the last picture
  // is written once more at the clip's last slot.
  Recording r(OutputTypes::WmvV80_384Video, 100);
  const auto first = r.Shoot(QuadrantPicture(160, 120, 1));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.session.RepeatMovieFrame());
  const auto second = r.Shoot(QuadrantPicture(160, 120, 5));
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(r.session.RepeatMovieFrame());
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());

  const ContainerProbe container = ProbeContainer(r.Movie(0));
  ASSERT_TRUE(container.Ok);
  EXPECT_EQ(container.PacketTimes, (std::vector<std::int64_t>{0, 400, 600}));
  const auto decoded = DecodeFrames(r.Movie(0), 160, 120);
  ASSERT_EQ(decoded.size(), 3u);
  EXPECT_LT(MeanDifference(decoded[0], first), 6.0);
  EXPECT_LT(MeanDifference(decoded[1], second), 6.0);
  EXPECT_LT(MeanDifference(decoded[2], second), 6.0) << "the clip ends on the second picture";

  // A clip that ends right after a real frame gets no extra sample.
  r.Shoot(QuadrantPicture(160, 120, 2));
  r.session.EndClip();
  EXPECT_EQ(ProbeContainer(r.Movie(1)).PacketTimes, (std::vector<std::int64_t>{0}));
}

TEST(WmvFiles, TimerDrivenClipsStampEachFrameAtItsTimeWithoutPausedTime) {
  Recording r(OutputTypes::WmvV80_384Video, 40);
  r.settings.SetTakeShotOnTimer(true);
  std::vector<std::vector<std::uint32_t>> composed;
  auto shootAfter = [&](double ms, int seed) {
    r.clock.AdvanceMilliseconds(ms);
    composed.push_back(r.Shoot(QuadrantPicture(160, 120, seed)));
  };
  shootAfter(0, 0);    // position 0
  shootAfter(40, 1);   // 1
  shootAfter(170, 2);  // 210 ms: 5
  shootAfter(0, 3);    // the same moment: the next free position, 6
  r.session.RecorderPauseChanged(true);
  r.clock.AdvanceMilliseconds(1000);
  r.session.RecorderPauseChanged(false);
  shootAfter(40, 4);  // 250 ms of recording: 6, taken, so 7
  r.session.EndClip();
  ASSERT_TRUE(r.host.reports.empty());

  const ContainerProbe container = ProbeContainer(r.Movie(0));
  ASSERT_TRUE(container.Ok);
  EXPECT_EQ(container.PacketTimes, (std::vector<std::int64_t>{0, 40, 200, 240, 280}));
  const auto decoded = DecodeFrames(r.Movie(0), 160, 120);
  ASSERT_EQ(decoded.size(), composed.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_LT(MeanDifference(decoded[i], composed[i]), 6.0) << "frame " << i;
  }
  // Repeats of an unchanged screen take their places by the clock too: the
  // next picture lands at its own time, and a clip that ends on repeats
  // holds its last picture to the last repeat's time.
  shootAfter(0, 0);  // position 0 of the next clip
  r.clock.AdvanceMilliseconds(40);
  ASSERT_TRUE(r.session.RepeatMovieFrame());  // 1
  r.clock.AdvanceMilliseconds(120);
  ASSERT_TRUE(r.session.RepeatMovieFrame());  // 4
  shootAfter(40, 1);                          // 5
  r.clock.AdvanceMilliseconds(200);
  ASSERT_TRUE(r.session.RepeatMovieFrame());  // 10
  r.session.EndClip();
  EXPECT_EQ(ProbeContainer(r.Movie(1)).PacketTimes, (std::vector<std::int64_t>{0, 200, 400}));
}

TEST(WmvFiles, TheThreeProfilesGiveThreeClearlyDifferentBitRates) {
  // Ten seconds at 2 frames a second of content that asks for more bits
  // than any of the profiles allows.
  constexpr int kFrames = 20;
  struct Case {
    std::int32_t type;
    double labelKbps;  // the total its label gives
    double videoKbps;  // what of it the video stream gets
  };
  std::vector<double> rates;
  for (const Case& c :
       {Case{OutputTypes::WmvV80_56Video, 56, 40}, Case{OutputTypes::WmvV80_384Video, 384, 352},
        Case{OutputTypes::WmvV80_700PALVideo, 768, 704}}) {
    SCOPED_TRACE("output type " + std::to_string(c.type));
    Recording r(c.type, 500);
    for (int i = 0; i < kFrames; ++i) r.Shoot(GrainyPicture(320, 240, i));
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());
    const ContainerProbe container = ProbeContainer(r.Movie(0));
    ASSERT_EQ(container.PacketSizes.size(), std::size_t{kFrames});
    double bytes = 0;
    for (std::int64_t size : container.PacketSizes) bytes += double(size);
    const double kbps = bytes * 8 / (kFrames / 2.0) / 1000;
    EXPECT_LT(kbps, 1.25 * c.labelKbps) << "about the rate the label gives";
    EXPECT_GT(kbps, 0.5 * c.videoKbps) << "the profile's bits are used";
    rates.push_back(kbps);
  }
  ASSERT_EQ(rates.size(), 3u);
  EXPECT_GT(rates[1], 3 * rates[0]);
  EXPECT_GT(rates[2], 1.5 * rates[1]);
}

TEST(WmvFiles, MissingComponentShowsItsDownloadBoxThenThePauseBox) {
  struct Case {
    FaultyLibrary::Fault fault;
    const char* text;
  };
  const std::string see =
      std::string("You need to download and install the free component first. See ") +
      kHelpAddress + " ";
  for (const Case& c :
       {Case{FaultyLibrary::Fault::NoProfileManager,
             "Unable to use Microsoft Windows Media Profiler Manager."},
        Case{FaultyLibrary::Fault::NoWriter, "Unable to use Microsoft Windows Media Writer."}}) {
    SCOPED_TRACE(c.text);
    Recording r(OutputTypes::WmvV80_384Video, 100, std::make_shared<FaultyLibrary>(c.fault));
    r.Shoot(TestPicture::Pattern(64, 48, 0));
    ASSERT_EQ(r.boxes.shown.size(), 1u);
    EXPECT_EQ(r.boxes.shown[0].text, c.text + see);
    EXPECT_EQ(r.boxes.shown[0].caption, "Error");
    EXPECT_EQ(r.boxes.shown[0].flags, MessageBoxFlags::SystemModal | MessageBoxFlags::IconError);
    EXPECT_EQ(r.host.log, (std::vector<std::string>{"Title", "TogglePause", "Title", "ClearMouse",
                                                    std::string("Report ") + kAppendFailure}));
    EXPECT_TRUE(r.host.paused);
    EXPECT_FALSE(r.session.ClipOpen()) << "the failed clip is ended";

    // After the resume the next clip tries again and fails the same way,
    // with its download box; no file is left.
    r.host.paused = false;
    r.Shoot(TestPicture::Pattern(64, 48, 1));
    EXPECT_EQ(r.boxes.shown.size(), 2u);
    EXPECT_EQ(r.host.reports.size(), 2u);
    r.session.EndClip();
    EXPECT_FALSE(std::filesystem::exists(r.Movie(0)));
    EXPECT_FALSE(std::filesystem::exists(r.Movie(1)));
  }
}

TEST(WmvFiles, FailedWriteEndsTheClipAndTheNextClipTriesAgain) {
  const auto library = std::make_shared<FaultyLibrary>(FaultyLibrary::Fault::WriteFails, 4);
  Recording r(OutputTypes::WmvV80_700PALVideo, 100, library);
  for (int i = 0; i < 5; ++i) r.Shoot(TestPicture::Pattern(160, 120, i));
  EXPECT_TRUE(r.host.paused) << "the fifth frame failed";
  EXPECT_EQ(r.host.reports, std::vector<std::string>{kAppendFailure});
  EXPECT_EQ(library->ends, 1) << "the failed write ended the file at once";
  EXPECT_FALSE(r.session.ClipOpen()) << "and the clip with it";
  // The four frames written are there.
  EXPECT_EQ(ProbeVideo(r.Movie(0)).FrameCount, 4);

  // Resumed, the next clip starts under the next number; the library still
  // fails, so that clip fails at its first frame and is ended too.
  r.host.paused = false;
  r.Shoot(TestPicture::Pattern(160, 120, 5));
  EXPECT_TRUE(r.host.paused);
  EXPECT_EQ(r.host.reports.size(), 2u);
  EXPECT_EQ(library->samples, 6);
  EXPECT_EQ(library->ends, 2);
  r.session.EndClip();
  EXPECT_EQ(DecodeFrames(r.Movie(0), 160, 120).size(), 4u);
}

TEST(WmvFiles, WriterEndedBeforeItsFirstFrameLeavesNoFile) {
  Recording r(OutputTypes::WmvV80_384Video, 100);
  const std::string path = r.Movie(7);
  auto writer = r.factory.CreateFileWriter(OutputTypes::WmvV80_384Video, path, 100);
  ASSERT_NE(writer, nullptr);
  writer->Close();
  writer.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(r.boxes.shown.empty());
}

// The child records into a folder where files may not grow past `limit`
// bytes (SIGXFSZ ignored, so writes fail with EFBIG) and reports through the
// pipe: the index of the frame that failed, whether the recorder paused, and
// the first report. The parent checks that the child ended normally.
struct FullDiskOutcome {
  int failedFrame = -1;
  bool paused = false;
  std::string report;
};

FullDiskOutcome RecordUntilFileSizeLimit(const std::string& folder, rlim_t limit) {
  const std::string text = RunInChild(
      [&] {
        int failed = -1;
        std::string report;
        bool paused = false;
        {
          Recording r(OutputTypes::WmvV80_700PALVideo, 100, nullptr, folder);
          for (int i = 0; i < 400 && !r.host.paused; ++i) {
            r.Shoot(GrainyPicture(320, 240, i));
            if (r.host.paused) failed = i;
          }
          paused = r.host.paused;
          if (!r.host.reports.empty()) report = r.host.reports[0];
          r.session.EndClip();
        }
        return std::to_string(failed) + "\n" + (paused ? "1" : "0") + "\n" + report + "\n";
      },
      limit);
  EXPECT_NE(text, kChildFailed) << "the recording child crashed";
  FullDiskOutcome outcome;
  const std::vector<std::string> lines = SplitLines(text);
  if (lines.size() != 3) return outcome;
  outcome.failedFrame = std::stoi(lines[0]);
  outcome.paused = lines[1] == "1";
  outcome.report = lines[2];
  return outcome;
}

TEST(WmvFiles, FullDiskPausesTheRecorderAndKeepsTheFramesWritten) {
  TempDir dir;
  const FullDiskOutcome outcome = RecordUntilFileSizeLimit(dir.Path(), 256 * 1024);
  EXPECT_GT(outcome.failedFrame, 2) << "some frames fit before the limit";
  EXPECT_TRUE(outcome.paused);
  EXPECT_EQ(outcome.report, kAppendFailure);
  const std::string movie = dir.Path() + "/shots/movie0.wmv";
  EXPECT_EQ(ProbeVideo(movie).CodecName, "wmv2") << "the file stays readable";
  // The frames before the failure decode. The failure reaches the recorder
  // a few frames late (frames are encoded on the library's own thread
  // behind a queue of three), and the frame whose packet the limit cut is
  // lost; everything before those is in the file.
  const auto decoded = DecodeFrames(movie, 320, 240);
  EXPECT_GE(static_cast<int>(decoded.size()), outcome.failedFrame - 5);
  EXPECT_LE(static_cast<int>(decoded.size()), outcome.failedFrame);
}

// A project folder whose name is not UTF-8 (made under a Latin-1 locale) is
// a folder like any other: the clip goes into it under that exact name.
TEST(WmvFiles, FolderNamesThatAreNotUtf8AreKeptByteForByte) {
  TempDir dir;
  const std::string folder = dir.Path() + "/Aufnahmen caf\xE9 \xC4rger";
  std::filesystem::create_directories(folder);
  Recording r(OutputTypes::WmvV80_384Video, 100, nullptr, folder);
  for (int i = 0; i < 3; ++i) r.Shoot(TestPicture::Pattern(160, 120, i));
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  EXPECT_TRUE(r.boxes.shown.empty());
  const std::string movie = folder + "/shots/movie0.wmv";
  ASSERT_TRUE(std::filesystem::exists(movie));
  EXPECT_EQ(ProbeVideo(movie).FrameCount, 3);
  std::size_t entries = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder + "/shots")) {
    (void)entry;
    ++entries;
  }
  EXPECT_EQ(entries, 1u) << "no file under another name";
}

// The frames still queued for encoding, the index and the final sizes reach
// the file only when the clip ends. Here the file may not grow past the size
// it has when the clip is ended (SIGXFSZ ignored, so writes fail with
// EFBIG): closing cannot finish it, and the loss is reported with the
// family's append text instead of passing for success.
TEST(WmvFiles, FileSizeLimitHitWhileTheClipEndsIsReported) {
  TempDir dir;
  const std::string text = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    std::string reports;
    bool pausedBeforeEnd = false;
    {
      Recording r(OutputTypes::WmvV80_700PALVideo, 100, nullptr, dir.Path());
      for (int i = 0; i < 6; ++i) r.Shoot(GrainyPicture(320, 240, i));
      pausedBeforeEnd = r.host.paused;
      rlimit old{};
      getrlimit(RLIMIT_FSIZE, &old);
      const auto size = static_cast<rlim_t>(std::filesystem::file_size(r.Movie(0)));
      const rlimit atTheEnd{size, old.rlim_max};
      setrlimit(RLIMIT_FSIZE, &atTheEnd);
      r.session.EndClip();
      setrlimit(RLIMIT_FSIZE, &old);
      for (std::size_t i = 0; i < r.host.reports.size(); ++i) {
        reports += r.host.reports[i] + " " + std::to_string(r.host.codes[i]) + "\n";
      }
      reports += r.host.paused ? "paused\n" : "running\n";
    }
    return std::string(pausedBeforeEnd ? "paused\n" : "running\n") + reports;
  });
  ASSERT_NE(text, kChildFailed);
  EXPECT_EQ(SplitLines(text),
            (std::vector<std::string>{"running", kAppendFailure + (" " + std::to_string(EFBIG)),
                                      "paused"}))
      << "recording went well until the clip ended; then one report, naming the file-size limit";
  const std::string movie = dir.Path() + "/shots/movie0.wmv";
  EXPECT_EQ(ProbeVideo(movie).CodecName, "wmv2") << "what reached the file stays readable";
}

}  // namespace
}  // namespace framory
