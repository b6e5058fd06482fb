#include "writers/AviWriter.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/MovieFrame.h"
#include "writers/WriterReports.h"

namespace framory {

AviWriter::AviWriter(AviFileLibrary& library, WriterReports& reports, std::string path,
                     std::int32_t screenWidth, std::int32_t screenHeight)
    : library_(library),
      reports_(reports),
      screenWidth_(screenWidth),
      screenHeight_(screenHeight),
      path_(std::move(path)) {}

AviWriter::~AviWriter() { Close(); }

AviBitmapHeader AviWriter::FormatOf(const MovieFrame& frame) const {
  AviBitmapHeader header;
  header.Width = frame.Width();
  header.Height = compress_ ? -frame.Height() : frame.Height();
  header.BitCount = 32;
  header.Compression = kBiRgb;
  header.SizeImage =
      static_cast<std::uint32_t>(frame.BytesPerLine()) * static_cast<std::uint32_t>(frame.Height());
  return header;
}

std::int32_t AviWriter::AddFrameAt(const MovieFrame& frame, std::int32_t position) {
  // A position already passed is taken as the next one.
  if (position > frameIndex_) frameIndex_ = position;
  return AddFrame(frame);
}

std::int32_t AviWriter::RepeatFrameAt(const MovieFrame& frame, std::int32_t position) {
  if (state_ != kWriting) return kWriterRepeatUnsupported;
  if (position > frameIndex_) frameIndex_ = position;
  return RepeatFrame(frame);
}

std::int32_t AviWriter::RepeatFrame(const MovieFrame& frame) {
  if (state_ != kWriting) return kWriterRepeatUnsupported;
  ++frameIndex_;
  heldFrame_ = &frame;
  return kWriterOk;
}

std::int32_t AviWriter::AddFrame(const MovieFrame& frame) {
  switch (state_) {
    case kReady:
      return Open(frame);
    case kWriting:
      heldFrame_ = nullptr;
      return Write(frame);
    default:
      return kWriterFail;
  }
}

std::int32_t AviWriter::Open(const MovieFrame& frame) {
  auto fail = [this] {
    Close();
    reports_.Report(WriterFailure::AviRender);
    return kWriterFail;
  };
  if (!frame.Exists()) return fail();
  // A path that does not fit the path field is refused like a file that
  // cannot be created, before the clip's buffer is allocated for nothing.
  if (path_.empty() || path_.size() >= kPathCapacity) return fail();
  const AviBitmapHeader format = FormatOf(frame);

  // The stream's buffer size: large enough for the screen or the frame,
  // whichever is larger in each direction. Uncompressed frames are turned
  // bottom-up in a buffer of that size made once for the clip; a codec
  // stream reads the clip's buffer itself.
  const std::int64_t bufferBytes = std::int64_t{std::max(screenWidth_, frame.Width())} *
                                   std::max(screenHeight_, frame.Height()) * 4;
  if (bufferBytes > MovieFrame::kMaxBytes) return fail();
  if (!compress_) {
    try {
      pixels_.assign(static_cast<std::size_t>(bufferBytes), 0);
    } catch (const std::bad_alloc&) {
      return fail();
    }
  }

  if (library_.OpenFile(&file_, path_, kAviCreateWrite) != AviResult::Ok || !file_) return fail();

  streamInfo_ = AviStreamInfo{};
  streamInfo_.Type = FourCC::Vids;
  streamInfo_.Handler = HandlerCode();
  if (framePeriod_ > 0) {
    streamInfo_.Scale = static_cast<std::uint32_t>(framePeriod_);
    streamInfo_.Rate = 1000;
  } else {
    streamInfo_.Scale = 1;
    streamInfo_.Rate = 1;
  }
  streamInfo_.Quality = -1;
  streamInfo_.SuggestedBufferSize = static_cast<std::uint32_t>(bufferBytes);
  streamInfo_.Frame = AviRect{0, 0, format.Width, frame.Height()};
  streamInfo_.Name = "Video Stream";
  if (file_->CreateStream(&rawStream_, streamInfo_) != AviResult::Ok || !rawStream_) return fail();

  AviStream* carrier = rawStream_.get();
  if (compress_) {
    compressOptions_ = AviCompressOptions{};
    compressOptions_.Type = FourCC::Vids;
    compressOptions_.Handler = streamInfo_.Handler;
    compressOptions_.KeyFrameEvery = 15;
    compressOptions_.Flags = kCompressDataRateValid;
    compressOptions_.BytesPerSecond = 0;
    compressOptions_.Quality = 0;
    if (library_.MakeCompressedStream(&compressedStream_, *rawStream_, compressOptions_) !=
            AviResult::Ok ||
        !compressedStream_) {
      return fail();
    }
    carrier = compressedStream_.get();
  }
  if (carrier->SetFormat(0, format) != AviResult::Ok) return fail();

  state_ = kWriting;
  return Write(frame);
}

std::int32_t AviWriter::Write(const MovieFrame& frame) {
  const AviBitmapHeader format = FormatOf(frame);
  AviStream* carrier = compressedStream_ ? compressedStream_.get() : rawStream_.get();
  const std::int32_t position = frameIndex_++;
  // The stream was set up for the first frame's size; another cannot go in.
  if (!frame.Exists() || carrier == nullptr || frame.Width() != streamInfo_.Frame.Right ||
      frame.Height() != streamInfo_.Frame.Bottom) {
    return kWriterFail;
  }
  const void* data = frame.Row(0);  // the buffer's rows are contiguous, top-down
  if (!compress_) {
    if (format.SizeImage > pixels_.size()) return kWriterFail;
    // Rows go bottom-up, and the fourth byte of every pixel becomes 0xFF: the
    // frame buffer leaves it 0, which BI_RGB readers may ignore, but FFmpeg
    // reads 32-bit BI_RGB as BGRA, and players built on it then show fully
    // transparent (black) pictures.
    const std::size_t width = static_cast<std::size_t>(frame.Width());
    const std::int32_t height = frame.Height();
    for (std::int32_t y = 0; y < height; ++y) {
      const std::uint32_t* source = frame.Row(y);
      std::uint8_t* target = pixels_.data() + static_cast<std::size_t>(height - 1 - y) * width * 4;
      for (std::size_t x = 0; x < width; ++x) {
        const std::uint32_t opaque = source[x] | 0xFF000000u;
        std::memcpy(target + 4 * x, &opaque, 4);
      }
    }
    data = pixels_.data();
  }
  // No key-frame flag: a codec stream decides its key frames itself.
  const std::int32_t result =
      carrier->Write(position, 1, data, static_cast<std::int32_t>(format.SizeImage), 0);
  return result == AviResult::Ok ? kWriterOk : kWriterFail;
}

void AviWriter::Close() {
  // The stream that carries the frames writes what it still has queued and
  // finishes the file, and says whether all of it went well.
  if (state_ == kWriting) {
    AviStream* carrier = compressedStream_ ? compressedStream_.get() : rawStream_.get();
    bool lost = false;
    if (heldFrame_ != nullptr && carrier != nullptr) {
      // The picture held over the last repeats ends the clip. A codec
      // stream encodes its last picture again (the clip's buffer may not
      // hold it: compressed clips read the grabbed pixels in place); the
      // uncompressed buffer always does.
      --frameIndex_;
      if (compressedStream_) {
        lost = carrier->Write(frameIndex_++, 1, nullptr, 0, 0) != AviResult::Ok;
      } else {
        lost = Write(*heldFrame_) != kWriterOk;
      }
    }
    heldFrame_ = nullptr;
    if (carrier != nullptr && carrier->Finish() != AviResult::Ok) lost = true;
    closeResult_ = lost ? kWriterFail : kWriterOk;
  }
  state_ = kClosed;
  // The codec stream first, so that what it still holds reaches the file,
  // then the stream, then the file, which completes it on disk.
  compressedStream_.reset();
  rawStream_.reset();
  file_.reset();
  std::vector<std::uint8_t>().swap(pixels_);
}

}  // namespace framory
