#include "platform/media/LiveEncoder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/frame.h>
#include <libavutil/opt.h>
}

#include "platform/media/BgraToYuv420.h"

namespace framory {

namespace {

// Pictures are stamped in milliseconds, the unit of the capture period.
constexpr AVRational kMillisecond{1, 1000};
// Packets of one stream waiting for the other stream's before being
// interleaved are written after this long at most, so a silent stretch
// cannot hold pictures back from the file.
constexpr std::int64_t kMaxInterleaveMicroseconds = 1'000'000;

struct Dictionary {
  AVDictionary* entries = nullptr;
  explicit Dictionary(const MediaOptions& options) {
    for (const auto& [key, value] : options) av_dict_set(&entries, key.c_str(), value.c_str(), 0);
  }
  ~Dictionary() { av_dict_free(&entries); }
  Dictionary(const Dictionary&) = delete;
  Dictionary& operator=(const Dictionary&) = delete;
  // The first option nobody took, for the failure's sentence.
  std::string Unused() const {
    const AVDictionaryEntry* left = av_dict_get(entries, "", nullptr, AV_DICT_IGNORE_SUFFIX);
    return left != nullptr ? left->key : "";
  }
};

std::string ErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

}  // namespace

std::unique_ptr<LiveEncoder> LiveEncoder::Open(const LiveEncoderSettings& settings, int* error,
                                               std::string* failure) {
  std::unique_ptr<LiveEncoder> encoder(new LiveEncoder());
  auto fail = [&](int code, std::string why) -> std::unique_ptr<LiveEncoder> {
    if (error != nullptr) *error = code;
    if (failure != nullptr) *failure = std::move(why);
    encoder->Abandon();
    return nullptr;
  };
  encoder->maxKeyGapMs_ = std::max<std::int64_t>(settings.MaxKeyFrameGapMs, 1);
  encoder->repeatKeyFrames_ = settings.RepeatKeyFrames;
  encoder->packet_.reset(av_packet_alloc());
  encoder->lastKeyPacket_.reset(av_packet_alloc());
  encoder->picture_.reset(av_frame_alloc());
  if (encoder->packet_ == nullptr || encoder->lastKeyPacket_ == nullptr ||
      encoder->picture_ == nullptr) {
    return fail(AVERROR(ENOMEM), "Out of memory.");
  }
  encoder->output_ = NewOutput(settings.Container.c_str(), settings.Target.c_str());
  if (encoder->output_ == nullptr) {
    return fail(AVERROR_MUXER_NOT_FOUND, "FFmpeg has no " + settings.Container + " muxer.");
  }
  AVFormatContext* output = encoder->output_.get();
  output->max_interleave_delta = kMaxInterleaveMicroseconds;
  if (settings.FlushPackets) output->flags |= AVFMT_FLAG_FLUSH_PACKETS;
  output->interrupt_callback.callback = settings.Interrupt;
  output->interrupt_callback.opaque = settings.InterruptOpaque;

  std::string why;
  int result = encoder->OpenVideo(settings, &why);
  if (result < 0) return fail(result, why);
  if (!settings.SoundEncoder.empty()) {
    result = encoder->OpenSound(settings, &why);
    if (result < 0) return fail(result, why);
  }

  if ((output->oformat->flags & AVFMT_NOFILE) == 0) {
    Dictionary io(settings.IoOptions);
    result = avio_open2(&output->pb, settings.Target.c_str(), AVIO_FLAG_WRITE,
                        &output->interrupt_callback, &io.entries);
    if (result < 0)
      return fail(result, "Cannot open " + settings.Target + ": " + ErrorText(result));
  }
  Dictionary muxer(settings.MuxerOptions);
  result = avformat_write_header(output, &muxer.entries);
  if (result < 0) return fail(result, "Cannot write the header: " + ErrorText(result));
  encoder->headerWritten_ = true;
  if (output->pb != nullptr) avio_flush(output->pb);
  encoder->NoteCleanEnd();
  return encoder;
}

int LiveEncoder::OpenVideo(const LiveEncoderSettings& settings, std::string* failure) {
  const AVCodec* codec = avcodec_find_encoder_by_name(settings.VideoEncoder.c_str());
  if (codec == nullptr) {
    *failure = "FFmpeg has no " + settings.VideoEncoder + " encoder.";
    return AVERROR_ENCODER_NOT_FOUND;
  }
  if (settings.Width <= 0 || settings.Height <= 0 || settings.Width % 2 != 0 ||
      settings.Height % 2 != 0) {
    *failure = "Pictures need an even width and height.";
    return AVERROR(EINVAL);
  }
  video_.reset(avcodec_alloc_context3(codec));
  if (video_ == nullptr) return AVERROR(ENOMEM);
  AVCodecContext* context = video_.get();
  context->width = settings.Width;
  context->height = settings.Height;
  context->pix_fmt = AV_PIX_FMT_YUV420P;
  context->time_base = kMillisecond;
  context->framerate = AVRational{std::max(settings.FramesPerSecond, 1), 1};
  // Key frames are placed by time (see EncodePicture); the encoder's own
  // count of frames is a backstop set to the same stretch at the nominal
  // rate.
  context->gop_size = static_cast<int>(std::max<std::int64_t>(
      1, settings.MaxKeyFrameGapMs * std::max(settings.FramesPerSecond, 1) / 1000));
  context->bit_rate = settings.VideoBitRate;
  // No reordered frames: every packet's decoding time is its picture's, so
  // no stream starts below zero beside the sound, and a picture reaches the
  // file (and a cut file) without waiting for later ones.
  context->max_b_frames = 0;
  context->color_range = AVCOL_RANGE_MPEG;
  context->colorspace = AVCOL_SPC_BT470BG;
  context->color_primaries = AVCOL_PRI_BT470BG;
  context->color_trc = AVCOL_TRC_BT709;
  if ((output_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  Dictionary options(settings.VideoOptions);
  const int opened = avcodec_open2(context, codec, &options.entries);
  if (opened < 0) {
    *failure = "Cannot open the " + settings.VideoEncoder + " encoder: " + ErrorText(opened);
    return opened;
  }
  videoStream_ = avformat_new_stream(output_.get(), nullptr);
  if (videoStream_ == nullptr) return AVERROR(ENOMEM);
  videoStream_->time_base = kMillisecond;
  const int copied = avcodec_parameters_from_context(videoStream_->codecpar, context);
  if (copied < 0) return copied;

  picture_->format = AV_PIX_FMT_YUV420P;
  picture_->width = settings.Width;
  picture_->height = settings.Height;
  return av_frame_get_buffer(picture_.get(), 0);
}

int LiveEncoder::OpenSound(const LiveEncoderSettings& settings, std::string* failure) {
  const AVCodec* codec = avcodec_find_encoder_by_name(settings.SoundEncoder.c_str());
  if (codec == nullptr) {
    *failure = "FFmpeg has no " + settings.SoundEncoder + " encoder.";
    return AVERROR_ENCODER_NOT_FOUND;
  }
  // The encoder's own formats decide between interleaved and planar float.
  AVSampleFormat format = AV_SAMPLE_FMT_NONE;
  for (const AVSampleFormat* f = codec->sample_fmts; f != nullptr && *f != AV_SAMPLE_FMT_NONE;
       ++f) {
    if (*f == AV_SAMPLE_FMT_FLT || *f == AV_SAMPLE_FMT_FLTP) {
      format = *f;
      break;
    }
  }
  if (format == AV_SAMPLE_FMT_NONE) {
    *failure = "The " + settings.SoundEncoder + " encoder takes no float samples.";
    return AVERROR(EINVAL);
  }
  planarSound_ = format == AV_SAMPLE_FMT_FLTP;
  sound_.reset(avcodec_alloc_context3(codec));
  if (sound_ == nullptr) return AVERROR(ENOMEM);
  AVCodecContext* context = sound_.get();
  context->sample_fmt = format;
  context->sample_rate = kSampleRate;
  av_channel_layout_default(&context->ch_layout, kChannels);
  context->time_base = AVRational{1, kSampleRate};
  context->bit_rate = settings.SoundBitRate;
  if ((output_->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
    context->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  }
  const int opened = avcodec_open2(context, codec, nullptr);
  if (opened < 0) {
    *failure = "Cannot open the " + settings.SoundEncoder + " encoder: " + ErrorText(opened);
    return opened;
  }
  soundStream_ = avformat_new_stream(output_.get(), nullptr);
  if (soundStream_ == nullptr) return AVERROR(ENOMEM);
  soundStream_->time_base = context->time_base;
  const int copied = avcodec_parameters_from_context(soundStream_->codecpar, context);
  if (copied < 0) return copied;

  soundFrame_.reset(av_frame_alloc());
  if (soundFrame_ == nullptr) return AVERROR(ENOMEM);
  soundFrame_->format = format;
  soundFrame_->sample_rate = kSampleRate;
  soundFrame_->nb_samples = context->frame_size > 0 ? context->frame_size : 1024;
  const int layout = av_channel_layout_copy(&soundFrame_->ch_layout, &context->ch_layout);
  if (layout < 0) return layout;
  return av_frame_get_buffer(soundFrame_.get(), 0);
}

LiveEncoder::~LiveEncoder() { Abandon(); }

bool LiveEncoder::KeyFrameDue(std::int64_t timeMs) const {
  return lastKeyMs_ < 0 || timeMs - lastKeyMs_ >= maxKeyGapMs_;
}

FrameHandle LiveEncoder::NewPicture() const {
  FrameHandle picture(av_frame_alloc());
  if (picture == nullptr || video_ == nullptr) return nullptr;
  picture->format = AV_PIX_FMT_YUV420P;
  picture->width = video_->width;
  picture->height = video_->height;
  if (av_frame_get_buffer(picture.get(), 0) < 0) return nullptr;
  return picture;
}

int LiveEncoder::ConvertPicture(AVFrame* picture, const std::uint8_t* top, std::ptrdiff_t stride) {
  // A buffer the encoder (or the last picture kept for a repeat) still
  // holds is left to it, and the picture gets a new one: nothing is copied.
  if (picture->buf[0] == nullptr || !av_frame_is_writable(picture)) {
    const int format = picture->format, width = picture->width, height = picture->height;
    av_frame_unref(picture);
    picture->format = format;
    picture->width = width;
    picture->height = height;
    const int made = av_frame_get_buffer(picture, 0);
    if (made < 0) return made;
  }
  ConvertBgraToYuv420(
      top, stride, picture->width, picture->height,
      Yuv420Planes{picture->data[0], picture->data[1], picture->data[2], picture->linesize[0],
                   picture->linesize[1], picture->linesize[2]});
  return 0;
}

int LiveEncoder::EncodePicture(const std::uint8_t* top, std::ptrdiff_t stride, std::int64_t timeMs,
                               bool forceKeyFrame) {
  if (finished_ || video_ == nullptr) return AVERROR(EINVAL);
  if (timeMs <= lastPictureMs_) return AVERROR(EINVAL);
  const int converted = ConvertPicture(picture_.get(), top, stride);
  if (converted < 0) return converted;
  return SendPicture(timeMs, forceKeyFrame || KeyFrameDue(timeMs));
}

int LiveEncoder::EncodeConverted(const AVFrame& picture, std::int64_t timeMs, bool forceKeyFrame) {
  if (finished_ || video_ == nullptr) return AVERROR(EINVAL);
  if (timeMs <= lastPictureMs_) return AVERROR(EINVAL);
  if (picture.width != video_->width || picture.height != video_->height ||
      picture.format != AV_PIX_FMT_YUV420P) {
    return AVERROR(EINVAL);
  }
  // The encoder's picture refers to the caller's buffer, which stays the
  // last picture for a repeat until the caller converts into it again.
  av_frame_unref(picture_.get());
  const int referred = av_frame_ref(picture_.get(), &picture);
  if (referred < 0) return referred;
  return SendPicture(timeMs, forceKeyFrame || KeyFrameDue(timeMs));
}

int LiveEncoder::EncodeAgain(std::int64_t timeMs, bool keyFrame) {
  if (finished_ || video_ == nullptr || lastPictureMs_ < 0) return AVERROR(EINVAL);
  if (timeMs <= lastPictureMs_) return AVERROR(EINVAL);
  const bool key = keyFrame || KeyFrameDue(timeMs);
  if (key && repeatKeyFrames_ && lastKeyPacket_->data != nullptr) return RepeatKeyPacket(timeMs);
  // The picture's pixels are sent again as they are.
  return SendPicture(timeMs, key);
}

int LiveEncoder::RepeatKeyPacket(std::int64_t timeMs) {
  // The encoder is not asked: its reference is that key frame's picture
  // already, as is a decoder's after the copy, so the pictures encoded after
  // it are predicted from the same picture on both sides.
  const int referred = av_packet_ref(packet_.get(), lastKeyPacket_.get());
  if (referred < 0) return referred;
  const std::int64_t at = av_rescale_q(timeMs, kMillisecond, videoStream_->time_base);
  packet_->pts = at;
  packet_->dts = at;
  lastPictureMs_ = timeMs;
  lastKeyMs_ = timeMs;
  const int written = WritePacket(videoStream_);
  // What the muxer keeps of the copy is its own reference; the kept packet
  // is still whole.
  return written;
}

int LiveEncoder::SendPicture(std::int64_t timeMs, bool keyFrame) {
  picture_->pts = timeMs;
  // Whatever the encoder gives out now follows the kept key frame.
  av_packet_unref(lastKeyPacket_.get());
  picture_->pict_type = keyFrame ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
  lastPictureMs_ = timeMs;
  if (keyFrame) lastKeyMs_ = timeMs;
  const int sent = avcodec_send_frame(video_.get(), picture_.get());
  if (sent < 0) return sent;
  return Drain(video_.get(), videoStream_);
}

int LiveEncoder::EncodeSound(const float* samples, std::size_t frames, std::int64_t firstSample) {
  if (finished_ || sound_ == nullptr) return AVERROR(EINVAL);
  // What was already taken is not taken twice.
  std::size_t skip = 0;
  if (firstSample < nextSample_) {
    const std::int64_t overlap = nextSample_ - firstSample;
    if (overlap >= static_cast<std::int64_t>(frames)) return 0;
    skip = static_cast<std::size_t>(overlap);
    firstSample = nextSample_;
  }
  if (pendingSound_.empty()) pendingStart_ = nextSample_;
  // A gap is filled with silence, so later sound stays in its place.
  if (firstSample > nextSample_) {
    pendingSound_.insert(pendingSound_.end(),
                         static_cast<std::size_t>(firstSample - nextSample_) * kChannels, 0.0f);
  }
  pendingSound_.insert(pendingSound_.end(), samples + skip * kChannels,
                       samples + frames * kChannels);
  nextSample_ = firstSample + static_cast<std::int64_t>(frames - skip);

  const int frameSize = soundFrame_->nb_samples;
  std::size_t used = 0;
  int result = 0;
  while (result >= 0 && pendingSound_.size() - used >= std::size_t(frameSize) * kChannels) {
    result = av_frame_make_writable(soundFrame_.get());
    if (result < 0) break;
    const float* from = pendingSound_.data() + used;
    if (planarSound_) {
      auto* left = reinterpret_cast<float*>(soundFrame_->data[0]);
      auto* right = reinterpret_cast<float*>(soundFrame_->data[1]);
      for (int i = 0; i < frameSize; ++i) {
        left[i] = from[2 * i];
        right[i] = from[2 * i + 1];
      }
    } else {
      std::memcpy(soundFrame_->data[0], from, sizeof(float) * frameSize * kChannels);
    }
    result = SendSoundFrame(frameSize);
    used += std::size_t(frameSize) * kChannels;
    pendingStart_ += frameSize;
  }
  pendingSound_.erase(pendingSound_.begin(),
                      pendingSound_.begin() + static_cast<std::ptrdiff_t>(used));
  return result;
}

int LiveEncoder::SendSoundFrame(int samples) {
  soundFrame_->nb_samples = samples;
  soundFrame_->pts = pendingStart_;
  const int sent = avcodec_send_frame(sound_.get(), soundFrame_.get());
  if (sent < 0) return sent;
  return Drain(sound_.get(), soundStream_);
}

int LiveEncoder::Drain(AVCodecContext* context, AVStream* stream) {
  for (;;) {
    const int received = avcodec_receive_packet(context, packet_.get());
    if (received == AVERROR(EAGAIN) || received == AVERROR_EOF) return 0;
    if (received < 0) return received;
    av_packet_rescale_ts(packet_.get(), context->time_base, stream->time_base);
    if (repeatKeyFrames_ && stream == videoStream_) {
      av_packet_unref(lastKeyPacket_.get());
      // Only the key frame of the picture sent last is kept: the encoder's
      // picture is still the one it shows.
      const bool current =
          (packet_->flags & AV_PKT_FLAG_KEY) != 0 &&
          av_rescale_q(packet_->pts, stream->time_base, kMillisecond) == lastPictureMs_;
      if (current) {
        const int kept = av_packet_ref(lastKeyPacket_.get(), packet_.get());
        if (kept < 0) return kept;
      }
    }
    const int written = WritePacket(stream);
    if (written < 0) return written;
  }
}

int LiveEncoder::WritePacket(AVStream* stream) {
  packet_->stream_index = stream->index;
  const int written = av_interleaved_write_frame(output_.get(), packet_.get());
  if (written < 0) return written;
  // A write the I/O layer failed (a full disk) shows in its error only.
  if (output_->pb != nullptr && output_->pb->error < 0) return output_->pb->error;
  NoteCleanEnd();
  return 0;
}

void LiveEncoder::NoteCleanEnd() {
  // With packets flushed through, the muxers hand a part to the I/O layer
  // only once it is finished, so what has been written ends with a whole
  // part.
  AVIOContext* io = output_ != nullptr ? output_->pb : nullptr;
  if (io == nullptr || io->error < 0 || cleanEnd_ < 0) {
    cleanEnd_ = -1;
    return;
  }
  cleanEnd_ = avio_tell(io);
}

int LiveEncoder::Finish() {
  if (finished_ || output_ == nullptr) return 0;
  int result = 0;
  if (headerWritten_) {
    // The last partial frame of sound, padded with silence.
    if (sound_ != nullptr && !pendingSound_.empty()) {
      const int frameSize = soundFrame_->nb_samples;
      pendingSound_.resize(std::size_t(frameSize) * kChannels, 0.0f);
      result = EncodeSound(nullptr, 0, nextSample_);
    }
    for (auto [context, stream] :
         {std::pair{video_.get(), videoStream_}, std::pair{sound_.get(), soundStream_}}) {
      if (context == nullptr) continue;
      const int flushed =
          avcodec_send_frame(context, nullptr) < 0 ? AVERROR_BUG : Drain(context, stream);
      if (result >= 0) result = flushed;
    }
    const int trailer = av_write_trailer(output_.get());
    if (result >= 0) result = trailer;
    if (result >= 0 && output_->pb != nullptr && output_->pb->error < 0)
      result = output_->pb->error;
  }
  finished_ = true;
  const int closed = CloseOutputFile(output_.get());
  if (result >= 0 && closed < 0) result = closed;
  output_.reset();
  // Some muxers answer the trailer with the bytes written.
  return result < 0 ? result : 0;
}

void LiveEncoder::Abandon() {
  finished_ = true;
  if (output_ != nullptr) {
    CloseOutputFile(output_.get());
    output_.reset();
  }
}

}  // namespace framory
