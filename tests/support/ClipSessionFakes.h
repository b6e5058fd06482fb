// A recording stand-in for the recorder around the clip session, and test
// pictures in the grabbed-frame format.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/Frame.h"
#include "base/LastError.h"
#include "capture/ClipHost.h"

namespace framory::testing {

class FakeClipHost : public ClipHost {
 public:
  void TogglePause() override {
    paused = !paused;
    log.push_back("TogglePause");
  }
  // Like the recorder's error channel: pauses only when active.
  void ReportApiFailure(const std::string& name) override {
    paused = true;
    log.push_back("Report " + name);
    reports.push_back(name);
    codes.push_back(GetLastError());
  }
  void RefreshMainDialogTitle() override { log.push_back("Title"); }
  void ClearMousePosSaved() override { log.push_back("ClearMouse"); }

  bool paused = false;
  std::vector<std::string> log;
  std::vector<std::string> reports;
  // The thread's last error at each report.
  std::vector<std::uint32_t> codes;
};

// A 32-bit grabbed frame that owns its pixels (0x00RRGGBB words).
struct TestPicture {
  std::vector<std::uint32_t> pixels;
  Frame frame;

  TestPicture(std::int32_t width, std::int32_t height) : pixels(std::size_t(width) * height) {
    frame.Width = width;
    frame.Height = height;
    frame.BitsPerPixel = 32;
    frame.BytesPerLine = width * 4;
    frame.Pixels = reinterpret_cast<std::uint8_t*>(pixels.data());
  }
  std::uint32_t& At(std::int32_t x, std::int32_t y) {
    return pixels[std::size_t(y) * frame.Width + x];
  }

  // Smooth ramps with a 16-pixel checkerboard in blue; `seed` shifts the
  // ramps so that consecutive frames differ.
  static TestPicture Pattern(std::int32_t width, std::int32_t height, int seed) {
    TestPicture p(width, height);
    for (std::int32_t y = 0; y < height; ++y) {
      for (std::int32_t x = 0; x < width; ++x) {
        const std::uint32_t r = (x * 200 / width + 8 * seed) & 0xFF;
        const std::uint32_t g = (y * 200 / height + 4 * seed) & 0xFF;
        const std::uint32_t b = ((x / 16 + y / 16) % 2) != 0 ? 200 : 50;
        p.At(x, y) = (r << 16) | (g << 8) | b;
      }
    }
    return p;
  }
};

}  // namespace framory::testing
