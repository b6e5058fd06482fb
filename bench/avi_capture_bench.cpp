// Cost of recording AVI clips of the screen: Framory's own
// capture path (the recorder's periodic timer at the case's TimerValue,
// FrameGrabber over the X11 grabber, ClipSession, AviWriter over the FFmpeg
// AVI file library) against `ffmpeg -f x11grab` at 1000 / TimerValue frames
// a second writing the same screen with the same codec at the same quality,
// one after the other in the same run. A window of another process repaints
// part of the area all the time, so that frames differ. For each case it
// prints the frames in each file (counted by ffprobe; a timer-driven clip's
// empty chunks are not frames), the share of the frames the timer asks for
// while the recorder was active, and the CPU seconds each recorder used, all
// of its threads included, with their ratio per frame; the X server's CPU
// time is shown beside them, since both make it copy the screen.
//
//   tests/support/with-xvfb.sh -- build/bench/avi_capture_bench [seconds]
//
// A case records the area of its size at the screen's top left (the whole
// screen is recorded as the desktop window, as a user does); cases larger
// than the screen are skipped (with-xvfb.sh makes a 1920 × 1080 screen unless
// given --size).
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
#include "platform/qt/QtTimerService.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "writers/MovieWriterFactory.h"

namespace {

using namespace framory;
using namespace framory::bench;

struct Case {
  const char* name;
  int width, height;  // the recorded area, at the screen's top left
  std::int32_t outputType;
  std::int32_t timerValue;  // milliseconds between shots; ffmpeg gets 1000 / it frames a second
  // ffmpeg's output options for the same codec, key-frame distance and
  // quality as the type's AVI codec stream (fixed quantiser 3, a key frame
  // every 15 frames, no B-frames).
  std::vector<std::string> ffmpegCodec;
};

// ffmpeg's options for the AVI codec of each compressed type.
const std::vector<std::string> kMsMpeg4 = {"-c:v", "msmpeg4", "-vtag", "MP43", "-q:v",
                                           "3",    "-g",      "15",    "-bf",  "0"};
const std::vector<std::string> kDivx = {"-c:v", "mpeg4", "-vtag", "DIVX", "-q:v",
                                        "3",    "-g",    "15",    "-bf",  "0"};
const std::vector<std::string> kXvid = {"-c:v", "libxvid", "-vtag", "XVID", "-q:v",
                                        "3",    "-g",      "15",    "-bf",  "0"};
const std::vector<std::string> kRaw = {"-c:v", "rawvideo", "-pix_fmt", "bgra"};

const std::vector<Case> kCases = {
    {"AVI type 12 (DivX, MPEG-4 part 2)", 1280, 720, OutputTypes::AviDivx, 40, kDivx},
    {"AVI type 11 (uncompressed, 32-bit BI_RGB)", 1280, 720, OutputTypes::AviUncompressed, 40,
     kRaw},
    {"AVI type 10 (MPEG-4 v3)", 1920, 1080, OutputTypes::AviMpg4, 40, kMsMpeg4},
    {"AVI type 10 (MPEG-4 v3)", 1920, 1080, OutputTypes::AviMpg4, 16, kMsMpeg4},
    {"AVI type 12 (DivX, MPEG-4 part 2)", 1920, 1080, OutputTypes::AviDivx, 40, kDivx},
    {"AVI type 12 (DivX, MPEG-4 part 2)", 1920, 1080, OutputTypes::AviDivx, 16, kDivx},
    {"AVI type 14 (XviD)", 1920, 1080, OutputTypes::AviXvid, 40, kXvid},
    {"AVI type 14 (XviD)", 1920, 1080, OutputTypes::AviXvid, 16, kXvid},
    {"AVI type 11 (uncompressed, 32-bit BI_RGB)", 1920, 1080, OutputTypes::AviUncompressed, 40,
     kRaw},
};

struct Cost {
  bool ok = false;
  long frames = 0;
  double cpuSeconds = 0;       // the recorder, every thread
  double serverSeconds = 0;    // the X server meanwhile
  double recordedSeconds = 0;  // wall time the recorder was active
};

// Pictures in `path`: video packets that are not empty chunks (a
// timer-driven clip holds the picture over slots no shot reached with empty
// chunks), listed by ffprobe without decoding.
long CountFrames(const std::string& path) {
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries packet=size "
      "-of csv=p=0 '" +
      path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  long pictures = 0;
  char line[64];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::atol(line) > 0) ++pictures;
  }
  pclose(pipe);
  return pictures;
}

