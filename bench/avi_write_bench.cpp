// Cost of one 1920x1080 movie frame from the grabbed pixels to the AVI file:
// the clip session (composition or loan of the grabbed frame), the AVI writer
// and the FFmpeg AVI file library, per output type. Prints the CPU of the calling thread (the
// GUI thread in the program) and of the whole process (encoder threads
// included) per frame, and the wall time per frame including the close that
// drains whatever is still queued.
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <filesystem>

#include "base/MessageBoxService.h"
#include "base/OutputType.h"
#include "base/Settings.h"
#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "capture/WriterFailureBoxes.h"
#include "writers/AviFileApi.h"
#include "writers/MovieWriterFactory.h"

using namespace framory;

namespace {

class NoBoxes : public MessageBoxService {
 public:
  int Show(const std::string& text, const std::string&, std::uint32_t) override {
    std::fprintf(stderr, "box: %s\n", text.c_str());
    return MessageBoxResults::Ok;
  }
};

class QuietHost : public ClipHost {
 public:
  void TogglePause() override {}
  void ReportApiFailure(const std::string& name) override {
    std::fprintf(stderr, "failure: %s\n", name.c_str());
  }
  void RefreshMainDialogTitle() override {}
  void ClearMousePosSaved() override {}
};

double CpuSeconds(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A desktop-like picture: flat areas, a moving block of text-like stripes.
void Paint(std::vector<std::uint32_t>& pixels, int width, int height, int seed) {
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint32_t v = 0x003A6EA5;
      const int bx = (x + seed * 8) % width;
      if (y > 100 && y < 700 && bx > 200 && bx < 1200) v = ((x ^ y) & 4) ? 0xFFFFFF : 0x202020;
      if (y < 30) v = 0x00D4D0C8;
      pixels[std::size_t(y) * width + x] = v;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::atoi(argv[1]) : 60;
  const int width = 1920, height = 1080;
  std::vector<std::vector<std::uint32_t>> pictures(8, std::vector<std::uint32_t>(width * height));
  for (int i = 0; i < 8; ++i) Paint(pictures[i], width, height, i);
  NoBoxes boxes;
  framory::WriterFailureBoxes reports{boxes};
  auto library = CreateAviFileLibrary();
  std::printf("%d frames of %dx%d per type (ms per frame)\n", frames, width, height);
  std::printf("type  caller-cpu  process-cpu  wall\n");
  const std::string folder = "/tmp/avi_write_bench";
  std::filesystem::create_directories(folder + "/clips");
  for (int type : {10, 12, 14, 11}) {
    Settings settings;
    settings.SetProjectDirectory(folder + "/");
    settings.SetProjectName("clips");
    settings.SetOutputType(type);
    settings.SetTimerValue(40);
    OutputNaming naming(settings);
    QuietHost host;
    MovieWriterFactory factory(library.get(), &reports, width, height);
    ClipSession session(settings, naming, factory, host);
    const double caller0 = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
    const double process0 = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    const double wall0 = CpuSeconds(CLOCK_MONOTONIC);
    for (int i = 0; i < frames; ++i) {
      Frame f;
      f.Width = width;
      f.Height = height;
      f.BitsPerPixel = 32;
      f.BytesPerLine = width * 4;
      f.Pixels = reinterpret_cast<std::uint8_t*>(pictures[i % 8].data());
      session.DeliverMovieFrame(&f, kNoWindow, Rect{-1, -1, -1, -1});
    }
    const double caller = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - caller0;
    session.EndClip();
    const double process = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - process0;
    const double wall = CpuSeconds(CLOCK_MONOTONIC) - wall0;
    std::printf("%4d  %10.2f  %11.2f  %6.2f\n", type, 1000 * caller / frames,
                1000 * process / frames, 1000 * wall / frames);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
