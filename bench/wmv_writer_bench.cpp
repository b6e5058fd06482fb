// Cost of a WMV clip through WmvWriter and the FFmpeg Windows Media layer,
// against ffmpeg itself encoding the same frames (rawvideo on a pipe, wmv2 at
// the same bit rate, ASF) in the same run. Frames are handed to the writer at
// the clip's pace (25 a second). Prints the time the caller's thread spends
// per frame (the copy into the sample and the queueing, plus any wait when the
// encoding thread falls behind), the process CPU per frame (encoding thread
// included) and ffmpeg's CPU per frame, and their ratio.
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/MessageBoxService.h"
#include "base/MovieFrame.h"
#include "capture/WriterFailureBoxes.h"
#include "writers/WmFormatApi.h"
#include "writers/WmvWriter.h"

using namespace framory;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int32_t kWidth = 1280;
constexpr std::int32_t kHeight = 720;
constexpr int kFrames = 250;
constexpr std::int32_t kPeriod = 40;  // 25 frames a second

class NoBoxes : public MessageBoxService {
 public:
  int Show(const std::string& text, const std::string&, std::uint32_t) override {
    std::fprintf(stderr, "box: %s\n", text.c_str());
    return 0;
  }
};

// Screen-like frames: flat panels with rows of "text" that scroll a line a
// frame.
void Paint(MovieFrame& frame, int n) {
  for (std::int32_t y = 0; y < kHeight; ++y) {
    std::uint32_t* row = frame.Row(y);
    const std::int32_t line = (y + n) % 24;
    for (std::int32_t x = 0; x < kWidth; ++x) {
      const bool panel = x < 240;
      const bool ink = line >= 6 && line < 18 && ((x * 7 + (y + n) / 24 * 13) % 11) < 4;
      row[x] = panel ? 0x2B3A4Au : (ink ? 0x101010u : 0xF4F4F4u);
    }
  }
}

double ThreadCpuSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return now.tv_sec + now.tv_nsec / 1e9;
}

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main() {
  const std::string dir = std::string(std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
  const std::string ours = dir + "/wmv_writer_bench.wmv";
  const std::string theirs = dir + "/wmv_writer_bench_ffmpeg.asf";
  MovieFrame frame;
  frame.Create(kWidth, kHeight);

  // What painting alone costs, taken off framory's figure below.
  const double paintBefore = CpuSeconds(RUSAGE_SELF);
  for (int n = 0; n < kFrames; ++n) Paint(frame, n);
  const double paintCpu = CpuSeconds(RUSAGE_SELF) - paintBefore;

  std::unique_ptr<WmFormatLibrary> library = CreateWmFormatLibrary();
  NoBoxes boxes;
  framory::WriterFailureBoxes reports{boxes};
  double callerSeconds = 0;
  double callerCpu = 0;
  const double cpuBefore = CpuSeconds(RUSAGE_SELF);
  {
    WmvWriter writer(*library, reports, ours, WmGuids::ProfileV80_700PALVideo, kWidth, kHeight);
    writer.SetFrameRate(kPeriod);
    // Frames come at the clip's pace, as the periodic timer gives them.
    const auto first = Clock::now();
    for (int n = 0; n < kFrames; ++n) {
      Paint(frame, n);
      std::this_thread::sleep_until(first + std::chrono::milliseconds(kPeriod * n));
      const auto start = Clock::now();
      const double startCpu = ThreadCpuSeconds();
      if (writer.AddFrame(frame) < 0) {
        std::fprintf(stderr, "frame %d failed\n", n);
        return 1;
      }
      callerSeconds += std::chrono::duration<double>(Clock::now() - start).count();
      callerCpu += ThreadCpuSeconds() - startCpu;
    }
    writer.Close();
  }
  const double ourCpu = CpuSeconds(RUSAGE_SELF) - cpuBefore - paintCpu;

  // ffmpeg reads the same frames, top-down, from a pipe.
  const std::string command = "ffmpeg -v fatal -y -f rawvideo -pix_fmt bgr0 -s " +
                              std::to_string(kWidth) + "x" + std::to_string(kHeight) +
                              " -r 25 -i - -c:v wmv2 -b:v 704k -maxrate 1056k -bufsize 3520k " +
                              theirs;
  const double childBefore = CpuSeconds(RUSAGE_CHILDREN);
  std::FILE* pipe = popen(command.c_str(), "w");
  if (pipe == nullptr) return 1;
  for (int n = 0; n < kFrames; ++n) {
    Paint(frame, n);
    for (std::int32_t y = 0; y < kHeight; ++y) std::fwrite(frame.Row(y), 4, kWidth, pipe);
  }
  pclose(pipe);
  const double theirCpu = CpuSeconds(RUSAGE_CHILDREN) - childBefore;

  std::printf("%d frames of %dx%d at 25 fps, 768 Kbps profile\n", kFrames, kWidth, kHeight);
  std::printf("caller's thread per frame:  %.2f ms CPU, %.2f ms wall (copy, queue, waits)\n",
              callerCpu * 1000 / kFrames, callerSeconds * 1000 / kFrames);
  std::printf("framory CPU per frame:      %.2f ms (both threads)\n", ourCpu * 1000 / kFrames);
  std::printf("ffmpeg CPU per frame:       %.2f ms\n", theirCpu * 1000 / kFrames);
  std::printf("ratio framory / ffmpeg:     %.2f\n", theirCpu > 0 ? ourCpu / theirCpu : 0.0);
  std::remove(ours.c_str());
  std::remove(theirs.c_str());
  return 0;
}
