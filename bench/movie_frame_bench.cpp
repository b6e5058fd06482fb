// Composition speed of the clip's frame buffer against a plain memcpy of the
// same pixels, measured in the same run: copy (same size), centring (a
// smaller frame), stretching (a larger frame) and a 16-bit source.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/MovieFrame.h"

using namespace framory;
using Clock = std::chrono::steady_clock;

namespace {

struct Source {
  std::vector<std::uint8_t> bytes;
  Frame frame;
  Source(std::int32_t w, std::int32_t h, std::int32_t bpp)
      : bytes(std::size_t(w) * h * bpp / 8, 0x5A) {
    frame.Width = w;
    frame.Height = h;
    frame.BitsPerPixel = bpp;
    frame.BytesPerLine = w * bpp / 8;
    frame.Pixels = bytes.data();
    if (bpp == 16) {
      frame.RedMask = 0xF800;
      frame.GreenMask = 0x07E0;
      frame.BlueMask = 0x001F;
    }
  }
};

template <typename F>
double Seconds(int rounds, F&& f) {
  const auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) f();
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main() {
  constexpr int kRounds = 200;
  MovieFrame movie;
  movie.Create(1920, 1080);
  std::vector<std::uint8_t> copy(std::size_t(1920) * 1080 * 4);
  Source same(1920, 1080, 32), smaller(1600, 900, 32), larger(2560, 1440, 32),
      deep16(1920, 1080, 16);

  const double peer =
      Seconds(kRounds, [&] { std::memcpy(copy.data(), same.bytes.data(), copy.size()); });
  const struct {
    const char* name;
    const Frame& frame;
  } cases[] = {{"copy 1920x1080 32-bit", same.frame},
               {"centre 1600x900 32-bit", smaller.frame},
               {"stretch 2560x1440 32-bit", larger.frame},
               {"copy 1920x1080 16-bit", deep16.frame}};
  std::printf("memcpy of one 1920x1080 frame: 1.00\n");
  for (const auto& c : cases) {
    const double t = Seconds(kRounds, [&] { movie.Compose(c.frame); });
    std::printf("%s: %.2f x memcpy\n", c.name, t / peer);
  }
  return 0;
}
