// Clips cut short the way a crash or kill -9 leaves them, and their repair.
// A child process records through the real clip session, AVI writer and
// FFmpeg AVI layer and is killed after its last frame; the same frames
// recorded and finished normally are the reference. The killed file is then
// cut at many points (inside the header, inside a chunk header, inside the
// data, on chunk boundaries), repaired, and read back with ffprobe/ffmpeg and
// an independent RIFF walk: the index must be the one FFmpeg writes for the
// frames that are whole, entry for entry, key-frame flags included.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/ClipRecovery.h"
#include "support/AviIndexProbe.h"
#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/HeldChild.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "writers/AviFileApi.h"
#include "writers/AviRepair.h"
#include "writers/ClipJournal.h"

namespace framory {
namespace {

using testing::AviIndexEntry;
using testing::AviIndexReport;
using testing::CommandOutput;
using testing::FakeBoxes;
using testing::ReadAviIndex;
using testing::RunInChild;
using testing::TempDir;
using testing::TestPicture;

constexpr std::int32_t kPeriodMs = 100;

// What ffprobe makes of the video stream: the header's frame count, the
// frames (or packets) it reads, and the stream duration.
struct Probe {
  long long HeaderFrames = -1, ReadFrames = -1;
  double Duration = -1;
};
Probe ProbeClip(const std::string& path, bool decode) {
  const std::string counter = decode ? "-count_frames" : "-count_packets";
  const std::string entries =
      decode ? "nb_frames,nb_read_frames,duration" : "nb_frames,nb_read_packets,duration";
  std::istringstream out(CommandOutput("ffprobe -v error " + counter +
                                       " -select_streams v:0 -show_entries stream=" + entries +
                                       " -of default=nw=1 '" + path + "' 2>/dev/null"));
  Probe p;
  std::string line;
  while (std::getline(out, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || line.substr(eq + 1) == "N/A") continue;
    const std::string key = line.substr(0, eq), value = line.substr(eq + 1);
    if (key == "nb_frames") p.HeaderFrames = std::stoll(value);
    if (key == "nb_read_frames" || key == "nb_read_packets") p.ReadFrames = std::stoll(value);
    if (key == "duration") p.Duration = std::stod(value);
  }
  return p;
}

// One MD5 line per decoded frame.
std::vector<std::string> FrameMd5s(const std::string& path) {
  std::istringstream out(
      CommandOutput("ffmpeg -v error -i '" + path + "' -f framemd5 - 2>/dev/null"));
  std::vector<std::string> sums;
  std::string line;
  while (std::getline(out, line)) {
    if (!line.empty() && line[0] != '#') sums.push_back(line.substr(line.rfind(',') + 1));
  }
  return sums;
}

// Records `frames` pictures as a clip of `outputType` in a child process,
// which either ends the clip or is killed right after the last frame has
// reached the file (the AVI library writes on a thread of its own, so the
// parent waits until FFmpeg reads every frame before it kills the child). The
// clip is journalled in `journalFolder`. Returns the clip's path.
std::string RecordInChild(const std::string& folder, const std::string& journalFolder,
                          std::int32_t outputType, int frames, std::int32_t width,
                          std::int32_t height, bool finish) {
  const std::string path = folder + "/shots/movie0.avi";
  const auto record = [&](testing::ClipRecording& r, ClipJournal& journal) {
    r.factory.SetJournal(&journal);
    for (int i = 0; i < frames; ++i) {
      const TestPicture picture = TestPicture::Pattern(width, height, i);
      r.session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    }
  };
  if (finish) {
    const std::string outcome = RunInChild([&] {
      ClipJournal journal(journalFolder);
      testing::ClipRecording r(testing::ClipRecordingOptions(".avi", outputType, kPeriodMs, folder)
                                   .Avi(CreateAviFileLibrary()));
      record(r, journal);
      r.session.EndClip();
      return r.host.reports.empty() ? std::string("finished") : "reported " + r.host.reports[0];
    });
    EXPECT_EQ(outcome, "finished");
    return path;
  }
  testing::HeldChild child([&](const std::function<void()>& hold) {
    ClipJournal journal(journalFolder);
    testing::ClipRecording r(testing::ClipRecordingOptions(".avi", outputType, kPeriodMs, folder)
                                 .Avi(CreateAviFileLibrary()));
    record(r, journal);
    // Every frame is handed over; the parent kills this process once they
    // are in the file.
    hold();
  });
  if (child.Ready()) {
    // All frames counted, and the file no longer growing (the last chunk is
    // complete).
    std::error_code error;
    std::uintmax_t size = 0;
    for (int tries = 0; tries < 300; ++tries) {
      const std::uintmax_t now = std::filesystem::file_size(path, error);
      if (!error && now == size && ProbeClip(path, false).ReadFrames >= frames) break;
      size = error ? 0 : now;
      usleep(100000);
    }
  }
  const int status = child.Kill();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  return path;
}

bool CopyPrefix(const std::string& from, const std::string& to, std::int64_t bytes) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error && truncate(to.c_str(), bytes) == 0;
}

class CutShortClip : public ::testing::TestWithParam<std::int32_t> {};

// Types 10 (MPEG-4 v3), 11 (uncompressed) and 12 (DivX, MPEG-4 part 2):
// every cut point of a killed recording is repaired to exactly the frames
// that are whole, with the key frames the encoder marked.
TEST_P(CutShortClip, RepairKeepsEveryWholeFrameAtEveryCutPoint) {
  const std::int32_t type = GetParam();
  constexpr int kFrames = 17;  // past the key frame interval of 15
  TempDir dir;
  const std::string journalFolder = dir.File("state/framory");
  const std::string reference =
      RecordInChild(dir.File("ref"), dir.File("state-ref"), type, kFrames, 64, 48, true);
  const std::string killed =
      RecordInChild(dir.File("killed"), journalFolder, type, kFrames, 64, 48, false);

  // The finished clip leaves no record; the killed one leaves exactly its own.
  EXPECT_TRUE(ClipJournal(dir.File("state-ref")).TakeAbandoned().empty());
  ClipJournal journal(journalFolder);
  EXPECT_EQ(journal.TakeAbandoned(), std::vector<std::string>{killed});
  EXPECT_TRUE(journal.TakeAbandoned().empty()) << "a record is handed out once";

  // Until it is repaired, FFmpeg reads the killed clip as it is.
  EXPECT_EQ(ProbeClip(killed, true).ReadFrames, kFrames);

  const AviIndexReport ref = ReadAviIndex(reference);
  ASSERT_TRUE(ref.Ok) << ref.Problem;
  ASSERT_EQ(ref.Idx1.size(), std::size_t{kFrames});
  ASSERT_EQ(ref.FrameChunks.size(), std::size_t{kFrames});
  const std::vector<std::string> refSums = FrameMd5s(reference);
  ASSERT_EQ(refSums.size(), std::size_t{kFrames});
  const std::int64_t killedSize = static_cast<std::int64_t>(std::filesystem::file_size(killed));

  // Cut points: the header, and around and inside every frame chunk.
  const std::int64_t firstChunk = ref.FrameChunks.front();
  std::vector<std::int64_t> cuts = {0, 7, 100, firstChunk - 13, firstChunk - 1, firstChunk};
  for (const AviIndexEntry& e : ref.Idx1) {
    const std::int64_t end = e.Offset + 8 + e.Size + (e.Size & 1);
    for (std::int64_t c : {e.Offset + 3, e.Offset + 8, e.Offset + 8 + e.Size / 2, end - 1, end}) {
      if (c <= killedSize) cuts.push_back(c);
    }
  }
  cuts.push_back(killedSize);

  const std::string work = dir.File("work.avi");
  int probed = 0;
  for (const std::int64_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(killedSize));
    ASSERT_TRUE(CopyPrefix(killed, work, cut));
    AviRepair repair(work);
    const AviRepair::Outcome outcome = repair.Run();
    if (cut < firstChunk) {
      // Before the first frame the header itself may be incomplete; either
      // way nothing is changed and no frame is claimed.
      EXPECT_NE(outcome, AviRepair::Outcome::Complete);
      if (outcome != AviRepair::Outcome::Repaired) {
        EXPECT_EQ(static_cast<std::int64_t>(std::filesystem::file_size(work)), cut);
        continue;
      }
    } else {
      ASSERT_EQ(outcome, AviRepair::Outcome::Repaired);
    }
    std::size_t whole = 0;
    while (whole < ref.Idx1.size() && ref.Idx1[whole].Offset + 8 + ref.Idx1[whole].Size <= cut) {
      ++whole;
    }
    EXPECT_EQ(repair.Frames(), static_cast<std::int64_t>(whole));

    const AviIndexReport fixed = ReadAviIndex(work);
    ASSERT_TRUE(fixed.Ok) << fixed.Problem;
    EXPECT_EQ(fixed.AvihFrames, whole);
    EXPECT_EQ(fixed.StrhLength, whole);
    EXPECT_TRUE(fixed.IndexesMatchChunks);
    EXPECT_EQ(fixed.Idx1, std::vector<AviIndexEntry>(ref.Idx1.begin(), ref.Idx1.begin() + whole))
        << "the index is the one the muxer writes for these frames";

    // Running it again finds nothing to do.
    const auto size = std::filesystem::file_size(work);
    EXPECT_EQ(AviRepair(work).Run(), AviRepair::Outcome::Complete);
    EXPECT_EQ(std::filesystem::file_size(work), size);

    // Decoded by FFmpeg through the index: the same pictures, and a duration
    // of one frame period per frame (checked on a share of the cuts).
    // (A clip without a frame has no stream parameters to probe.)
    if (whole == 0 || (probed++ % 4 != 0 && cut != killedSize)) continue;
    const Probe probe = ProbeClip(work, true);
    EXPECT_EQ(probe.HeaderFrames, static_cast<long long>(whole));
    EXPECT_EQ(probe.ReadFrames, static_cast<long long>(whole));
    EXPECT_NEAR(probe.Duration, whole * kPeriodMs / 1000.0, kPeriodMs / 1000.0);
    EXPECT_EQ(FrameMd5s(work), std::vector<std::string>(refSums.begin(), refSums.begin() + whole));
  }
}

