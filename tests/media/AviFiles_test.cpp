// AVI clips recorded through the clip session, the AVI writer and the FFmpeg
// AVI file library, then read back with ffprobe/ffmpeg and a RIFF walk.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/Settings.h"
#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"

namespace framory {
namespace {

using testing::AviHeaderFields;
using testing::DecodeFrames;
using testing::FakeBoxes;
using testing::FakeClipHost;
using testing::ProbeVideo;
using testing::ReadAviHeader;
using testing::TempDir;
using testing::TestPicture;
using testing::VideoProbe;

constexpr char kAppendFailure[] = "AVI file unable to append frame. Pausing recorder.";

// A recorder's worth of parts around one clip session writing real files.
struct Recording {
  explicit Recording(std::int32_t outputType, std::int32_t timerValue,
                     const std::string& folder = "") {
    const std::string base = folder.empty() ? dir.Path() : folder;
    settings.SetProjectDirectory(base + "/");
    settings.SetProjectName("shots");
    std::filesystem::create_directories(settings.ProjectFolder());
    settings.SetOutputType(outputType);
    settings.SetTimerValue(timerValue);
  }
  std::string Movie(int number) const {
    return settings.ProjectFolder() + "/movie" + std::to_string(number) + ".avi";
  }
  // Delivers `picture` and returns the composed buffer the writer was given.
  std::vector<std::uint32_t> Shoot(const TestPicture& picture) {
    session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    std::vector<std::uint32_t> composed;
    for (std::int32_t y = 0; y < session.MovieHeight(); ++y) {
      const std::uint32_t* row = session.Buffer().Row(y);
      composed.insert(composed.end(), row, row + session.MovieWidth());
    }
    return composed;
  }

