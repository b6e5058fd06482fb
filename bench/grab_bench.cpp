// Cost of grabbing a full 1920 × 1080 screen: X11ScreenGrabber::Grab and the
// whole TakeShot (desktop target, a sink that keeps nothing) against a bare
// XShmGetImage of the same area into a shared image made once, all measured in
// the same run, in alternating rounds so that the machine's load hits each
// alike. Prints per-grab medians and the ratios to the bare grab.
//
//   tests/support/with-xvfb.sh -- build/bench/grab_bench [rounds]
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/FrameGrabber.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"

namespace {

using framory::Frame;

constexpr int kWidth = 1920, kHeight = 1080;
constexpr int kGrabsPerRound = 20;

class NullStills : public framory::StillImageSink {
 public:
  void SaveStill(const Frame& frame, const framory::Palette*) override {
    saved += frame.Pixels != nullptr;
  }
  bool HasLastResult() const override { return false; }
  long saved = 0;
};

// The peer: the least a MIT-SHM grab of the area can cost.
class BareShmGrab {
 public:
  bool Open() {
    display_ = XOpenDisplay(nullptr);
    if (display_ == nullptr || !XShmQueryExtension(display_)) return false;
    const int screen = DefaultScreen(display_);
    image_ =
        XShmCreateImage(display_, DefaultVisual(display_, screen), DefaultDepth(display_, screen),
                        ZPixmap, nullptr, &shm_, kWidth, kHeight);
    shm_.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image_->bytes_per_line) * kHeight,
                        IPC_CREAT | 0600);
    shm_.shmaddr = image_->data = static_cast<char*>(shmat(shm_.shmid, nullptr, 0));
    shm_.readOnly = False;
    XShmAttach(display_, &shm_);
    XSync(display_, False);
    shmctl(shm_.shmid, IPC_RMID, nullptr);
    return true;
  }
  ~BareShmGrab() {
    if (display_ == nullptr) return;
    if (image_ != nullptr) {
      XShmDetach(display_, &shm_);
      XDestroyImage(image_);
      shmdt(shm_.shmaddr);
    }
    XCloseDisplay(display_);
  }
  bool Grab() {
    return XShmGetImage(display_, DefaultRootWindow(display_), image_, 0, 0, AllPlanes);
  }

 private:
  Display* display_ = nullptr;
  XImage* image_ = nullptr;
  XShmSegmentInfo shm_{};
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// Milliseconds per call of one round.
double Round(const std::function<void()>& call) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kGrabsPerRound; ++i) call();
  const std::chrono::duration<double, std::milli> elapsed =
      std::chrono::steady_clock::now() - start;
  return elapsed.count() / kGrabsPerRound;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  BareShmGrab bare;
  framory::X11ScreenGrabber screen;
  framory::X11WindowSystem windows;
  if (!bare.Open() || !screen.Valid() || !windows.Valid()) {
    std::fprintf(stderr, "grab_bench: no X display with MIT-SHM\n");
    return 1;
  }
  if (windows.ScreenWidth() != kWidth || windows.ScreenHeight() != kHeight) {
    std::fprintf(stderr, "grab_bench: needs a %dx%d screen\n", kWidth, kHeight);
    return 1;
  }

  framory::Settings settings;
  settings.SetOutputType(framory::OutputTypes::Bmp);
  settings.SetUseMainAppWindow(false);
  settings.SetUseDesktopWindow(true);
  NullStills stills;
  framory::CaptureLinks links;
  links.Stills = &stills;
  framory::CaptureTarget target(settings, windows, links);
  framory::FrameGrabber grabber(settings, screen, target, links);

  Frame frame;
  bool ok = true;
  auto bareGrab = [&] { ok = bare.Grab() && ok; };
  auto grab = [&] {
    ok = screen.Grab(windows.DesktopWindow(), 0, 0, kWidth, kHeight, &frame) && ok;
  };
  auto shot = [&] {
    settings.SetPutCursorInBitmap(false);
    grabber.TakeShot();
  };
  auto shotWithCursor = [&] {
    settings.SetPutCursorInBitmap(true);
    grabber.TakeShot();
  };
  // Warm up: first-use allocations are not what is measured.
  bareGrab();
  grab();
  shot();
  shotWithCursor();

  std::vector<double> bareTimes, grabTimes, shotTimes, cursorTimes;
  for (int r = 0; r < rounds; ++r) {
    bareTimes.push_back(Round(bareGrab));
    grabTimes.push_back(Round(grab));
    shotTimes.push_back(Round(shot));
    cursorTimes.push_back(Round(shotWithCursor));
  }
  if (!ok || stills.saved == 0) {
    std::fprintf(stderr, "grab_bench: a grab failed\n");
    return 1;
  }
  const double bareMs = Median(bareTimes);
  const double grabMs = Median(grabTimes);
  const double shotMs = Median(shotTimes);
  const double cursorMs = Median(cursorTimes);
  std::printf("full-screen %dx%d, %d rounds of %d grabs, median ms per grab\n", kWidth, kHeight,
              rounds, kGrabsPerRound);
  std::printf("  bare XShmGetImage             %8.3f ms\n", bareMs);
  std::printf("  X11ScreenGrabber::Grab        %8.3f ms  ratio %.3f\n", grabMs, grabMs / bareMs);
  std::printf("  TakeShot, no cursor           %8.3f ms  ratio %.3f\n", shotMs, shotMs / bareMs);
  std::printf("  TakeShot, cursor drawn        %8.3f ms  ratio %.3f\n", cursorMs,
              cursorMs / bareMs);
  std::printf("  shared memory in use: %s\n", screen.UsingSharedMemory() ? "yes" : "no");
  return 0;
}
