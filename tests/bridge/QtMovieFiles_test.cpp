// QuickTime clips written by the real writer through Cinelink and the
// project's QuickTime.qts, read back with ffprobe/ffmpeg and with an atom
// walk of their own. The runtime is found the way the program's users find
// theirs elsewhere: through the machine store value naming its folder.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "capture/WriterFailureBoxes.h"
#include "support/BuiltQuickTime.h"
#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/QtAtomWalk.h"
#include "support/RecorderFakes.h"
#include "support/SmallTmpfs.h"
#include "support/TempDir.h"
#include "writers/QtMovieWriter.h"

namespace framory {
namespace {

using testing::DecodeFrames;
using testing::FakeBoxes;
using testing::MeanDifference;
using testing::ProbePacketDurations;
using testing::ProbeStreamField;
using testing::ProbeVideo;
using testing::QtAtom;
using testing::QtAtomWalk;
using testing::RunInChild;
using testing::TempDir;
using testing::TestPicture;
using testing::VideoProbe;
using testing::WalkQtAtoms;

constexpr char kPrepareFailure[] = "Unable to initialize Quicktime graphics world.";
constexpr char kAppendFailure[] = "Unable to append frame to quicktime movie.";
constexpr char kBadPath[] = "\tInvalid output Filename \n\nPlease use Absolute output Path";
constexpr char kInitFailure[] =
    "Unable to initialize the Apple Quick Time Environment. Framory's own QuickTime runtime "
    "(QuickTime.qts, installed beside the program) could not be loaded; reinstalling the framory "
    "package puts it back. ";

void UseBuiltRuntime() { testing::UseBuiltQuickTime(QUICKTIME_RUNTIME_DIR); }

// A clip session writing QuickTime movies through the built runtime, on a
// 1024 × 768 screen, timed by a clock the test moves.
struct Recording : testing::ClipRecording {
  explicit Recording(std::int32_t timerValue, const std::string& folder = "")
      : ClipRecording(
            testing::ClipRecordingOptions(".mov", OutputTypes::QuickTimeMov, timerValue, folder)
                .Screen(1024, 768)
                .ManualClock()) {
    UseBuiltRuntime();
  }
};

// The stream facts of a finished movie, from the atoms.
struct MovieAtoms {
  QtAtomWalk walk;
  const QtAtom* mvhd = nullptr;
  const QtAtom* tkhd = nullptr;
  const QtAtom* elst = nullptr;
  const QtAtom* mdhd = nullptr;
  const QtAtom* hdlr = nullptr;
  const QtAtom* stsd = nullptr;
  const QtAtom* stts = nullptr;
  const QtAtom* stsz = nullptr;
  const QtAtom* stco = nullptr;

