// What screen-change tracking saves when recording the whole 1920 × 1080
// screen at TimerValue 40: Framory's capture path (the recorder's periodic
// timer, FrameGrabber over the X11 grabber, ClipSession and the clip's
// writer) with change tracking, the same without it, and
// `ffmpeg -f x11grab -framerate 25` writing the same screen with the same
// codec at the same quality, one after the other in the same run, in two
// scenes:
//
//  - still: nothing moves on the desktop (Framory stores repeats, or reads
//    nothing, where ffmpeg grabs and encodes every frame);
//  - motion: a window of another process covers the screen and repaints all
//    of it about 50 times a second (every frame differs everywhere, so
//    tracking can only cost: it must cost nothing noticeable).
//
// Framory records each way twice, for half the time each, in the order
// tracked, not, not, tracked. For each row it prints the frame slots in the
// files, the CPU seconds of the recorder (user + system, all threads) and
// of the X server meanwhile, and the recorder's CPU as a ratio against
// ffmpeg's in the same scene.
//
//   tests/support/with-xvfb.sh -- build/bench/damage_capture_bench [seconds] [types] [scenes]
//
// `seconds` per recording (60 unless given); `types` a comma-separated list
// of output types among 12 (AVI DivX), 15 (QuickTime), 16 (WMV 384 kbps),
// 12 unless given; `scenes` "still", "motion" or both (the default).
#include <QCoreApplication>
#include <QTimer>

#include <X11/Xlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "app/Recorder.h"
#include "app/TrayState.h"
#include "base/LastError.h"
#include "base/MessageBoxService.h"
#include "base/OutputType.h"
#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "platform/media/FfmpegAviFileLibrary.h"
#include "platform/media/MediaLog.h"
#include "platform/qt/QtSocketWatcher.h"
#include "platform/qt/QtTimerService.h"
#include "platform/x11/X11ScreenChanges.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace {

using namespace framory;
using namespace framory::bench;

constexpr std::int32_t kTimerValue = 40;  // milliseconds: 25 shots a second
constexpr const char* kFfmpegRate = "25";

struct Case {
  const char* name;
  std::int32_t outputType;
  const char* extension;
  // ffmpeg's output options for the same codec, key-frame distance and
  // quality as the type's writer.
  std::vector<std::string> ffmpegCodec;
};

const std::vector<Case> kCases = {
    // The AVI codec stream: fixed quantiser 3, a key frame every 15 frames,
    // no B-frames.
    {"AVI type 12 (DivX, MPEG-4 part 2)",
     OutputTypes::AviDivx,
     ".avi",
     {"-c:v", "mpeg4", "-vtag", "DIVX", "-q:v", "3", "-g", "15", "-bf", "0"}},
    // Photo-JPEG at normal quality (libjpeg quality 75).
    {"QuickTime type 15 (Photo-JPEG)",
     OutputTypes::QuickTimeMov,
     ".mov",
     {"-c:v", "mjpeg", "-q:v", "4", "-f", "mov"}},
    // The 384 kbps profile: 352 kbps of WMV 8 video, a key frame every 5 s.
    {"WMV type 16 (384 kbps profile)",
     OutputTypes::WmvV80_384Video,
     ".wmv",
     {"-c:v", "wmv2", "-b:v", "352k", "-g", "125", "-bf", "0", "-f", "asf"}},
};

struct Cost {
  bool ok = false;
  long frames = 0;
  double cpuSeconds = 0;     // the recorder, every thread
  double serverSeconds = 0;  // the X server meanwhile
};

// The clip's frame slots: its duration in frame periods (repeats stored
// as durations or gaps count as the slots they fill).
long CountSlots(const std::string& path) {
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries stream=duration -of csv=p=0 '" + path +
      "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[64] = {};
  const bool read = std::fgets(line, sizeof line, pipe) != nullptr;
  pclose(pipe);
  return read ? static_cast<long>(std::atof(line) * 1000.0 / kTimerValue + 0.5) : -1;
}

// Points the QuickTime bridge at the runtime built beside this program.
void UseBuiltRuntime(const std::string& folder) {
#ifdef QUICKTIME_RUNTIME_DIR
  if (std::getenv("FRAMORY_MACHINE_REGISTRY") != nullptr) return;
  const std::string store = folder + "/machine.ini";
  std::ofstream(store) << "[Software\\Apple Computer, Inc.\\QuickTime]\n"
                       << "QuickTime.qts folder=" << QUICKTIME_RUNTIME_DIR << "\n";
  setenv("FRAMORY_MACHINE_REGISTRY", store.c_str(), 1);
#else
  (void)folder;
#endif
}

// Records `seconds` of the whole screen into `folder` the way the program
// does: capture on the periodic timer, the cursor drawn in (as x11grab
// draws it), screen changes tracked or not.
Cost RecordWithFramory(const Case& c, bool tracking, int seconds, const std::string& folder,
                       pid_t server) {
  BenchRecorder bench("damage_capture_bench");
  Settings& settings = bench.settings;
  settings.SetProjectDirectory(folder + "/");
  settings.SetProjectName(tracking ? "tracking" : "plain");
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(c.outputType);
  settings.SetTimerValue(kTimerValue);
  settings.SetTakeShotOnTimer(true);
  settings.SetTakeShotOnPrintScreen(false);
  settings.SetUseMainAppWindow(false);
  settings.SetUseDesktopWindow(true);
  settings.SetPutCursorInBitmap(true);
  if (tracking) bench.TrackScreenChanges();
  if (!bench.Valid()) return Cost{};

  const RecordingCost recorded = bench.Record(seconds, server);
  Cost cost;
  cost.cpuSeconds = recorded.cpuSeconds;
  cost.serverSeconds = recorded.serverSeconds;
  for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
    if (entry.path().extension() == c.extension) cost.frames += CountSlots(entry.path());
  }
  cost.ok = cost.frames > 0 && !recorded.boxShown;
  return cost;
}

