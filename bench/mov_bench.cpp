// Cost of recording a 1920 × 1080 screen as a QuickTime movie: per frame, the
// grab (X11ScreenGrabber), the composition into the movie frame and
// QtMovieWriter::AddFrame through Cinelink and QuickTime.qts, against
// `ffmpeg -f x11grab -c:v mjpeg -q:v 3 -f mov` capturing and encoding the
// same screen as fast as it can, in the same run and in alternating rounds.
// The screen shows a detailed picture (gradients and noise) so that neither
// side compresses an empty desktop. Prints per-frame medians and the ratio.
//
//   tests/support/with-xvfb.sh --size 1920x1080 -- build/bench/mov_bench [rounds]
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "base/MessageBoxService.h"
#include "base/MovieFrame.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "writers/QtMovieWriter.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kFramesPerRound = 60;

class PrintedBoxes : public framory::MessageBoxService {
 public:
  int Show(const std::string& text, const std::string& caption, std::uint32_t) override {
    std::fprintf(stderr, "%s: %s\n", caption.c_str(), text.c_str());
    return framory::MessageBoxResults::Ok;
  }
};

// A window over the whole screen holding gradients with noise.
bool ShowBusyPicture(Display* display) {
  const int screen = DefaultScreen(display);
  if (DefaultDepth(display, screen) < 24) return false;
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window window =
      XCreateWindow(display, DefaultRootWindow(display), 0, 0, kWidth, kHeight, 0, CopyFromParent,
                    InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
  XMapRaised(display, window);
  std::vector<std::uint32_t> pixels(std::size_t(kWidth) * kHeight);
  std::mt19937 random(7);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const std::uint32_t noise = random() & 0x1F;
      const std::uint32_t r = (x * 255 / kWidth + noise) & 0xFF;
      const std::uint32_t g = (y * 255 / kHeight + noise) & 0xFF;
      const std::uint32_t b = ((x / 24 + y / 24) % 2) != 0 ? 220 - noise : 40 + noise;
      pixels[std::size_t(y) * kWidth + x] = (r << 16) | (g << 8) | b;
    }
  }
  XImage* image = XCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, 0,
                               reinterpret_cast<char*>(pixels.data()), kWidth, kHeight, 32, 0);
  XSync(display, False);
  XPutImage(display, window, DefaultGC(display, screen), image, 0, 0, 0, 0, kWidth, kHeight);
  image->data = nullptr;
  XDestroyImage(image);
  XSync(display, False);
  return true;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The runtime beside the build's program, unless a store already names one.
void FindBuiltRuntime(const std::string& folder) {
  if (std::getenv("FRAMORY_MACHINE_REGISTRY") != nullptr) return;
  const std::string store = folder + "/machine.ini";
  std::ofstream(store) << "[Software\\Apple Computer, Inc.\\QuickTime]\n"
                       << "QuickTime.qts folder=" << QUICKTIME_RUNTIME_DIR << "\n";
  setenv("FRAMORY_MACHINE_REGISTRY", store.c_str(), 1);
}

// Milliseconds per frame of ffmpeg's own run ("rtime" of -benchmark, which
// leaves out its start-up), or -1.
double FfmpegRound(const std::string& display, const std::string& out) {
  const std::string command =
      "ffmpeg -hide_banner -nostdin -benchmark -y -f x11grab -framerate 1000 -video_size " +
      std::to_string(kWidth) + "x" + std::to_string(kHeight) + " -i '" + display + "' -frames:v " +
      std::to_string(kFramesPerRound) + " -c:v mjpeg -q:v 3 -f mov '" + out + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char line[1024];
  double seconds = -1;
  while (fgets(line, sizeof line, pipe) != nullptr) {
    const char* at = std::strstr(line, "rtime=");
    if (at != nullptr) seconds = std::atof(at + 6);
  }
  pclose(pipe);
  return seconds > 0 ? seconds * 1000.0 / kFramesPerRound : -1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  const char* displayName = std::getenv("DISPLAY");
  Display* display = XOpenDisplay(nullptr);
  framory::X11ScreenGrabber screen;
  framory::X11WindowSystem windows;
  if (display == nullptr || displayName == nullptr || !screen.Valid() || !windows.Valid() ||
      windows.ScreenWidth() != kWidth || windows.ScreenHeight() != kHeight ||
      !ShowBusyPicture(display)) {
    std::fprintf(stderr, "mov_bench: needs a %dx%d X screen of depth 24\n", kWidth, kHeight);
    return 1;
  }
  const std::string folder = std::filesystem::temp_directory_path() / "framory-mov-bench";
  std::filesystem::create_directories(folder);
  FindBuiltRuntime(folder);

  PrintedBoxes boxes;
  framory::WriterFailureBoxes reports{boxes};
  framory::MovieFrame movieFrame;
  movieFrame.Create(kWidth, kHeight);
  framory::Frame frame;
  std::vector<double> ours, theirs;
  std::uintmax_t ourBytes = 0, theirBytes = 0;
  for (int r = 0; r < rounds; ++r) {
    const std::string ourFile = folder + "/ours.mov";
    const auto start = std::chrono::steady_clock::now();
    {
      framory::QtMovieWriter writer(reports, ourFile, kWidth, kHeight);
      writer.SetFramePeriod(100);
      if (writer.Prepare(movieFrame) != 0) {
        std::fprintf(stderr, "mov_bench: %s\n", writer.LastError());
        return 1;
      }
      for (int i = 0; i < kFramesPerRound; ++i) {
        if (!screen.Grab(windows.DesktopWindow(), 0, 0, kWidth, kHeight, &frame) ||
            !movieFrame.Compose(frame) || writer.AddFrame(movieFrame) != 0) {
          std::fprintf(stderr, "mov_bench: frame %d failed\n", i);
          return 1;
        }
      }
    }
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;
    ours.push_back(elapsed.count() / kFramesPerRound);
    ourBytes = std::filesystem::file_size(ourFile);

    const std::string theirFile = folder + "/ffmpeg.mov";
    const double ms = FfmpegRound(displayName, theirFile);
    if (ms < 0) {
      std::fprintf(stderr, "mov_bench: ffmpeg did not run\n");
      return 1;
    }
    theirs.push_back(ms);
    theirBytes = std::filesystem::file_size(theirFile);
  }
  std::filesystem::remove_all(folder);
  const double ourMs = Median(ours), theirMs = Median(theirs);
  std::printf("MOV capture %dx%d, %d rounds of %d frames, median ms per frame\n", kWidth, kHeight,
              rounds, kFramesPerRound);
  std::printf("  ffmpeg x11grab mjpeg -q:v 3   %8.3f ms  (%ju bytes)\n", theirMs, theirBytes);
  std::printf("  Framory grab+compose+AddFrame %8.3f ms  (%ju bytes)  ratio %.3f\n", ourMs,
              ourBytes, ourMs / theirMs);
  return 0;
}
