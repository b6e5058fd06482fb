// WMV clips cut short the way a crash or kill -9 leaves them, and their
// repair. A child process records through the real clip session, WMV writer
// and FFmpeg ASF layer and is killed at many points of the clip (while its
// encoding thread still writes); the same frames recorded and finished
// normally are the reference. Each killed file, and copies cut at chosen
// offsets, are repaired and read back with ffprobe/ffmpeg (and VLC): every
// frame decodes to the reference's picture, at most the frame being written
// at the kill is missing, the duration is the frames', and a second repair
// changes no byte. A finished file with its closing undone is repaired back
// to exactly the bytes the muxer's close wrote.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/ClipRecovery.h"
#include "support/ChildProcess.h"
#include "support/ClipRecording.h"
#include "support/HeldChild.h"
#include "support/MediaProbe.h"
#include "support/RecorderFakes.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "writers/AsfRepair.h"
#include "writers/ClipJournal.h"
#include "writers/ClipRepair.h"
#include "writers/OutputFormats.h"
#include "writers/WmFormatApi.h"
#include "writers/WmvWriter.h"

namespace framory {
namespace {

using testing::CommandOutput;
using testing::FakeBoxes;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::TestPicture;
using testing::WriteWholeFile;

constexpr std::int32_t kPeriodMs = 100;
constexpr int kFrames = 50;
constexpr std::int32_t kWidth = 96;
constexpr std::int32_t kHeight = 64;

// Content the codec must spend bits on, different in every frame.
TestPicture Grainy(int seed) {
  TestPicture p(kWidth, kHeight);
  std::uint32_t state = 2166136261u ^ static_cast<std::uint32_t>(seed) * 16777619u;
  for (std::int32_t y = 0; y < kHeight; ++y) {
    for (std::int32_t x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      const std::uint32_t v = (x * 2 + seed * 5 + (state >> 27)) & 0xFF;
      p.At(x, y) = (v << 16) | ((y * 3) & 0xFF) << 8 | (255 - v);
    }
  }
  return p;
}

// The video stream as ffprobe counts it (packets, no decoding) and its
// duration in seconds; -1 where it has none.
struct Probe {
  long long Packets = -1;
  double Duration = -1;
};
Probe ProbeClip(const std::string& path) {
  std::istringstream out(
      CommandOutput("ffprobe -v error -count_packets -select_streams v:0 -show_entries "
                    "stream=nb_read_packets:format=duration -of default=nw=1 '" +
                    path + "' 2>/dev/null"));
  Probe p;
  std::string line;
  while (std::getline(out, line)) {
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || line.substr(eq + 1) == "N/A") continue;
    if (line.compare(0, eq, "nb_read_packets") == 0) p.Packets = std::stoll(line.substr(eq + 1));
    if (line.compare(0, eq, "duration") == 0) p.Duration = std::stod(line.substr(eq + 1));
  }
  return p;
}

// One MD5 per decoded frame, and whatever the decoder complained about.
struct Decoded {
  std::vector<std::string> Sums;
  std::string Errors;
};
Decoded DecodeClip(const std::string& path, const std::string& folder) {
  const std::string errors = folder + "/decode-errors.txt";
  std::istringstream out(
      CommandOutput("ffmpeg -v error -i '" + path + "' -f framemd5 - 2>'" + errors + "'"));
  Decoded d;
  std::string line;
  while (std::getline(out, line)) {
    if (!line.empty() && line[0] != '#') d.Sums.push_back(line.substr(line.rfind(',') + 1));
  }
  d.Errors = ReadWholeFile(errors);
  return d;
}

testing::ClipRecordingOptions WmvOptions(std::int32_t type, const std::string& folder) {
  return testing::ClipRecordingOptions(".wmv", type, kPeriodMs, folder)
      .Wmv(CreateWmFormatLibrary(), "file:///help");
}

// Records frames 0..frames-1 in a child journalled in `journalFolder`:
// ended normally, or killed at once after the last was handed over (the
// encoding thread is then still at work). Returns the clip's path.
std::string RecordInChild(const std::string& folder, const std::string& journalFolder,
                          std::int32_t type, int frames, bool finish) {
  const std::string path = folder + "/shots/movie0.wmv";
  const auto record = [&](testing::ClipRecording& r, ClipJournal& journal) {
    r.factory.SetJournal(&journal);
    for (int i = 0; i < frames; ++i) {
      const TestPicture picture = Grainy(i);
      r.session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    }
  };
  if (finish) {
    EXPECT_EQ(testing::RunInChild([&] {
                ClipJournal journal(journalFolder);
                testing::ClipRecording r(WmvOptions(type, folder));
                record(r, journal);
                r.session.EndClip();
                return r.host.reports.empty() ? std::string("finished")
                                              : "reported " + r.host.reports[0];
              }),
              "finished");
    return path;
  }
  testing::HeldChild child([&](const std::function<void()>& hold) {
    ClipJournal journal(journalFolder);
    testing::ClipRecording r(WmvOptions(type, folder));
    record(r, journal);
    hold();
  });
  const int status = child.Kill();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;
  return path;
}

bool CopyPrefix(const std::string& from, const std::string& to, std::int64_t bytes) {
  std::error_code error;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
  return !error && truncate(to.c_str(), bytes) == 0;
}

std::uint64_t Le64(const std::string& s, std::size_t at) {
  std::uint64_t v = 0;
  for (int b = 7; b >= 0; --b) v = (v << 8) | static_cast<unsigned char>(s[at + b]);
  return v;
}

// Where the clip's data packets lie, read from the finished reference with
// a walk of its own: the Data object's offset and the packet size.
struct AsfLayout {
  std::size_t Data = 0;
  std::size_t FileProperties = 0;
  std::uint32_t Packet = 0;
  std::uint64_t Packets = 0;
  std::size_t First() const { return Data + 50; }
};
AsfLayout LayoutOf(const std::string& bytes) {
  static const char kFileProperties[] =
      "\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65";
  AsfLayout l;
  if (bytes.size() < 30) return l;
  l.Data = static_cast<std::size_t>(Le64(bytes, 16));
  l.FileProperties = bytes.find(std::string(kFileProperties, 16));
  if (l.FileProperties == std::string::npos || l.Data + 50 > bytes.size()) return AsfLayout();
  l.Packet = static_cast<std::uint32_t>(Le64(bytes, l.FileProperties + 92) & 0xFFFFFFFFu);
  l.Packets = Le64(bytes, l.Data + 40);
  return l;
}

// What a repair must give for a clip whose first `readable` frames FFmpeg
// could read before: at most the last of them missing, every frame the
// reference's, decoded without a complaint, the duration the frames', and
// a second repair that changes nothing.
void CheckRepaired(const std::string& clip, long long readable,
                   const std::vector<std::string>& reference, const std::string& folder) {
  const Decoded d = DecodeClip(clip, folder);
  EXPECT_EQ(d.Errors, "") << "every frame decodes";
  const auto frames = static_cast<long long>(d.Sums.size());
  EXPECT_GE(frames, readable - 1) << "at most the frame cut off by the kill is missing";
  ASSERT_LE(d.Sums.size(), reference.size());
  EXPECT_EQ(d.Sums, std::vector<std::string>(reference.begin(), reference.begin() + frames));
  if (frames > 0) {
    const Probe p = ProbeClip(clip);
    EXPECT_EQ(p.Packets, frames);
    EXPECT_NEAR(p.Duration, frames * kPeriodMs / 1000.0, kPeriodMs / 2000.0);
  }
  const std::string repaired = ReadWholeFile(clip);
  EXPECT_EQ(AsfRepair(clip).Run(), AsfRepair::Outcome::Complete);
  EXPECT_TRUE(ReadWholeFile(clip) == repaired) << "a second repair changes no byte";
}

class KilledWmvClip : public ::testing::TestWithParam<std::int32_t> {};

// Killed after 1, 2, ... 50 frames: the journal names each clip, and every
// one is repaired to the frames that reached the disk.
TEST_P(KilledWmvClip, EveryKillPointIsRepairedToTheFramesOnDisk) {
  const std::int32_t type = GetParam();
  TempDir dir;
  const std::string reference =
      RecordInChild(dir.File("ref"), dir.File("state-ref"), type, kFrames, true);
  const Decoded ref = DecodeClip(reference, dir.Path());
  ASSERT_EQ(ref.Sums.size(), std::size_t{kFrames});
  ASSERT_EQ(ref.Errors, "");
  EXPECT_TRUE(ClipJournal(dir.File("state-ref")).TakeAbandoned().empty());
  const std::string clean = ReadWholeFile(reference);
  EXPECT_EQ(AsfRepair(reference).Run(), AsfRepair::Outcome::Complete);
  EXPECT_TRUE(ReadWholeFile(reference) == clean) << "a finished clip is left as it is";

  int repaired = 0;
  for (int frames = 1; frames <= kFrames; ++frames) {
    SCOPED_TRACE("killed after " + std::to_string(frames) + " frames");
    const std::string folder = dir.File("kill" + std::to_string(frames));
    const std::string state = folder + "/state";
    const std::string killed = RecordInChild(folder, state, type, frames, false);
    ClipJournal journal(state);
    const std::vector<JournalledClip> records = journal.TakeAbandonedClips();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Path, killed);
    EXPECT_EQ(records[0].Kind, ClipKind::Asf);
    EXPECT_EQ(records[0].Fact("type"), std::to_string(type));
    EXPECT_EQ(records[0].Fact("period-ms"), std::to_string(kPeriodMs));

    const long long readable = std::max(0LL, ProbeClip(killed).Packets);
    const auto size = std::filesystem::file_size(killed);
    // Repaired as the start-up repairs it, with the journal's facts.
    const AsfRepair::Outcome outcome = RepairAsfClip(records[0]);
    if (outcome != AsfRepair::Outcome::Repaired) {
      // Killed before the header reached the disk: nothing to repair, and
      // nothing changed.
      EXPECT_TRUE(outcome == AsfRepair::Outcome::NoFile ||
                  outcome == AsfRepair::Outcome::Unrepairable)
          << static_cast<int>(outcome);
      EXPECT_EQ(std::filesystem::file_size(killed), size);
      EXPECT_EQ(readable, 0);
      continue;
    }
    ++repaired;
    CheckRepaired(killed, readable, ref.Sums, folder);
    if (frames == kFrames) {
      // VLC plays it too (it leaves out a few frames at the ends of any clip).
      const long long vlc = testing::VlcFrameCount(killed);
      EXPECT_GE(vlc, static_cast<long long>(DecodeClip(killed, folder).Sums.size()) - 5)
          << "VLC reads the repaired clip";
    }
  }
  EXPECT_GT(repaired, kFrames / 2) << "most kills leave frames to repair";
}