  explicit MovieAtoms(const std::string& path) : walk(WalkQtAtoms(path)) {
    mvhd = walk.Find("moov/mvhd");
    tkhd = walk.Find("moov/trak/tkhd");
    elst = walk.Find("moov/trak/edts/elst");
    mdhd = walk.Find("moov/trak/mdia/mdhd");
    hdlr = walk.Find("moov/trak/mdia/hdlr");
    stsd = walk.Find("moov/trak/mdia/minf/stbl/stsd");
    stts = walk.Find("moov/trak/mdia/minf/stbl/stts");
    stsz = walk.Find("moov/trak/mdia/minf/stbl/stsz");
    stco = walk.Find("moov/trak/mdia/minf/stbl/stco");
  }
  bool Complete() const {
    return walk.ok && mvhd && tkhd && elst && mdhd && hdlr && stsd && stts && stsz && stco;
  }
};

// Sample sizes and offsets from the tables must point inside 'mdat'.
void ExpectSamplesInsideMediaData(const MovieAtoms& m) {
  const QtAtom* mdat = m.walk.Find("mdat");
  ASSERT_NE(mdat, nullptr);
  const std::uint32_t count = m.walk.U32(m.stsz->Payload() + 8);
  ASSERT_EQ(m.walk.U32(m.stco->Payload() + 4), count);
  std::uint64_t expectedOffset = mdat->Payload();
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::uint32_t size = m.walk.U32(m.stsz->Payload() + 12 + 4 * i);
    const std::uint32_t offset = m.walk.U32(m.stco->Payload() + 8 + 4 * i);
    EXPECT_EQ(offset, expectedOffset) << "sample " << i << " follows the one before";
    EXPECT_LE(offset + size, mdat->offset + mdat->size) << "sample " << i << " inside mdat";
    // Every sample is a whole JPEG image.
    EXPECT_EQ(m.walk.U16(offset), 0xFFD8u) << "sample " << i << " starts with SOI";
    EXPECT_EQ(m.walk.U16(offset + size - 2), 0xFFD9u) << "sample " << i << " ends with EOI";
    expectedOffset = offset + size;
  }
}

TEST(QtMovieFiles, FiftyFramesAtAHundredMillisecondsLastFiveSeconds) {
  Recording r(100);
  std::vector<std::vector<std::uint32_t>> composed;
  // 158 × 118 becomes a 160 × 120 movie with the picture at (1, 1) on black.
  for (int i = 0; i < 50; ++i) composed.push_back(r.Shoot(TestPicture::Pattern(158, 118, i % 7)));
  ASSERT_EQ(r.session.MovieWidth(), 160);
  ASSERT_EQ(r.session.MovieHeight(), 120);
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  EXPECT_TRUE(r.boxes.shown.empty());

  const std::string movie = r.Movie(0);
  const VideoProbe probe = ProbeVideo(movie);
  ASSERT_TRUE(probe.Ok) << "ffprobe cannot read " << movie;
  EXPECT_EQ(probe.CodecName, "mjpeg");
  EXPECT_EQ(probe.CodecTag, "jpeg");
  EXPECT_EQ(probe.Width, 160);
  EXPECT_EQ(probe.Height, 120);
  EXPECT_EQ(probe.FrameCount, 50);
  EXPECT_EQ(ProbeStreamField(movie, "time_base"), "1/1000");
  EXPECT_EQ(ProbeStreamField(movie, "duration"), "5.000000");
  EXPECT_EQ(ProbePacketDurations(movie), std::vector<std::int64_t>(50, 100));

  const MovieAtoms m(movie);
  ASSERT_TRUE(m.walk.ok) << m.walk.error;
  ASSERT_TRUE(m.Complete());
  ASSERT_EQ(m.walk.top.size(), 4u);
  EXPECT_EQ(m.walk.top[0].type, "ftyp");
  EXPECT_EQ(m.walk.FourCC(m.walk.top[0].Payload()), "qt  ");
  EXPECT_EQ(m.walk.top[1].type, "wide");
  EXPECT_EQ(m.walk.top[2].type, "mdat");
  EXPECT_EQ(m.walk.top[3].type, "moov");
  EXPECT_EQ(m.walk.U32(m.mvhd->Payload() + 12), 600u) << "movie time scale";
  EXPECT_EQ(m.walk.U32(m.mvhd->Payload() + 16), 3000u) << "5 s at 600";
  EXPECT_EQ(m.walk.U32(m.tkhd->Payload() + 76), 160u << 16) << "track width";
  EXPECT_EQ(m.walk.U32(m.tkhd->Payload() + 80), 120u << 16) << "track height";
  EXPECT_EQ(m.walk.U16(m.tkhd->Payload() + 36), 0u) << "track volume";
  EXPECT_EQ(m.walk.U32(m.elst->Payload() + 4), 1u) << "one edit";
  EXPECT_EQ(m.walk.U32(m.elst->Payload() + 8), 3000u);
  EXPECT_EQ(m.walk.U32(m.elst->Payload() + 12), 0u) << "from media time 0";
  EXPECT_EQ(m.walk.U32(m.elst->Payload() + 16), 0x10000u) << "at rate 1.0";
  EXPECT_EQ(m.walk.U32(m.mdhd->Payload() + 12), 1000u) << "media time scale";
  EXPECT_EQ(m.walk.U32(m.mdhd->Payload() + 16), 5000u) << "media duration";
  EXPECT_EQ(m.walk.FourCC(m.hdlr->Payload() + 8), "vide");
  EXPECT_EQ(m.walk.U32(m.stsd->Payload() + 4), 1u) << "one sample description";
  EXPECT_EQ(m.walk.FourCC(m.stsd->Payload() + 12), "jpeg");
  EXPECT_EQ(m.walk.U16(m.stsd->Payload() + 8 + 32), 160u) << "described width";
  EXPECT_EQ(m.walk.U16(m.stsd->Payload() + 8 + 34), 120u) << "described height";
  EXPECT_EQ(m.walk.U32(m.stsd->Payload() + 8 + 28), 512u) << "spatial quality: normal";
  EXPECT_EQ(m.walk.U32(m.stts->Payload() + 4), 1u) << "one run of durations";
  EXPECT_EQ(m.walk.U32(m.stts->Payload() + 8), 50u);
  EXPECT_EQ(m.walk.U32(m.stts->Payload() + 12), 100u);
  EXPECT_EQ(m.walk.Find("moov/trak/mdia/minf/stbl/stss"), nullptr) << "every frame a key frame";
  ExpectSamplesInsideMediaData(m);

  const auto decoded = DecodeFrames(movie, 160, 120);
  ASSERT_EQ(decoded.size(), composed.size());
  for (std::size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_LT(MeanDifference(decoded[i], composed[i]), 6.0) << "frame " << i;
  }
  EXPECT_LT(decoded[0][0] & 0xFF, 24u) << "black border stays dark";
}

TEST(QtMovieFiles, WithoutAFramePeriodSamplesLastSixtyUnitsAtSixHundred) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(64, 48));
  const std::string path = dir.File("plain.mov");
  {
    QtMovieWriter writer(reports, path, 0, 0);
    EXPECT_EQ(writer.TimeScaleValue(), 600);
    EXPECT_EQ(writer.FrameDuration(), 60);
    ASSERT_EQ(writer.Prepare(frame), kWriterOk) << writer.LastError();
    EXPECT_EQ(writer.State(), QtMovieWriter::kPrepared);
    for (int i = 0; i < 3; ++i) {
      frame.Compose(TestPicture::Pattern(64, 48, i).frame);
      EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
      EXPECT_EQ(writer.State(), QtMovieWriter::kEditing);
    }
  }
  EXPECT_TRUE(boxes.shown.empty());
  EXPECT_EQ(ProbeStreamField(path, "time_base"), "1/600");
  EXPECT_EQ(ProbePacketDurations(path), std::vector<std::int64_t>(3, 60));
  EXPECT_EQ(ProbeVideo(path).FrameCount, 3) << "10 frames a second";
  const MovieAtoms m(path);
  ASSERT_TRUE(m.Complete()) << m.walk.error;
  EXPECT_EQ(m.walk.U32(m.mdhd->Payload() + 12), 600u);
  EXPECT_EQ(m.walk.U32(m.mdhd->Payload() + 16), 180u);
}

