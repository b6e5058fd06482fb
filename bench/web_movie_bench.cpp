// Cost of recording MP4 (type 20) and WebM (type 21) clips of the whole
// 1920 × 1080 screen at TimerValue 33: Framory's own capture path (the
// recorder's periodic timer, FrameGrabber over the X11 grabber with screen
// changes tracked, ClipSession, WebMovieWriter over LiveEncoder) against
// `ffmpeg -f x11grab` at 1000 / 33 frames a second with the same encoder and
// settings, one after the other in the same run, on two screens:
//
//   full motion  a window of another process covers the screen and repaints
//                all of it about 50 times a second;
//   still        nothing moves: Framory stores repeats (no picture, a key
//                frame every 2 s), ffmpeg grabs and encodes every frame.
//
// For each it prints the pictures in each file (packets, counted by
// ffprobe), the share of the timer's frames they make over the time each
// recorder ran (wall time; for ffmpeg, whose x11grab falls behind instead of
// dropping frames, start-up included), the CPU seconds of each recorder (all
// its threads) and per timer frame, the X server's CPU seconds meanwhile,
// and the file sizes; in full motion also the CPU seconds per picture
// written. In full motion Framory reads and encodes every shot
// whole (screen changes not tracked), like x11grab; on the still desktop it
// tracks them, as the program does.
//
//   tests/support/with-xvfb.sh -- build/bench/web_movie_bench [seconds] [only]
//
// With `only` ("mp4-motion", "webm-still", ...) just that case runs, for
// profiling one of them.
#include <QCoreApplication>

#include <X11/Xlib.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "BenchSupport.h"
#include "base/OutputType.h"

namespace {

using namespace framory;
using namespace framory::bench;

constexpr std::int32_t kTimerValue = 33;

struct Case {
  const char* name;
  std::int32_t outputType;
  const char* extension;
  // ffmpeg's output options for the same encoder, settings and container
  // layout as Framory's writer of the type.
  std::vector<std::string> ffmpegCodec;
};

const std::vector<Case> kCases = {
    {"MP4 type 20 (libx264 veryfast, zerolatency, High, crf 23, fragmented)",
     OutputTypes::Mp4,
     ".mp4",
     {"-c:v", "libx264", "-preset", "veryfast", "-tune", "zerolatency", "-profile:v", "high",
      "-crf", "23", "-pix_fmt", "yuv420p", "-g", "60", "-movflags",
      "+frag_keyframe+empty_moov+default_base_moof", "-frag_duration", "1000000"}},
    {"WebM type 21 (libvpx-vp9 realtime, cpu-used 8, row-mt, crf 32)",
     OutputTypes::WebM,
     ".webm",
     {"-c:v",
      "libvpx-vp9",
      "-deadline",
      "realtime",
      "-cpu-used",
      "8",
      "-row-mt",
      "1",
      "-lag-in-frames",
      "0",
      "-crf",
      "32",
      "-b:v",
      "0",
      "-pix_fmt",
      "yuv420p",
      "-g",
      "60",
      "-cluster_time_limit",
      "1000"}},
};

struct Cost {
  bool ok = false;
  long pictures = 0;
  double cpuSeconds = 0;
  double serverSeconds = 0;
  double recordedSeconds = 0;
  std::uintmax_t bytes = 0;
};

long CountPackets(const std::string& path) {
  const std::string command =
      "ffprobe -v error -select_streams v:0 -show_entries packet=size -of csv=p=0 '" + path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  long packets = 0;
  char line[64];
  while (std::fgets(line, sizeof line, pipe) != nullptr) {
    if (std::atol(line) > 0) ++packets;
  }
  pclose(pipe);
  return packets;
}

Cost RecordWithFramory(const Case& c, int seconds, const std::string& folder, pid_t server,
                       bool trackChanges) {
  BenchRecorder bench("web_movie_bench");
  Settings& settings = bench.settings;
  settings.SetProjectDirectory(folder + "/");
  settings.SetProjectName("framory");
  std::filesystem::create_directories(settings.ProjectFolder());
  settings.SetOutputType(c.outputType);
  settings.SetTimerValue(kTimerValue);
  settings.SetTakeShotOnTimer(true);
  settings.SetTakeShotOnPrintScreen(false);
  settings.SetUseMainAppWindow(false);
  settings.SetUseDesktopWindow(true);
  settings.SetPutCursorInBitmap(true);
  if (!bench.Valid()) return Cost{};
  if (trackChanges) bench.TrackScreenChanges();

  const RecordingCost recorded = bench.Record(seconds, server);
  Cost cost;
  cost.cpuSeconds = recorded.cpuSeconds;
  cost.serverSeconds = recorded.serverSeconds;
  cost.recordedSeconds = recorded.recordedSeconds;
  for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
    if (entry.path().extension() != c.extension) continue;
    cost.pictures += CountPackets(entry.path());
    cost.bytes += entry.file_size();
  }
  cost.ok = cost.pictures > 0 && !recorded.boxShown;
  return cost;
}

