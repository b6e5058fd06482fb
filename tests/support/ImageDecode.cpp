#include "support/ImageDecode.h"

#include <gtest/gtest.h>
#include <png.h>

#include <algorithm>
#include <cctype>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// clang-format off
#include <jpeglib.h>
// clang-format on

#include "imaging/CxImage.h"
#include "support/ProgramLog.h"
#include "support/TempDir.h"

namespace framory::testing {

namespace {

std::uint32_t Be32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

// Walks the chunk list by hand, so the order in the file is what is seen.
std::vector<std::string> PngChunkTypes(const std::string& bytes) {
  std::vector<std::string> types;
  std::size_t at = 8;
  while (at + 12 <= bytes.size()) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data() + at);
    const std::uint32_t length = Be32(p);
    types.emplace_back(bytes.substr(at + 4, 4));
    at += 12 + static_cast<std::size_t>(length);
  }
  return types;
}

struct PngReadState {
  std::string bytes;
  std::size_t at = 0;
  char message[256] = {};
};

void ReadPngData(png_structp png, png_bytep out, png_size_t length) {
  auto* state = static_cast<PngReadState*>(png_get_io_ptr(png));
  if (state->at + length > state->bytes.size()) png_error(png, "read past the end of the file");
  std::memcpy(out, state->bytes.data() + state->at, length);
  state->at += length;
}

void PngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngReadState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof state->message, "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

bool ReadPng(PngReadState* state, RgbImage* image, PngFacts* facts, png_bytep* rows) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, state, &PngError, &PngWarning);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png)) != 0) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, state, &ReadPngData);
  png_read_info(png, info);
  facts->ColorType = png_get_color_type(png, info);
  facts->BitDepth = png_get_bit_depth(png, info);
  png_colorp palette = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &palette, &count) != 0) facts->PaletteSize = count;
  png_color_16p background = nullptr;
  if (png_get_bKGD(png, info, &background) != 0) {
    facts->HasBackground = true;
    facts->BackgroundIndex = background->index;
    facts->BackgroundRed = background->red;
    facts->BackgroundGreen = background->green;
    facts->BackgroundBlue = background->blue;
  }
  png_uint_32 px = 0, py = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &px, &py, &unit) != 0) {
    facts->HasPhys = true;
    facts->PhysX = px;
    facts->PhysY = py;
    facts->PhysUnit = unit;
  }
  facts->HasTransparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;

  png_set_expand(png);  // palette to RGB, low grey depths to 8 bits
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_strip_alpha(png);
  png_read_update_info(png, info);
  image->Width = static_cast<int>(png_get_image_width(png, info));
  image->Height = static_cast<int>(png_get_image_height(png, info));
  if (png_get_rowbytes(png, info) != static_cast<std::size_t>(image->Width) * 3) {
    png_error(png, "unexpected row size after expansion");
  }
  image->Rgb.assign(static_cast<std::size_t>(image->Width) * image->Height * 3, 0);
  for (int y = 0; y < image->Height; ++y)
    rows[y] = &image->Rgb[static_cast<std::size_t>(y) * image->Width * 3];
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

