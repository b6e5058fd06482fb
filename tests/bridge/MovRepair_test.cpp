// QuickTime clips cut short the way a crash or kill -9 leaves them, and their
// repair at the next start. A child process records through the real clip
// session, QuickTime writer, Cinelink and the project's QuickTime.qts, with
// the clip journal, and is killed with SIGKILL at many points of the clip
// (between frames and in the middle of writing one). Copies of a killed clip
// are also cut at chosen offsets. Every repaired file is read back with
// ffprobe/ffmpeg (every sample decodes, its duration is the one written),
// compared with the file a clean end writes for the same samples, repaired
// again without a byte changing, and for a share of them played by VLC as a
// second, independent reader.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "app/ClipRecovery.h"
#include "support/BuiltQuickTime.h"
#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/ClipSessionFakes.h"
#include "support/MediaProbe.h"
#include "support/QtAtomWalk.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "writers/ClipJournal.h"
#include "writers/MovRepair.h"
#include "writers/MovSampleNotes.h"

namespace framory {
namespace {

using testing::CommandOutput;
using testing::FakeBoxes;
using testing::ProbePacketDurations;
using testing::ProbeStreamField;
using testing::ProbeVideo;
using testing::ReadWholeFile;
using testing::ShellQuote;
using testing::TempDir;
using testing::TestPicture;
using testing::WriteWholeFile;

constexpr std::int32_t kPeriodMs = 40;
constexpr std::int32_t kWidth = 96, kHeight = 64;
// Frames a recording child delivers at most before it holds still.
constexpr int kMaxFrames = 120;

// Every fifth frame is followed by two repeats of its picture: its sample
// lasts three periods.
int RepeatsAfter(int frame) { return frame % 5 == 3 ? 2 : 0; }
std::int64_t SampleDuration(int frame) { return kPeriodMs * (1 + RepeatsAfter(frame)); }
std::vector<std::int64_t> Durations(int samples) {
  std::vector<std::int64_t> d;
  for (int i = 0; i < samples; ++i) d.push_back(SampleDuration(i));
  return d;
}
std::int64_t TotalDuration(int samples) {
  std::int64_t total = 0;
  for (int i = 0; i < samples; ++i) total += SampleDuration(i);
  return total;
}

testing::ClipRecordingOptions MovOptions(const std::string& folder) {
  testing::UseBuiltQuickTime(QUICKTIME_RUNTIME_DIR);
  return testing::ClipRecordingOptions(".mov", OutputTypes::QuickTimeMov, kPeriodMs, folder);
}

void Deliver(testing::ClipRecording& r, int frame) {
  const TestPicture picture = TestPicture::Pattern(kWidth, kHeight, frame);
  r.session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
  for (int i = 0; i < RepeatsAfter(frame); ++i) r.session.RepeatMovieFrame();
}

// A clean clip of the first `frames` frames of the schedule, as the
// recorder ends it; returns its path.
std::string RecordClean(const std::string& folder, int frames) {
  testing::ClipRecording r(MovOptions(folder));
  for (int i = 0; i < frames; ++i) Deliver(r, i);
  r.session.EndClip();
  EXPECT_TRUE(r.host.reports.empty());
  return r.Movie(0);
}

struct Killed {
  std::string clip;
  int delivered = -1;  // frames whose delivery had returned when the kill came
};

// A child records the schedule with the journal in `journalFolder` and is
// killed once it has delivered `frames` frames and `micros` microseconds
// more have passed (the next frame is then often being written).
Killed RecordAndKill(const std::string& folder, const std::string& journalFolder, int frames,
                     int micros) {
  Killed killed;
  killed.clip = folder + "/shots/movie0.mov";
  auto* delivered =
      static_cast<std::atomic<int>*>(mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                                          MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  if (delivered == MAP_FAILED) return killed;
  new (delivered) std::atomic<int>(0);
  testing::UseBuiltQuickTime(QUICKTIME_RUNTIME_DIR);  // before the fork: the child inherits it
  const pid_t pid = fork();
  if (pid == 0) {
    {
      ClipJournal journal(journalFolder);
      testing::ClipRecording r(MovOptions(folder));
      r.factory.SetJournal(&journal);
      for (int i = 0; i < kMaxFrames; ++i) {
        Deliver(r, i);
        delivered->store(i + 1);
      }
      for (;;) pause();
    }
  }
  if (pid > 0) {
    for (int waited = 0; delivered->load() < frames && waited < 120000; ++waited) usleep(1000);
    if (micros > 0) usleep(static_cast<useconds_t>(micros));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
    killed.delivered = delivered->load();
  }
  munmap(delivered, sizeof(std::atomic<int>));
  return killed;
}

// The decoded pictures' MD5 sums, one per frame; `errors` gets what ffmpeg
// complained about.
std::vector<std::string> FrameMd5s(const std::string& path, std::string* errors = nullptr) {
  std::istringstream out(
      CommandOutput("ffmpeg -v error -xerror -i " + ShellQuote(path) + " -f framemd5 - 2>" +
                    (errors != nullptr ? ShellQuote(path + ".log") : "/dev/null")));
  std::vector<std::string> sums;
  std::string line;
  while (std::getline(out, line)) {
    if (!line.empty() && line[0] != '#') sums.push_back(line.substr(line.rfind(',') + 1));
  }
  if (errors != nullptr) *errors = ReadWholeFile(path + ".log");
  return sums;
}

// The file with the creation and modification times of the movie, track
// and media headers set to 0: the only bytes a repair cannot know.
std::string WithoutTimes(const std::string& path) {
  const testing::QtAtomWalk walk = testing::WalkQtAtoms(path);
  std::string bytes(walk.bytes.begin(), walk.bytes.end());
  for (const char* header : {"moov/mvhd", "moov/trak/tkhd", "moov/trak/mdia/mdhd"}) {
    const testing::QtAtom* atom = walk.Find(header);
    if (atom == nullptr) return "no " + std::string(header);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(atom->Payload() + 4), 8, '\0');
  }
  return bytes;
}

// VLC finds the samples where the tables say: what it reads is the data of
// the samples, whole ones, in order (it leaves out the last one when it
// copies a stream).
void ExpectVlcReadsTheSamples(const std::string& path, int samples) {
  const std::string stream = testing::VlcStreamCopy(path);
  // Without VLC the other checks of the clip still count: no skip.
  if (stream == "-") {
    ADD_FAILURE() << "VLC (vlc-bin) and setpriv are needed for the second reader";
    return;
  }
  const testing::QtAtomWalk walk = testing::WalkQtAtoms(path);
  const testing::QtAtom* stsz = walk.Find("moov/trak/mdia/minf/stbl/stsz");
  ASSERT_NE(stsz, nullptr);
  std::size_t allButLast = 0;
  for (int i = 0; i + 1 < samples; ++i) allButLast += walk.U32(stsz->Payload() + 12 + 4 * i);
  EXPECT_GE(stream.size(), allButLast);
  EXPECT_TRUE(stream ==
              std::string(walk.bytes.begin() + 36, walk.bytes.begin() + 36 +
                                                       static_cast<std::ptrdiff_t>(std::min(
                                                           stream.size(), walk.bytes.size() - 36))))
      << "VLC reads the samples' bytes";
}

// What every repaired clip of `samples` samples must be: FFmpeg reads each
// sample with its duration and decodes the pictures of the clean clip.
void ExpectPlays(const std::string& path, int samples, const std::vector<std::string>& refSums) {
  const testing::VideoProbe probe = ProbeVideo(path);
  ASSERT_TRUE(probe.Ok) << "ffprobe cannot read " << path;
  EXPECT_EQ(probe.CodecName, "mjpeg");
  EXPECT_EQ(probe.Width, kWidth);
  EXPECT_EQ(probe.Height, kHeight);
  EXPECT_EQ(probe.FrameCount, samples);
  EXPECT_EQ(ProbePacketDurations(path), Durations(samples));
  const std::string duration = ProbeStreamField(path, "duration");
  ASSERT_FALSE(duration.empty());
  EXPECT_NEAR(std::stod(duration), TotalDuration(samples) / 1000.0, kPeriodMs / 1000.0);
  std::string errors;
  EXPECT_EQ(FrameMd5s(path, &errors),
            std::vector<std::string>(refSums.begin(), refSums.begin() + samples));
  EXPECT_EQ(errors, "") << "every sample decodes";
}

// A second run of the repair finds the file finished and leaves every byte.
void ExpectRepairChangesNothing(const std::string& path, const MovSampleTimes& times) {
  const std::string before = ReadWholeFile(path);
  EXPECT_EQ(MovRepair(path, times).Run(), MovRepair::Outcome::Complete);
  EXPECT_EQ(ReadWholeFile(path), before) << "byte-identical";
}

// The journal records in `folder`.
int RecordsIn(const std::string& folder) {
  int records = 0;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
    records += entry.path().extension() == ".journal";
  }
  return records;
}

// What the journal record of the one clip killed in `folder` says of its
// samples (the record is taken).
MovSampleTimes TakeTimes(const std::string& folder) {
  const std::vector<JournalledClip> clips = ClipJournal(folder).TakeAbandonedClips();
  EXPECT_EQ(clips.size(), 1u);
  if (clips.size() != 1) return {};
  EXPECT_EQ(clips[0].Kind, ClipKind::QuickTime);
  return MovSampleNotes::Read(clips[0]);
}

struct Reference {
  std::vector<std::string> sums;  // of kMaxFrames frames
  TempDir dir;
};
const Reference& CleanReference() {
  static Reference* ref = [] {
    auto* r = new Reference;
    r->sums = FrameMd5s(RecordClean(r->dir.File("ref"), kMaxFrames));
    return r;
  }();
  return *ref;
}

// Fifty-two kills of a real recording: after 1 to 52 frames, right after a
// frame or a little later (then often while the next sample is written).
// The start-up pass repairs each clip through the journal, names it in its
// box, and removes the sample record; the movie keeps every sample that
// reached the file whole, which is every frame delivered but at most the
// last one.
TEST(MovRepairAfterKill, EveryKillPointLeavesAClipThatIsRepairedWhole) {
  const Reference& ref = CleanReference();
  ASSERT_EQ(ref.sums.size(), std::size_t{kMaxFrames});
  int vlcChecked = 0, compared = 0, lateKills = 0;
  for (int point = 0; point < 52; ++point) {
    const int frames = 1 + point;
    const int micros = (point % 4) * 600;
    SCOPED_TRACE("killed after " + std::to_string(frames) + " frames and " +
                 std::to_string(micros) + " us");
    TempDir dir;
    const std::string journalFolder = dir.File("state/framory");
    const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, frames, micros);
    ASSERT_GE(killed.delivered, frames);
    if (killed.delivered > frames) ++lateKills;

    // Until repaired, no player opens the clip.
    EXPECT_FALSE(ProbeVideo(killed.clip).Ok);
    ASSERT_EQ(RecordsIn(journalFolder), 1);

    ClipJournal journal(journalFolder);
    FakeBoxes boxes;
    const int repaired = ClipRecovery(journal, boxes).Run();
    EXPECT_EQ(RecordsIn(journalFolder), 0) << "the record has served";
    const testing::VideoProbe probe = ProbeVideo(killed.clip);
    const int samples = probe.Ok ? static_cast<int>(probe.FrameCount) : 0;
    EXPECT_GE(samples, killed.delivered - 1) << "at most the last frame is missing";
    EXPECT_LE(samples, killed.delivered);
    if (samples == 0) {
      // Killed before the first sample was whole: nothing to say.
      EXPECT_EQ(repaired, 0);
      EXPECT_TRUE(boxes.shown.empty());
      continue;
    }
    EXPECT_EQ(repaired, 1);
    ASSERT_EQ(boxes.shown.size(), 1u);
    EXPECT_EQ(boxes.shown[0].caption, kClipRepairCaption);
    EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed.clip}, {}));
    ExpectPlays(killed.clip, samples, ref.sums);
    ExpectRepairChangesNothing(killed.clip, MovSampleTimes{});

    // What a clean end writes for the same samples, byte for byte.
    if (point % 5 == 0) {
      const std::string clean = RecordClean(dir.File("clean"), samples);
      EXPECT_EQ(WithoutTimes(killed.clip), WithoutTimes(clean));
      ExpectRepairChangesNothing(clean, MovSampleTimes{});
      ++compared;
    }
    if (point % 5 == 1) {
      ExpectVlcReadsTheSamples(killed.clip, samples);
      ++vlcChecked;
    }
  }
  std::printf(
      "  %d clips compared with clean ones, %d played by VLC, %d killed while recording on\n",
      compared, vlcChecked, lateKills);
}