Cost RecordWithFfmpeg(const Case& c, int seconds, const std::string& folder, pid_t server,
                      int width, int height) {
  const std::string path = folder + "/ffmpeg" + c.extension;
  std::vector<std::string> argv = {
      "ffmpeg",       "-nostdin",
      "-hide_banner", "-loglevel",
      "error",        "-y",
      "-f",           "x11grab",
      "-draw_mouse",  "1",
      "-framerate",   "1000/" + std::to_string(kTimerValue),
      "-video_size",  std::to_string(width) + "x" + std::to_string(height),
      "-i",           std::string(std::getenv("DISPLAY")) + "+0,0",
      "-t",           std::to_string(seconds)};
  argv.insert(argv.end(), c.ffmpegCodec.begin(), c.ffmpegCodec.end());
  argv.push_back(path);
  Cost cost;
  rusage usage{};
  const double serverBefore = ProcessCpuSeconds(server);
  const auto started = std::chrono::steady_clock::now();
  const bool ran = Run(argv, &usage, false);
  // x11grab never drops a frame: when the encoder falls behind, it takes
  // longer than -t to record -t seconds of frames. Its share of the timer's
  // frames is counted over the time it really ran (its start-up included).
  cost.recordedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  cost.serverSeconds = ProcessCpuSeconds(server) - serverBefore;
  cost.cpuSeconds = CpuSeconds(usage);
  cost.pictures = ran ? CountPackets(path) : 0;
  std::error_code error;
  cost.bytes = std::filesystem::file_size(path, error);
  cost.ok = ran && cost.pictures > 0;
  return cost;
}

double TimerFrames(double seconds) { return seconds * 1000.0 / kTimerValue; }

void PrintRow(const char* who, const Cost& cost) {
  const double timerFrames = TimerFrames(cost.recordedSeconds);
  std::printf("  %-26s %8ld %7.1f%% %8.2f %12.4f %10.2f %12ju%s\n", who, cost.pictures,
              timerFrames > 0 ? 100.0 * cost.pictures / timerFrames : 0.0, cost.cpuSeconds,
              timerFrames > 0 ? cost.cpuSeconds / timerFrames : 0.0, cost.serverSeconds, cost.bytes,
              cost.ok ? "" : "   FAILED");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const int seconds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
  const std::string only = argc > 2 ? argv[2] : "";
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) {
    std::fprintf(stderr, "web_movie_bench: no X display\n");
    return 1;
  }
  const int width = DisplayWidth(display, DefaultScreen(display));
  const int height = DisplayHeight(display, DefaultScreen(display));
  XCloseDisplay(display);
  const pid_t server = XServerPid();

  char folderTemplate[] = "/tmp/web_movie_bench.XXXXXX";
  if (mkdtemp(folderTemplate) == nullptr) return 1;
  const std::string folder = folderTemplate;

  std::printf("screen %dx%d, %d s per recording, TimerValue %d (ffmpeg at 1000/%d frames/s)\n",
              width, height, seconds, kTimerValue, kTimerValue);
  std::printf("  %-26s %8s %8s %8s %12s %10s %12s\n", "", "pictures", "of rate", "CPU s",
              "CPU s/frame", "X server s", "bytes");
  bool allOk = true;
  for (const bool motion : {true, false}) {
    for (const Case& c : kCases) {
      const std::string label = std::string(c.outputType == OutputTypes::Mp4 ? "mp4" : "webm") +
                                (motion ? "-motion" : "-still");
      if (!only.empty() && only != label) continue;
      std::printf("%s, %s\n", c.name, motion ? "full motion" : "still desktop");
      const std::string caseFolder =
          folder + "/" + std::to_string(c.outputType) + (motion ? "-motion" : "-still");
      std::filesystem::create_directories(caseFolder);
      StripedWindow animation;
      if (motion) animation.Start(0, 0, width, height);
      // In full motion every shot is a new picture, read and encoded whole,
      // as x11grab does; on the still desktop screen changes are tracked, as
      // in the program, and shots of the unchanged screen are repeats.
      const Cost framory = RecordWithFramory(c, seconds, caseFolder, server, !motion);
      const Cost ffmpeg = RecordWithFfmpeg(c, seconds, caseFolder, server, width, height);
      PrintRow("Framory (WebMovieWriter)", framory);
      PrintRow("ffmpeg -f x11grab", ffmpeg);
      if (framory.ok && ffmpeg.ok && ffmpeg.cpuSeconds > 0) {
        const double perFrame = (framory.cpuSeconds / TimerFrames(framory.recordedSeconds)) /
                                (ffmpeg.cpuSeconds / TimerFrames(ffmpeg.recordedSeconds));
        std::printf("  CPU per timer frame, Framory / ffmpeg: %.3f\n", perFrame);
        // When one of them reaches fewer of the timer's frames (ffmpeg falls
        // behind on a busy machine) it also spends less per timer frame; the
        // cost of each picture written compares the work itself.
        if (motion && framory.pictures > 0 && ffmpeg.pictures > 0) {
          std::printf(
              "  CPU per picture written, Framory / ffmpeg: %.3f\n",
              (framory.cpuSeconds / framory.pictures) / (ffmpeg.cpuSeconds / ffmpeg.pictures));
        }
      }
      allOk = allOk && framory.ok && ffmpeg.ok;
      std::filesystem::remove_all(caseFolder);
    }
  }
  std::filesystem::remove_all(folder);
  return allOk ? 0 : 1;
}