Cost RecordWithFfmpeg(const Case& c, int width, int height, int seconds, const std::string& folder,
                      pid_t server) {
  const std::string path = folder + "/ffmpeg" + c.extension;
  std::vector<std::string> argv = {
      "ffmpeg",       "-nostdin",
      "-hide_banner", "-loglevel",
      "quiet",        "-y",
      "-f",           "x11grab",
      "-framerate",   kFfmpegRate,
      "-video_size",  std::to_string(width) + "x" + std::to_string(height),
      "-i",           std::string(std::getenv("DISPLAY")) + "+0,0",
      "-t",           std::to_string(seconds)};
  argv.insert(argv.end(), c.ffmpegCodec.begin(), c.ffmpegCodec.end());
  argv.push_back(path);

  Cost cost;
  rusage usage{};
  const double serverBefore = ProcessCpuSeconds(server);
  const bool ran = Run(argv, &usage, false);
  cost.serverSeconds = ProcessCpuSeconds(server) - serverBefore;
  cost.cpuSeconds = CpuSeconds(usage);
  cost.frames = ran ? CountSlots(path) : 0;
  cost.ok = ran && cost.frames > 0;
  return cost;
}

void Add(Cost* total, const Cost& more) {
  total->ok = total->ok && more.ok;
  total->frames += more.frames;
  total->cpuSeconds += more.cpuSeconds;
  total->serverSeconds += more.serverSeconds;
}

void PrintRow(const char* who, const Cost& cost, const Cost& ffmpeg) {
  std::printf("  %-30s %7ld %10.2f %12.2f", who, cost.frames, cost.cpuSeconds, cost.serverSeconds);
  if (cost.ok && ffmpeg.ok && ffmpeg.cpuSeconds > 0) {
    std::printf(" %10.3f", cost.cpuSeconds / ffmpeg.cpuSeconds);
  }
  std::printf("%s\n", cost.ok ? "" : "   FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  QuietMediaLog();  // the WMV rate control's complaints, as in the program
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 60;
  const std::string types = argc > 2 ? argv[2] : "12";
  const std::string scenes = argc > 3 ? argv[3] : "still,motion";
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "damage_capture_bench: no X display\n");
    return 1;
  }
  const int width = DisplayWidth(display, DefaultScreen(display));
  const int height = DisplayHeight(display, DefaultScreen(display));
  XCloseDisplay(display);
  const pid_t server = XServerPid();

  char folderTemplate[] = "/tmp/damage_capture_bench.XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string folder = folderTemplate;
  UseBuiltRuntime(folder);

  std::printf("screen %dx%d, %d s per recording; Framory at TimerValue %d, ffmpeg at %s frames/s\n",
              width, height, seconds, kTimerValue, kFfmpegRate);
  bool allOk = true;
  for (const Case& c : kCases) {
    if (("," + types + ",").find("," + std::to_string(c.outputType) + ",") == std::string::npos) {
      continue;
    }
    for (const bool moving : {false, true}) {
      if (scenes.find(moving ? "motion" : "still") == std::string::npos) continue;
      std::printf("%s, %s\n", c.name, moving ? "full-screen motion" : "still desktop");
      std::printf("  %-30s %7s %10s %12s %10s\n", "", "slots", "CPU s", "X server s", "/ ffmpeg");
      const std::string caseFolder =
          folder + "/" + std::to_string(c.outputType) + (moving ? "m" : "s");
      std::filesystem::create_directories(caseFolder);
      StripedWindow motion;
      if (moving) {
        motion.Start(0, 0, width, height);
        std::this_thread::sleep_for(std::chrono::seconds(1));  // mapped and drawing
      }
      const Cost ffmpeg = RecordWithFfmpeg(c, width, height, seconds, caseFolder, server);
      // Tracked and not, in the order A B B A, each half the time: what runs
      // earlier or later on a shared machine weighs on both alike.
      const int half = std::max(1, seconds / 2);
      Cost tracked = RecordWithFramory(c, true, half, caseFolder + "/1", server);
      Cost plain = RecordWithFramory(c, false, half, caseFolder + "/2", server);
      Add(&plain, RecordWithFramory(c, false, seconds - half, caseFolder + "/3", server));
      Add(&tracked, RecordWithFramory(c, true, seconds - half, caseFolder + "/4", server));
      PrintRow("ffmpeg -f x11grab", ffmpeg, ffmpeg);
      PrintRow("Framory, changes tracked", tracked, ffmpeg);
      PrintRow("Framory, not tracked", plain, ffmpeg);
      if (tracked.ok && plain.ok && plain.cpuSeconds > 0) {
        std::printf("  tracked / not tracked: %.3f\n", tracked.cpuSeconds / plain.cpuSeconds);
      }
      std::fflush(stdout);
      allOk = allOk && ffmpeg.ok && tracked.ok && plain.ok;
      std::filesystem::remove_all(caseFolder);
    }
  }
  std::filesystem::remove_all(folder);
  return allOk ? 0 : 1;
}
