// Decoders for checking what the image encoders wrote, independent of them:
// libpng and libjpeg read PNG and JPEG files, the netpbm tools read every
// format (bmptopnm, pcxtoppm, pngtopnm, jpegtopnm). Pixels come back as
// top-down rows of red, green, blue bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace framory {
class CxImage;
}

namespace framory::testing {

struct RgbImage {
  int Width = 0;
  int Height = 0;
  std::vector<std::uint8_t> Rgb;  // Width × Height × 3

  const std::uint8_t* At(int x, int y) const {
    return &Rgb[(static_cast<std::size_t>(y) * Width + x) * 3];
  }
};

struct PngFacts {
  int ColorType = -1;
  int BitDepth = 0;
  int PaletteSize = 0;
  std::vector<std::string> Chunks;  // chunk types in file order
  bool HasBackground = false;
  int BackgroundIndex = -1;
  int BackgroundRed = -1, BackgroundGreen = -1, BackgroundBlue = -1;
  bool HasPhys = false;
  std::uint32_t PhysX = 0, PhysY = 0;
  int PhysUnit = -1;
  bool HasTransparency = false;
};

struct JpegFacts {
  int Components = 0;
  bool SawJfif = false;
  int DensityUnit = -1;
  int XDensity = 0, YDensity = 0;
  bool Progressive = false;
  bool Arithmetic = false;
  bool Baseline = false;  // the frame marker is SOF0
};

// libpng: any PNG, expanded to 8-bit RGB. False (with `error` set) on failure.
bool DecodePng(const std::string& path, RgbImage* image, PngFacts* facts, std::string* error);
// libjpeg: any JPEG, converted to RGB.
bool DecodeJpeg(const std::string& path, RgbImage* image, JpegFacts* facts, std::string* error);
// Runs `tool path` (a netpbm converter) and reads the PNM it prints.
bool DecodeWithTool(const std::string& tool, const std::string& path, RgbImage* image,
                    std::string* error);
// Whether a program can be found on the search path.
bool HaveTool(const std::string& tool);

// The picture a CxImage holds, as top-down RGB (palette images through their
// palette): what a faithful file of it must decode to.
RgbImage ExpectedPixels(const CxImage& image);

// Largest difference of any channel between two images of the same size, or
// 256 when the sizes differ.
int MaxChannelDifference(const RgbImage& a, const RgbImage& b);
// Mean absolute channel difference, or 256 when the sizes differ.
double MeanChannelDifference(const RgbImage& a, const RgbImage& b);

}  // namespace framory::testing

namespace framory::testing {

// Fills an image made with Create with a picture that exercises the encoders:
// long runs, single pixels, every byte value, and (for palette images) a
// palette of distinct colours. `seed` varies the content.
void FillTestPicture(CxImage* image, unsigned seed = 1);
// Fills a 24-bit image with smooth gradients (content JPEG keeps closely).
void FillSmoothPicture(CxImage* image);

}  // namespace framory::testing

#include <functional>

#include "imaging/CxFile.h"

namespace framory::testing {

// Little-endian header fields of a file held in a string.
inline std::uint16_t Le16(const std::string& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(static_cast<std::uint8_t>(bytes[at]) |
                                    (static_cast<std::uint8_t>(bytes[at + 1]) << 8));
}
inline std::uint32_t Le32(const std::string& bytes, std::size_t at) {
  return Le16(bytes, at) | (std::uint32_t{Le16(bytes, at + 2)} << 16);
}

// Picture sizes every encoder is tried with: 1×1, odd and even widths, and
// widths whose rows need padding at every depth.
struct PictureSize {
  std::uint32_t Width, Height;
};
inline constexpr PictureSize kRoundTripSizes[] = {{1, 1},  {2, 3},   {3, 2},  {5, 4},  {7, 3},
                                                  {8, 2},  {9, 5},   {17, 3}, {33, 4}, {64, 3},
                                                  {65, 2}, {130, 6}, {641, 3}};

// Saves a picture of every depth (1, 4, 8 and 24 bits) and every round-trip
// size in `imageFormat` as a file ending in `extension`, reads it back with
// the netpbm converter `tool`, and expects exactly the pixels that went in.
// `seed` picks each picture's content.
void ExpectToolDecodesEveryDepthAndSize(
    const std::string& tool, std::int32_t imageFormat, const std::string& extension,
    const std::function<unsigned(const PictureSize& size, std::uint32_t bpp)>& seed);

// A CxFile that accepts the first `limit` bytes and then fails every write,
// like a disk that fills up; Flush fails when `failFlush` is set.
class FailingFile : public CxFile {
 public:
  explicit FailingFile(std::size_t limit, bool failFlush = false)
      : limit_(limit), failFlush_(failFlush) {}
  std::string Written() const { return written_; }

  bool Close() override { return true; }
  std::size_t Read(void*, std::size_t, std::size_t) override { return 0; }
  std::size_t Write(const void* buffer, std::size_t size, std::size_t count) override;
  bool Seek(std::int64_t, int) override { return false; }
  std::int64_t Tell() override { return static_cast<std::int64_t>(written_.size()); }
  std::int64_t Size() override { return static_cast<std::int64_t>(written_.size()); }
  bool Flush() override { return !failFlush_; }
  bool AtEnd() override { return true; }
  bool HasError() override { return error_; }
  bool PutByte(std::uint8_t byte) override { return Write(&byte, 1, 1) == 1; }
  int GetByte() override { return -1; }

 private:
  std::size_t limit_;
  bool failFlush_;
  bool error_ = false;
  std::string written_;
};

}  // namespace framory::testing
