// Screen encoder against ffmpeg's own screen grabber, on the same X screen in
// one run: 10 s of a 1280 x 720 region at 25 frames per second, encoded as
// Windows Media Video 8 at the same fixed quantiser (3, what the screen
// profile's sharpness of 95 maps to). A child process keeps the region
// changing meanwhile, so neither side can skip unchanged pictures. Prints the
// frames each file holds, the CPU seconds each encoder used and the ratio of
// CPU per frame.
//
//   tests/support/with-xvfb.sh --size 1280x720 -- build/bench/encoder_bench
#include <X11/Xlib.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "base/MessageBoxService.h"
#include "capture/WriterFailureBoxes.h"
#include "platform/encoder/WmEncoderLibrary.h"
#include "writers/EncoderSession.h"

namespace {

constexpr int kWidth = 1280, kHeight = 720, kSeconds = 10, kRate = 25, kQuantiser = 3;

class PrintingBoxes : public framory::MessageBoxService {
 public:
  int Show(const std::string& text, const std::string& caption, std::uint32_t) override {
    std::fprintf(stderr, "box: %s: %s\n", caption.c_str(), text.c_str());
    return framory::MessageBoxResults::Ok;
  }
};

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long Frames(const std::string& path) {
  const std::string command =
      "ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames "
      "-of csv=p=0 '" +
      path + "'";
  std::FILE* pipe = popen(command.c_str(), "r");
  long frames = -1;
  if (pipe != nullptr) {
    if (std::fscanf(pipe, "%ld", &frames) != 1) frames = -1;
    pclose(pipe);
  }
  return frames;
}

// Moving coloured bars over the region, 50 times a second, in a child.
pid_t StartAnimation() {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) _exit(1);
  const Window root = DefaultRootWindow(display);
  XSetWindowAttributes attributes{};
  attributes.override_redirect = True;
  const Window window = XCreateWindow(display, root, 0, 0, kWidth, kHeight, 0, CopyFromParent,
                                      InputOutput, CopyFromParent, CWOverrideRedirect, &attributes);
  XMapRaised(display, window);
  GC gc = XCreateGC(display, window, 0, nullptr);
  for (unsigned step = 0;; ++step) {
    for (int bar = 0; bar < 16; ++bar) {
      XSetForeground(display, gc, (step * 2654435761u + bar * 40503u) & 0xFFFFFF);
      XFillRectangle(display, window, gc, (bar * 80 + step * 7) % kWidth, 0, 80, kHeight);
    }
    XSync(display, False);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

}  // namespace

int main() {
  const char* display = std::getenv("DISPLAY");
  if (display == nullptr) {
    std::fprintf(stderr, "run inside an X session (tests/support/with-xvfb.sh)\n");
    return 2;
  }
  char folder[] = "/tmp/framory-encoder-bench.XXXXXX";
  if (mkdtemp(folder) == nullptr) return 2;
  const std::string ours = std::string(folder) + "/framory.wmv";
  const std::string theirs = std::string(folder) + "/ffmpeg.wmv";
  const pid_t animation = StartAnimation();
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  framory::WmEncoderLibrary library;
  PrintingBoxes boxes;
  framory::WriterFailureBoxes reports{boxes};
  const double ourStart = CpuSeconds(RUSAGE_SELF);
  {
    framory::EncoderSession session(library, reports);
    session.SetRecordAudio(false);
    session.SetFramesPerSecond(kRate);
    session.SetCaptureRect(framory::Rect{0, 0, kWidth, kHeight});
    if (session.Configure(ours) < 0) return 1;
    session.StartEncoding();
    std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
  }
  const double ourCpu = CpuSeconds(RUSAGE_SELF) - ourStart;

  const double theirStart = CpuSeconds(RUSAGE_CHILDREN);
  const std::string grab = "ffmpeg -nostdin -v error -f x11grab -framerate " +
                           std::to_string(kRate) + " -video_size " + std::to_string(kWidth) + "x" +
                           std::to_string(kHeight) + " -i " + display + "+0,0 -t " +
                           std::to_string(kSeconds) + " -c:v wmv2 -q:v " +
                           std::to_string(kQuantiser) + " -f asf -y '" + theirs + "'";
  const int status = std::system(grab.c_str());
  const double theirCpu = CpuSeconds(RUSAGE_CHILDREN) - theirStart;
  kill(animation, SIGKILL);
  waitpid(animation, nullptr, 0);
  if (status != 0) std::fprintf(stderr, "ffmpeg failed (%d)\n", status);

  const long ourFrames = Frames(ours), theirFrames = Frames(theirs);
  std::printf("%d s of %dx%d at %d fps, wmv2 at quantiser %d (%d frames expected)\n", kSeconds,
              kWidth, kHeight, kRate, kQuantiser, kSeconds * kRate);
  std::printf("%-24s %8s %12s %16s\n", "", "frames", "CPU seconds", "CPU ms / frame");
  const double ourPerFrame = ourFrames > 0 ? 1000 * ourCpu / ourFrames : 0;
  const double theirPerFrame = theirFrames > 0 ? 1000 * theirCpu / theirFrames : 0;
  std::printf("%-24s %8ld %12.2f %16.2f\n", "framory screen encoder", ourFrames, ourCpu,
              ourPerFrame);
  std::printf("%-24s %8ld %12.2f %16.2f\n", "ffmpeg x11grab + wmv2", theirFrames, theirCpu,
              theirPerFrame);
  if (theirPerFrame > 0)
    std::printf("CPU per frame, framory / ffmpeg: %.2f\n", ourPerFrame / theirPerFrame);
  std::system(("rm -rf '" + std::string(folder) + "'").c_str());
  return 0;
}
