#include "platform/encoder/SoundCaptureThread.h"

#include <pulse/error.h>
#include <pulse/simple.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace framory {
namespace {

// Reads of 20 ms keep the thread responsive to pause and stop.
constexpr int kReadFrames = SoundCaptureThread::kSampleRate / 50;
constexpr int kBitRate = 128000;

}  // namespace

SoundCaptureThread::SoundCaptureThread(EncodingClock& clock)
    : CaptureThread(clock, Texts{"the audio encoder failed",
                                 "the output could not be written; sound recording stopped"}) {}

SoundCaptureThread::~SoundCaptureThread() {
  Stop();
  if (stream_ != nullptr) pa_simple_free(stream_);
}

HResult SoundCaptureThread::Prepare(std::string* failure) {
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (codec == nullptr) {
    *failure = "this FFmpeg has no Windows Media Audio 2 encoder";
    return EncoderResult::Fail;
  }
  codec_.reset(avcodec_alloc_context3(codec));
  frame_.reset(av_frame_alloc());
  packet_.reset(av_packet_alloc());
  if (!codec_ || !frame_ || !packet_) return EncoderResult::Fail;
  codec_->sample_fmt = AV_SAMPLE_FMT_FLTP;
  codec_->sample_rate = kSampleRate;
  av_channel_layout_default(&codec_->ch_layout, kChannels);
  codec_->bit_rate = kBitRate;
  codec_->time_base = AVRational{1, kSampleRate};
  codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(codec_.get(), codec, nullptr) < 0) {
    *failure = "the audio encoder could not be opened";
    return EncoderResult::Fail;
  }
  frame_->format = codec_->sample_fmt;
  frame_->nb_samples = codec_->frame_size;
  frame_->sample_rate = kSampleRate;
  av_channel_layout_copy(&frame_->ch_layout, &codec_->ch_layout);
  if (av_frame_get_buffer(frame_.get(), 0) < 0) return EncoderResult::Fail;

  pa_sample_spec sampleFormat{};
  sampleFormat.format = PA_SAMPLE_FLOAT32LE;
  sampleFormat.rate = kSampleRate;
  sampleFormat.channels = kChannels;
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(kReadFrames * kChannels * sizeof(float));
  int error = 0;
  // The default source of the default server ($PULSE_SERVER when set).
  stream_ = pa_simple_new(nullptr, "Framory", PA_STREAM_RECORD, nullptr, "Sound track",
                          &sampleFormat, nullptr, &attributes, &error);
  if (stream_ == nullptr) {
    *failure = std::string("no sound server to record from (") + pa_strerror(error) + ")";
    return EncoderResult::DeviceUnavailable;
  }
  return EncoderResult::Ok;
}

void SoundCaptureThread::Run() {
  std::vector<float> chunk(static_cast<std::size_t>(kReadFrames) * kChannels);
  std::uint64_t resumesSeen = clock_.Resumes();
  while (clock_.WaitWhilePaused()) {
    const std::uint64_t resumes = clock_.Resumes();
    if (resumes != resumesSeen) {
      // What the server kept during the pause belongs to no picture.
      int error = 0;
      pa_simple_flush(stream_, &error);
      resumesSeen = resumes;
    }
    int error = 0;
    if (pa_simple_read(stream_, chunk.data(), chunk.size() * sizeof(float), &error) < 0) {
      Fail(std::string("the sound server stopped delivering (") + pa_strerror(error) + ")");
      break;
    }
    if (!clock_.Running()) continue;  // paused or stopped during the read
    buffered_.insert(buffered_.end(), chunk.begin(), chunk.end());
    if (!EncodeBuffered()) break;
  }
  Encode(nullptr);  // drain; a partial last frame is dropped
}

bool SoundCaptureThread::EncodeBuffered() {
  const std::size_t frameSamples = static_cast<std::size_t>(codec_->frame_size);
  std::size_t used = 0;
  while (buffered_.size() - used >= frameSamples * kChannels) {
    if (av_frame_make_writable(frame_.get()) < 0) return false;
    auto* left = reinterpret_cast<float*>(frame_->data[0]);
    auto* right = reinterpret_cast<float*>(frame_->data[1]);
    for (std::size_t i = 0; i < frameSamples; ++i) {
      left[i] = buffered_[used + 2 * i];
      right[i] = buffered_[used + 2 * i + 1];
    }
    used += frameSamples * kChannels;
    frame_->pts = samplesEncoded_;
    samplesEncoded_ += static_cast<std::int64_t>(frameSamples);
    if (!Encode(frame_.get())) return false;
  }
  buffered_.erase(buffered_.begin(), buffered_.begin() + static_cast<std::ptrdiff_t>(used));
  return true;
}

}  // namespace framory