// The start-up pass takes every kind in one box: a killed QuickTime clip is
// repaired and named with the others; an AVI clip's record whose file is no
// AVI file is named as not repaired, and its file left as it is.
TEST(MovRepairAfterKill, OneStartUpBoxNamesTheMovieWithTheOtherClips) {
  TempDir dir;
  const std::string journalFolder = dir.File("state");
  const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, 6, 0);
  const std::string notAvi = dir.File("notes.avi");
  ASSERT_TRUE(WriteWholeFile(notAvi, "not a movie"));
  testing::ChildWaitStatus([&] {
    ClipJournal journal(journalFolder);
    journal.Begin(notAvi);
    raise(SIGKILL);
  });
  ClipJournal journal(journalFolder);
  FakeBoxes boxes;
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, kClipRepairCaption);
  EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed.clip}, {notAvi}));
  EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::IconWarning);
  EXPECT_GE(ProbeVideo(killed.clip).FrameCount, killed.delivered - 1);
  EXPECT_EQ(ReadWholeFile(notAvi), "not a movie");
  EXPECT_EQ(RecordsIn(journalFolder), 0);
}

// A clip that cannot be written at the start (here a file-size limit, as a
// full disk would) keeps its record, durations and all, and is repaired
// with them at the start after.
TEST(MovRepairAfterKill, AClipThatCannotBeWrittenNowIsRepairedNextTime) {
  const Reference& ref = CleanReference();
  TempDir dir;
  const std::string journalFolder = dir.File("state");
  const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, 9, 0);
  ASSERT_GT(std::filesystem::file_size(killed.clip), 2000u);
  const std::string shown = testing::RunInChild(
      [&] {
        ClipJournal journal(journalFolder);
        FakeBoxes boxes;
        const int repaired = ClipRecovery(journal, boxes).Run();
        return std::to_string(repaired) + "|" +
               (boxes.shown.size() == 1 ? boxes.shown[0].text : std::string("no box"));
      },
      // Below the samples: no byte can be added to the file.
      1000);
  EXPECT_EQ(shown, "0|" + ClipRecovery::Message({}, {}, {killed.clip}));
  EXPECT_EQ(RecordsIn(journalFolder), 1) << "the record is left for the next start";

  ClipJournal journal(journalFolder);
  FakeBoxes boxes;
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed.clip}, {}));
  const int samples = static_cast<int>(ProbeVideo(killed.clip).FrameCount);
  EXPECT_GE(samples, killed.delivered - 1);
  ExpectPlays(killed.clip, samples, ref.sums);
}