// A period of 0 (a setting the store takes as it is) must still give every
// frame a sample: each lasts one unit of the time scale, a millisecond.
TEST(QtMovieFiles, PeriodOfZeroGivesEachFrameOneMillisecond) {
  Recording r(0);
  for (int i = 0; i < 5; ++i) r.Shoot(TestPicture::Pattern(64, 48, i));
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  const VideoProbe probe = ProbeVideo(r.Movie(0));
  ASSERT_TRUE(probe.Ok) << "the movie has a video track";
  EXPECT_EQ(probe.FrameCount, 5);
  EXPECT_EQ(ProbeStreamField(r.Movie(0), "time_base"), "1/1000");
  EXPECT_EQ(ProbePacketDurations(r.Movie(0)), std::vector<std::int64_t>(5, 1));
}

TEST(QtMovieFiles, PreparedThenEndedLeavesAFileWithoutAMovie) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(32, 32));
  const std::string path = dir.File("empty.mov");
  // An existing file of that name is replaced.
  testing::WriteWholeFile(path, std::string(100000, 'x'));
  {
    QtMovieWriter writer(reports, path, 0, 0);
    ASSERT_EQ(writer.Prepare(frame), kWriterOk);
  }
  const QtAtomWalk walk = WalkQtAtoms(path);
  ASSERT_TRUE(walk.ok) << walk.error;
  EXPECT_EQ(walk.Find("moov"), nullptr) << "no movie was written";
  EXPECT_NE(walk.Find("ftyp"), nullptr);
  EXPECT_LT(walk.bytes.size(), 100u) << "the old contents are gone";
  EXPECT_FALSE(ProbeVideo(path).Ok) << "nothing playable";

  // A writer used after it was closed refuses frames.
  QtMovieWriter writer(reports, dir.File("second.mov"), 0, 0);
  ASSERT_EQ(writer.Prepare(frame), kWriterOk);
  writer.Close();
  EXPECT_EQ(writer.AddFrame(frame), kWriterFail);
  EXPECT_EQ(writer.State(), QtMovieWriter::kClosed);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(QtMovieFiles, ExistingMovieIsReplacedByTheNewClip) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(48, 32));
  const std::string path = dir.File("again.mov");
  for (int frames : {5, 2}) {
    QtMovieWriter writer(reports, path, 0, 0);
    writer.SetFramePeriod(40);
    ASSERT_EQ(writer.Prepare(frame), kWriterOk);
    for (int i = 0; i < frames; ++i) EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  }
  EXPECT_EQ(ProbeVideo(path).FrameCount, 2);
  EXPECT_TRUE(WalkQtAtoms(path).ok);
}

