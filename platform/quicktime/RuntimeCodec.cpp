// The Photo-JPEG codec ('jpeg'): each image is compressed on its own with
// libjpeg-turbo straight from the graphics world's 32-bit pixels (blue,
// green, red, unused byte) into the caller's buffer, and the image
// description is filled in for the sample table.
//
// Colour is kept at full resolution (4:4:4): screen pictures are full of
// one-pixel coloured edges and text that halved chroma would smear.
//
// Codec qualities map onto libjpeg's scale so that normal quality (512) is
// libjpeg's own default of 75: 0 -> 25, 256 (low) -> 50, 512 (normal) -> 75,
// 768 (high) -> 90, 1023 (maximum) -> 98, 1024 (lossless) -> 100.
#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jerror.h>
#include <jpeglib.h>

#include "platform/quicktime/QtRuntime.h"

namespace {

constexpr CodecType kJpeg = qtrt::FourCC("jpeg");
constexpr OSType kVendor = qtrt::FourCC("frmy");

int JpegQuality(CodecQ quality) {
  struct Point {
    CodecQ codec;
    int jpeg;
  };
  static const Point kPoints[] = {{0, 25}, {256, 50}, {512, 75}, {768, 90}, {1023, 98}};
  if (quality >= 1024) return 100;
  for (std::size_t i = 1; i < sizeof kPoints / sizeof kPoints[0]; ++i) {
    if (quality <= kPoints[i].codec) {
      const Point& a = kPoints[i - 1];
      const Point& b = kPoints[i];
      return a.jpeg + static_cast<int>((quality - a.codec) * static_cast<CodecQ>(b.jpeg - a.jpeg) /
                                       (b.codec - a.codec));
    }
  }
  return 98;
}

bool RectSize(const Rect* r, std::int32_t* width, std::int32_t* height) {
  if (r == nullptr) return false;
  *width = std::int32_t{r->right} - r->left;
  *height = std::int32_t{r->bottom} - r->top;
  return *width > 0 && *height > 0;
}

// The largest JPEG stream libjpeg-turbo makes for an image of this size at
// 4:4:4 (its own bound: six bytes a pixel of whole blocks), plus headers.
std::int64_t WorstCaseBytes(std::int32_t width, std::int32_t height) {
  const std::int64_t w = (std::int64_t{width} + 7) & ~std::int64_t{7};
  const std::int64_t h = (std::int64_t{height} + 7) & ~std::int64_t{7};
  return w * h * 6 + 2048;
}

struct ErrorTrap {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void ErrorExit(j_common_ptr info) {
  std::longjmp(reinterpret_cast<ErrorTrap*>(info->err)->jump, 1);
}
void NoMessage(j_common_ptr) {}

// Writes into the caller's fixed buffer; running out of room is an error,
// never a write past its end.
void InitDestination(j_compress_ptr) {}
boolean BufferFull(j_compress_ptr info) {
  info->err->msg_code = JERR_BUFFER_SIZE;
  info->err->error_exit(reinterpret_cast<j_common_ptr>(info));
  return FALSE;
}
void TermDestination(j_compress_ptr) {}

// Compresses the rectangle into `out`; the stream's length, or -1.
std::int64_t CompressJpeg(const PixMap& pixMap, const Rect& rect, int quality, unsigned char* out,
                          std::size_t capacity) {
  jpeg_compress_struct info;
  ErrorTrap trap;
  jpeg_destination_mgr destination;
  info.err = jpeg_std_error(&trap.manager);
  trap.manager.error_exit = ErrorExit;
  trap.manager.output_message = NoMessage;
  if (setjmp(trap.jump) != 0) {
    jpeg_destroy_compress(&info);
    return -1;
  }
  jpeg_create_compress(&info);
  destination.next_output_byte = out;
  destination.free_in_buffer = capacity;
  destination.init_destination = InitDestination;
  destination.empty_output_buffer = BufferFull;
  destination.term_destination = TermDestination;
  info.dest = &destination;
  info.image_width = static_cast<JDIMENSION>(rect.right - rect.left);
  info.image_height = static_cast<JDIMENSION>(rect.bottom - rect.top);
  info.input_components = 4;
  info.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, quality, TRUE);
  for (int c = 0; c < info.num_components; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
  jpeg_start_compress(&info, TRUE);
  const std::int64_t left = std::int64_t{rect.left} - pixMap.bounds.left;
  while (info.next_scanline < info.image_height) {
    const std::int64_t y = std::int64_t{rect.top} - pixMap.bounds.top + info.next_scanline;
    JSAMPROW row = reinterpret_cast<JSAMPROW>(pixMap.baseAddr + y * pixMap.rowBytes + left * 4);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  const std::int64_t written = static_cast<std::int64_t>(capacity - destination.free_in_buffer);
  jpeg_destroy_compress(&info);
  return written;
}

void PascalName(unsigned char (&field)[32], const char* text) {
  std::memset(field, 0, sizeof field);
  const std::size_t n = std::strlen(text);
  field[0] = static_cast<unsigned char>(n);
  std::memcpy(field + 1, text, n);
}

}  // namespace

OSErr QtRt_GetMaxCompressionSize(PixMapHandle src, const Rect* srcRect, int16_t, CodecQ,
                                 CodecType cType, CompressorComponent, int32_t* size) {
  if (size != nullptr) *size = 0;
  if (src == nullptr || *src == nullptr || size == nullptr) return qtrt::kParamErr;
  if (cType != kJpeg) return qtrt::kNoCodec;
  std::int32_t width = 0, height = 0;
  if (!RectSize(srcRect, &width, &height)) return qtrt::kParamErr;
  const std::int64_t bytes = WorstCaseBytes(width, height);
  if (bytes > 0x7FFFFFFF) return qtrt::kParamErr;
  *size = static_cast<int32_t>(bytes);
  return qtrt::kNoErr;
}

OSErr QtRt_CompressImage(PixMapHandle src, const Rect* srcRect, CodecQ quality, CodecType cType,
                         ImageDescriptionHandle desc, Ptr data) {
  if (src == nullptr || *src == nullptr || desc == nullptr || data == nullptr) {
    return qtrt::kParamErr;
  }
  if (cType != kJpeg) return qtrt::kNoCodec;
  const PixMap& pixMap = **src;
  std::int32_t width = 0, height = 0;
  if (pixMap.baseAddr == nullptr || pixMap.pixelSize != 32 || !RectSize(srcRect, &width, &height)) {
    return qtrt::kParamErr;
  }
  // The rectangle must lie inside the pixels.
  if (srcRect->left < pixMap.bounds.left || srcRect->top < pixMap.bounds.top ||
      srcRect->right > pixMap.bounds.right || srcRect->bottom > pixMap.bounds.bottom) {
    return qtrt::kParamErr;
  }
  const std::int64_t room = qtrt::BytesFromPointerToHandleEnd(data);
  if (room <= 0) return qtrt::kParamErr;
  // The description grows to its full size in the caller's handle.
  if (qtrt::HandleBytes(reinterpret_cast<Handle>(desc)) <
          static_cast<Size>(sizeof(ImageDescription)) &&
      !qtrt::SetHandleBytes(reinterpret_cast<Handle>(desc), sizeof(ImageDescription))) {
    return qtrt::kMemFull;
  }
  const std::int64_t written =
      CompressJpeg(pixMap, *srcRect, JpegQuality(quality), reinterpret_cast<unsigned char*>(data),
                   static_cast<std::size_t>(room));
  if (written <= 0) return qtrt::kCodecErr;

  ImageDescription& d = **desc;
  std::memset(&d, 0, sizeof d);
  d.idSize = sizeof(ImageDescription);
  d.cType = kJpeg;
  d.vendor = kVendor;
  d.temporalQuality = 0;
  d.spatialQuality = quality > 1024 ? 1024 : quality;
  d.width = static_cast<int16_t>(width);
  d.height = static_cast<int16_t>(height);
  d.hRes = 72 << 16;
  d.vRes = 72 << 16;
  d.dataSize = static_cast<int32_t>(written);
  d.frameCount = 1;
  PascalName(d.name, "Photo - JPEG");
  d.depth = 24;
  d.clutID = -1;
  return qtrt::kNoErr;
}
