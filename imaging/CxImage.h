// The in-memory picture of the still-image layer. One contiguous block holds a
// 40-byte bitmap information header, the palette (blue, green, red, reserved
// per entry) and the pixel rows bottom-up, each EffectiveWidth bytes long, so
// that a BMP file is just a 14-byte header followed by the block. Depths are
// 1, 4, 8 and 24 bits; a frame of any deeper screen becomes a 24-bit image.
//
// Encoders (CxImageBMP, CxImageJPG, CxImagePNG, CxImagePCX) work on a view of
// an image: a record that shares the header, the settings and the block, and
// never frees the block. Failures are booleans plus a text in LastError.
#pragma once

#include <bit>
#include <cstdint>

#include "base/Frame.h"
#include "imaging/CxFile.h"

namespace framory {

static_assert(std::endian::native == std::endian::little,
              "the pixel block keeps its header in little-endian byte order");

// Image format codes accepted by SaveFile and Encode.
namespace CxImageFormats {
inline constexpr std::int32_t Unknown = 0;
inline constexpr std::int32_t Bmp = 1;
inline constexpr std::int32_t Jpg = 2;
inline constexpr std::int32_t Png = 3;
inline constexpr std::int32_t Ico = 4;  // reserved; nothing encodes it
inline constexpr std::int32_t Pcx = 5;
}  // namespace CxImageFormats

// The Windows BITMAPINFOHEADER layout.
struct CxBitmapInfoHeader {
  std::uint32_t Size;
  std::int32_t Width;
  std::int32_t Height;
  std::uint16_t Planes;
  std::uint16_t BitCount;
  std::uint32_t Compression;
  std::uint32_t SizeImage;
  std::int32_t XPelsPerMeter;
  std::int32_t YPelsPerMeter;
  std::uint32_t ClrUsed;
  std::uint32_t ClrImportant;
};
static_assert(sizeof(CxBitmapInfoHeader) == 40);

// One palette entry as the block stores it.
struct CxRgbQuad {
  std::uint8_t Blue;
  std::uint8_t Green;
  std::uint8_t Red;
  std::uint8_t Reserved;
};
static_assert(sizeof(CxRgbQuad) == 4);

class CxImage {
 public:
  static constexpr std::int32_t kDefaultDpi = 96;
  static constexpr std::uint8_t kDefaultJpegQuality = 75;
  // Largest pixel area (width × height × bits / 8) an image may have.
  static constexpr std::uint64_t kMaxMemory = 256'000'000;

  explicit CxImage(std::int32_t imageType = CxImageFormats::Unknown);
  virtual ~CxImage();
  CxImage(const CxImage&) = delete;
  CxImage& operator=(const CxImage&) = delete;

  // Fills the image from a grabbed frame and, on palette displays, its
  // palette. A null frame leaves the image empty. The frame is only read.
  bool CreateFromBitmap(const Frame* frame, const Palette* palette);
  // Allocates a zeroed block for width × height pixels; bits per pixel are
  // normalised to 1, 4, 8 or 24. Null (with LastError set) on failure.
  void* Create(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
               std::int32_t imageType);
  // Frees the block (a view frees nothing) and leaves the image empty.
  void Destroy();

  // Creates or truncates `path` and encodes the image into it. A save that
  // fails after the file was created removes the file again, so no
  // truncated or empty picture is left behind; SaveErrorNumber then tells why.
  bool SaveFile(const char* path, std::int32_t imageFormat);
  // The system error number (errno) of the last failed SaveFile: the one of
  // the failing open, write or close, or EINVAL when the encoder refused the
  // image itself. 0 after a successful save.
  int SaveErrorNumber() const { return saveError_; }
  // Encodes into `file` with the encoder of `imageFormat`.
  bool Encode(CxFile* file, std::int32_t imageFormat);

  const char* LastError() const { return lastError_; }

  bool IsValid() const { return block_ != nullptr; }
  bool IsView() const { return isView_; }
  std::uint32_t Width() const { return static_cast<std::uint32_t>(head_.Width); }
  std::uint32_t Height() const { return static_cast<std::uint32_t>(head_.Height); }
  std::uint32_t BitsPerPixel() const { return head_.BitCount; }
  std::uint32_t ColorCount() const { return colorCount_; }
  std::uint32_t EffectiveWidth() const { return effectiveWidth_; }
  std::int32_t Type() const { return type_; }
  const CxBitmapInfoHeader& Header() const { return head_; }

  // The whole block: header, palette, rows.
  const std::uint8_t* Block() const { return block_; }
  std::uint64_t BlockSize() const;
  CxRgbQuad* PaletteEntries() const;
  // Row `row` counted from the bottom of the picture (row 0 is the last
  // picture line), as the block stores it.
  std::uint8_t* BottomUpRow(std::uint32_t row) const;
  // Picture line `y` counted from the top.
  std::uint8_t* TopDownRow(std::uint32_t y) const { return BottomUpRow(Height() - 1 - y); }
  // Copies `pixels` stored blue, green, red triples to `out` as red, green,
  // blue, the order the JPEG and PNG libraries take.
  static void BgrToRgb(const std::uint8_t* src, std::uint32_t pixels, std::uint8_t* out);
  // Palette index of pixel x in a stored row of a 1-, 4- or 8-bit image.
  std::uint8_t PixelIndex(const std::uint8_t* row, std::uint32_t x) const;

  std::int32_t XDpi() const { return xDpi_; }
  std::int32_t YDpi() const { return yDpi_; }
  // Also sets the header's pixels per metre: floor(dpi × 10000 / 254 + 0.5).
  void SetXDpi(std::int32_t dpi);
  void SetYDpi(std::int32_t dpi);
  std::uint8_t JpegQuality() const { return jpegQuality_; }
  void SetJpegQuality(std::uint8_t quality) { jpegQuality_ = quality; }
  std::int32_t BackgroundIndex() const { return backgroundIndex_; }

  // Turns this record into a view of `source`: same header, settings and
  // block; the block stays the source's.
  void MakeViewOf(const CxImage& source);

 protected:
  // Copies `text` into LastError, cut at 255 characters.
  void SetLastError(const char* text);
  // The check every encoder makes first: a file and a pixel block.
  bool CheckEncodeInputs(CxFile* file);
  // Copies the record's header over the start of the block.
  void HeaderToBlock();

 private:
  void ResetRecord();
  bool ConvertFramePixels(const Frame& frame, const Palette* palette);

  CxBitmapInfoHeader head_{};
  std::uint8_t* block_ = nullptr;
  std::uint8_t* bits_ = nullptr;
  std::uint32_t colorCount_ = 0;
  std::uint32_t effectiveWidth_ = 0;
  std::int32_t type_ = CxImageFormats::Unknown;
  std::int32_t xDpi_ = kDefaultDpi;
  std::int32_t yDpi_ = kDefaultDpi;
  std::uint8_t jpegQuality_ = kDefaultJpegQuality;
  std::int32_t backgroundIndex_ = -1;
  bool isView_ = false;
  int saveError_ = 0;
  char lastError_[256] = {};
};

}  // namespace framory