TEST(QtMovieFiles, TwoWritersAtOnceShareOneQuickTime) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frameA, frameB;
  ASSERT_TRUE(frameA.Create(64, 48));
  ASSERT_TRUE(frameB.Create(32, 32));
  auto a = std::make_unique<QtMovieWriter>(reports, dir.File("a.mov"), 0, 0);
  QtMovieWriter b(reports, dir.File("b.mov"), 0, 0);
  ASSERT_EQ(a->Prepare(frameA), kWriterOk);
  ASSERT_EQ(b.Prepare(frameB), kWriterOk);
  EXPECT_EQ(a->AddFrame(frameA), kWriterOk);
  EXPECT_EQ(b.AddFrame(frameB), kWriterOk);
  a.reset();  // its TerminateQTML must leave QuickTime to the other writer
  EXPECT_EQ(b.AddFrame(frameB), kWriterOk);
  b.Close();
  EXPECT_EQ(ProbeVideo(dir.File("a.mov")).FrameCount, 1);
  EXPECT_EQ(ProbeVideo(dir.File("b.mov")).FrameCount, 2);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(QtMovieFiles, EditingThatCannotStartClosesTheFileAndRefusesFrames) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(32, 32));
  // A screen this large needs a compression buffer beyond what a size holds.
  QtMovieWriter writer(reports, dir.File("huge.mov"), 32767, 32767);
  ASSERT_EQ(writer.Prepare(frame), kWriterOk);
  EXPECT_EQ(writer.AddFrame(frame), kWriterFail);
  EXPECT_STREQ(writer.LastError(), "Unable to Get Compression Size");
  EXPECT_EQ(writer.State(), QtMovieWriter::kClosed);
  EXPECT_EQ(writer.AddFrame(frame), kWriterFail) << "no second start";
  writer.Close();
  const QtAtomWalk walk = WalkQtAtoms(dir.File("huge.mov"));
  EXPECT_TRUE(walk.ok) << walk.error;
  EXPECT_EQ(walk.Find("moov"), nullptr) << "closed at once, without a movie";
}