struct JpegErrors {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

bool ReadJpeg(std::FILE* in, RgbImage* image, JpegFacts* facts, char* message) {
  jpeg_decompress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JpegErrors errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = &JpegErrorExit;
  if (setjmp(errors.jump) != 0) {
    std::snprintf(message, 256, "%s", errors.message);
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  facts->Components = cinfo.num_components;
  facts->SawJfif = cinfo.saw_JFIF_marker != 0;
  facts->DensityUnit = cinfo.density_unit;
  facts->XDensity = cinfo.X_density;
  facts->YDensity = cinfo.Y_density;
  facts->Progressive = cinfo.progressive_mode != 0;
  facts->Arithmetic = cinfo.arith_code != 0;
  cinfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&cinfo);
  image->Width = static_cast<int>(cinfo.output_width);
  image->Height = static_cast<int>(cinfo.output_height);
  image->Rgb.assign(static_cast<std::size_t>(image->Width) * image->Height * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = &image->Rgb[static_cast<std::size_t>(cinfo.output_scanline) * image->Width * 3];
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

// The first frame marker of a JPEG stream (0xC0 baseline, 0xC2 progressive…).
int FirstFrameMarker(const std::string& bytes) {
  std::size_t at = 2;
  while (at + 4 <= bytes.size()) {
    if (static_cast<std::uint8_t>(bytes[at]) != 0xFF) return -1;
    const int marker = static_cast<std::uint8_t>(bytes[at + 1]);
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      return marker;
    }
    const std::size_t length =
        (static_cast<std::uint8_t>(bytes[at + 2]) << 8) | static_cast<std::uint8_t>(bytes[at + 3]);
    at += 2 + length;
  }
  return -1;
}

// Reads a binary PNM (P4, P5 or P6, maxval up to 255) into RGB.
bool ParsePnm(const std::string& data, RgbImage* image, std::string* error) {
  std::size_t at = 0;
  auto skipSpace = [&] {
    while (at < data.size()) {
      if (data[at] == '#') {
        while (at < data.size() && data[at] != '\n') ++at;
      } else if (std::isspace(static_cast<unsigned char>(data[at])) != 0) {
        ++at;
      } else {
        break;
      }
    }
  };
  auto number = [&]() -> long {
    skipSpace();
    long v = 0;
    bool any = false;
    while (at < data.size() && std::isdigit(static_cast<unsigned char>(data[at])) != 0) {
      v = v * 10 + (data[at++] - '0');
      any = true;
    }
    return any ? v : -1;
  };
  if (data.size() < 2 || data[0] != 'P') {
    *error = "not a PNM stream";
    return false;
  }
  const char kind = data[1];
  at = 2;
  const long width = number();
  const long height = number();
  const long maxval = kind == '4' ? 1 : number();
  if (width <= 0 || height <= 0 || maxval <= 0 || maxval > 255) {
    *error = "unsupported PNM header";
    return false;
  }
  ++at;  // the single whitespace before the raster
  image->Width = static_cast<int>(width);
  image->Height = static_cast<int>(height);
  image->Rgb.assign(static_cast<std::size_t>(width) * height * 3, 0);
  const auto* raster = reinterpret_cast<const std::uint8_t*>(data.data() + at);
  const std::size_t available = data.size() - at;
  auto scale = [&](unsigned v) { return static_cast<std::uint8_t>(v * 255 / maxval); };
  if (kind == '6' || kind == '5') {
    const std::size_t channels = kind == '6' ? 3 : 1;
    if (available < static_cast<std::size_t>(width) * height * channels) {
      *error = "short PNM raster";
      return false;
    }
    for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
      for (std::size_t c = 0; c < 3; ++c) {
        image->Rgb[i * 3 + c] = scale(raster[i * channels + (channels == 3 ? c : 0)]);
      }
    }
    return true;
  }
  if (kind == '4') {
    const std::size_t rowBytes = (static_cast<std::size_t>(width) + 7) / 8;
    if (available < rowBytes * height) {
      *error = "short PBM raster";
      return false;
    }
    for (long y = 0; y < height; ++y) {
      for (long x = 0; x < width; ++x) {
        const bool black = (raster[y * rowBytes + x / 8] >> (7 - x % 8)) & 1;
        std::memset(&image->Rgb[(static_cast<std::size_t>(y) * width + x) * 3], black ? 0 : 255, 3);
      }
    }
    return true;
  }
  *error = std::string("unsupported PNM kind P") + kind;
  return false;
}

}  // namespace

bool DecodePng(const std::string& path, RgbImage* image, PngFacts* facts, std::string* error) {
  PngReadState state;
  state.bytes = ReadWholeFile(path);
  if (state.bytes.size() < 8 ||
      png_sig_cmp(reinterpret_cast<png_const_bytep>(state.bytes.data()), 0, 8) != 0) {
    *error = "not a PNG file";
    return false;
  }
  *facts = PngFacts{};
  facts->Chunks = PngChunkTypes(state.bytes);
  // The row pointers live outside the part libpng may jump out of.
  std::vector<png_bytep> rows(1 << 16);
  const std::uint8_t* ihdr = reinterpret_cast<const std::uint8_t*>(state.bytes.data()) + 16;
  if (state.bytes.size() >= 24 && Be32(ihdr + 4) > rows.size()) rows.resize(Be32(ihdr + 4));
  if (!ReadPng(&state, image, facts, rows.data())) {
    *error = state.message;
    return false;
  }
  return true;
}