INSTANTIATE_TEST_SUITE_P(WmvTypes, KilledWmvClip,
                         ::testing::Values(OutputTypes::WmvV80_384Video,
                                           OutputTypes::WmvV80_56Video,
                                           OutputTypes::WmvV80_700PALVideo));

class CutWmvClip : public ::testing::TestWithParam<std::int32_t> {};

// A finished clip with its closing undone (index gone, header as first
// written) is repaired to the very bytes the muxer's close wrote; cut at
// chosen offsets (inside the header, the Data object's header, the first and
// last packet, every packet) it keeps exactly the whole frames before the
// cut.
TEST_P(CutWmvClip, RepairWritesWhatClosingWritesAndKeepsEveryWholeFrame) {
  const std::int32_t type = GetParam();
  TempDir dir;
  const std::string reference = RecordInChild(dir.File("ref"), dir.File("s1"), type, kFrames, true);
  // The header as first written comes from a clip killed at its start.
  const std::string early = RecordInChild(dir.File("early"), dir.File("s2"), type, 1, false);
  const std::string clean = ReadWholeFile(reference);
  const std::string start = ReadWholeFile(early);
  const AsfLayout layout = LayoutOf(clean);
  ASSERT_GT(layout.Packet, 0u);
  ASSERT_GE(start.size(), layout.First()) << "the header reached the disk";
  ASSERT_EQ(LayoutOf(start).Data, layout.Data);
  const Decoded ref = DecodeClip(reference, dir.Path());
  ASSERT_EQ(ref.Sums.size(), std::size_t{kFrames});

  // Closing changes only the fields the repair writes.
  std::vector<std::size_t> changed;
  for (std::size_t i = 0; i < layout.First(); ++i) {
    if (clean[i] != start[i]) changed.push_back(i);
  }
  for (const std::size_t i : changed) {
    const std::size_t fp = layout.FileProperties;
    const bool field = (i >= fp + 40 && i < fp + 48) || (i >= fp + 56 && i < fp + 80) ||
                       (i >= layout.Data + 16 && i < layout.Data + 24) ||
                       (i >= layout.Data + 40 && i < layout.Data + 48);
    EXPECT_TRUE(field) << "byte " << i << " of the header changes on closing";
  }

  // The closing undone: the first header, the packets, no index.
  const std::size_t dataEnd = layout.First() + layout.Packets * layout.Packet;
  const std::string undone =
      start.substr(0, layout.First()) + clean.substr(layout.First(), dataEnd - layout.First());
  const std::string work = dir.File("work.wmv");
  ASSERT_TRUE(WriteWholeFile(work, undone));
  const std::int64_t frameMs = WmvWriter::FrameMilliseconds(kPeriodMs);
  AsfRepair again(work, frameMs);
  ASSERT_EQ(again.Run(), AsfRepair::Outcome::Repaired);
  EXPECT_EQ(again.Frames(), kFrames);
  const std::string rebuilt = ReadWholeFile(work);
  EXPECT_EQ(rebuilt.size(), clean.size());
  for (std::size_t i = 0, shown = 0; i < std::min(rebuilt.size(), clean.size()) && shown < 8; ++i) {
    if (rebuilt[i] == clean[i]) continue;
    ++shown;
    ADD_FAILURE() << "byte " << i << " is " << (rebuilt[i] & 0xFF) << ", closing wrote "
                  << (clean[i] & 0xFF) << " (data ends at " << dataEnd << ")";
  }

  // Cut points: in the header, in the Data object's header, and in and at
  // the end of every packet (the first and the last among them).
  std::vector<std::size_t> cuts = {40, layout.Data - 10, layout.Data + 20};
  for (std::size_t k = 0; k < layout.Packets; ++k) {
    const std::size_t at = layout.First() + k * layout.Packet;
    cuts.push_back(at + layout.Packet / 2);
    if (k % 5 == 4 || k + 1 == layout.Packets) cuts.push_back(at + layout.Packet);
  }
  int probed = 0;
  for (const std::size_t cut : cuts) {
    SCOPED_TRACE("cut at " + std::to_string(cut) + " of " + std::to_string(dataEnd));
    ASSERT_TRUE(WriteWholeFile(work, undone.substr(0, cut)));
    const bool probe = cut >= layout.First() + layout.Packet &&
                       (probed++ % 3 == 0 || cut + layout.Packet >= dataEnd);
    // What FFmpeg reads of the cut copy as it is.
    const long long readable = probe ? std::max(0LL, ProbeClip(work).Packets) : 0;
    const AsfRepair::Outcome outcome = AsfRepair(work, frameMs).Run();
    if (cut < layout.First()) {
      EXPECT_EQ(outcome, AsfRepair::Outcome::Unrepairable);
      EXPECT_TRUE(ReadWholeFile(work) == undone.substr(0, cut)) << "left untouched";
      continue;
    }
    ASSERT_EQ(outcome, AsfRepair::Outcome::Repaired);
    // The packets begun before the cut (the cut one written again with
    // the frames that lie whole in it), and the index.
    const std::size_t begun = (cut - layout.First() + layout.Packet - 1) / layout.Packet;
    EXPECT_LE(std::filesystem::file_size(work),
              layout.First() + begun * layout.Packet + 56 + 6 * (kFrames * kPeriodMs / 1000 + 5));
    // Decoded on a share of the cuts (ffmpeg takes its time).
    if (probe) CheckRepaired(work, readable, ref.Sums, dir.Path());
  }
}