TEST(QtMovieFiles, UnusablePathsFailPrepareWithTheFilenameText) {
  UseBuiltRuntime();
  TempDir dir;
  FakeBoxes boxes;
  WriterFailureBoxes reports{boxes};
  MovieFrame frame;
  ASSERT_TRUE(frame.Create(32, 32));
  // Longer than the length-prefixed name holds: refused, never cut short.
  const std::string longName = dir.Path() + "/" + std::string(255 - dir.Path().size(), 'm');
  ASSERT_EQ(longName.size(), 256u);
  {
    QtMovieWriter writer(reports, longName, 0, 0);
    EXPECT_EQ(writer.Prepare(frame), kWriterFail);
    EXPECT_STREQ(writer.LastError(), kBadPath);
    EXPECT_EQ(writer.State(), QtMovieWriter::kClosed);
  }
  {
    QtMovieWriter writer(reports, "", 0, 0);
    EXPECT_EQ(writer.Prepare(frame), kWriterFail);
    EXPECT_STREQ(writer.LastError(), kBadPath);
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir.Path())) << "nothing was created";
  // Exactly 255 bytes still fits.
  const std::string longest = longName.substr(0, 255);
  {
    QtMovieWriter writer(reports, longest, 0, 0);
    EXPECT_EQ(writer.Prepare(frame), kWriterOk) << writer.LastError();
    EXPECT_EQ(writer.AddFrame(frame), kWriterOk);
  }
  EXPECT_TRUE(ProbeVideo(longest).Ok);
  // A device is never taken over as a movie file.
  {
    QtMovieWriter writer(reports, "/dev/full", 0, 0);
    EXPECT_EQ(writer.Prepare(frame), kWriterFail);
    EXPECT_STREQ(writer.LastError(), "Unable to Create Movie File");
  }
  // A folder that does not exist.
  {
    QtMovieWriter writer(reports, dir.File("missing/clip.mov"), 0, 0);
    EXPECT_EQ(writer.Prepare(frame), kWriterFail);
    EXPECT_STREQ(writer.LastError(), "Unable to Create Movie File");
  }
  EXPECT_TRUE(boxes.shown.empty());
}

TEST(QtMovieFiles, ClipWithTooLongAPathReportsAndPausesThenRetries) {
  TempDir dir;
  const std::string deep = dir.Path() + "/" + std::string(240 - dir.Path().size(), 'd');
  std::filesystem::create_directories(deep);
  Recording r(100, deep);
  r.Shoot(TestPicture::Pattern(64, 48, 0));
  EXPECT_EQ(r.host.reports, std::vector<std::string>{kPrepareFailure});
  EXPECT_TRUE(r.host.paused);
  EXPECT_TRUE(r.session.ClipOpen()) << "the frame buffer stays";
  EXPECT_TRUE(r.boxes.shown.empty());
  r.host.paused = false;
  r.Shoot(TestPicture::Pattern(64, 48, 1));
  EXPECT_EQ(r.host.reports.size(), 2u) << "the next frame tries again";
  r.session.EndClip();
}

TEST(QtMovieFiles, NonAsciiFolderNamesAreKeptByteForByte) {
  TempDir dir;
  const std::string folder = dir.Path() + "/Aufnahmen \xC3\x84rger \xE6\x97\xA5\xE6\x9C\xAC";
  std::filesystem::create_directories(folder);
  Recording r(50, folder);
  for (int i = 0; i < 4; ++i) r.Shoot(TestPicture::Pattern(96, 64, i));
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  ASSERT_TRUE(std::filesystem::exists(r.Movie(0)));
  const VideoProbe probe = ProbeVideo(r.Movie(0));
  EXPECT_TRUE(probe.Ok);
  EXPECT_EQ(probe.FrameCount, 4);
  EXPECT_EQ(ProbePacketDurations(r.Movie(0)), std::vector<std::int64_t>(4, 50));
}

