#include "imaging/CxImage.h"

#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/PixelChannel.h"
#include "imaging/CxIOFile.h"
#include "imaging/CxImageBMP.h"
#include "imaging/CxImageJPG.h"
#include "imaging/CxImagePCX.h"
#include "imaging/CxImagePNG.h"

namespace framory {

namespace {

std::int32_t PixelsPerMetre(std::int32_t dpi) {
  return static_cast<std::int32_t>(std::floor(dpi * 10000.0 / 254.0 + 0.5));
}

std::uint32_t NormalisedDepth(std::uint32_t bitsPerPixel) {
  if (bitsPerPixel <= 1) return 1;
  if (bitsPerPixel <= 4) return 4;
  if (bitsPerPixel <= 8) return 8;
  return 24;
}

}  // namespace

CxImage::CxImage(std::int32_t imageType) {
  ResetRecord();
  type_ = imageType;
}

CxImage::~CxImage() {
  if (!isView_) std::free(block_);
}

void CxImage::ResetRecord() {
  head_ = CxBitmapInfoHeader{};
  colorCount_ = 0;
  effectiveWidth_ = 0;
  jpegQuality_ = kDefaultJpegQuality;
  backgroundIndex_ = -1;
  SetXDpi(kDefaultDpi);
  SetYDpi(kDefaultDpi);
}

void CxImage::SetXDpi(std::int32_t dpi) {
  xDpi_ = dpi;
  head_.XPelsPerMeter = PixelsPerMetre(dpi);
}

void CxImage::SetYDpi(std::int32_t dpi) {
  yDpi_ = dpi;
  head_.YPelsPerMeter = PixelsPerMetre(dpi);
}

void CxImage::SetLastError(const char* text) {
  std::snprintf(lastError_, sizeof lastError_, "%s", text != nullptr ? text : "");
}

void CxImage::Destroy() {
  if (!isView_) std::free(block_);
  block_ = nullptr;
  bits_ = nullptr;
}

std::uint64_t CxImage::BlockSize() const {
  return sizeof(CxBitmapInfoHeader) + 4ull * colorCount_ +
         static_cast<std::uint64_t>(effectiveWidth_) * Height();
}

CxRgbQuad* CxImage::PaletteEntries() const {
  if (block_ == nullptr || colorCount_ == 0) return nullptr;
  return reinterpret_cast<CxRgbQuad*>(block_ + sizeof(CxBitmapInfoHeader));
}

std::uint8_t* CxImage::BottomUpRow(std::uint32_t row) const {
  return bits_ + static_cast<std::size_t>(row) * effectiveWidth_;
}

std::uint8_t CxImage::PixelIndex(const std::uint8_t* row, std::uint32_t x) const {
  switch (head_.BitCount) {
    case 1:
      return (row[x >> 3] >> (7 - (x & 7))) & 1;
    case 4:
      return (x & 1) != 0 ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
    case 8:
      return row[x];
    default:
      return 0;
  }
}

void CxImage::BgrToRgb(const std::uint8_t* src, std::uint32_t pixels, std::uint8_t* out) {
  const std::size_t bytes = 3 * static_cast<std::size_t>(pixels);
  for (std::size_t i = 0; i < bytes; i += 3) {
    out[i] = src[i + 2];
    out[i + 1] = src[i + 1];
    out[i + 2] = src[i];
  }
}

void CxImage::HeaderToBlock() {
  if (block_ != nullptr) std::memcpy(block_, &head_, sizeof head_);
}

void* CxImage::Create(std::uint32_t width, std::uint32_t height, std::uint32_t bitsPerPixel,
                      std::int32_t imageType) {
  Destroy();
  isView_ = false;

  // The header holds signed sizes; anything beyond them (or an empty picture)
  // cannot be described.
  if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
    SetLastError("CxImage::Create: width and height must be between 1 and 2147483647");
    return nullptr;
  }
  const std::uint32_t bpp = NormalisedDepth(bitsPerPixel);
  const std::uint64_t stride = (static_cast<std::uint64_t>(bpp) * width + 31) / 32 * 4;
  if (static_cast<std::uint64_t>(width) * height * bpp / 8 > kMaxMemory) {
    SetLastError("CXIMAGE_MAX_MEMORY exceeded");
    return nullptr;
  }