  TempDir dir;
  Settings settings;
  OutputNaming naming{settings};
  FakeBoxes boxes;
  FakeClipHost host;
  std::unique_ptr<AviFileLibrary> library = CreateAviFileLibrary();
  MovieWriterFactory factory{library.get(), &boxes};
  ClipSession session{settings, naming, factory, host};
};

// Mean absolute difference per colour channel.
double MeanDifference(const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  double sum = 0;
  for (std::size_t i = 0; i < a.size(); ++i) {
    for (int shift : {0, 8, 16}) {
      sum += std::abs(int((a[i] >> shift) & 0xFF) - int((b[i] >> shift) & 0xFF));
    }
  }
  return sum / (3.0 * a.size());
}

TEST(AviFiles, UncompressedClipStoresTheComposedPixelsExactly) {
  Recording r(OutputTypes::AviUncompressed, 100);
  // 62 × 46 becomes a 64 × 48 movie with the picture at (1, 1) on black.
  std::vector<std::vector<std::uint32_t>> composed;
  for (int i = 0; i < 4; ++i) composed.push_back(r.Shoot(TestPicture::Pattern(62, 46, i)));
  ASSERT_EQ(r.session.MovieWidth(), 64);
  ASSERT_EQ(r.session.MovieHeight(), 48);
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  EXPECT_TRUE(r.boxes.shown.empty());

  const VideoProbe probe = ProbeVideo(r.Movie(0));
  ASSERT_TRUE(probe.Ok) << "ffprobe cannot read " << r.Movie(0);
  EXPECT_EQ(probe.CodecName, "rawvideo");
  EXPECT_EQ(probe.Width, 64);
  EXPECT_EQ(probe.Height, 48);
  EXPECT_EQ(probe.FrameRate, "10/1");
  EXPECT_EQ(probe.FrameCount, 4);

  const AviHeaderFields h = ReadAviHeader(r.Movie(0));
  ASSERT_TRUE(h.Found);
  EXPECT_EQ(h.Type, "vids");
  EXPECT_EQ(h.Handler, "MPG4") << "the stream header keeps the default handler code";
  EXPECT_EQ(h.Scale, 100u) << "the frame period as given";
  EXPECT_EQ(h.Rate, 1000u);
  EXPECT_EQ(h.SuggestedBufferSize, 64u * 48u * 4u) << "the writer's frame buffer";
  EXPECT_EQ(h.Quality, -1);
  EXPECT_EQ(h.FrameRight, 64);
  EXPECT_EQ(h.FrameBottom, 48);
  EXPECT_EQ(h.Name, "Video Stream");
  EXPECT_EQ(h.CompressionValue, 0u) << "BI_RGB";
  EXPECT_EQ(h.BitCount, 32);
  EXPECT_EQ(h.Width, 64);
  EXPECT_EQ(h.Height, 48) << "rows stored bottom-up";
  EXPECT_EQ(h.SizeImage, 64u * 48u * 4u);

  const auto decoded = DecodeFrames(r.Movie(0), 64, 48);
  ASSERT_EQ(decoded.size(), composed.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_EQ(decoded[i], composed[i]) << "frame " << i;
  }
  EXPECT_EQ(decoded[0][0], 0u) << "black border";
  EXPECT_EQ(decoded[0][1 * 64 + 1], TestPicture::Pattern(62, 46, 0).pixels[0]);
}

TEST(AviFiles, FrameRateIsAThousandOverTimerValue) {
  Recording r(OutputTypes::AviUncompressed, 40);
  for (int i = 0; i < 3; ++i) r.Shoot(TestPicture::Pattern(32, 32, i));
  r.session.EndClip();
  const VideoProbe probe = ProbeVideo(r.Movie(0));
  EXPECT_EQ(probe.FrameRate, "25/1");
  EXPECT_EQ(probe.FrameCount, 3);
  const AviHeaderFields h = ReadAviHeader(r.Movie(0));
  EXPECT_EQ(h.Scale, 40u);
  EXPECT_EQ(h.Rate, 1000u);
}

TEST(AviFiles, CompressedTypesDecodeWithTheirCodecs) {
  struct Case {
    std::int32_t type;
    const char* tag;
    const char* codec;
    const char* handler;
  };
  for (const Case& c : {Case{OutputTypes::AviMpg4, "MP43", "msmpeg4v3", "MPG4"},
                        Case{OutputTypes::AviDivx, "DIVX", "mpeg4", "DIVX"},
                        Case{OutputTypes::AviXvid, "XVID", "mpeg4", "XVID"}}) {
    SCOPED_TRACE(std::string("output type ") + std::to_string(c.type));
    Recording r(c.type, 100);
    std::vector<std::vector<std::uint32_t>> composed;
    for (int i = 0; i < 20; ++i) composed.push_back(r.Shoot(TestPicture::Pattern(160, 120, i % 6)));
    r.session.EndClip();
    EXPECT_TRUE(r.host.reports.empty());
    EXPECT_TRUE(r.boxes.shown.empty());

    const VideoProbe probe = ProbeVideo(r.Movie(0));
    ASSERT_TRUE(probe.Ok);
    EXPECT_EQ(probe.CodecName, c.codec);
    EXPECT_EQ(probe.CodecTag, c.tag);
    EXPECT_EQ(probe.Width, 160);
    EXPECT_EQ(probe.Height, 120);
    EXPECT_EQ(probe.FrameRate, "10/1");
    EXPECT_EQ(probe.FrameCount, 20);
    const AviHeaderFields h = ReadAviHeader(r.Movie(0));
    EXPECT_EQ(h.Handler, c.handler);
    EXPECT_EQ(h.Scale, 100u);
    EXPECT_EQ(h.Rate, 1000u);
    EXPECT_EQ(h.SuggestedBufferSize, 160u * 120u * 4u);
    EXPECT_EQ(h.Quality, -1);

    const auto decoded = DecodeFrames(r.Movie(0), 160, 120);
    ASSERT_EQ(decoded.size(), composed.size());
    for (std::size_t i = 0; i < decoded.size(); ++i) {
      EXPECT_LT(MeanDifference(decoded[i], composed[i]), 3.0) << "frame " << i;
    }
  }
}

TEST(AviFiles, Wmv3HasNoCodecSoTheClipFailsWithBothBoxes) {
  Recording r(OutputTypes::AviWmv3, 100);
  r.Shoot(TestPicture::Pattern(64, 48, 0));
  ASSERT_EQ(r.boxes.shown.size(), 1u);
  EXPECT_EQ(r.boxes.shown[0].text, "Error Occured While Rendering the Movie");
  EXPECT_EQ(r.boxes.shown[0].caption, "Error");
  EXPECT_EQ(r.boxes.shown[0].flags, MessageBoxFlags::IconError);
  EXPECT_EQ(r.host.log, (std::vector<std::string>{"Title", "TogglePause",
                                                  std::string("Report ") + kAppendFailure}));
  EXPECT_TRUE(r.host.paused);
  EXPECT_TRUE(r.session.ClipOpen()) << "the clip stays open";

  // After the resume the writer stays closed: the failure repeats, no new box.
  r.host.paused = false;
  r.Shoot(TestPicture::Pattern(64, 48, 1));
  EXPECT_EQ(r.boxes.shown.size(), 1u);
  EXPECT_EQ(r.host.reports.size(), 2u);
  r.session.EndClip();
  EXPECT_FALSE(ProbeVideo(r.Movie(0)).Ok) << "no usable file";
}

TEST(AviFiles, WriterEndedBeforeItsFirstFrameLeavesNoFile) {
  Recording r(OutputTypes::AviDivx, 100);
  const std::string path = r.Movie(7);
  auto writer = r.factory.CreateFileWriter(OutputTypes::AviDivx, path, 100);
  ASSERT_NE(writer, nullptr);
  writer->Close();
  writer.reset();
  EXPECT_FALSE(std::filesystem::exists(path));
}

// The child records into a folder where the disk fills up after a few
// frames and reports through the pipe: frames appended before the failure,
// and the host's log. The parent checks that the child ended normally.
struct FullDiskOutcome {
  int framesBeforeFailure = -1;
  bool paused = false;
  std::string report;
};

FullDiskOutcome RecordUntilDiskFull(const std::string& folder, bool limitFileSize) {
  int fds[2];
  if (pipe(fds) != 0) return {};
  const pid_t child = fork();
  if (child == 0) {
    close(fds[0]);
    if (limitFileSize) {
      std::signal(SIGXFSZ, SIG_IGN);
      rlimit limit{300 * 1024, 300 * 1024};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    int appended = -1;
    std::string report;
    bool paused = false;
    {
      Recording r(OutputTypes::AviUncompressed, 100, folder);
      for (int i = 0; i < 100 && !r.host.paused; ++i) {
        r.Shoot(TestPicture::Pattern(160, 120, i % 6));
        if (r.host.paused) appended = i;
      }
      paused = r.host.paused;
      if (!r.host.reports.empty()) report = r.host.reports[0];
      r.session.EndClip();
    }
    const std::string message =
        std::to_string(appended) + "\n" + (paused ? "1" : "0") + "\n" + report + "\n";
    if (write(fds[1], message.data(), message.size()) < 0) _exit(3);
    _exit(0);
  }
  close(fds[1]);
  std::string text;
  char buffer[512];
  ssize_t got;
  while ((got = read(fds[0], buffer, sizeof buffer)) > 0) text.append(buffer, std::size_t(got));
  close(fds[0]);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the recording child crashed";
  FullDiskOutcome outcome;
  const std::size_t a = text.find('\n');
  const std::size_t b = text.find('\n', a + 1);
  if (a == std::string::npos || b == std::string::npos) return outcome;
  outcome.framesBeforeFailure = std::stoi(text.substr(0, a));
  outcome.paused = text.substr(a + 1, b - a - 1) == "1";
  outcome.report = text.substr(b + 1, text.find('\n', b + 1) - b - 1);
  return outcome;
}

void ExpectFullDiskHandled(const std::string& folder, bool limitFileSize) {
  const FullDiskOutcome outcome = RecordUntilDiskFull(folder, limitFileSize);
  const std::string movie = folder + "/shots/movie0.avi";
  // 160 × 120 × 4 bytes a frame: a few frames fit, then a write fails.
  EXPECT_GT(outcome.framesBeforeFailure, 1);
  EXPECT_LT(outcome.framesBeforeFailure, 20);
  EXPECT_TRUE(outcome.paused);
  EXPECT_EQ(outcome.report, kAppendFailure);
  EXPECT_TRUE(ProbeVideo(movie).Ok) << "the frames written before the failure stay readable";
  const auto decoded = DecodeFrames(movie, 160, 120);
  EXPECT_GE(static_cast<int>(decoded.size()), outcome.framesBeforeFailure - 1);
}

TEST(AviFiles, FullDiskPausesTheRecorderAndKeepsTheFramesWritten) {
  TempDir dir;
  const std::string mountPoint = dir.File("small");
  std::filesystem::create_directories(mountPoint);
  if (mount("tmpfs", mountPoint.c_str(), "tmpfs", 0, "size=512k") != 0) {
    GTEST_SKIP() << "no permission to mount a small tmpfs; the file size limit case covers it";
  }
  ExpectFullDiskHandled(mountPoint, false);
  umount(mountPoint.c_str());
}

TEST(AviFiles, FileSizeLimitPausesTheRecorderAndKeepsTheFramesWritten) {
  TempDir dir;
  ExpectFullDiskHandled(dir.Path(), true);
}

}  // namespace
}  // namespace framory