bool DecodeJpeg(const std::string& path, RgbImage* image, JpegFacts* facts, std::string* error) {
  const std::string bytes = ReadWholeFile(path);
  *facts = JpegFacts{};
  facts->Baseline = FirstFrameMarker(bytes) == 0xC0;
  std::FILE* in = std::fopen(path.c_str(), "rb");
  if (in == nullptr) {
    *error = "cannot open " + path;
    return false;
  }
  char message[256] = {};
  const bool ok = ReadJpeg(in, image, facts, message);
  std::fclose(in);
  if (!ok) *error = message;
  return ok;
}

bool HaveTool(const std::string& tool) {
  const std::string command = "command -v '" + tool + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

bool DecodeWithTool(const std::string& tool, const std::string& path, RgbImage* image,
                    std::string* error) {
  NoteProgram(tool);
  const std::string command = "'" + tool + "' '" + path + "' 2>/dev/null";
  std::FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *error = "cannot run " + tool;
    return false;
  }
  std::string data;
  char buffer[65536];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) data.append(buffer, n);
  const int status = pclose(pipe);
  if (status != 0) {
    *error = tool + " failed on " + path;
    return false;
  }
  return ParsePnm(data, image, error);
}

RgbImage ExpectedPixels(const CxImage& source) {
  RgbImage image;
  image.Width = static_cast<int>(source.Width());
  image.Height = static_cast<int>(source.Height());
  image.Rgb.resize(static_cast<std::size_t>(image.Width) * image.Height * 3);
  const CxRgbQuad* palette = source.PaletteEntries();
  for (int y = 0; y < image.Height; ++y) {
    const std::uint8_t* row = source.TopDownRow(static_cast<std::uint32_t>(y));
    for (int x = 0; x < image.Width; ++x) {
      std::uint8_t* out = &image.Rgb[(static_cast<std::size_t>(y) * image.Width + x) * 3];
      if (source.BitsPerPixel() == 24) {
        out[0] = row[3 * x + 2];
        out[1] = row[3 * x + 1];
        out[2] = row[3 * x];
      } else {
        const CxRgbQuad& c = palette[source.PixelIndex(row, static_cast<std::uint32_t>(x))];
        out[0] = c.Red;
        out[1] = c.Green;
        out[2] = c.Blue;
      }
    }
  }
  return image;
}

int MaxChannelDifference(const RgbImage& a, const RgbImage& b) {
  if (a.Width != b.Width || a.Height != b.Height || a.Rgb.size() != b.Rgb.size()) return 256;
  int worst = 0;
  for (std::size_t i = 0; i < a.Rgb.size(); ++i) {
    worst = std::max(worst, std::abs(int{a.Rgb[i]} - int{b.Rgb[i]}));
  }
  return worst;
}

double MeanChannelDifference(const RgbImage& a, const RgbImage& b) {
  if (a.Width != b.Width || a.Height != b.Height || a.Rgb.size() != b.Rgb.size()) return 256;
  if (a.Rgb.empty()) return 0;
  double sum = 0;
  for (std::size_t i = 0; i < a.Rgb.size(); ++i) sum += std::abs(int{a.Rgb[i]} - int{b.Rgb[i]});
  return sum / static_cast<double>(a.Rgb.size());
}

}  // namespace framory::testing