bool CopyPrefix(const std::string& from, const std::string& to, std::int64_t bytes) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error && truncate(to.c_str(), bytes) == 0;
}

// A killed clip cut at chosen offsets (inside the header, inside and at the
// edges of the first and the last sample): the repair keeps exactly the
// samples that are whole, and leaves a file without one as it is. A sample
// record that covers fewer samples than the file gives the others the frame
// period; a clip without its record cannot be repaired and is not touched.
TEST(MovRepairAfterKill, CutCopiesKeepEveryWholeSample) {
  const Reference& ref = CleanReference();
  TempDir dir;
  const std::string journalFolder = dir.File("state");
  const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, 12, 0);
  const MovSampleTimes times = TakeTimes(journalFolder);
  ASSERT_TRUE(times.Ok);
  EXPECT_EQ(times.TimeScale, 1000);
  EXPECT_EQ(times.Period, kPeriodMs);
  ASSERT_GE(times.Durations.size(), 11u) << "a duration for every sample written";
  const std::string original = ReadWholeFile(killed.clip);
  const std::int64_t size = static_cast<std::int64_t>(original.size());

  // The samples' places, from a repaired copy's tables.
  const std::string whole = dir.File("whole.mov");
  ASSERT_TRUE(WriteWholeFile(whole, original));
  ASSERT_EQ(MovRepair(whole, times).Run(), MovRepair::Outcome::Repaired);
  const testing::QtAtomWalk walk = testing::WalkQtAtoms(whole);
  const testing::QtAtom* stsz = walk.Find("moov/trak/mdia/minf/stbl/stsz");
  const testing::QtAtom* stco = walk.Find("moov/trak/mdia/minf/stbl/stco");
  ASSERT_TRUE(stsz != nullptr && stco != nullptr);
  const std::uint32_t count = walk.U32(stsz->Payload() + 8);
  ASSERT_GE(count, 11u);
  std::vector<std::int64_t> starts, ends;
  for (std::uint32_t i = 0; i < count; ++i) {
    starts.push_back(walk.U32(stco->Payload() + 8 + 4 * i));
    ends.push_back(starts.back() + walk.U32(stsz->Payload() + 12 + 4 * i));
  }
  const std::vector<std::int64_t> cuts = {10,
                                          35,
                                          36,
                                          39,
                                          starts[0] + 300,
                                          ends[0] - 1,
                                          ends[0],
                                          ends[0] + 7,
                                          starts.back() + 2,
                                          (starts.back() + ends.back()) / 2,
                                          ends.back() - 2,
                                          ends.back() - 1,
                                          ends.back(),
                                          size};

  const std::string work = dir.File("work.mov");
  for (const std::int64_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(size));
    ASSERT_TRUE(CopyPrefix(killed.clip, work, cut));
    const MovRepair::Outcome outcome = MovRepair(work, times).Run();
    int kept = 0;
    while (kept < static_cast<int>(count) && ends[kept] <= cut) ++kept;
    if (cut < 36) {
      EXPECT_EQ(outcome, MovRepair::Outcome::Unrepairable) << "the header itself is cut";
    } else if (kept == 0) {
      EXPECT_EQ(outcome, MovRepair::Outcome::NoFile) << "no sample is whole";
    }
    if (kept == 0 || cut < 36) {
      EXPECT_EQ(ReadWholeFile(work), original.substr(0, static_cast<std::size_t>(cut)));
      continue;
    }
    ASSERT_EQ(outcome, MovRepair::Outcome::Repaired);
    ExpectPlays(work, kept, ref.sums);
    ExpectRepairChangesNothing(work, times);
  }

  // A record without durations: every sample lasts one frame period.
  MovSampleTimes factsOnly = times;
  factsOnly.Durations.clear();
  ASSERT_TRUE(WriteWholeFile(work, original));
  ASSERT_EQ(MovRepair(work, factsOnly).Run(), MovRepair::Outcome::Repaired);
  EXPECT_EQ(ProbePacketDurations(work), std::vector<std::int64_t>(count, kPeriodMs));

  // No record: the time scale is unknown.
  ASSERT_TRUE(WriteWholeFile(work, original));
  EXPECT_EQ(MovRepair(work, MovSampleTimes{}).Run(), MovRepair::Outcome::Unrepairable);
  EXPECT_EQ(ReadWholeFile(work), original);
}

