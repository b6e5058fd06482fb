// A codec stream on top of an AVI file's stream: takes 32-bit BI_RGB frames,
// converts them to YUV 4:2:0, compresses them with the codec of the table and
// writes the packets into the file. Write only copies the frame into the
// stream's bounded queue; conversion, encoding and writing run on the queue's
// worker thread, one frame in, its packet out in order (no B-frames; codecs
// that can use slice threads do). Whatever the encoder still holds is written
// when the stream is finished or released.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media/AviCodecTable.h"
#include "platform/media/AviFrameQueue.h"
#include "platform/media/AviMuxer.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/AviFileApi.h"

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
  // Drains the queue, writes what the encoder still holds and finishes the
  // file.
  std::int32_t Finish() override;

 private:
  AviCodecStream(std::shared_ptr<AviMuxer> muxer, const AviCodec& codec, const AVCodec& encoder,
                 const AviCompressOptions& options);
  // On the worker: converts and encodes one queued frame.
  std::int32_t Encode(const std::uint8_t* data, std::int32_t position, std::uint32_t flags);
  // Writes every packet the encoder has ready.
  std::int32_t WritePackets();

  std::shared_ptr<AviMuxer> muxer_;
  const AviCodec& codec_;
  const AVCodec& encoder_;
  AviCompressOptions options_;
  CodecContextHandle context_;
  FrameHandle picture_;
  PacketHandle packet_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  bool bottomUp_ = true;
  std::int64_t nextStart_ = 0;  // the first position the caller may still write
  bool finished_ = false;
  // Last member: destroyed (and its worker stopped) before what it uses.
  AviFrameQueue queue_;
};

}  // namespace framory