INSTANTIATE_TEST_SUITE_P(AviTypes, CutShortClip,
                         ::testing::Values(OutputTypes::AviMpg4, OutputTypes::AviUncompressed,
                                           OutputTypes::AviDivx));

// Leaves a journal record of `clip` as a killed process would.
void AbandonRecord(const std::string& folder, const std::string& clip) {
  testing::ChildWaitStatus([&] {
    ClipJournal journal(folder);
    journal.Begin(clip);
    raise(SIGKILL);
  });
}

// The start-up step: every journalled clip is dealt with, and the user hears
// about it in one box: the repaired clip and the one that is not an AVI file;
// a clip whose file never came to be is not worth a word.
TEST(ClipRecoveryAtStart, OneBoxNamesWhatWasRepairedAndWhatWasNot) {
  TempDir dir;
  const std::string folder = dir.File("state");
  const std::string killed =
      RecordInChild(dir.Path(), folder, OutputTypes::AviUncompressed, 5, 64, 48, false);
  const std::string notAvi = dir.File("notes.avi");
  testing::WriteWholeFile(notAvi, "not a movie");
  AbandonRecord(folder, notAvi);
  AbandonRecord(folder, dir.File("never-written.avi"));

  ClipJournal journal(folder);
  FakeBoxes boxes;
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, kClipRepairCaption);
  EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed}, {notAvi}));
  EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::IconWarning);
  EXPECT_TRUE(ReadAviIndex(killed).Ok);
  EXPECT_EQ(testing::ReadWholeFile(notAvi), "not a movie");

  // Everything was handed out once: the next start says nothing.
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 0);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

