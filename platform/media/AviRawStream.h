// The stream created in an AVI file: carries uncompressed 32-bit frames
// written to it directly, or the packets of a codec stream put on top of it.
// Frames written to it directly go through a bounded queue to a worker
// thread that writes them into the file.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/media/AviFrameQueue.h"
#include "platform/media/AviMuxer.h"
#include "platform/media/FfmpegHandles.h"
#include "writers/AviFileApi.h"

namespace framory {

class AviRawStream : public AviStream {
 public:
  explicit AviRawStream(std::shared_ptr<AviMuxer> muxer);
  ~AviRawStream() override;
  AviRawStream(const AviRawStream&) = delete;
  AviRawStream& operator=(const AviRawStream&) = delete;

  // Only 32-bit BI_RGB frames are stored uncompressed; a positive height
  // means the rows come bottom-up.
  std::int32_t SetFormat(std::int32_t position, const AviBitmapHeader& format) override;
  std::int32_t Write(std::int32_t start, std::int32_t samples, const void* data, std::int32_t bytes,
                     std::uint32_t flags) override;
  // For the stream that carries the frames: drains the queue and finishes
  // the file. Nothing for a stream under a codec stream.
  std::int32_t Finish() override;

  const std::shared_ptr<AviMuxer>& Muxer() const { return muxer_; }

 private:
  // On the worker: writes one queued frame.
  std::int32_t WriteFrame(const std::uint8_t* data, std::int32_t position);

  std::shared_ptr<AviMuxer> muxer_;
  PacketHandle packet_;
  std::int64_t frameBytes_ = 0;
  std::int64_t nextStart_ = 0;
  bool carrier_ = false;  // the frames are written to this stream
  bool finished_ = false;
  // Last member: destroyed (and its worker stopped) before what it uses.
  AviFrameQueue queue_;
};

}  // namespace framory