// Past 4 GB of samples the clean end writes 64-bit chunk offsets and a
// 64-bit 'mdat' size over the 'wide' atom; the repair does the same. The
// file is sparse: between two real samples lie three samples of 1.5 GB whose
// scans are holes of zeros (valid as JPEG scan data, so whole samples).
TEST(MovRepairLarge, PastFourGigabytesTheOffsetsAndTheDataSizeAre64Bit) {
  TempDir dir;
  const std::string journalFolder = dir.File("state");
  const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, 3, 0);
  const std::string head = ReadWholeFile(killed.clip);
  // A record as the writer leaves it, written here by hand.
  JournalledClip record;
  record.Kind = ClipKind::QuickTime;
  record.Facts = {{"timescale", "1000"}, {"period", "40"}, {"created", "3000000000"}};
  record.Notes = "40\n80\n40\n-\n40\n40\n40\n";
  const MovSampleTimes times = MovSampleNotes::Read(record);
  const std::size_t eoi = head.find("\xff\xd9", 36);
  const std::size_t sos = head.find("\xff\xda", 36);
  ASSERT_TRUE(eoi != std::string::npos && sos != std::string::npos && sos < eoi);
  const std::string sample = head.substr(36, eoi + 2 - 36);
  const std::size_t scanStart =
      sos + 2 + ((std::uint8_t(head[sos + 2]) << 8) | std::uint8_t(head[sos + 3]));
  const std::string hugeStart = head.substr(36, scanStart - 36);
  constexpr std::int64_t kHuge = 1500000000;

  const std::string big = dir.File("big.mov");
  std::vector<std::int64_t> offsets, sizes;
  {
    std::FILE* f = std::fopen(big.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::int64_t at = 0;
    const auto put = [&](const std::string& bytes) {
      ASSERT_EQ(fseeko(f, at, SEEK_SET), 0);
      ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
      at += static_cast<std::int64_t>(bytes.size());
    };
    put(head.substr(0, 36));
    for (int i = 0; i < 5; ++i) {
      offsets.push_back(at);
      if (i >= 1 && i <= 3) {
        put(hugeStart);
        at += kHuge;  // a hole
        put("\xff\xd9");
      } else {
        put(sample);
      }
      sizes.push_back(at - offsets.back());
    }
    std::fclose(f);
  }
  ASSERT_GT(offsets.back(), std::int64_t{1} << 32);
  const std::int64_t dataEnd = offsets.back() + sizes.back();

  ASSERT_EQ(MovRepair(big, times).Run(), MovRepair::Outcome::Repaired);
  std::FILE* f = std::fopen(big.c_str(), "rb");
  ASSERT_NE(f, nullptr);
  std::string header(36, '\0');
  ASSERT_EQ(std::fread(header.data(), 1, 36, f), 36u);
  ASSERT_EQ(fseeko(f, dataEnd, SEEK_SET), 0);
  std::string moov(1 << 16, '\0');
  moov.resize(std::fread(moov.data(), 1, moov.size(), f));
  std::fclose(f);
  const auto be32 = [](const std::string& s, std::size_t at) {
    return (std::uint32_t(std::uint8_t(s[at])) << 24) |
           (std::uint32_t(std::uint8_t(s[at + 1])) << 16) |
           (std::uint32_t(std::uint8_t(s[at + 2])) << 8) | std::uint8_t(s[at + 3]);
  };
  EXPECT_EQ(be32(header, 20), 1u) << "a 64-bit size over the 'wide' atom";
  EXPECT_EQ(header.substr(24, 4), "mdat");
  EXPECT_EQ((std::uint64_t{be32(header, 28)} << 32) | be32(header, 32),
            static_cast<std::uint64_t>(dataEnd - 20));
  ASSERT_EQ(moov.substr(4, 4), "moov");
  EXPECT_EQ(static_cast<std::int64_t>(be32(moov, 0)) + dataEnd,
            static_cast<std::int64_t>(std::filesystem::file_size(big)));
  EXPECT_EQ(moov.find("stco"), std::string::npos);
  const std::size_t co64 = moov.find("co64");
  ASSERT_NE(co64, std::string::npos);
  ASSERT_EQ(be32(moov, co64 + 8), 5u);
  const std::size_t stsz = moov.find("stsz");
  ASSERT_NE(stsz, std::string::npos);
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ((std::uint64_t{be32(moov, co64 + 12 + 8 * i)} << 32) | be32(moov, co64 + 16 + 8 * i),
              static_cast<std::uint64_t>(offsets[i]))
        << "sample " << i;
    EXPECT_EQ(be32(moov, stsz + 16 + 4 * i), static_cast<std::uint32_t>(sizes[i]));
  }
  // FFmpeg reads the tables (told not to look into the samples).
  const std::string probe = CommandOutput(
      "ffprobe -v fatal -probesize 32 -analyzeduration 0 -select_streams v:0 -show_entries "
      "stream=nb_frames,duration -of csv=p=0 " +
      ShellQuote(big) + " 2>&1");
  EXPECT_EQ(probe, "0.240000,5\n");

  const auto size = std::filesystem::file_size(big);
  EXPECT_EQ(MovRepair(big, times).Run(), MovRepair::Outcome::Complete);
  EXPECT_EQ(std::filesystem::file_size(big), size);
}

