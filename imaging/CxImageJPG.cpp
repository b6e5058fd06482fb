#include "imaging/CxImageJPG.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

namespace framory {

// Destination manager: compressed bytes collect in a 4096-byte buffer that is
// written to the file whenever it fills and once more at the end. A failed
// write is a libjpeg error (JERR_FILE_WRITE), which ends the encode.
class CxImageJPG::CxFileJpg : public jpeg_destination_mgr {
 public:
  static constexpr std::size_t kBufferSize = 4096;

  explicit CxFileJpg(CxFile* file) : file_(file), buffer_(new JOCTET[kBufferSize]) {
    next_output_byte = nullptr;
    free_in_buffer = 0;
    init_destination = &InitDestination;
    empty_output_buffer = &EmptyOutputBuffer;
    term_destination = &TermDestination;
  }
  ~CxFileJpg() { delete[] buffer_; }
  CxFileJpg(const CxFileJpg&) = delete;
  CxFileJpg& operator=(const CxFileJpg&) = delete;

 private:
  static CxFileJpg* Self(j_compress_ptr cinfo) { return static_cast<CxFileJpg*>(cinfo->dest); }

  static void InitDestination(j_compress_ptr cinfo) {
    CxFileJpg* self = Self(cinfo);
    self->next_output_byte = self->buffer_;
    self->free_in_buffer = kBufferSize;
  }

  static boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    CxFileJpg* self = Self(cinfo);
    if (self->file_->Write(self->buffer_, 1, kBufferSize) != kBufferSize) {
      ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    self->next_output_byte = self->buffer_;
    self->free_in_buffer = kBufferSize;
    return TRUE;
  }

  static void TermDestination(j_compress_ptr cinfo) {
    CxFileJpg* self = Self(cinfo);
    const std::size_t pending = kBufferSize - self->free_in_buffer;
    if (pending > 0 && self->file_->Write(self->buffer_, 1, pending) != pending) {
      ERREXIT(cinfo, JERR_FILE_WRITE);
    }
    self->file_->Flush();
    if (self->file_->HasError()) ERREXIT(cinfo, JERR_FILE_WRITE);
  }

  CxFile* file_;
  JOCTET* buffer_;
};

namespace {

// The standard error manager with its exit replaced: the message is kept and
// control jumps back into the encoder instead of ending the process.
struct JumpingErrorManager {
  jpeg_error_mgr pub;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void ErrorExit(j_common_ptr cinfo) {
  auto* manager = reinterpret_cast<JumpingErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, manager->message);
  std::longjmp(manager->jump, 1);
}

// Fills one sample row of `samples` bytes from stored row `src`.
void FillSampleRow(const CxImage& image, const std::uint8_t* src, JSAMPLE* out) {
  const std::uint32_t width = image.Width();
  switch (image.BitsPerPixel()) {
    case 24:
      CxImage::BgrToRgb(src, width, out);
      break;
    case 8:
      std::memcpy(out, src, width);
      break;
    default:
      // 1- and 4-bit grey ramps: index i is grey level i, one sample a pixel.
      for (std::uint32_t x = 0; x < width; ++x) out[x] = image.PixelIndex(src, x);
      break;
  }
}

}  // namespace

bool CxImageJPG::IsGreyRamp() const {
  const CxRgbQuad* entries = PaletteEntries();
  for (std::uint32_t i = 0; i < ColorCount(); ++i) {
    if (entries[i].Red != i || entries[i].Green != i || entries[i].Blue != i) return false;
  }
  return true;
}

bool CxImageJPG::Encode(CxFile* file) {
  if (!CheckEncodeInputs(file)) return false;
  if (ColorCount() != 0 && !IsGreyRamp()) {
    SetLastError("JPEG can save only RGB or GreyScale images");
    return false;
  }

  // Zeroed so that an error before the object is fully created still finds
  // nothing to free.
  jpeg_compress_struct cinfo;
  std::memset(&cinfo, 0, sizeof cinfo);
  JumpingErrorManager errors;
  cinfo.err = jpeg_std_error(&errors.pub);
  errors.pub.error_exit = &ErrorExit;
  errors.message[0] = '\0';
  CxFileJpg destination(file);

  if (setjmp(errors.jump) != 0) {
    SetLastError(errors.message);
    jpeg_destroy_compress(&cinfo);
    return false;
  }

  jpeg_create_compress(&cinfo);
  cinfo.dest = &destination;
  cinfo.image_width = Width();
  cinfo.image_height = Height();
  if (ColorCount() != 0) {
    cinfo.input_components = 1;
    cinfo.in_color_space = JCS_GRAYSCALE;
  } else {
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
  }
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, JpegQuality(), TRUE);
  cinfo.density_unit = 1;
  cinfo.X_density = static_cast<UINT16>(XDpi());
  cinfo.Y_density = static_cast<UINT16>(YDpi());
  jpeg_start_compress(&cinfo, TRUE);

  // 1- and 4-bit rows are narrower than their samples, so the buffer holds
  // whichever is larger: the stored row or one sample per component.
  const std::size_t samples = static_cast<std::size_t>(Width()) * cinfo.input_components;
  const std::size_t rowLength = (samples > EffectiveWidth() ? samples : EffectiveWidth()) + 8;
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              static_cast<JDIMENSION>(rowLength), 1);
  while (cinfo.next_scanline < cinfo.image_height) {
    FillSampleRow(*this, TopDownRow(cinfo.next_scanline), row[0]);
    jpeg_write_scanlines(&cinfo, row, 1);
  }

  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return true;
}

}  // namespace framory