// A clip that cannot be written at the start (here: a file-size limit, as a
// full disk would) keeps its record and is repaired at the start after.
TEST(ClipRecoveryAtStart, AClipThatCannotBeWrittenNowIsTriedAgainNextTime) {
  TempDir dir;
  const std::string folder = dir.File("state");
  const std::string killed =
      RecordInChild(dir.Path(), folder, OutputTypes::AviUncompressed, 4, 64, 48, false);
  const std::string shown = RunInChild(
      [&] {
        ClipJournal journal(folder);
        FakeBoxes boxes;
        const int repaired = ClipRecovery(journal, boxes).Run();
        if (repaired != 0 || boxes.shown.size() != 1 ||
            boxes.shown[0].flags != MessageBoxFlags::IconWarning) {
          return "repaired " + std::to_string(repaired) + ", boxes " +
                 std::to_string(boxes.shown.size());
        }
        return boxes.shown[0].text;
      },
      std::filesystem::file_size(killed));
  EXPECT_EQ(shown, ClipRecovery::Message({}, {}, {killed}));
  EXPECT_GT(ProbeClip(killed, true).ReadFrames, 0) << "FFmpeg still reads what is there";

  ClipJournal journal(folder);
  FakeBoxes boxes;
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed}, {}));
  EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::IconInformation);
  EXPECT_TRUE(ReadAviIndex(killed).Ok);
}

