// The screen encoder's clips (output type 19) cut short by kill -9, on
// Xvfb: a child records a region of the screen through the real clip
// session and encoder and is killed at 50 points of its clip; the journal
// names each clip as an ASF clip of type 19, and the start-up repair makes
// of each a file that FFmpeg and VLC read: every frame decodes, at most the
// frame being written at the kill is missing, the duration reaches one
// period past the last frame, and a second repair changes no byte.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/encoder/WmEncoderLibrary.h"
#include "support/ClipRecording.h"
#include "support/HeldChild.h"
#include "support/MediaProbe.h"
#include "support/ShellCommand.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"
#include "writers/AsfRepair.h"
#include "writers/ClipJournal.h"
#include "writers/ClipRepair.h"

namespace framory {
namespace {

using testing::CommandOutput;
using testing::ReadWholeFile;
using testing::TempDir;

constexpr std::int32_t kPeriodMs = 100;
constexpr int kKills = 50;

// The clip's video packets as ffprobe lists them (their times in seconds),
// its duration, and what the decoder said.
struct ClipReading {
  std::vector<double> Times;
  double Duration = -1;
  long long Decoded = 0;
  std::string Errors;
};
ClipReading Read(const std::string& path, const std::string& folder) {
  ClipReading r;
  std::istringstream packets(
      CommandOutput("ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of "
                    "csv=p=0 '" +
                    path + "' 2>/dev/null"));
  std::string line;
  while (std::getline(packets, line)) {
    if (!line.empty() && line != "N/A") r.Times.push_back(std::stod(line));
  }
  const std::string duration =
      CommandOutput("ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 '" +
                    path + "' 2>/dev/null");
  if (!duration.empty() && duration != "N/A\n") r.Duration = std::stod(duration);
  const std::string errors = folder + "/errors.txt";
  const std::string count = CommandOutput("ffmpeg -v error -i '" + path + "' -f framemd5 - 2>'" +
                                          errors + "' | grep -vc '^#'");
  r.Decoded = std::atoll(count.c_str());
  r.Errors = ReadWholeFile(errors);
  return r;
}

// Keeps the region busy for `milliseconds`: a patterned window moved to a
// new place every few hundredths of a second, so that every frame differs
// and the encoder's packets fill (a quiet screen makes frames of a few
// bytes, which stay in the muxer's packet until it is full).
void MoveThingsFor(int milliseconds) {
  X11TestWindows motion;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  Window shown = 0;
  for (int step = 0; std::chrono::steady_clock::now() < end; ++step) {
    const Window next =
        motion.CreatePattern(10 + (step * 13) % 60, 10 + (step * 7) % 40, 120, 90, true);
    motion.MapAndWait(next);
    if (shown != 0) motion.Destroy(shown);
    shown = next;
    motion.Sync();
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
  }
}

TEST(ScreenEncoderClipKilled, EveryKillPointIsRepairedToAPlayableClip) {
  X11TestWindows windows;
  ASSERT_TRUE(windows.Valid());
  TempDir dir;
  int repaired = 0;
  bool vlcChecked = false;
  for (int kill = 0; kill < kKills; ++kill) {
    // Killed from a tenth of a second to two and a half seconds into the clip.
    const int recordMs = 100 + (kill * 397) % 2400;
    SCOPED_TRACE("killed after " + std::to_string(recordMs) + " ms");
    const std::string folder = dir.File("kill" + std::to_string(kill));
    const std::string state = folder + "/state";
    testing::HeldChild child([&](const std::function<void()>& hold) {
      WmEncoderLibrary encoders;
      ClipJournal journal(state);
      testing::ClipRecording r(
          testing::ClipRecordingOptions(".wmv", OutputTypes::ScreenEncoder, kPeriodMs, folder));
      r.settings.SetRecordSound(false);
      r.factory.SetEncoderServices(&encoders);
      r.factory.SetJournal(&journal);
      r.session.DeliverMovieFrame(nullptr, kNoWindow, Rect{10, 10, 170, 130});
      MoveThingsFor(recordMs);
      hold();
    });
    ASSERT_TRUE(child.Ready());
    const int status = child.Kill();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "status " << status;

    const std::vector<JournalledClip> records = ClipJournal(state).TakeAbandonedClips();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].Kind, ClipKind::Asf);
    EXPECT_EQ(records[0].Fact("type"), std::to_string(OutputTypes::ScreenEncoder));
    const std::string clip = records[0].Path;
    const long long readable = static_cast<long long>(Read(clip, folder).Times.size());
    const ClipRepairOutcome outcome = RepairAsfClip(records[0]);
    if (outcome != ClipRepairOutcome::Repaired) {
      EXPECT_TRUE(outcome == ClipRepairOutcome::NoFile ||
                  outcome == ClipRepairOutcome::Unrepairable)
          << static_cast<int>(outcome);
      EXPECT_EQ(readable, 0);
      continue;
    }
    ++repaired;
    const ClipReading after = Read(clip, folder);
    std::printf("killed after %d ms: %zu frames on disk\n", recordMs, after.Times.size());
    EXPECT_EQ(after.Errors, "") << "every frame decodes";
    EXPECT_EQ(after.Decoded, static_cast<long long>(after.Times.size()));
    EXPECT_GE(static_cast<long long>(after.Times.size()), readable - 1)
        << "at most the frame cut off by the kill is missing";
    if (!after.Times.empty()) {
      EXPECT_NEAR(after.Duration, after.Times.back() + kPeriodMs / 1000.0, kPeriodMs / 1000.0);
      if (!vlcChecked && after.Times.size() >= 6) {
        vlcChecked = true;
        EXPECT_GE(testing::VlcFrameCount(clip), static_cast<long long>(after.Times.size()) - 4)
            << "VLC reads the repaired clip";
      }
    }
    const std::string bytes = ReadWholeFile(clip);
    EXPECT_EQ(AsfRepair(clip).Run(), AsfRepair::Outcome::Complete);
    EXPECT_TRUE(ReadWholeFile(clip) == bytes) << "a second repair changes no byte";
  }
  EXPECT_GT(repaired, kKills / 2);
  EXPECT_TRUE(vlcChecked);
}

}  // namespace
}  // namespace framory
