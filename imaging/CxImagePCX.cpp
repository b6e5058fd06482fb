#include "imaging/CxImagePCX.h"

#include <algorithm>
#include <cstring>

#include "imaging/CxMemFile.h"

namespace framory {

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kMaxRun = 63;

void PutLe16(std::uint8_t* at, std::uint32_t v) {
  at[0] = static_cast<std::uint8_t>(v);
  at[1] = static_cast<std::uint8_t>(v >> 8);
}

// Bytes of one plane line: the width in bytes (8-bit samples) or in bits
// (bit planes), made even.
std::uint32_t BytesPerPlaneLine(std::uint32_t width, std::uint32_t bitsPerPixel) {
  std::uint32_t bytes = bitsPerPixel >= 8 ? width : (width + 7) / 8;
  return bytes + (bytes & 1);
}

// Appends one run at `out`; returns the new end.
inline std::uint8_t* EmitRun(std::uint8_t value, std::size_t count, std::uint8_t* out) {
  if (count == 1 && value < 0xC0) {
    *out++ = value;
  } else {
    *out++ = static_cast<std::uint8_t>(0xC0 | count);
    *out++ = value;
  }
  return out;
}

int Brightness(const CxRgbQuad& c) { return (306 * c.Red + 601 * c.Green + 117 * c.Blue) >> 10; }

}  // namespace

std::size_t CxImagePCX::PackByteRuns(const std::uint8_t* line, std::size_t count,
                                     std::size_t stride, bool padToEven, std::uint8_t* out) {
  std::uint8_t* const start = out;
  std::size_t i = 0;
  while (i < count) {
    const std::uint8_t value = line[i * stride];
    std::size_t run = 1;
    while (i + run < count && line[(i + run) * stride] == value) ++run;
    i += run;
    // Full runs of 63 first, then the rest: the same bytes as packing one
    // pixel at a time with a run cut whenever it reaches 63.
    for (; run >= kMaxRun; run -= kMaxRun) out = EmitRun(value, kMaxRun, out);
    if (run > 0) out = EmitRun(value, run, out);
  }
  if (padToEven) *out++ = 0x00;
  return static_cast<std::size_t>(out - start);
}

std::size_t CxImagePCX::PackPlane(const std::uint8_t* line, std::size_t count, std::uint8_t* out) {
  if (count == 0) return 0;
  std::uint8_t* const start = out;
  std::uint8_t value = line[0];
  std::size_t run = 1;
  for (std::size_t i = 1; i < count; ++i) {
    if (line[i] == value && run < kMaxRun) {
      ++run;
    } else {
      out = EmitRun(value, run, out);
      value = line[i];
      run = 1;
    }
  }
  out = EmitRun(value, run, out);
  return static_cast<std::size_t>(out - start);
}

void CxImagePCX::BuildHeader(std::uint8_t header[128]) const {
  const std::uint32_t bpp = BitsPerPixel();
  std::memset(header, 0, kHeaderSize);
  header[0] = 0x0A;
  header[1] = 5;
  header[2] = 1;
  header[3] = bpp >= 8 ? 8 : 1;
  PutLe16(header + 8, Width() - 1);
  PutLe16(header + 10, Height() - 1);
  PutLe16(header + 12, static_cast<std::uint32_t>(XDpi()));
  PutLe16(header + 14, static_cast<std::uint32_t>(YDpi()));
  if (bpp == 1) {
    // The file's bit value 1 is white; palettes are turned to match below.
    std::memset(header + 16 + 3, 0xFF, 3);
  } else if (bpp == 4) {
    const CxRgbQuad* entries = PaletteEntries();
    for (int i = 0; i < 16; ++i) {
      header[16 + 3 * i] = entries[i].Red;
      header[17 + 3 * i] = entries[i].Green;
      header[18 + 3 * i] = entries[i].Blue;
    }
  }
  header[65] = bpp == 24 ? 3 : bpp == 4 ? 4 : 1;
  PutLe16(header + 66, BytesPerPlaneLine(Width(), bpp));
  PutLe16(header + 68, bpp == 24 ? 1 : 0);
}

void CxImagePCX::EncodeBody(CxFile* body) const {
  const std::uint32_t width = Width();
  const std::uint32_t bpp = BitsPerPixel();
  const std::uint32_t planeBytes = BytesPerPlaneLine(width, bpp);
  const bool odd = (width & 1) != 0;
  // Room for the worst case of every plane of one line (two bytes a byte).
  std::vector<std::uint8_t> packed(4 * (2 * static_cast<std::size_t>(planeBytes) + 1));

  // Bit-plane images: a 1-bit palette whose entry 0 is the brighter one is
  // written with its indices turned over, so that bit value 1 stays white.
  bool invert = false;
  if (bpp == 1) {
    const CxRgbQuad* entries = PaletteEntries();
    invert = Brightness(entries[0]) - Brightness(entries[1]) > 0;
  }
  const std::uint32_t planes = bpp == 4 ? 4 : 1;
  std::vector<std::uint8_t> indices(bpp < 8 ? width : 0);
  std::vector<std::uint8_t> planeLine(bpp < 8 ? planeBytes : 0);

  for (std::uint32_t y = 0; y < Height(); ++y) {
    const std::uint8_t* row = TopDownRow(y);
    std::size_t used = 0;
    if (bpp == 24) {
      for (int channel = 2; channel >= 0; --channel) {
        used += PackByteRuns(row + channel, width, 3, odd, packed.data() + used);
      }
    } else if (bpp == 8) {
      used = PackByteRuns(row, width, 1, odd, packed.data());
    } else {
      for (std::uint32_t x = 0; x < width; ++x) {
        const std::uint8_t index = PixelIndex(row, x);
        indices[x] = invert ? static_cast<std::uint8_t>(1 - index) : index;
      }
      for (std::uint32_t k = 0; k < planes; ++k) {
        std::fill(planeLine.begin(), planeLine.end(), 0);
        for (std::uint32_t x = 0; x < width; ++x) {
          if ((indices[x] >> k) & 1) planeLine[x / 8] |= 0x80 >> (x % 8);
        }
        used += PackPlane(planeLine.data(), planeLine.size(), packed.data() + used);
      }
    }
    body->Write(packed.data(), 1, used);
  }
}

bool CxImagePCX::Encode(CxFile* file) {
  if (!CheckEncodeInputs(file)) return false;

  std::uint8_t header[kHeaderSize];
  BuildHeader(header);
  if (file->Write(header, kHeaderSize, 1) == 0) {
    SetLastError("cannot write PCX header");
    return false;
  }

  CxMemFile body;
  EncodeBody(&body);
  bool written =
      !body.HasError() && file->Write(body.Buffer(), 1, static_cast<std::size_t>(body.Size())) ==
                              static_cast<std::size_t>(body.Size());

  if (BitsPerPixel() == 8) {
    std::uint8_t trailer[768];
    const CxRgbQuad* entries = PaletteEntries();
    for (int i = 0; i < 256; ++i) {
      trailer[3 * i] = entries[i].Red;
      trailer[3 * i + 1] = entries[i].Green;
      trailer[3 * i + 2] = entries[i].Blue;
    }
    written =
        file->PutByte(0x0C) && file->Write(trailer, 1, sizeof trailer) == sizeof trailer && written;
  }
  // A body or trailer that did not reach the file (a full disk) is a broken
  // picture; it is reported rather than passed off as saved.
  if (!written || !file->Flush() || file->HasError()) {
    SetLastError("cannot write PCX data --- out of disk space?");
    return false;
  }
  return true;
}

}  // namespace framory
