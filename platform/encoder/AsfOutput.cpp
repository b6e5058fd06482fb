// A file output is an ordinary avio file; the live output is a non-seekable
// AVIOContext whose bytes are cut here into the header (everything up to the
// end of avformat_write_header) and the data packets, which the muxer writes
// with a fixed size. The index the muxer appends at the end is not passed to
// the live sink: viewers only ever see header and packets.
#include "platform/encoder/AsfOutput.h"

extern "C" {
#include <libavutil/opt.h>
}

namespace framory {
namespace {

constexpr int kLiveBufferSize = 64 * 1024;

std::string ErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

}  // namespace

AsfOutput::AsfOutput() {
  if (avformat_alloc_output_context2(&context_, nullptr, "asf", nullptr) < 0) context_ = nullptr;
  if (context_ != nullptr) av_opt_set_int(context_->priv_data, "packet_size", kAsfPacketSize, 0);
}

AsfOutput::~AsfOutput() {
  Finish();
  if (context_ != nullptr) {
    if (liveIo_ == nullptr && context_->pb != nullptr) avio_closep(&context_->pb);
    avformat_free_context(context_);
  }
  if (liveIo_ != nullptr) {
    av_freep(&liveIo_->buffer);
    avio_context_free(&liveIo_);
  }
}

int AsfOutput::AddStream(const AVCodecContext* codec) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (context_ == nullptr || open_) return -1;
  AVStream* stream = avformat_new_stream(context_, nullptr);
  if (stream == nullptr) return -1;
  if (avcodec_parameters_from_context(stream->codecpar, codec) < 0) return -1;
  stream->time_base = AVRational{1, 1000};
  return stream->index;
}

HResult AsfOutput::WriteHeader(std::string* failure) {
  const int result = avformat_write_header(context_, nullptr);
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
  const int result = avio_open(&context_->pb, path.c_str(), AVIO_FLAG_WRITE);
  if (result < 0) {
    *failure = "cannot create " + path + ": " + ErrorText(result);
    return EncoderResult::OutputUnavailable;
  }
  return WriteHeader(failure);
}

HResult AsfOutput::OpenLive(AsfLiveSink* sink, std::string* failure) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (context_ == nullptr || open_ || sink == nullptr) return EncoderResult::Unexpected;
  auto* buffer = static_cast<std::uint8_t*>(av_malloc(kLiveBufferSize));
  if (buffer == nullptr) return EncoderResult::Fail;
  liveIo_ =
      avio_alloc_context(buffer, kLiveBufferSize, 1, this, nullptr, &AsfOutput::WriteLive, nullptr);
  if (liveIo_ == nullptr) {
    av_free(buffer);
    return EncoderResult::Fail;
  }
  liveIo_->seekable = 0;
  context_->pb = liveIo_;
  context_->flags |= AVFMT_FLAG_CUSTOM_IO;
  sink_ = sink;
  const HResult result = WriteHeader(failure);
  if (result < 0) return result;
  avio_flush(liveIo_);
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
  if (av_interleaved_write_frame(context_, packet) < 0) failed_ = true;
  // Live viewers get every finished packet now, not when a buffer fills.
  if (liveIo_ != nullptr && !failed_) avio_flush(liveIo_);
  if (liveIo_ == nullptr && context_->pb != nullptr && context_->pb->error < 0) failed_ = true;
  return !failed_;
}

void AsfOutput::Finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_ || finished_) return;
  if (liveIo_ != nullptr) {
    // The trailer's last partial packet and index mean nothing to a viewer.
    finished_ = true;
    av_write_trailer(context_);
    return;
  }
  av_write_trailer(context_);
  avio_closep(&context_->pb);
  finished_ = true;
}

bool AsfOutput::Failed() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_;
}

}  // namespace framory
