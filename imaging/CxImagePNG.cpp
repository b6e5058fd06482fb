#include "imaging/CxImagePNG.h"

#include <png.h>

#include <csetjmp>
#include <cstring>
#include <vector>

namespace framory {

namespace {

void WriteData(png_structp png, png_bytep data, png_size_t length) {
  auto* file = static_cast<CxFile*>(png_get_io_ptr(png));
  if (file->Write(data, 1, length) != length) png_error(png, "Write Error");
}

void FlushData(png_structp png) {
  auto* file = static_cast<CxFile*>(png_get_io_ptr(png));
  if (!file->Flush()) png_error(png, "Flush Error");
}

// Writes the whole file; false when libpng reported an error.
bool WriteImage(const CxImage& image, CxFile* file, png_structp png, png_infop info,
                png_color* palette, int paletteSize, std::uint8_t* row) {
  // libpng reports every error, the callbacks' included, by jumping here.
  if (setjmp(png_jmpbuf(png)) != 0) return false;

  png_set_write_fn(png, file, &WriteData, &FlushData);
  const bool isPalette = image.ColorCount() != 0;

  const int bitDepth = isPalette ? static_cast<int>(image.BitsPerPixel()) : 8;
  png_set_IHDR(png, info, image.Width(), image.Height(), bitDepth,
               isPalette ? PNG_COLOR_TYPE_PALETTE : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_BASE, PNG_FILTER_TYPE_BASE);

  png_color_16 background{};
  background.index = 0;
  background.red = 255;
  background.green = 255;
  background.blue = 255;
  background.gray = 0;
  png_set_bKGD(png, info, &background);
  png_set_pHYs(png, info, static_cast<png_uint_32>(image.Header().XPelsPerMeter),
               static_cast<png_uint_32>(image.Header().YPelsPerMeter), PNG_RESOLUTION_METER);

  if (isPalette) {
    const CxRgbQuad* entries = image.PaletteEntries();
    for (int i = 0; i < paletteSize; ++i) {
      palette[i] = png_color{entries[i].Red, entries[i].Green, entries[i].Blue};
    }
    png_set_PLTE(png, info, palette, paletteSize);
  }

  png_write_info(png, info);

  for (std::uint32_t y = 0; y < image.Height(); ++y) {
    const std::uint8_t* src = image.TopDownRow(y);
    if (isPalette) {
      std::memcpy(row, src, image.EffectiveWidth());
    } else {
      CxImage::BgrToRgb(src, image.Width(), row);
    }
    png_write_row(png, row);
  }

  png_write_end(png, info);
  // libpng leaves the last bytes to the stream's buffer; push them out now so
  // that a full disk shows up here as a PNG error and not after the fact.
  FlushData(png);
  if (file->HasError()) png_error(png, "Write Error");
  return true;
}

}  // namespace

std::uint32_t CxImagePNG::PaletteEntriesToWrite() const {
  const std::uint32_t width = Width();
  const std::uint32_t height = Height();
  if (ColorCount() <= 2 || static_cast<std::uint64_t>(width) * height >= 65536) {
    return ColorCount();
  }
  std::uint32_t highest = 0;
  for (std::uint32_t row = 0; row < height; ++row) {
    const std::uint8_t* bits = BottomUpRow(row);
    for (std::uint32_t x = 0; x < width; ++x) {
      const std::uint32_t index = PixelIndex(bits, x);
      if (index > highest) highest = index;
    }
  }
  return highest + 1;
}

bool CxImagePNG::Encode(CxFile* file) {
  if (!CheckEncodeInputs(file)) return false;

  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) {
    SetLastError("Failed to create PNG structure");
    return false;
  }
  png_infop info = png_create_info_struct(png);
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    SetLastError("Failed to initialize PNG info structure");
    return false;
  }

  // The palette copy and the row buffer live outside the part that libpng can
  // jump out of, so they are released on both paths.
  std::vector<png_color> palette(ColorCount() != 0 ? PaletteEntriesToWrite() : 0);
  std::vector<png_byte> row(EffectiveWidth() + 10);
  const bool ok = WriteImage(*this, file, png, info, palette.data(),
                             static_cast<int>(palette.size()), row.data());
  png_destroy_write_struct(&png, &info);
  if (!ok) SetLastError("Error saving PNG file");
  return ok;
}

}  // namespace framory