// Anything that is not a clip of ours is left alone.
TEST(AviRepairInput, RefusesWhatIsNotAnAviClip) {
  TempDir dir;
  EXPECT_EQ(AviRepair(dir.File("missing.avi")).Run(), AviRepair::Outcome::NoFile);
  testing::WriteWholeFile(dir.File("empty.avi"), "");
  EXPECT_EQ(AviRepair(dir.File("empty.avi")).Run(), AviRepair::Outcome::NoFile);
  const std::string text = "RIFF\x10\0\0\0WAVEfmt nothing of use here";
  testing::WriteWholeFile(dir.File("sound.avi"), text);
  EXPECT_EQ(AviRepair(dir.File("sound.avi")).Run(), AviRepair::Outcome::Unrepairable);
  EXPECT_EQ(testing::ReadWholeFile(dir.File("sound.avi")), text);
  // A huge chunk size in the header must not be followed off the end.
  std::string bogus("RIFF\0\0\0\0AVI LIST\xff\xff\xff\x7fhdrl", 24);
  bogus += std::string(64, 'x');
  testing::WriteWholeFile(dir.File("bogus.avi"), bogus);
  EXPECT_EQ(AviRepair(dir.File("bogus.avi")).Run(), AviRepair::Outcome::Unrepairable);
  // A FIFO in the clip's place does not hang the start-up.
  ASSERT_EQ(mkfifo(dir.File("fifo.avi").c_str(), 0600), 0);
  EXPECT_EQ(AviRepair(dir.File("fifo.avi")).Run(), AviRepair::Outcome::Unrepairable);
}

// Damage on top of the cut (a flipped byte in the header or in a chunk
// header, as a failing disk leaves it): the repair always ends, never writes
// outside the file's own structure, and what it repaired it finds complete.
TEST(AviRepairInput, DamagedClipsNeverHangAndStayRepairable) {
  TempDir dir;
  const std::string killed =
      RecordInChild(dir.Path(), dir.File("state"), OutputTypes::AviUncompressed, 6, 32, 16, false);
  const std::string original = testing::ReadWholeFile(killed);
  ASSERT_FALSE(original.empty());
  const AviIndexReport layout = ReadAviIndex(killed);
  const std::string work = dir.File("work.avi");
  unsigned seed = 12345;
  const auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  int repaired = 0;
  for (int round = 0; round < 300; ++round) {
    std::string damaged = original;
    // Half the rounds hit the header, half the frame chunk headers.
    std::size_t at = next() % 6000;
    if (round % 2 == 1 && !layout.FrameChunks.empty()) {
      at = static_cast<std::size_t>(layout.FrameChunks[next() % layout.FrameChunks.size()]) +
           next() % 8;
    }
    if (at >= damaged.size()) continue;
    damaged[at] = static_cast<char>(next() >> 8);
    damaged.resize(damaged.size() - next() % 200);
    ASSERT_TRUE(testing::WriteWholeFile(work, damaged));
    SCOPED_TRACE("round " + std::to_string(round) + ", byte " + std::to_string(at));
    if (AviRepair(work).Run() != AviRepair::Outcome::Repaired) continue;
    ++repaired;
    EXPECT_EQ(AviRepair(work).Run(), AviRepair::Outcome::Complete);
  }
  EXPECT_GT(repaired, 100) << "most damage outside the needed fields is repaired";
}