TEST(QtMovieFiles, FullDiskDuringAddMediaSamplePausesAndKeepsEarlierFrames) {
  TempDir dir;
  // The file may grow to 40 KB: a few 160 × 120 frames fit, then a sample
  // write fails. The limit is lifted again before the clip ends, as when
  // space was freed, so the movie can be written after the frames.
  const std::string outcome = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    Recording r(100, dir.Path());
    rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small{40 * 1024, old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &small);
    int appended = 0;
    for (int i = 0; i < 200 && !r.host.paused; ++i) {
      r.Shoot(TestPicture::Pattern(160, 120, i % 7));
      if (!r.host.paused) appended = i + 1;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    const std::string log = r.host.log.empty() ? "" : r.host.log.back();
    const bool paused = r.host.paused;
    r.session.EndClip();
    return std::to_string(appended) + "|" + (paused ? "paused" : "running") + "|" + log;
  });
  ASSERT_NE(outcome, testing::kChildFailed);
  const std::size_t bar = outcome.find('|');
  const int appended = std::stoi(outcome.substr(0, bar));
  EXPECT_EQ(outcome.substr(bar), std::string("|paused|Report ") + kAppendFailure);
  EXPECT_GT(appended, 1);
  const std::string movie = dir.Path() + "/shots/movie0.mov";
  const QtAtomWalk walk = WalkQtAtoms(movie);
  EXPECT_TRUE(walk.ok) << walk.error;
  const VideoProbe probe = ProbeVideo(movie);
  ASSERT_TRUE(probe.Ok) << "the frames added before the failure stay readable";
  // Samples reach the media one frame late: the call that failed was adding
  // the sample of the frame before it, which is the one frame lost.
  EXPECT_EQ(probe.FrameCount, appended - 1);
  EXPECT_EQ(DecodeFrames(movie, 160, 120).size(), static_cast<std::size_t>(appended - 1));
}

// The last frame's sample is added when the clip ends. Here the file may
// grow by less than that sample when the clip is ended, but by enough for
// the movie: the movie holds the frames before it, and the lost frame is
// reported with the QuickTime append text instead of passing for success.
TEST(QtMovieFiles, FileSizeLimitHitByTheLastSampleIsReportedWhenTheClipEnds) {
  TempDir dir;
  const std::string outcome = RunInChild([&] {
    std::signal(SIGXFSZ, SIG_IGN);
    Recording r(100, dir.Path());
    std::uintmax_t smallest = std::numeric_limits<std::uintmax_t>::max();
    std::uintmax_t size = 0;
    for (int i = 0; i < 4; ++i) {
      r.Shoot(TestPicture::Pattern(320, 240, i));
      const std::uintmax_t now = std::filesystem::file_size(r.Movie(0));
      if (i > 0) smallest = std::min(smallest, now - size);  // the sample of frame i - 1
      size = now;
    }
    // Room for the movie atom (well under 2 KB for four samples), not for
    // a sample like the three before.
    if (smallest < 4096) return std::string("samples too small: ") + std::to_string(smallest);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    const rlimit atTheEnd{static_cast<rlim_t>(size + 2048), old.rlim_max};
    setrlimit(RLIMIT_FSIZE, &atTheEnd);
    const bool pausedBefore = r.host.paused;
    r.session.EndClip();
    setrlimit(RLIMIT_FSIZE, &old);
    std::string text = pausedBefore ? "paused|" : "running|";
    for (std::size_t i = 0; i < r.host.reports.size(); ++i) {
      text += r.host.reports[i] + " " + std::to_string(r.host.codes[i]) + "|";
    }
    return text + (r.host.paused ? "paused" : "running");
  });
  ASSERT_NE(outcome, testing::kChildFailed);
  EXPECT_EQ(outcome,
            std::string("running|") + kAppendFailure + " " + std::to_string(EFBIG) + "|paused")
      << "one report, naming the file-size limit";
  const std::string movie = dir.Path() + "/shots/movie0.mov";
  const MovieAtoms m(movie);
  EXPECT_TRUE(m.Complete()) << m.walk.error;
  EXPECT_EQ(ProbeVideo(movie).FrameCount, 3) << "the frames before the last one stay";
}

