// A codec stream on top of an AVI file's stream: takes 32-bit BI_RGB frames,
// converts them to the encoder's picture format (swscale), compresses them
// with the codec of the table and writes the packets into the file. Frames
// are encoded on the calling thread, one in, its packet out (no B-frames),
// and whatever the encoder still holds is written when the stream is
// released.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media/AviCodecTable.h"
#include "platform/media/AviMuxer.h"
#include "writers/AviFileApi.h"

extern "C" {
struct AVCodecContext;
struct AVFrame;
struct SwsContext;
}

namespace framory {

class AviCodecStream : public AviStream {
 public:
  // NoCompressor when no encoder exists for options.Handler.
  static std::int32_t Create(std::shared_ptr<AviMuxer> muxer, const AviCompressOptions& options,
                             std::unique_ptr<AviStream>* stream);
  ~AviCodecStream() override;
  AviCodecStream(const AviCodecStream&) = delete;
  AviCodecStream& operator=(const AviCodecStream&) = delete;

  // The format of the frames written to this stream: 32-bit BI_RGB, even
  // width and height. Opens the encoder and writes the file header.
  std::int32_t SetFormat(std::int32_t position, const AviBitmapHeader& format) override;
  std::int32_t Write(std::int32_t start, std::int32_t samples, const void* data, std::int32_t bytes,
                     std::uint32_t flags) override;

 private:
  AviCodecStream(std::shared_ptr<AviMuxer> muxer, const AviCodec& codec, const AVCodec& encoder,
                 const AviCompressOptions& options);
  // Writes every packet the encoder has ready.
  std::int32_t WritePackets();

  std::shared_ptr<AviMuxer> muxer_;
  const AviCodec& codec_;
  const AVCodec& encoder_;
  AviCompressOptions options_;
  AVCodecContext* context_ = nullptr;
  SwsContext* scaler_ = nullptr;
  AVFrame* picture_ = nullptr;
  AVPacket* packet_ = nullptr;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  bool bottomUp_ = true;
};

}  // namespace framory
