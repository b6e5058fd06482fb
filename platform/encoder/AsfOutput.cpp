// A file output is an ordinary avio file; the live output is a non-seekable
// AVIOContext whose bytes are cut here into the header (everything up to the
// end of avformat_write_header) and the data packets, which the muxer writes
// with a fixed size. The index the muxer appends at the end is not passed to
// the live sink: viewers only ever see header and packets.
#include "platform/encoder/AsfOutput.h"

#include "base/LastError.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
}

namespace framory {
namespace {

constexpr int kLiveBufferSize = 64 * 1024;
// The header of a file takes a few kilobytes.
constexpr std::int64_t kHeaderRoom = 64 * 1024;

std::string ErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

}  // namespace

AsfOutput::AsfOutput() : context_(NewOutput("asf", nullptr)) {
  if (context_ != nullptr) av_opt_set_int(context_->priv_data, "packet_size", kAsfPacketSize, 0);
}

AsfOutput::~AsfOutput() { Finish(); }

int AsfOutput::AddStream(const AVCodecContext* codec) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (context_ == nullptr || open_) return -1;
  AVStream* stream = avformat_new_stream(context_.get(), nullptr);
  if (stream == nullptr) return -1;
  if (avcodec_parameters_from_context(stream->codecpar, codec) < 0) return -1;
  stream->time_base = AVRational{1, 1000};
  return stream->index;
}

HResult AsfOutput::WriteHeader(std::string* failure) {
  const int result = avformat_write_header(context_.get(), nullptr);
  if (result < 0) {
    *failure = "cannot start the ASF output: " + ErrorText(result);
    failed_ = true;
    return EncoderResult::OutputUnavailable;
  }
  open_ = true;
  return EncoderResult::Ok;
}

HResult AsfOutput::OpenFile(const std::string& path, std::string* failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (context_ == nullptr || open_) return EncoderResult::Unexpected;
  // "file:" keeps a name with a colon from being taken for a protocol.
  const int result = avio_open(&context_->pb, ("file:" + path).c_str(), AVIO_FLAG_WRITE);
  if (result < 0) {
    *failure = "cannot create " + path + ": " + ErrorText(result);
    return EncoderResult::OutputUnavailable;
  }
  context_->flush_packets = 1;
  room_.Open(path);
  if (!room_.Reserve(0, kHeaderRoom)) {
    failureError_ = GetLastError();
    *failure = "no room for " + path;
    failed_ = true;
    return EncoderResult::OutputUnavailable;
  }
  return WriteHeader(failure);
}

HResult AsfOutput::OpenLive(AsfLiveSink* sink, std::string* failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (context_ == nullptr || open_ || sink == nullptr) return EncoderResult::Unexpected;
  liveIo_ = NewWriteIo(kLiveBufferSize, this, &AsfOutput::WriteLive);
  if (liveIo_ == nullptr) return EncoderResult::Fail;
  context_->pb = liveIo_.get();
  context_->flags |= AVFMT_FLAG_CUSTOM_IO;
  sink_ = sink;
  const HResult result = WriteHeader(failure);
  if (result < 0) return result;
  avio_flush(liveIo_.get());
  sink_->OnHeader(pending_.data(), pending_.size());
  pending_.clear();
  headerSent_ = true;
  return EncoderResult::Ok;
}

int AsfOutput::WriteLive(void* opaque, std::uint8_t* data, int size) {
  static_cast<AsfOutput*>(opaque)->TakeLiveBytes(data, static_cast<std::size_t>(size));
  return size;
}

// Called with mutex_ held (from inside the muxer).
void AsfOutput::TakeLiveBytes(const std::uint8_t* data, std::size_t size) {
  if (finished_) return;
  pending_.insert(pending_.end(), data, data + size);
  if (!headerSent_) return;
  std::size_t used = 0;
  while (pending_.size() - used >= static_cast<std::size_t>(kAsfPacketSize)) {
    sink_->OnPacket(pending_.data() + used, kAsfPacketSize);
    used += kAsfPacketSize;
  }
  pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
}

bool AsfOutput::Write(AVPacket* packet, int index, AVRational timeBase) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || failed_ || finished_) return false;
  av_packet_rescale_ts(packet, timeBase, context_->streams[index]->time_base);
  packet->stream_index = index;
  if (liveIo_ == nullptr) {
    // This packet in the muxer's packets, the one being filled, and the
    // index closing writes (an entry a second).
    const std::int64_t ms = av_rescale_q(packet->pts != AV_NOPTS_VALUE ? packet->pts : 0,
                                         context_->streams[index]->time_base, AVRational{1, 1000});
    const std::int64_t needed =
        (packet->size / (kAsfPacketSize - 64) + 3) * kAsfPacketSize + 64 + 6 * (ms / 1000 + 8);
    if (!room_.Reserve(avio_tell(context_->pb), needed)) {
      failureError_ = GetLastError();
      failed_ = true;
      return false;
    }
  }
  if (av_interleaved_write_frame(context_.get(), packet) < 0) failed_ = true;
  // Live viewers get every finished packet now, not when a buffer fills.
  if (liveIo_ != nullptr && !failed_) avio_flush(liveIo_.get());
  if (liveIo_ == nullptr && context_->pb != nullptr && context_->pb->error < 0) {
    failed_ = true;
    const int error = AVUNERROR(context_->pb->error);
    if (failureError_ == 0 && error > 0 && error < 4096)
      failureError_ = static_cast<std::uint32_t>(error);
  }
  return !failed_;
}

void AsfOutput::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || finished_) return;
  if (liveIo_ != nullptr) {
    // The trailer's last partial packet and index mean nothing to a viewer.
    finished_ = true;
    av_write_trailer(context_.get());
    return;
  }
  av_write_trailer(context_.get());
  CloseOutputFile(context_.get());
  room_.GiveBack();
  finished_ = true;
}

bool AsfOutput::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

std::uint32_t AsfOutput::FailureError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failureError_;
}

}  // namespace framory
