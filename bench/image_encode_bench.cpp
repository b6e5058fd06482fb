// Still-image encoding speed on one 1920×1080 24-bit frame, against the
// reference tools run on the same pixels in the same run:
//   JPEG  vs  cjpeg -quality 75 -baseline   (libjpeg-turbo-progs)
//   PNG   vs  pnmtopng                      (netpbm; both at libpng's default zlib level)
//   PCX   packing throughput in MB/s of raw frame data (target ≥ 500 MB/s)
//   BMP   for reference.
// Each figure is the median of several runs. Not a test: it prints ratios.
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "imaging/CxImage.h"
#include "imaging/CxMemFile.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kRuns = 9;

double MedianSeconds(const std::function<bool()>& work) {
  std::vector<double> times;
  for (int i = 0; i < kRuns; ++i) {
    const auto start = Clock::now();
    if (!work()) {
      std::fprintf(stderr, "run failed\n");
      std::exit(1);
    }
    times.push_back(std::chrono::duration<double>(Clock::now() - start).count());
  }
  std::sort(times.begin(), times.end());
  return times[times.size() / 2];
}

// A desktop-like frame: a gradient background, flat windows with title bars,
// lines of "text" and a photo-like noisy area, so that both flat runs and
// thousands of colours occur (no tool may fall back to a palette file).
void FillDesktop(framory::CxImage* image) {
  std::uint32_t seed = 12345;
  auto noise = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 16;
  };
  for (int y = 0; y < kHeight; ++y) {
    std::uint8_t* row = image->TopDownRow(static_cast<std::uint32_t>(y));
    for (int x = 0; x < kWidth; ++x) {
      std::uint8_t* p = row + 3 * x;
      p[0] = static_cast<std::uint8_t>(120 + y / 9);
      p[1] = static_cast<std::uint8_t>(60 + x / 16);
      p[2] = static_cast<std::uint8_t>(30 + (x + y) / 24);
      const bool inWindow = x >= 200 && x < 1300 && y >= 150 && y < 900;
      if (inWindow) {
        p[0] = p[1] = p[2] = 240;
        if (y < 180) p[0] = 200, p[1] = 120, p[2] = 40;  // title bar
        const bool textLine = (y - 200) % 22 < 12 && y >= 200 && x >= 230 && x < 1250;
        if (textLine && noise() % 3 == 0)
          p[0] = p[1] = p[2] = static_cast<std::uint8_t>(noise() % 90);
      }
      if (x >= 1400 && x < 1850 && y >= 300 && y < 700) {  // a photo
        p[0] = static_cast<std::uint8_t>((x * 3 + y) / 5 + noise() % 24);
        p[1] = static_cast<std::uint8_t>((y * 2) / 3 + noise() % 24);
        p[2] = static_cast<std::uint8_t>((x + 2 * y) / 7 + noise() % 24);
      }
    }
  }
}

bool WritePpm(const framory::CxImage& image, const std::string& path) {
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  std::fprintf(out, "P6\n%d %d\n255\n", kWidth, kHeight);
  std::vector<std::uint8_t> rgb(3 * kWidth);
  for (int y = 0; y < kHeight; ++y) {
    const std::uint8_t* row = image.TopDownRow(static_cast<std::uint32_t>(y));
    for (int x = 0; x < kWidth; ++x) {
      rgb[3 * x] = row[3 * x + 2];
      rgb[3 * x + 1] = row[3 * x + 1];
      rgb[3 * x + 2] = row[3 * x];
    }
    std::fwrite(rgb.data(), 1, rgb.size(), out);
  }
  return std::fclose(out) == 0;
}

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

std::uintmax_t FileSize(const std::string& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

}  // namespace

int main() {
  const std::string dir =
      (std::filesystem::temp_directory_path() / ("framory-bench-" + std::to_string(getpid())))
          .string();
  std::filesystem::create_directories(dir);
  const std::string ppm = dir + "/frame.ppm";

  framory::CxImage image(0);
  if (image.Create(kWidth, kHeight, 24, 0) == nullptr) {
    std::fprintf(stderr, "cannot create the frame: %s\n", image.LastError());
    return 1;
  }
  FillDesktop(&image);
  if (!WritePpm(image, ppm)) {
    std::fprintf(stderr, "cannot write %s\n", ppm.c_str());
    return 1;
  }
  const double rawMB = 3.0 * kWidth * kHeight / 1e6;
  std::printf("frame %dx%d 24-bit (%.1f MB raw), median of %d runs\n\n", kWidth, kHeight, rawMB,
              kRuns);

  const std::string ourJpg = dir + "/ours.jpg", refJpg = dir + "/cjpeg.jpg";
  const double jpgOurs = MedianSeconds([&] { return image.SaveFile(ourJpg.c_str(), 2); });
  const double jpgRef = MedianSeconds(
      [&] { return Run("cjpeg -quality 75 -baseline -outfile '" + refJpg + "' '" + ppm + "'"); });
  std::printf(
      "JPEG  ours %7.2f ms (%8ju bytes)  cjpeg    %7.2f ms (%8ju bytes)  ratio %.2f  (target <= "
      "1.10)\n",
      jpgOurs * 1e3, FileSize(ourJpg), jpgRef * 1e3, FileSize(refJpg), jpgOurs / jpgRef);

  const std::string ourPng = dir + "/ours.png", refPng = dir + "/pnmtopng.png";
  const double pngOurs = MedianSeconds([&] { return image.SaveFile(ourPng.c_str(), 3); });
  const double pngRef =
      MedianSeconds([&] { return Run("pnmtopng '" + ppm + "' > '" + refPng + "' 2>/dev/null"); });
  std::printf(
      "PNG   ours %7.2f ms (%8ju bytes)  pnmtopng %7.2f ms (%8ju bytes)  ratio %.2f  (target <= "
      "1.10)\n",
      pngOurs * 1e3, FileSize(ourPng), pngRef * 1e3, FileSize(refPng), pngOurs / pngRef);

  std::size_t pcxBytes = 0;
  const double pcxMemory = MedianSeconds([&] {
    framory::CxMemFile file;
    const bool ok = image.Encode(&file, 5);
    pcxBytes = static_cast<std::size_t>(file.Size());
    return ok;
  });
  const std::string ourPcx = dir + "/ours.pcx";
  const double pcxFile = MedianSeconds([&] { return image.SaveFile(ourPcx.c_str(), 5); });
  std::printf(
      "PCX   in memory %7.2f ms = %7.0f MB/s (%zu bytes); to a file %7.2f ms = %7.0f MB/s  (target "
      ">= 500 MB/s)\n",
      pcxMemory * 1e3, rawMB / pcxMemory, pcxBytes, pcxFile * 1e3, rawMB / pcxFile);

  const std::string ourBmp = dir + "/ours.bmp";
  const double bmp = MedianSeconds([&] { return image.SaveFile(ourBmp.c_str(), 1); });
  std::printf("BMP   to a file %7.2f ms = %7.0f MB/s\n", bmp * 1e3, rawMB / bmp);

  std::filesystem::remove_all(dir);
  return 0;
}