INSTANTIATE_TEST_SUITE_P(WmvTypes, CutWmvClip,
                         ::testing::Values(OutputTypes::WmvV80_384Video,
                                           OutputTypes::WmvV80_56Video,
                                           OutputTypes::WmvV80_700PALVideo));

// The start-up step with WMV clips among the journalled ones: the killed
// clip is repaired and named; one whose header was cut off is named as not
// repairable and left as it is; the next start has nothing to say.
TEST(AsfClipRecoveryAtStart, OneBoxNamesTheRepairedAndTheUnrepairableWmvClips) {
  TempDir dir;
  const std::string state = dir.File("state");
  const std::string killed =
      RecordInChild(dir.File("a"), state, OutputTypes::WmvV80_384Video, 20, false);
  const std::string cutHeader = dir.File("cut-header.wmv");
  ASSERT_TRUE(CopyPrefix(killed, cutHeader, 200));
  const std::string cutBytes = ReadWholeFile(cutHeader);
  ASSERT_EQ(testing::ChildWaitStatus([&] {
              ClipJournal journal(state);
              journal.Begin(JournalledClipOf(OutputTypes::WmvV80_384Video, ClipKind::Asf, cutHeader,
                                             kPeriodMs));
              raise(SIGKILL);
            }) & 0x7F,
            SIGKILL);

  ClipJournal journal(state);
  FakeBoxes boxes;
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 1);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].caption, kClipRepairCaption);
  EXPECT_EQ(boxes.shown[0].text, ClipRecovery::Message({killed}, {cutHeader}));
  EXPECT_EQ(boxes.shown[0].flags, MessageBoxFlags::IconWarning);
  EXPECT_TRUE(ReadWholeFile(cutHeader) == cutBytes) << "the unrepairable clip is left as it is";
  EXPECT_GE(ProbeClip(killed).Packets, 1);
  EXPECT_EQ(AsfRepair(killed).Run(), AsfRepair::Outcome::Complete);
  EXPECT_EQ(ClipRecovery(journal, boxes).Run(), 0);
  EXPECT_EQ(boxes.shown.size(), 1u);
}