  colorCount_ = bpp == 24 ? 0 : 1u << bpp;
  effectiveWidth_ = static_cast<std::uint32_t>(stride);
  type_ = imageType;
  head_.Size = sizeof(CxBitmapInfoHeader);
  head_.Width = static_cast<std::int32_t>(width);
  head_.Height = static_cast<std::int32_t>(height);
  head_.Planes = 1;
  head_.BitCount = static_cast<std::uint16_t>(bpp);
  head_.Compression = 0;
  head_.SizeImage = static_cast<std::uint32_t>(stride * height);
  head_.ClrUsed = colorCount_;
  head_.ClrImportant = 0;

  // Zeroed, so palette, row padding and the pixels of a failed fill are
  // always defined.
  block_ = static_cast<std::uint8_t*>(std::calloc(1, BlockSize()));
  if (block_ == nullptr) {
    SetLastError("CxImage::Create can't allocate memory");
    return nullptr;
  }
  HeaderToBlock();
  bits_ = block_ + sizeof(CxBitmapInfoHeader) + 4 * colorCount_;
  return block_;
}

bool CxImage::CreateFromBitmap(const Frame* frame, const Palette* palette) {
  Destroy();
  if (frame == nullptr) return false;
  if (frame->Width <= 0 || frame->Height <= 0) {
    SetLastError("GetDIBits failed");
    return false;
  }
  const std::uint32_t depth = frame->BitsPerPixel > 0 ? frame->BitsPerPixel : 0;
  if (Create(static_cast<std::uint32_t>(frame->Width), static_cast<std::uint32_t>(frame->Height),
             depth, CxImageFormats::Unknown) == nullptr) {
    return false;
  }
  // The palette comes as an argument or travels with the frame itself.
  if (!ConvertFramePixels(*frame, palette != nullptr ? palette : frame->Colors)) {
    // The block stays, zero-filled, as the caller may save it anyway.
    SetLastError("GetDIBits failed");
    return false;
  }
  return true;
}

bool CxImage::ConvertFramePixels(const Frame& frame, const Palette* palette) {
  const int bpp = frame.BitsPerPixel;
  const std::uint32_t width = Width();
  const std::uint32_t height = Height();
  if (frame.Pixels == nullptr || bpp < 1 || bpp > 32) return false;
  // Palette frames come as 1, 4 or 8 bits a pixel, the depths the block keeps.
  if (bpp < 8 && bpp != 1 && bpp != 4) return false;
  // Packed pixels are read a whole number of bytes each (a 12-bit pixel
  // takes two), so a line must hold that many bytes, not just its bits.
  const std::int64_t needed = bpp <= 8 ? (static_cast<std::int64_t>(bpp) * width + 7) / 8
                                       : static_cast<std::int64_t>((bpp + 7) / 8) * width;
  if (frame.BytesPerLine < needed) return false;

  if (bpp <= 8) {
    // Palette depths keep their indices; the colours come from the captured
    // palette. Without one, index i shows as grey level i scaled to the depth.
    CxRgbQuad* entries = PaletteEntries();
    for (std::uint32_t i = 0; i < colorCount_; ++i) {
      if (palette != nullptr) {
        const PaletteEntry& e = palette->Entries[i];
        entries[i] = CxRgbQuad{e.Blue, e.Green, e.Red, 0};
      } else {
        const auto grey = static_cast<std::uint8_t>(i * 255 / (colorCount_ - 1));
        entries[i] = CxRgbQuad{grey, grey, grey, 0};
      }
    }
    for (std::uint32_t y = 0; y < height; ++y) {
      std::memcpy(TopDownRow(y), frame.Row(static_cast<std::int32_t>(y)),
                  static_cast<std::size_t>(needed));
    }
    return true;
  }

  // Packed pixels of 9 to 32 bits: 24-bit blue, green, red.
  const int bytesPerPixel = (bpp + 7) / 8;
  const bool plainBgrx = (bytesPerPixel == 4 || bytesPerPixel == 3) && frame.RedMask == 0xFF0000 &&
                         frame.GreenMask == 0x00FF00 && frame.BlueMask == 0x0000FF;
  const PixelChannel red(frame.RedMask), green(frame.GreenMask), blue(frame.BlueMask);
  for (std::uint32_t y = 0; y < height; ++y) {
    const std::uint8_t* src = frame.Row(static_cast<std::int32_t>(y));
    std::uint8_t* dst = TopDownRow(y);
    if (plainBgrx && bytesPerPixel == 3) {
      std::memcpy(dst, src, 3 * static_cast<std::size_t>(width));
    } else if (plainBgrx) {
      for (std::uint32_t x = 0; x < width; ++x, src += 4, dst += 3) {
        dst[0] = src[0];
        dst[1] = src[1];
        dst[2] = src[2];
      }
    } else {
      for (std::uint32_t x = 0; x < width; ++x, src += bytesPerPixel, dst += 3) {
        std::uint32_t pixel = 0;
        for (int b = 0; b < bytesPerPixel; ++b)
          pixel |= static_cast<std::uint32_t>(src[b]) << (8 * b);
        dst[0] = blue.Read(pixel);
        dst[1] = green.Read(pixel);
        dst[2] = red.Read(pixel);
      }
    }
  }
  return true;
}