// Damage on top of the cut (a flipped byte, a huge size, a sample record of
// nonsense): the repair always ends, never grows a file by more than its
// tables, and what it repaired it finds finished.
TEST(MovRepairInput, DamagedAndHostileFilesNeverHangAndStayBounded) {
  TempDir dir;
  const std::string journalFolder = dir.File("state");
  const Killed killed = RecordAndKill(dir.File("rec"), journalFolder, 8, 0);
  const MovSampleTimes times = TakeTimes(journalFolder);
  const std::string original = ReadWholeFile(killed.clip);
  ASSERT_GT(original.size(), 36u);

  EXPECT_EQ(MovRepair(dir.File("missing.mov"), times).Run(), MovRepair::Outcome::NoFile);
  ASSERT_TRUE(WriteWholeFile(dir.File("empty.mov"), ""));
  EXPECT_EQ(MovRepair(dir.File("empty.mov"), times).Run(), MovRepair::Outcome::NoFile);
  ASSERT_TRUE(WriteWholeFile(dir.File("notes.mov"), "not a movie at all, but long enough to read"));
  EXPECT_EQ(MovRepair(dir.File("notes.mov"), times).Run(), MovRepair::Outcome::Unrepairable);
  ASSERT_EQ(mkfifo(dir.File("fifo.mov").c_str(), 0600), 0);
  EXPECT_EQ(MovRepair(dir.File("fifo.mov"), times).Run(), MovRepair::Outcome::Unrepairable);

  const std::string work = dir.File("work.mov");
  unsigned seed = 4711;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  int repaired = 0;
  for (int round = 0; round < 200; ++round) {
    std::string damaged = original;
    const std::size_t at = next() % damaged.size();
    damaged[at] = static_cast<char>(next() >> 8);
    if (round % 3 == 0) {
      // A huge 'mdat' or segment size.
      const std::size_t place = round % 2 == 0 ? 28 : 36 + next() % 600;
      if (place + 4 <= damaged.size()) damaged.replace(place, 4, "\xff\xff\xff\xf0", 4);
    }
    damaged.resize(damaged.size() - next() % 300);
    ASSERT_TRUE(WriteWholeFile(work, damaged));
    SCOPED_TRACE("round " + std::to_string(round) + ", byte " + std::to_string(at));
    if (MovRepair(work, times).Run() != MovRepair::Outcome::Repaired) {
      EXPECT_EQ(ReadWholeFile(work), damaged) << "left as it was";
      continue;
    }
    ++repaired;
    EXPECT_LE(std::filesystem::file_size(work), damaged.size() + 4096);
    const std::string once = ReadWholeFile(work);
    EXPECT_EQ(MovRepair(work, times).Run(), MovRepair::Outcome::Complete);
    EXPECT_EQ(ReadWholeFile(work), once);
  }
  EXPECT_GT(repaired, 100) << "most damage leaves whole samples to keep";
}

}  // namespace
}  // namespace framory
