// AVI clips recorded through the clip session, the AVI writer and the FFmpeg
// AVI file library, then read back with ffprobe/ffmpeg and a RIFF walk.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/SmallTmpfs.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"

namespace framory {
namespace {

using testing::AviHeaderFields;
using testing::DecodeFrames;
using testing::kChildFailed;
using testing::MeanDifference;
using testing::ProbeVideo;
using testing::ReadAviHeader;
using testing::RunInChild;
using testing::SplitLines;
using testing::TempDir;
using testing::TestPicture;
using testing::VideoProbe;

constexpr char kAppendFailure[] = "AVI file unable to append frame. Pausing recorder.";

// A clip session writing AVI files through the real AVI library.
struct Recording : testing::ClipRecording {
  Recording(std::int32_t outputType, std::int32_t timerValue, const std::string& folder = "")
      : ClipRecording(testing::ClipRecordingOptions(".avi", outputType, timerValue, folder)
                          .Avi(CreateAviFileLibrary())) {}
};

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

// Players built on FFmpeg read 32-bit BI_RGB as BGRA: a zero fourth byte
// would make every pixel transparent and the movie play black.
TEST(AviFiles, UncompressedFramesDecodeOpaqueToRgba) {
  Recording r(OutputTypes::AviUncompressed, 40);
  const TestPicture picture = TestPicture::Pattern(48, 32, 3);
  const std::vector<std::uint32_t> composed = r.Shoot(picture);
  r.session.EndClip();

  const std::string rgba = testing::DecodeRaw(r.Movie(0), "rgba");
  ASSERT_EQ(rgba.size(), composed.size() * 4) << "one 48 x 32 RGBA frame";
  int transparent = 0, wrongColour = 0;
  for (std::size_t i = 0; i < composed.size(); ++i) {
    const auto byte = [&](int k) { return static_cast<std::uint8_t>(rgba[4 * i + k]); };
    if (byte(3) != 0xFF) ++transparent;
    const std::uint32_t rgb = (std::uint32_t{byte(0)} << 16) | (byte(1) << 8) | byte(2);
    if (rgb != composed[i]) ++wrongColour;
  }
  EXPECT_EQ(transparent, 0) << "pixels whose alpha is not 255";
  EXPECT_EQ(wrongColour, 0);
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
    // Each frame has the movie's size, so the movie holds the pictures as
    // they were grabbed.
    std::vector<std::vector<std::uint32_t>> composed;
    for (int i = 0; i < 20; ++i) {
      const TestPicture picture = TestPicture::Pattern(160, 120, i % 6);
      r.Shoot(picture);
      composed.push_back(picture.pixels);
    }
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
  EXPECT_EQ(r.host.log, (std::vector<std::string>{"Title", "TogglePause", "Title", "ClearMouse",
                                                  std::string("Report ") + kAppendFailure}));
  EXPECT_TRUE(r.host.paused);
  EXPECT_FALSE(r.session.ClipOpen()) << "the failed clip is ended";

  // After the resume the next clip tries again under the next number and
  // fails the same way.
  r.host.paused = false;
  r.Shoot(TestPicture::Pattern(64, 48, 1));
  EXPECT_EQ(r.boxes.shown.size(), 2u);
  EXPECT_EQ(r.host.reports.size(), 2u);
  r.session.EndClip();
  EXPECT_FALSE(std::filesystem::exists(r.Movie(0))) << "a file without a frame is removed";
  EXPECT_FALSE(std::filesystem::exists(r.Movie(1)));
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

// The size of the first "idx1" chunk of an AVI file; -1 when it has none.
long Idx1Size(const std::string& path) {
  const std::string data = testing::ReadWholeFile(path);
  const std::size_t at = data.find("idx1");
  if (at == std::string::npos || at + 8 > data.size()) return -1;
  const auto* p = reinterpret_cast<const unsigned char*>(data.data() + at + 4);
  return long(p[0]) | long(p[1]) << 8 | long(p[2]) << 16 | long(p[3]) << 24;
}

// The child records into a folder where the disk fills up (or the file-size
// limit is reached) after a few frames, then frees the room it had taken
// with a filler file, resumes and records a second clip. It reports through
// the pipe: frames appended before the failure, whether the recorder paused,
// the report and its error number, whether the clip was ended, and the
// reports after the resume. The parent checks that the child ended normally.
struct FullDiskOutcome {
  int framesBeforeFailure = -1;
  bool paused = false;
  std::string report;
  std::uint32_t code = 0;
  bool clipEnded = false;
  int reportsAfterResume = -1;
};

constexpr int kFramesAfterResume = 2;
constexpr int kMaxFrames = 1000;

FullDiskOutcome RecordUntilDiskFull(const std::string& folder, std::int32_t type,
                                    rlim_t fileSizeLimit, const std::string& filler) {
  const std::string text = RunInChild(
      [&] {
        int appended = -1;
        std::string report;
        std::uint32_t code = 0;
        bool paused = false, ended = false;
        int later = -1;
        {
          Recording r(type, 100, folder);
          for (int i = 0; i < kMaxFrames && !r.host.paused; ++i) {
            r.Shoot(TestPicture::Pattern(160, 120, i % 6));
            if (r.host.paused) appended = i;
          }
          paused = r.host.paused;
          ended = !r.session.ClipOpen();
          if (!r.host.reports.empty()) {
            report = r.host.reports[0];
            code = r.host.codes[0];
          }
          // Room is made, the user resumes: the next clip records normally.
          if (!filler.empty()) std::remove(filler.c_str());
          r.host.paused = false;
          for (int i = 0; i < kFramesAfterResume; ++i) r.Shoot(TestPicture::Pattern(160, 120, i));
          later = static_cast<int>(r.host.reports.size()) - 1;
          r.session.EndClip();
        }
        return std::to_string(appended) + "\n" + (paused ? "1" : "0") + "\n" + report + "\n" +
               std::to_string(code) + "\n" + (ended ? "1" : "0") + "\n" + std::to_string(later) +
               "\n";
      },
      fileSizeLimit);
  EXPECT_NE(text, kChildFailed) << "the recording child crashed";
  const std::vector<std::string> lines = SplitLines(text);
  FullDiskOutcome outcome;
  if (lines.size() != 6) return outcome;
  outcome.framesBeforeFailure = std::stoi(lines[0]);
  outcome.paused = lines[1] == "1";
  outcome.report = lines[2];
  outcome.code = static_cast<std::uint32_t>(std::stoul(lines[3]));
  outcome.clipEnded = lines[4] == "1";
  outcome.reportsAfterResume = std::stoi(lines[5]);
  return outcome;
}

void ExpectFullDiskHandled(const std::string& folder, std::int32_t type, rlim_t fileSizeLimit,
                           std::uint32_t code, const std::string& filler = "") {
  // A file of an earlier session that must come through untouched.
  const std::string earlier = folder + "/shots/earlier.bin";
  std::filesystem::create_directories(folder + "/shots");
  std::string earlierBytes(20000, '\0');
  for (std::size_t i = 0; i < earlierBytes.size(); ++i) earlierBytes[i] = char(i * 7 + 3);
  ASSERT_TRUE(testing::WriteWholeFile(earlier, earlierBytes));

  const FullDiskOutcome outcome = RecordUntilDiskFull(folder, type, fileSizeLimit, filler);
  const std::string movie = folder + "/shots/movie0.avi";
  // Some frames fit, then a write fails.
  EXPECT_GT(outcome.framesBeforeFailure, 1);
  EXPECT_LT(outcome.framesBeforeFailure, kMaxFrames);
  EXPECT_TRUE(outcome.paused);
  EXPECT_EQ(outcome.report, kAppendFailure);
  EXPECT_EQ(outcome.code, code) << "the system's error number reaches the box";
  EXPECT_TRUE(outcome.clipEnded) << "the failed clip is finished at once";

  // The clip holds the frames written, with its index: nothing cut off,
  // nothing left to repair. The library writes on its own thread, so the
  // failure reaches the recorder a few frames after the one that met it:
  // the file holds at most the frames accepted before the report.
  const VideoProbe probe = ProbeVideo(movie);
  EXPECT_TRUE(probe.Ok);
  EXPECT_GE(probe.FrameCount, 1);
  EXPECT_LE(probe.FrameCount, outcome.framesBeforeFailure);
  EXPECT_EQ(Idx1Size(movie), 16L * probe.FrameCount) << "one index entry a frame";
  const auto decoded = DecodeFrames(movie, 160, 120);
  EXPECT_EQ(static_cast<int>(decoded.size()), probe.FrameCount);
  EXPECT_EQ(std::filesystem::file_size(movie) % 2, 0u);
  struct stat st;
  ASSERT_EQ(stat(movie.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, st.st_size + 8192)
      << "the room reserved past the end is given back";

  // After the resume the next number records normally and plays.
  EXPECT_EQ(outcome.reportsAfterResume, 0) << "no further failure";
  const VideoProbe next = ProbeVideo(folder + "/shots/movie1.avi");
  EXPECT_TRUE(next.Ok);
  EXPECT_EQ(next.FrameCount, kFramesAfterResume);
  EXPECT_EQ(testing::ReadWholeFile(earlier), earlierBytes);
  EXPECT_FALSE(std::filesystem::exists(folder + "/shots/movie2.avi"));
}

// Uncompressed (type 11) and MPEG-4 (type 10) clips on a small tmpfs: a
// filler file leaves room for a few frames and is deleted after the failure.
TEST(AviFiles, FullDiskEndsTheClipWithItsIndexAndTheNextClipRecords) {
  const struct {
    std::int32_t type;
    std::size_t filler;
  } cases[] = {{OutputTypes::AviUncompressed, 500 * 1024}, {OutputTypes::AviMpg4, 900 * 1024}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    TempDir dir;
    const testing::SmallTmpfs small(dir.File("small"), "1m");
    if (!small.Mounted()) {
      GTEST_SKIP() << "no permission to mount a small tmpfs; the file size limit case covers it";
    }
    const std::string& mountPoint = small.Path();
    const std::string filler = mountPoint + "/filler";
    ASSERT_TRUE(testing::WriteWholeFile(filler, std::string(c.filler, 'f')));
    ExpectFullDiskHandled(mountPoint, c.type, 0, ENOSPC, filler);
  }
}

TEST(AviFiles, FileSizeLimitEndsTheClipWithItsIndexAndTheNextClipRecords) {
  for (const auto& [type, limit] : {std::pair{OutputTypes::AviUncompressed, rlim_t{400 * 1024}},
                                    std::pair{OutputTypes::AviMpg4, rlim_t{100 * 1024}}}) {
    SCOPED_TRACE(type);
    TempDir dir;
    ExpectFullDiskHandled(dir.Path(), type, limit, EFBIG);
  }
}

// A project folder removed while a clip records: the next frame notices it,
// the recorder pauses with the box, and nothing more goes into the deleted
// file; a file created again under the same name is not touched.
TEST(AviFiles, RemovedProjectFolderIsNoticedAtTheNextFrame) {
  Recording r(OutputTypes::AviUncompressed, 100);
  for (int i = 0; i < 3; ++i) r.Shoot(TestPicture::Pattern(160, 120, i));
  ASSERT_TRUE(r.host.reports.empty());
  std::filesystem::remove_all(r.settings.ProjectFolder());
  r.Shoot(TestPicture::Pattern(160, 120, 4));
  ASSERT_EQ(r.host.reports.size(), 1u);
  EXPECT_EQ(r.host.reports[0], kAppendFailure);
  EXPECT_EQ(r.host.codes[0], std::uint32_t{ENOENT});
  EXPECT_TRUE(r.host.paused);
  EXPECT_FALSE(r.session.ClipOpen());
  EXPECT_FALSE(std::filesystem::exists(r.settings.ProjectFolder()));

  // Resuming into a folder that is still gone fails to create the next clip
  // (with the writer's own box) and leaves nothing behind.
  r.host.paused = false;
  r.Shoot(TestPicture::Pattern(160, 120, 5));
  EXPECT_EQ(r.host.reports.size(), 2u);
  EXPECT_EQ(r.host.codes[1], std::uint32_t{ENOENT});
  EXPECT_FALSE(std::filesystem::exists(r.settings.ProjectFolder()));
}

}  // namespace
}  // namespace framory