namespace framory::testing {

void FillTestPicture(CxImage* image, unsigned seed) {
  const std::uint32_t width = image->Width();
  const std::uint32_t height = image->Height();
  const std::uint32_t bpp = image->BitsPerPixel();
  std::uint32_t state = seed * 2654435761u + 12345;
  auto next = [&state] {
    state = state * 1103515245u + 12345u;
    return state >> 16;
  };
  if (CxRgbQuad* palette = image->PaletteEntries()) {
    for (std::uint32_t i = 0; i < image->ColorCount(); ++i) {
      palette[i] = CxRgbQuad{static_cast<std::uint8_t>(next()), static_cast<std::uint8_t>(next()),
                             static_cast<std::uint8_t>(next()), 0};
    }
    if (bpp == 1) {
      palette[0] = CxRgbQuad{0, 0, 0, 0};
      palette[1] = CxRgbQuad{255, 255, 255, 0};
    }
  }
  for (std::uint32_t y = 0; y < height; ++y) {
    std::uint8_t* row = image->TopDownRow(y);
    for (std::uint32_t x = 0; x < width; ++x) {
      // Left part: runs of varying length; right part: noise.
      const bool runs = x < width / 2;
      const std::uint32_t v = runs ? (x / (1 + y % 70) + y + seed) : next();
      switch (bpp) {
        case 24:
          row[3 * x] = static_cast<std::uint8_t>(runs ? v * 37 : v);
          row[3 * x + 1] = static_cast<std::uint8_t>(runs ? v * 11 : v >> 8);
          row[3 * x + 2] = static_cast<std::uint8_t>(runs ? v * 5 + 0xC0 : v >> 4);
          break;
        case 8:
          row[x] = static_cast<std::uint8_t>(runs ? v * 3 + 0xC0 : v);
          break;
        case 4:
          row[x >> 1] = static_cast<std::uint8_t>((row[x >> 1] & ((x & 1) ? 0xF0 : 0x0F)) |
                                                  ((v & 15) << ((x & 1) ? 0 : 4)));
          break;
        case 1:
          if (v & 1) {
            row[x >> 3] |= 0x80 >> (x & 7);
          } else {
            row[x >> 3] &= ~(0x80 >> (x & 7));
          }
          break;
      }
    }
  }
}

void FillSmoothPicture(CxImage* image) {
  // Triangle waves: neighbouring pixels differ by a few levels at most,
  // whatever the picture's size.
  auto wave = [](std::uint32_t v) {
    v %= 512;
    return static_cast<std::uint8_t>(v < 256 ? v : 511 - v);
  };
  for (std::uint32_t y = 0; y < image->Height(); ++y) {
    std::uint8_t* row = image->TopDownRow(y);
    for (std::uint32_t x = 0; x < image->Width(); ++x) {
      row[3 * x] = wave(2 * x + 20);
      row[3 * x + 1] = wave(3 * y + 30);
      row[3 * x + 2] = wave(x + y + 64);
    }
  }
}

}  // namespace framory::testing

namespace framory::testing {

std::size_t FailingFile::Write(const void* buffer, std::size_t size, std::size_t count) {
  if (size == 0) return 0;
  const std::size_t room = written_.size() < limit_ ? limit_ - written_.size() : 0;
  std::size_t items = room / size;
  if (items > count) items = count;
  written_.append(static_cast<const char*>(buffer), items * size);
  if (items < count) error_ = true;
  return items;
}

}  // namespace framory::testing

namespace framory::testing {

void ExpectToolDecodesEveryDepthAndSize(
    const std::string& tool, std::int32_t imageFormat, const std::string& extension,
    const std::function<unsigned(const PictureSize& size, std::uint32_t bpp)>& seed) {
  TempDir dir;
  for (std::uint32_t bpp : {1u, 4u, 8u, 24u}) {
    for (const PictureSize& size : kRoundTripSizes) {
      SCOPED_TRACE(std::to_string(bpp) + " bits, " + std::to_string(size.Width) + "x" +
                   std::to_string(size.Height));
      CxImage image(0);
      ASSERT_NE(image.Create(size.Width, size.Height, bpp, 0), nullptr);
      FillTestPicture(&image, seed(size, bpp));
      const std::string path = dir.File("pic" + extension);
      ASSERT_TRUE(image.SaveFile(path.c_str(), imageFormat)) << image.LastError();
      RgbImage decoded;
      std::string error;
      ASSERT_TRUE(DecodeWithTool(tool, path, &decoded, &error)) << error;
      EXPECT_EQ(MaxChannelDifference(decoded, ExpectedPixels(image)), 0);
    }
  }
}

}  // namespace framory::testing