// A real full disk (a small tmpfs, a filler file leaving room for some
// frames): the sample that does not fit is refused before a byte of it is
// written, the box names the system's error (ENOSPC, "GetLastError returned
// 1C"), the clip is finished at once with every sample before it and its
// duration, the room set aside for its movie atom is given back, and after
// space is freed the resume records the next clip.
TEST(QtMovieFiles, FullDiskFinishesThePlayableClipAndTheNextClipRecords) {
  TempDir dir;
  const testing::SmallTmpfs small(dir.File("small"), "1m");
  if (!small.Mounted()) GTEST_SKIP() << "no permission to mount a small tmpfs";
  const std::string filler = small.Path() + "/filler";
  ASSERT_TRUE(testing::WriteWholeFile(filler, std::string(700 * 1024, 'f')));
  constexpr int kAfterResume = 6;
  const std::string outcome = RunInChild([&] {
    Recording r(100, small.Path());
    int appended = 0;
    for (int i = 0; i < 400 && !r.host.paused; ++i) {
      r.Shoot(TestPicture::Pattern(160, 120, i % 7));
      if (!r.host.paused) appended = i + 1;
    }
    std::string text = std::to_string(appended) + "|" + (r.host.paused ? "paused" : "running") +
                       "|" + (r.session.ClipOpen() ? "open" : "ended");
    for (std::size_t i = 0; i < r.host.reports.size(); ++i) {
      char code[16];
      std::snprintf(code, sizeof code, "%X", r.host.codes[i]);
      text += "|" + r.host.reports[i] + " " + code;
    }
    std::remove(filler.c_str());
    r.host.paused = false;
    for (int i = 0; i < kAfterResume; ++i) r.Shoot(TestPicture::Pattern(160, 120, i));
    r.session.EndClip();
    return text + "|later reports " + std::to_string(r.host.reports.size() - 1);
  });
  ASSERT_NE(outcome, testing::kChildFailed);
  const std::size_t bar = outcome.find('|');
  const int appended = std::stoi(outcome.substr(0, bar));
  EXPECT_EQ(outcome.substr(bar),
            std::string("|paused|ended|") + kAppendFailure + " 1C|later reports 0");
  EXPECT_GT(appended, 2);

  const std::string movie = small.Path() + "/shots/movie0.mov";
  const MovieAtoms m(movie);
  ASSERT_TRUE(m.Complete()) << m.walk.error;
  ExpectSamplesInsideMediaData(m);
  // The sample that met the full disk was the frame before the failing
  // call's: it and the frame of that call are not in the movie.
  const VideoProbe probe = ProbeVideo(movie);
  ASSERT_TRUE(probe.Ok);
  EXPECT_EQ(probe.FrameCount, appended - 1);
  EXPECT_EQ(ProbePacketDurations(movie), std::vector<std::int64_t>(appended - 1, 100));
  EXPECT_EQ(ProbeStreamField(movie, "duration"), std::to_string((appended - 1) / 10) + "." +
                                                     std::to_string((appended - 1) % 10) + "00000");
  EXPECT_EQ(DecodeFrames(movie, 160, 120).size(), static_cast<std::size_t>(appended - 1));
  struct stat st;
  ASSERT_EQ(stat(movie.c_str(), &st), 0);
  EXPECT_LT(st.st_blocks * 512, st.st_size + 8192) << "the room set aside is given back";

  const std::string next = small.Path() + "/shots/movie1.mov";
  EXPECT_EQ(ProbeVideo(next).FrameCount, kAfterResume);
  EXPECT_TRUE(MovieAtoms(next).Complete());
  EXPECT_FALSE(std::filesystem::exists(small.Path() + "/shots/movie2.mov"));
}