// Past 1 GB the muxer goes on in "RIFF AVIX" parts with OpenDML indexes.
// A killed recording that has started its second part is repaired with the
// second part's standard index and super index entry; then the same file is
// cut back further: into the second part's header (which leaves a file of
// one part) and into the first part's closing index.
TEST(CutShortClipOpenDml, RepairWritesTheOpenDmlIndexes) {
  TempDir dir;
  struct statvfs fs;
  if (statvfs(dir.Path().c_str(), &fs) == 0 &&
      static_cast<double>(fs.f_bavail) * fs.f_frsize < 3.0e9) {
    GTEST_SKIP() << "needs 3 GB of free space in " << dir.Path();
  }
  // 1920 x 1088 uncompressed: 8 MB a frame, 128 frames to the first 1 GB.
  constexpr int kFrames = 134;
  const std::string clip = RecordInChild(dir.Path(), dir.File("state"),
                                         OutputTypes::AviUncompressed, kFrames, 1920, 1088, false);
  const std::int64_t frameChunk = 8 + 1920 * 1088 * 4;
  const std::int64_t size = static_cast<std::int64_t>(std::filesystem::file_size(clip));

  const auto check = [&](const std::string& what, std::int64_t wantFrames, std::int32_t wantParts) {
    SCOPED_TRACE(what);
    AviRepair repair(clip);
    ASSERT_EQ(repair.Run(), AviRepair::Outcome::Repaired);
    EXPECT_EQ(repair.Frames(), wantFrames);
    const AviIndexReport r = ReadAviIndex(clip);
    ASSERT_TRUE(r.Ok) << r.Problem;
    EXPECT_EQ(r.Parts, wantParts);
    EXPECT_EQ(r.StrhLength, wantFrames);
    EXPECT_TRUE(r.IndexesMatchChunks);
    EXPECT_EQ(static_cast<std::int64_t>(r.FrameChunks.size()), wantFrames);
    if (wantParts > 1) {
      EXPECT_EQ(r.DmlhFrames, wantFrames);
      EXPECT_EQ(r.SuperIndexEntries, wantParts);
      EXPECT_EQ(r.SuperIndexFrames, wantFrames);
      EXPECT_EQ(static_cast<std::int64_t>(r.Ix.size()), wantFrames);
      EXPECT_EQ(r.AvihFrames + 0u, r.Idx1.size()) << "the main header counts the first part";
    } else {
      EXPECT_EQ(r.DmlhFrames, -1) << "a file of one part is not an OpenDML file";
      EXPECT_EQ(r.SuperIndexEntries, 0);
      EXPECT_EQ(r.AvihFrames, wantFrames);
      EXPECT_EQ(static_cast<std::int64_t>(r.Idx1.size()), wantFrames);
    }
    const Probe probe = ProbeClip(clip, false);
    EXPECT_EQ(probe.HeaderFrames, wantFrames);
    EXPECT_EQ(probe.ReadFrames, wantFrames);
    EXPECT_NEAR(probe.Duration, wantFrames * kPeriodMs / 1000.0, kPeriodMs / 1000.0);
    EXPECT_EQ(AviRepair(clip).Run(), AviRepair::Outcome::Complete);
  };

  // As the kill left it: whole frames only (raw frames have a fixed size).
  const AviIndexReport before = ReadAviIndex(clip);
  EXPECT_FALSE(before.Ok) << "the killed file is not finished";
  check("as killed", kFrames, 2);

  // Cut inside the last frame of the second part.
  const AviIndexReport two = ReadAviIndex(clip);
  const std::int64_t lastFrame = two.FrameChunks.back();
  ASSERT_EQ(truncate(clip.c_str(), lastFrame + frameChunk / 2), 0);
  check("cut in the last frame", kFrames - 1, 2);

  // Cut inside the second part's header: the first part alone remains.
  const std::int64_t firstPartFrames = static_cast<std::int64_t>(two.Idx1.size());
  ASSERT_GT(firstPartFrames, 0);
  ASSERT_LT(firstPartFrames, kFrames);
  const std::int64_t secondPart = two.FrameChunks[firstPartFrames] - 24;
  ASSERT_EQ(truncate(clip.c_str(), secondPart + 10), 0);
  check("cut in the second part's header", firstPartFrames, 1);

  // Cut inside the index that closed the first part, as if killed while
  // closing it: the first part loses nothing.
  ASSERT_EQ(truncate(clip.c_str(), two.FrameChunks[firstPartFrames - 1] + frameChunk + 20), 0);
  check("cut in the first part's index", firstPartFrames, 1);
  (void)size;
}

}  // namespace
}  // namespace framory
