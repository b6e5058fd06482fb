#include "platform/media/WmAsfEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

#include "base/LastError.h"
#include "platform/media/DiskRoom.h"
#include "writers/WmvWriter.h"

namespace framory {

namespace {

constexpr AVRational kMilliseconds{1, 1000};
// The index object's own header; its entries come on top.
constexpr std::int64_t kIndexBytes = 56;
constexpr int kMaxKeyFrameInterval = 600;

// A failed write of the file: the thread's last error becomes the system's
// reason FFmpeg carries (a full disk, a file-size limit), so that the report
// the user sees names it.
std::int32_t WriteFailure(int averror) {
  if (averror < 0 && AVUNERROR(averror) > 0 && AVUNERROR(averror) < 4096) {
    SetLastError(static_cast<std::uint32_t>(AVUNERROR(averror)));
  }
  return WmResult::WriteFault;
}

std::int32_t OpenFailure(int error) {
  if (error == AVERROR(ENOENT) || error == AVERROR(ENOTDIR)) return WmResult::PathNotFound;
  if (error == AVERROR(ENOMEM)) return WmResult::OutOfMemory;
  return WmResult::WriteFault;
}

}  // namespace

bool WmAsfEncoder::MuxerAvailable() { return av_guess_format("asf", nullptr, nullptr) != nullptr; }

bool WmAsfEncoder::EncoderAvailable() { return Wmv2Encoder::Available(); }

std::int32_t WmAsfEncoder::Open(const std::string& path, const WmSystemProfileRow& profile,
                                const WmGuid& subType, const WmVideoInfoHeader& format,
                                std::unique_ptr<WmAsfEncoder>* encoder) {
  std::unique_ptr<WmAsfEncoder> made(new WmAsfEncoder());
  const std::int32_t result = made->Setup(path, profile, subType, format);
  if (result < 0) return result;
  *encoder = std::move(made);
  return WmResult::Ok;
}

WmAsfEncoder::~WmAsfEncoder() { Finish(); }

std::int32_t WmAsfEncoder::Setup(const std::string& path, const WmSystemProfileRow& profile,
                                 const WmGuid& subType, const WmVideoInfoHeader& format) {
  const WmBitmapInfoHeader& bmi = format.BmiHeader;
  AVPixelFormat input = AV_PIX_FMT_NONE;
  int bytesPerPixel = 0;
  if (subType == WmGuids::SubtypeRgb32 && bmi.BitCount == 32) {
    input = AV_PIX_FMT_BGR0;
    bytesPerPixel = 4;
  } else if (subType == WmGuids::SubtypeRgb24 && bmi.BitCount == 24) {
    input = AV_PIX_FMT_BGR24;
    bytesPerPixel = 3;
  } else if (subType == WmGuids::SubtypeRgb555 && bmi.BitCount == 16) {
    input = AV_PIX_FMT_RGB555LE;
    bytesPerPixel = 2;
  }
  width_ = bmi.Width;
  height_ = std::abs(bmi.Height);
  // 4:2:0 pictures need even sizes.
  if (input == AV_PIX_FMT_NONE || width_ <= 0 || height_ <= 0 || width_ % 2 != 0 ||
      height_ % 2 != 0 || width_ > 16384 || height_ > 16384 || format.AvgTimePerFrame <= 0) {
    return WmResult::InvalidArg;
  }
  bottomUp_ = bmi.Height > 0;
  stride_ = (width_ * bytesPerPixel + 3) & ~3;  // DIB rows end on 4-byte boundaries
  frameBytes_ = static_cast<std::uint32_t>(stride_) * static_cast<std::uint32_t>(height_);

  if (!Wmv2Encoder::Available()) return WmResult::ClassNotRegistered;

  // "file:" keeps a name with a colon from being taken for a protocol.
  const std::string url = "file:" + path;
  output_ = NewOutput("asf", url.c_str());
  if (!output_) return WmResult::ClassNotRegistered;
  // Every packet goes to the file as it is written, so a frame reported
  // written is on disk even if a later one fails (a full disk).
  output_->flush_packets = 1;
  stream_ = avformat_new_stream(output_.get(), nullptr);
  if (stream_ == nullptr) return WmResult::OutOfMemory;

  Wmv2Settings settings;
  settings.Width = width_;
  settings.Height = height_;
  const double framesPerSecond = 10000000.0 / static_cast<double>(format.AvgTimePerFrame);
  frameMilliseconds_ = WmvWriter::FrameMillisecondsOf(format.AvgTimePerFrame);
  // The encoder counts frames in periods of the average frame time: its rate
  // control shares the bit rate out by that period. The packets get the
  // samples' own times again on the way to the muxer.
  av_reduce(&settings.FramePeriod.num, &settings.FramePeriod.den, format.AvgTimePerFrame, 10000000,
            65535);
  settings.BitRate = profile.VideoBitRate;
  // The buffer holds the profile's window, and at least two frames' worth
  // of bits whatever the frame period (one frame every 10 s is a setting
  // like any other); the tolerance allows five frames' worth.
  const double bitsPerFrame = profile.VideoBitRate / framesPerSecond;
  const double window =
      static_cast<double>(profile.VideoBitRate) * profile.BufferMilliseconds / 1000;
  settings.BufferBits = static_cast<int>(std::min(std::max(window, 2 * bitsPerFrame), 1e9));
  settings.Tolerance =
      static_cast<int>(std::min(std::max<double>(profile.VideoBitRate, 5 * bitsPerFrame), 1e9));
  // The buffer window lets a burst (a key frame, a screen that changes all
  // at once) go up to half again the rate; over the window the rate holds.
  settings.MaxRate = std::int64_t{profile.VideoBitRate} * 3 / 2;
  // A key frame at least every 600 frames, the most this encoder allows.
  settings.KeyFrameInterval = std::clamp(
      static_cast<int>(profile.KeyFrameSeconds * framesPerSecond + 0.5), 1, kMaxKeyFrameInterval);
  settings.GlobalHeader = (output_->oformat->flags & AVFMT_GLOBALHEADER) != 0;
  switch (wmv2_.Open(settings)) {
    case Wmv2Encoder::Opened::Ok:
      break;
    case Wmv2Encoder::Opened::NoEncoder:
      return WmResult::ClassNotRegistered;
    case Wmv2Encoder::Opened::NoMemory:
      return WmResult::OutOfMemory;
    case Wmv2Encoder::Opened::Refused:
      return WmResult::InvalidArg;
  }
  const AVCodecContext& c = *wmv2_.Codec;
  scaler_.reset(sws_getContext(width_, height_, input, width_, height_, AV_PIX_FMT_YUV420P,
                               SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr));
  if (!scaler_) return WmResult::OutOfMemory;

  if (avcodec_parameters_from_context(stream_->codecpar, &c) < 0) return WmResult::OutOfMemory;
  stream_->codecpar->bit_rate = profile.VideoBitRate;
  stream_->time_base = kMilliseconds;
  stream_->avg_frame_rate = c.framerate;

  const int opened = avio_open(&output_->pb, url.c_str(), AVIO_FLAG_WRITE);
  if (opened < 0) return OpenFailure(opened);
  // The header takes a few kilobytes.
  room_.Open(path);
  if (!room_.Reserve(0, 64 * 1024)) return WmResult::WriteFault;
  if (avformat_write_header(output_.get(), nullptr) < 0) return WmResult::WriteFault;
  headerWritten_ = true;
  if (output_->packet_size > 64) packetBytes_ = output_->packet_size;
  avio_flush(output_->pb);
  return OutputResult();
}

std::int32_t WmAsfEncoder::OutputResult() const {
  return output_->pb != nullptr && output_->pb->error < 0 ? WriteFailure(output_->pb->error)
                                                          : WmResult::Ok;
}

std::int32_t WmAsfEncoder::Encode(const std::uint8_t* data, std::uint32_t length,
                                  std::uint64_t time) {
  if (finished_ || !headerWritten_) return WmResult::Unexpected;
  if (data == nullptr || length < frameBytes_) return WmResult::InvalidArg;
  const std::int64_t pts = static_cast<std::int64_t>(time / 10000);
  if (pts <= lastPts_) return WmResult::InvalidArg;
  AVFrame* picture = wmv2_.Picture.get();
  if (av_frame_make_writable(picture) < 0) return WmResult::OutOfMemory;
  // Bottom-up rows are read from the last one upward with a negative stride.
  const std::uint8_t* source[1] = {
      bottomUp_ ? data + static_cast<std::ptrdiff_t>(height_ - 1) * stride_ : data};
  const int sourceStride[1] = {bottomUp_ ? -stride_ : stride_};
  sws_scale(scaler_.get(), source, sourceStride, 0, height_, picture->data, picture->linesize);
  picture->pts = framesSent_;
  if (avcodec_send_frame(wmv2_.Codec.get(), picture) < 0) return WmResult::Fail;
  ++framesSent_;
  lastPts_ = pts;
  sampleTimes_.push_back(pts);
  return WritePackets();
}

std::int32_t WmAsfEncoder::WritePackets() {
  AVPacket* packet = wmv2_.Packet.get();
  for (;;) {
    const int received = avcodec_receive_packet(wmv2_.Codec.get(), packet);
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return OutputResult();
    if (received < 0) return WmResult::Fail;
    // One packet for every frame, in order (no B-frames, no skipped frames).
    if (sampleTimes_.empty()) return WmResult::Fail;
    packet->pts = sampleTimes_.front();
    packet->dts = packet->pts;
    // Each frame lasts one period: the muxer adds the last one's to the
    // clip's duration. Set here rather than left to the muxer, so that a
    // repair of a clip cut short (which reads the period from the clip
    // journal) writes the duration a finished clip has.
    packet->duration = frameMilliseconds_;
    sampleTimes_.pop_front();
    packet->stream_index = stream_->index;
    // Room for this frame's packets, the one the muxer still holds, and
    // what closing writes (the index: an entry a second, preroll included),
    // so that a full disk stops the clip before a frame rather than in the
    // middle of its closing.
    const std::int64_t seconds = packet->pts / 1000 + 8;
    const std::int64_t needed =
        (packet->size / (packetBytes_ - 64) + 3) * packetBytes_ + kIndexBytes + 6 * seconds;
    if (!room_.Reserve(avio_tell(output_->pb), needed)) {
      av_packet_unref(packet);
      return WmResult::WriteFault;
    }
    av_packet_rescale_ts(packet, kMilliseconds, stream_->time_base);
    const int written = av_write_frame(output_.get(), packet);
    av_packet_unref(packet);
    if (OutputResult() < 0) return WmResult::WriteFault;
    if (written < 0) return WriteFailure(written);
  }
}

std::int32_t WmAsfEncoder::Finish() {
  if (finished_) return finishResult_;
  finished_ = true;
  std::int32_t result = WmResult::Ok;
  if (headerWritten_) {
    if (avcodec_send_frame(wmv2_.Codec.get(), nullptr) >= 0) result = WritePackets();
    // After a failed write the file keeps what reached it; the index and
    // the final sizes are written only when everything before them was.
    const int trailer = av_write_trailer(output_.get());
    if (result == WmResult::Ok) result = OutputResult();
    if (trailer < 0 && result == WmResult::Ok) result = WriteFailure(trailer);
  }
  if (output_) {
    const int closed = CloseOutputFile(output_.get());
    if (closed < 0 && result == WmResult::Ok) result = WriteFailure(closed);
  }
  room_.GiveBack();
  finishResult_ = result;
  return result;
}

}  // namespace framory