// Records `seconds` of the case's area into `folder` the way the program
// does: capture on the periodic timer, the area marked by the user, the
// cursor drawn in (as x11grab draws it).
Cost RecordWithFramory(const Case& c, int seconds, const std::string& folder, pid_t server) {
  BenchRecorder bench("avi_capture_bench");
  Settings& settings = bench.settings;
  settings.SetProjectDirectory(folder + "/");
  settings.SetProjectName("framory");
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(c.outputType);
  settings.SetTimerValue(c.timerValue);
  settings.SetTakeShotOnTimer(true);
  settings.SetTakeShotOnPrintScreen(false);
  settings.SetUseMainAppWindow(false);
  // The whole screen is the desktop window, as a user records it; a part of
  // it is a marked area.
  const bool wholeScreen =
      c.width == bench.windows.ScreenWidth() && c.height == bench.windows.ScreenHeight();
  settings.SetUseDesktopWindow(wholeScreen);
  settings.SetUseArea(!wholeScreen);
  settings.SetHasMarkUserArea(!wholeScreen);
  settings.SetUserArea(Rect{0, 0, c.width - 1, c.height - 1});  // both corners inside
  settings.SetPutCursorInBitmap(true);
  if (!bench.Valid()) return Cost{};

  const RecordingCost recorded = bench.Record(seconds, server);
  Cost cost;
  cost.cpuSeconds = recorded.cpuSeconds;
  cost.serverSeconds = recorded.serverSeconds;
  cost.recordedSeconds = recorded.recordedSeconds;
  for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
    if (entry.path().extension() == ".avi") cost.frames += CountFrames(entry.path());
  }
  cost.ok = cost.frames > 0 && !recorded.boxShown;
  return cost;
}

// 1000 / TimerValue as ffmpeg reads a rate ("1000/16").
std::string FfmpegRate(const Case& c) { return "1000/" + std::to_string(c.timerValue); }

Cost RecordWithFfmpeg(const Case& c, int seconds, const std::string& folder, pid_t server) {
  const std::string path = folder + "/ffmpeg.avi";
  std::vector<std::string> argv = {
      "ffmpeg",       "-nostdin",
      "-hide_banner", "-loglevel",
      "error",        "-y",
      "-f",           "x11grab",
      "-framerate",   FfmpegRate(c),
      "-video_size",  std::to_string(c.width) + "x" + std::to_string(c.height),
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
  cost.frames = ran ? CountFrames(path) : 0;
  cost.recordedSeconds = seconds;  // ffmpeg records -t seconds of frames
  cost.ok = ran && cost.frames > 0;
  return cost;
}

// The frames the timer asks for while the recorder was active.
double TimerFrames(const Case& c, double seconds) { return seconds * 1000.0 / c.timerValue; }

void PrintRow(const char* who, const Cost& cost, const Case& c) {
  const double timerFrames = TimerFrames(c, cost.recordedSeconds);
  std::printf("  %-34s %7ld %6.1f%% %10.2f %12.4f %12.2f%s\n", who, cost.frames,
              timerFrames > 0 ? 100.0 * cost.frames / timerFrames : 0.0, cost.cpuSeconds,
              cost.frames > 0 ? cost.cpuSeconds / cost.frames : 0.0, cost.serverSeconds,
              cost.ok ? "" : "   FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "avi_capture_bench: no X display\n");
    return 1;
  }
  const int screenWidth = DisplayWidth(display, DefaultScreen(display));
  const int screenHeight = DisplayHeight(display, DefaultScreen(display));
  XCloseDisplay(display);
  const pid_t server = XServerPid();

  char folderTemplate[] = "/tmp/avi_capture_bench.XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string folder = folderTemplate;

  std::printf(
      "screen %dx%d, %d s per recording; Framory at the case's TimerValue, ffmpeg x11grab at "
      "1000 / TimerValue frames/s\n",
      screenWidth, screenHeight, seconds);
  std::printf("  %-34s %7s %7s %10s %12s %12s\n", "", "frames", "of rate", "CPU s", "CPU s/frame",
              "X server s");
  bool allOk = true;
  for (const Case& c : kCases) {
    if (c.width > screenWidth || c.height > screenHeight) {
      std::printf("%s, %dx%d, TimerValue %d: skipped, larger than the screen\n", c.name, c.width,
                  c.height, c.timerValue);
      continue;
    }
    std::printf("%s, %dx%d, TimerValue %d\n", c.name, c.width, c.height, c.timerValue);
    const std::string caseFolder =
        folder + "/" + std::to_string(c.outputType) + "-" + std::to_string(c.timerValue);
    std::filesystem::create_directories(caseFolder);
    StripedWindow animation;
    animation.Start(c.width / 4, c.height / 4, c.width / 2, c.height / 2);
    const Cost framory = RecordWithFramory(c, seconds, caseFolder, server);
    const Cost ffmpeg = RecordWithFfmpeg(c, seconds, caseFolder, server);
    PrintRow("Framory (FrameGrabber, AviWriter)", framory, c);
    PrintRow("ffmpeg -f x11grab", ffmpeg, c);
    if (framory.ok && ffmpeg.ok && ffmpeg.cpuSeconds > 0) {
      const double perFrame =
          (framory.cpuSeconds / framory.frames) / (ffmpeg.cpuSeconds / ffmpeg.frames);
      std::printf("  CPU ratio Framory / ffmpeg: %.2f (per frame %.2f)\n",
                  framory.cpuSeconds / ffmpeg.cpuSeconds, perFrame);
    }
    allOk = allOk && framory.ok && ffmpeg.ok;
    std::filesystem::remove_all(caseFolder);
  }
  std::filesystem::remove_all(folder);
  return allOk ? 0 : 1;
}
