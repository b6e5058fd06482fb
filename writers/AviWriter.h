// Writes one AVI file with one video stream through the AVI file library.
// The file is created and the stream set up with the first frame; every
// later frame is appended. Frames are compressed by the codec named by
// four-character code, or stored as uncompressed 32-bit rows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "writers/AviFileApi.h"
#include "writers/MovieWriter.h"

namespace framory {

class WriterReports;

class AviWriter : public MovieWriter {
 public:
  // Longest path taken, terminator included (the fixed path field).
  static constexpr std::size_t kPathCapacity = 260;

  enum State : std::int32_t { kClosed = 0, kReady = 1, kWriting = 2 };

  // Nothing is opened yet. The screen size only sizes the pixel buffer. A
  // file that cannot be set up at the first frame is reported to `reports`.
  AviWriter(AviFileLibrary& library, WriterReports& reports, std::string path,
            std::int32_t screenWidth, std::int32_t screenHeight);
  ~AviWriter() override;

  // Frame period in milliseconds; 0 or less leaves one frame a second.
  void SetFramePeriod(std::int32_t milliseconds) { framePeriod_ = milliseconds; }
  // The codec by four-character code (an AVI format's Codec); 0 stores
  // uncompressed frames, whose stream still names MPG4 as its handler, as
  // the files have always had.
  void SetCodec(std::uint32_t fourCC) {
    compress_ = fourCC != 0;
    handler_ = fourCC != 0 ? fourCC : FourCC::Mpg4;
  }

  std::int32_t AddFrame(const MovieFrame& frame) override;
  // The positions skipped become empty chunks, which players show as the
  // previous picture held.
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  // A repeat of the previous picture takes a position and nothing else: the
  // next frame's gap becomes empty chunks, over which players hold the
  // picture. A clip that ends on repeats gets its picture once more at the
  // last repeat's position, so that it lasts to the end in every player.
  // Unsupported before the first frame.
  std::int32_t RepeatFrame(const MovieFrame& frame) override;
  std::int32_t RepeatFrameAt(const MovieFrame& frame, std::int32_t position) override;
  void Close() override;
  // What the last Close learnt of frames written after their AddFrame had
  // returned (the AVI library encodes and writes on a thread of its own) and
  // of finishing the file: kWriterOk, or kWriterFail when something was lost.
  std::int32_t CloseResult() const override { return closeResult_; }

  std::int32_t State() const { return state_; }
  std::int32_t FrameIndex() const { return frameIndex_; }
  // The handler code the stream is created with: the last codec set.
  std::uint32_t HandlerCode() const { return handler_; }

 private:
  std::int32_t Open(const MovieFrame& frame);
  std::int32_t Write(const MovieFrame& frame);
  // The format the carrying stream is given: uncompressed frames are stored
  // bottom-up (positive height), as AVI readers expect of BI_RGB; a codec
  // stream reads the clip's top-down rows in place (negative height).
  AviBitmapHeader FormatOf(const MovieFrame& frame) const;

  AviFileLibrary& library_;
  WriterReports& reports_;
  std::int32_t screenWidth_;
  std::int32_t screenHeight_;
  std::vector<std::uint8_t> pixels_;  // one uncompressed frame, bottom-up rows, sized once per clip
  std::int32_t frameIndex_ = 0;
  // The buffer of the clip's last repeats, when the clip has had repeats
  // since its last frame; written at frameIndex_ - 1 on Close.
  const MovieFrame* heldFrame_ = nullptr;
  std::string path_;
  std::unique_ptr<AviFile> file_;
  std::unique_ptr<AviStream> rawStream_;
  std::unique_ptr<AviStream> compressedStream_;
  AviStreamInfo streamInfo_;
  AviCompressOptions compressOptions_;
  std::int32_t state_ = kReady;
  std::int32_t closeResult_ = kWriterOk;
  std::int32_t framePeriod_ = -1;
  bool compress_ = true;
  std::uint32_t handler_ = FourCC::Mpg4;
};

}  // namespace framory