TEST(QtMovieFiles, RepeatsLengthenTheHeldSampleAndTheClipKeepsItsLength) {
  TempDir dir;
  Recording r(100, dir.Path());
  r.Shoot(TestPicture::Pattern(160, 120, 1));
  for (int i = 0; i < 3; ++i) ASSERT_TRUE(r.session.RepeatMovieFrame());
  r.Shoot(TestPicture::Pattern(160, 120, 2));
  ASSERT_TRUE(r.session.RepeatMovieFrame());
  r.session.EndClip();
  EXPECT_FALSE(r.host.paused);

  const std::string movie = dir.Path() + "/shots/movie0.mov";
  const QtAtomWalk walk = WalkQtAtoms(movie);
  EXPECT_TRUE(walk.ok) << walk.error;
  EXPECT_EQ(ProbePacketDurations(movie), (std::vector<std::int64_t>{400, 200}))
      << "one sample per picture, each as long as the frames it stands for";
  EXPECT_EQ(ProbeVideo(movie).FrameCount, 2);
}

TEST(QtMovieFiles, TimerDrivenClipsHoldEachPictureUntilTheNextOnesTime) {
  // With "Capture periodically" on, a picture lasts until the clock time of
  // the next one, so the movie plays in real time however many shots the
  // machine managed; paused time is left out.
  TempDir dir;
  Recording r(40, dir.Path());
  r.settings.SetTakeShotOnTimer(true);
  auto shootAfter = [&](double ms, int seed) {
    r.clock.AdvanceMilliseconds(ms);
    r.Shoot(TestPicture::Pattern(160, 120, seed));
  };
  shootAfter(0, 1);    // position 0
  shootAfter(40, 2);   // 1
  shootAfter(170, 3);  // 210 ms: 5
  r.clock.AdvanceMilliseconds(40);
  ASSERT_TRUE(r.session.RepeatMovieFrame());  // 6
  r.session.RecorderPauseChanged(true);
  r.clock.AdvanceMilliseconds(5000);
  r.session.RecorderPauseChanged(false);
  shootAfter(200, 4);  // 450 ms of recording: 11
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());

  const std::string movie = r.Movie(0);
  EXPECT_TRUE(WalkQtAtoms(movie).ok);
  EXPECT_EQ(ProbePacketDurations(movie), (std::vector<std::int64_t>{40, 160, 240, 40}));
  EXPECT_EQ(ProbeVideo(movie).FrameCount, 4);
}

TEST(QtMovieFiles, MissingRuntimeShowsTheDownloadMessageAndPauses) {
  TempDir dir;
  const std::string outcome = RunInChild([&] {
    // No store names a folder, and nothing lies beside the test program.
    UseBuiltRuntime();  // done once per process: the stores are replaced after it
    testing::WriteWholeFile(dir.File("empty.ini"), "");
    setenv("FRAMORY_MACHINE_REGISTRY", dir.File("empty.ini").c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);
    Recording r(100, dir.Path());
    r.Shoot(TestPicture::Pattern(64, 48, 0));
    r.host.paused = false;
    r.Shoot(TestPicture::Pattern(64, 48, 1));
    std::string text;
    for (const auto& box : r.boxes.shown) {
      text += box.text + "#" + box.caption + "#" + std::to_string(box.flags) + "\n";
    }
    for (const auto& report : r.host.reports) text += report + "\n";
    text += r.session.ClipOpen() ? "open" : "closed";
    return text;
  });
  const std::string box =
      std::string(kInitFailure) + "#Error#" + std::to_string(MessageBoxFlags::IconError) + "\n";
  EXPECT_EQ(outcome, box + box + kPrepareFailure + "\n" + kPrepareFailure + "\nopen");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() + "/shots/movie0.mov"));
}

}  // namespace
}  // namespace framory