// What is not a WMV clip of ours is left alone, and nothing in a header
// makes the repair hang, read past the file or write a huge index.
TEST(AsfRepairInput, RefusesWhatIsNotAnAsfClip) {
  TempDir dir;
  EXPECT_EQ(AsfRepair(dir.File("missing.wmv")).Run(), AsfRepair::Outcome::NoFile);
  ASSERT_TRUE(WriteWholeFile(dir.File("empty.wmv"), ""));
  EXPECT_EQ(AsfRepair(dir.File("empty.wmv")).Run(), AsfRepair::Outcome::NoFile);
  const std::string avi = "RIFF\x10\0\0\0AVI LIST and more than thirty bytes of it";
  ASSERT_TRUE(WriteWholeFile(dir.File("avi.wmv"), avi));
  EXPECT_EQ(AsfRepair(dir.File("avi.wmv")).Run(), AsfRepair::Outcome::Unrepairable);
  EXPECT_EQ(ReadWholeFile(dir.File("avi.wmv")), avi);
  ASSERT_EQ(mkfifo(dir.File("fifo.wmv").c_str(), 0600), 0);
  EXPECT_EQ(AsfRepair(dir.File("fifo.wmv")).Run(), AsfRepair::Outcome::Unrepairable);

  // A real clip's header with hostile sizes: a huge header, a huge packet
  // size, an object running past the header.
  const std::string killed =
      RecordInChild(dir.File("k"), dir.File("state"), OutputTypes::WmvV80_56Video, 12, false);
  const std::string original = ReadWholeFile(killed);
  const AsfLayout layout = LayoutOf(original);
  ASSERT_GT(layout.Packet, 0u);
  const auto hostile = [&](std::size_t at, std::uint64_t value, int bytes) {
    std::string damaged = original;
    for (int b = 0; b < bytes; ++b) damaged[at + b] = static_cast<char>(value >> (8 * b));
    const std::string work = dir.File("hostile.wmv");
    EXPECT_TRUE(WriteWholeFile(work, damaged));
    const AsfRepair::Outcome outcome = AsfRepair(work).Run();
    EXPECT_EQ(outcome, AsfRepair::Outcome::Unrepairable) << "field at " << at;
    EXPECT_TRUE(ReadWholeFile(work) == damaged) << "field at " << at;
  };
  hostile(16, 0xFFFFFFFFFFFFull, 8);                      // header size
  hostile(layout.FileProperties + 16, 0x7FFFFFFFull, 8);  // an object's size
  hostile(layout.FileProperties + 92, 0x40000000u, 4);    // packet size
  hostile(layout.FileProperties + 92, 7, 4);              // min and max differ
  hostile(layout.Data, 0, 1);                             // no Data object
  // A first frame stamped 49 days in: its index would take megabytes.
  const std::size_t first = layout.First();
  const unsigned lengthFlags = static_cast<unsigned char>(original[first + 3]);
  const std::size_t paddingBytes = (lengthFlags >> 3 & 3) == 3 ? 4 : (lengthFlags >> 3 & 3);
  const std::size_t time = first + 5 + paddingBytes + 6 + (lengthFlags & 1) + 11;
  hostile(time, 0xFFFFFF00u, 4);
}

}  // namespace
}  // namespace framory