void CxImage::MakeViewOf(const CxImage& source) {
  Destroy();
  head_ = source.head_;
  block_ = source.block_;
  bits_ = source.bits_;
  colorCount_ = source.colorCount_;
  effectiveWidth_ = source.effectiveWidth_;
  type_ = source.type_;
  xDpi_ = source.xDpi_;
  yDpi_ = source.yDpi_;
  jpegQuality_ = source.jpegQuality_;
  backgroundIndex_ = source.backgroundIndex_;
  isView_ = true;
}

bool CxImage::CheckEncodeInputs(CxFile* file) {
  if (file == nullptr) {
    SetLastError("null file handler");
    return false;
  }
  if (block_ == nullptr) {
    SetLastError("null image!!!");
    return false;
  }
  return true;
}

namespace {

template <class Encoder>
bool EncodeWithView(const CxImage& image, CxFile* file, char* error, std::size_t errorSize) {
  Encoder view;
  view.MakeViewOf(image);
  if (view.Encode(file)) return true;
  std::snprintf(error, errorSize, "%s", view.LastError());
  return false;
}

}  // namespace

bool CxImage::Encode(CxFile* file, std::int32_t imageFormat) {
  switch (imageFormat) {
    case CxImageFormats::Bmp:
      return EncodeWithView<CxImageBMP>(*this, file, lastError_, sizeof lastError_);
    case CxImageFormats::Jpg:
      return EncodeWithView<CxImageJPG>(*this, file, lastError_, sizeof lastError_);
    case CxImageFormats::Png:
      return EncodeWithView<CxImagePNG>(*this, file, lastError_, sizeof lastError_);
    case CxImageFormats::Pcx:
      return EncodeWithView<CxImagePCX>(*this, file, lastError_, sizeof lastError_);
    default:
      SetLastError("Encode: Unknown format");
      return false;
  }
}

bool CxImage::SaveFile(const char* path, std::int32_t imageFormat) {
  saveError_ = 0;
  if (path == nullptr) {
    saveError_ = EINVAL;
    return false;
  }
  std::FILE* stream = std::fopen(path, "wb");
  if (stream == nullptr) {
    saveError_ = errno != 0 ? errno : EIO;
    return false;
  }
  // Only a regular file is removed again after a failure: a device such as
  // /dev/full stays.
  struct stat opened;
  const bool regular = fstat(fileno(stream), &opened) == 0 && S_ISREG(opened.st_mode);
  bool ok = false;
  {
    CxIOFile file(stream);
    ok = Encode(&file, imageFormat);
    // An encoder that stopped on a failed write names the system's reason;
    // one that refused the image itself has none.
    if (!ok) saveError_ = file.WriteErrorNumber() != 0 ? file.WriteErrorNumber() : EINVAL;
  }
  // Whatever stdio still buffers goes out at the close; a failure there is a
  // lost tail of the file, not a success.
  errno = 0;
  if (std::fclose(stream) != 0 && ok) {
    SetLastError("Error closing file");
    saveError_ = errno != 0 ? errno : EIO;
    ok = false;
  }
  struct stat named;
  if (!ok && regular && ::stat(path, &named) == 0 && named.st_dev == opened.st_dev &&
      named.st_ino == opened.st_ino) {
    std::remove(path);
  }
  return ok;
}

}  // namespace framory
