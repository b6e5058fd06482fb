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
  double cpuSeconds = 0;     // the recorder, every thread
  double serverSeconds = 0;  // the X server meanwhile
  double recordedSeconds = 0;  // wall time the recorder was active
};

double Seconds(const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; }
double CpuSeconds(const rusage& r) { return Seconds(r.ru_utime) + Seconds(r.ru_stime); }

// The X server serving DISPLAY, found by its command line (Xvfb :N ...).
pid_t XServerPid() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) return -1;
  const std::string wanted = display;
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string name = entry.path().filename();
    if (name.find_first_not_of("0123456789") != std::string::npos) continue;
    std::ifstream in(entry.path() / "cmdline", std::ios::binary);
    std::string arg0, arg1;
    std::getline(in, arg0, '\0');
    std::getline(in, arg1, '\0');
    if (arg0.find("Xvfb") != std::string::npos && arg1 == wanted) return std::stoi(name);
  }
  return -1;
}

// User and system CPU seconds of process `pid` so far (0 when unknown).
double ProcessCpuSeconds(pid_t pid) {
  if (pid <= 0) return 0;
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(text.substr(close + 2));
  std::string field;
  unsigned long long utime = 0, stime = 0;
  // After the name: state is field 3; utime and stime are fields 14 and 15.
  for (int number = 3; number <= 15 && fields >> field; ++number) {
    if (number == 14) utime = std::stoull(field);
    if (number == 15) stime = std::stoull(field);
  }
  return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// Runs `argv` and waits for it; its resource usage goes to `usage`.
bool Run(const std::vector<std::string>& argv, rusage* usage, bool quiet = true) {
  const pid_t child = fork();
  if (child == 0) {
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    if (quiet) std::freopen("/dev/null", "w", stdout);
    execvp(args[0], args.data());
    _exit(127);
  }
  if (child < 0) return false;
  int status = 0;
  rusage ignored{};
  if (wait4(child, &status, 0, usage != nullptr ? usage : &ignored) != child) return false;
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Pictures in `path`: video packets that are not empty chunks (a
// timer-driven clip holds the picture over slots no shot reached with empty
// chunks), listed by ffprobe without decoding.
long CountFrames(const std::string& path) {
  const std::string command = "ffprobe -v error -select_streams v:0 -show_entries packet=size "
                              "-of csv=p=0 '" + path + "'";
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

// A window of another process inside the recorded area whose stripes move at
// every repaint, about 50 times a second.
class Animation {
 public:
  bool Start(int x, int y, int width, int height) {
    pid_ = fork();
    if (pid_ != 0) return pid_ > 0;
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) _exit(1);
    XSetWindowAttributes attributes{};
    attributes.override_redirect = True;
    attributes.background_pixel = BlackPixel(display, DefaultScreen(display));
    Window window =
        XCreateWindow(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(width),
                      static_cast<unsigned>(height), 0, CopyFromParent, InputOutput, CopyFromParent,
                      CWOverrideRedirect | CWBackPixel, &attributes);
    XMapWindow(display, window);
    GC gc = XCreateGC(display, window, 0, nullptr);
    for (unsigned long step = 0;; ++step) {
      for (int stripe = 0; stripe < width; stripe += 16) {
        const unsigned long shade = (static_cast<unsigned long>(stripe) * 3 + step * 7) & 0xFF;
        XSetForeground(display, gc, (shade << 16) | ((255 - shade) << 8) | ((shade * 5) & 0xFF));
        XFillRectangle(display, window, gc, (stripe + static_cast<int>(step) * 4) % width, 0, 16,
                       static_cast<unsigned>(height));
      }
      XSync(display, False);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ~Animation() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }

 private:
  pid_t pid_ = -1;
};

class PrintingBoxes : public MessageBoxService {
 public:
  int Show(const std::string& text, const std::string& caption, std::uint32_t) override {
    std::fprintf(stderr, "avi_capture_bench: box \"%s\": %s\n", caption.c_str(), text.c_str());
    ++shown;
    return MessageBoxResults::Ok;
  }
  int shown = 0;
};

class BenchClipHost : public ClipHost {
 public:
  explicit BenchClipHost(Recorder& recorder) : recorder_(recorder) {}
  void TogglePause() override { recorder_.TogglePause(); }
  void ReportApiFailure(const std::string& name) override {
    recorder_.ReportApiFailure(name.c_str());
  }
  void RefreshMainDialogTitle() override {}
  void ClearMousePosSaved() override { recorder_.State().ClearMousePosSaved(); }

 private:
  Recorder& recorder_;
};

class RecorderScheduler : public ShotScheduler {
 public:
  explicit RecorderScheduler(Recorder& recorder) : recorder_(recorder) {}
  bool PeriodicTimerRunning() const override { return recorder_.PeriodicTimerRunning(); }
  void ScheduleDelayedShot(std::int32_t milliseconds) override {
    recorder_.ScheduleDelayedShot(milliseconds);
  }

 private:
  Recorder& recorder_;
};

// Records `seconds` of the case's area into `folder` the way the program
// does: capture on the periodic timer, the area marked by the user, the
// cursor drawn in (as x11grab draws it).
Cost RecordWithFramory(const Case& c, int seconds, const std::string& folder, pid_t server) {
  X11WindowSystem windows;
  Settings settings;
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
  const bool wholeScreen = c.width == windows.ScreenWidth() && c.height == windows.ScreenHeight();
  settings.SetUseDesktopWindow(wholeScreen);
  settings.SetUseArea(!wholeScreen);
  settings.SetHasMarkUserArea(!wholeScreen);
  settings.SetUserArea(Rect{0, 0, c.width - 1, c.height - 1});  // both corners inside
  settings.SetPutCursorInBitmap(true);

  TrayState tray;
  QtTimerService timers;
  PrintingBoxes boxes;
  X11ScreenGrabber screen;
  ThreadLastErrorSource lastError;
  OutputNaming naming(settings);
  FfmpegAviFileLibrary aviLibrary;
  MovieWriterFactory writers(&aviLibrary, &boxes, windows.ScreenWidth(), windows.ScreenHeight());

  FrameGrabber* grabber = nullptr;
  Recorder::Services services;
  services.Timers = &timers;
  services.Tray = &tray;
  services.Boxes = &boxes;
  services.Windows = &windows;
  services.LastError = &lastError;
  services.TakeShot = [&grabber] {
    if (grabber != nullptr) grabber->TakeShot();
  };
  Recorder recorder(settings, services);
  BenchClipHost host(recorder);
  ClipSession clip(settings, naming, writers, host);
  recorder.SetEncoder(&clip);
  RecorderScheduler scheduler(recorder);

  CaptureLinks links;
  links.Clip = &clip;
  links.Scheduler = &scheduler;
  CaptureTarget target(settings, windows, links);
  FrameGrabber frameGrabber(settings, screen, target, links);
  Cost cost;
  grabber = &frameGrabber;
  timers.SetExpiryHandler([&recorder](std::int32_t id) { recorder.OnTimer(id); });

  if (!windows.Valid() || !screen.Valid()) return Cost{};
  rusage before{}, after{};
  const double serverBefore = ProcessCpuSeconds(server);
  getrusage(RUSAGE_SELF, &before);
  if (!recorder.Paused()) recorder.TogglePause();
  const auto resumed = std::chrono::steady_clock::now();
  recorder.TogglePause();  // resumes: the periodic timer starts
  QTimer::singleShot(seconds * 1000, [] { QCoreApplication::quit(); });
  QCoreApplication::exec();
  if (!recorder.Paused()) recorder.TogglePause();
  cost.recordedSeconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - resumed).count();
  clip.EndClip();  // finishes the file
  getrusage(RUSAGE_SELF, &after);
  cost.serverSeconds = ProcessCpuSeconds(server) - serverBefore;
  cost.cpuSeconds = CpuSeconds(after) - CpuSeconds(before);

  for (const auto& entry : std::filesystem::directory_iterator(settings.ProjectFolder())) {
    if (entry.path().extension() == ".avi") cost.frames += CountFrames(entry.path());
  }
  cost.ok = cost.frames > 0 && boxes.shown == 0;
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
    Animation animation;
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
