// LiveEncoder: the reusable FFmpeg core that turns a stream of screen
// pictures, and optionally of sound, into one encoded and muxed output.
//
//   pictures (32-bit BGRX rows) -> BT.601 YUV 4:2:0 -> video encoder -+
//                                                                      +-> muxer -> target
//   sound (48 kHz stereo float) ----------------------> sound encoder -+
//
// Everything that differs between its users is a parameter: the container
// (libavformat's muxer name: "mp4", "webm", "flv", "mpegts"), the target
// (a file, given as "file:/path", or a URL such as rtmp:// or srt://), the
// encoders by name with their private options, the muxer's options and
// the I/O options of the target. The MP4 and WebM clips write files with
// it; a live stream pushes FLV or MPEG-TS to a server with it.
//
// Times are given by the caller: pictures in milliseconds and sound in
// samples, both from the start of the output, so a picture that does not
// change is simply not sent again (variable frame rate) and a pause is a
// stretch the caller leaves out. Key frames come at most MaxKeyFrameGapMs
// apart among the pictures sent; a caller that sends no picture for that
// long asks KeyFrameDue and sends the last one again (EncodeAgain).
//
// Every call is synchronous and must come from one thread at a time: the
// caller runs it on a worker of its own (never the GUI thread). Failures
// return a negative FFmpeg error code (AVERROR(ENOSPC), AVERROR(EFBIG), ...)
// and leave the output to be finished with what it holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/media/FfmpegHandles.h"

extern "C" {
struct AVStream;
struct AVCodec;
}

namespace framory {

using MediaOptions = std::vector<std::pair<std::string, std::string>>;

struct LiveEncoderSettings {
  std::string Container;  // libavformat muxer name
  std::string Target;     // "file:/path" or a URL
  MediaOptions MuxerOptions;
  MediaOptions IoOptions;  // for opening the target (timeouts of a network target)
  // Asked by FFmpeg's network layers while they wait (connecting, a stalled
  // send): a call returns with an error once it answers non-zero. Null: none.
  int (*Interrupt)(void* opaque) = nullptr;
  void* InterruptOpaque = nullptr;
  // Write each packet through to the target as soon as the muxer gives it
  // out, so what the muxer has finished (a fragment, a cluster) is on disk
  // and not in an I/O buffer.
  bool FlushPackets = true;

  std::string VideoEncoder;   // "libx264", "libvpx-vp9"
  MediaOptions VideoOptions;  // the encoder's private options ("preset", "crf", ...)
  std::int32_t Width = 0;     // even
  std::int32_t Height = 0;    // even
  // The nominal rate for the encoder's rate control; the real times are the
  // ones given with each picture.
  std::int32_t FramesPerSecond = 25;
  std::int64_t MaxKeyFrameGapMs = 2000;
  // A key frame due while the picture has not changed since the last key
  // frame, with nothing encoded in between, is written as a copy of that
  // key frame's packet instead of being encoded again. Only for a format in
  // which a key frame holds nothing that must differ from the last one
  // (VP9; not H.264, whose back-to-back IDR pictures must differ in their
  // idr_pic_id).
  bool RepeatKeyFrames = false;
  std::int64_t VideoBitRate = 0;  // 0: the encoder's quality setting alone

  // Empty: no sound stream.
  std::string SoundEncoder;  // "aac", "libopus"
  std::int64_t SoundBitRate = 128000;
};

class LiveEncoder {
 public:
  static constexpr int kSampleRate = 48000;
  static constexpr int kChannels = 2;

  // Opens the encoders and the target and writes the header; null with a
  // negative FFmpeg code in `error` and a sentence in `failure` when that
  // fails (a missing encoder, a target that cannot be opened).
  static std::unique_ptr<LiveEncoder> Open(const LiveEncoderSettings& settings, int* error,
                                           std::string* failure);
  ~LiveEncoder();
  LiveEncoder(const LiveEncoder&) = delete;
  LiveEncoder& operator=(const LiveEncoder&) = delete;

  bool HasSound() const { return sound_ != nullptr; }

  // Encodes a picture shown from `timeMs` on. `top` is its top row, `stride`
  // the bytes from one row to the next. Times must increase.
  int EncodePicture(const std::uint8_t* top, std::ptrdiff_t stride, std::int64_t timeMs,
                    bool forceKeyFrame = false);
  // The same in two steps, so the conversion can run on another thread than
  // the encoding (and replace a copy of the pixels): NewPicture makes a 4:2:0
  // picture of the encoder's size, ConvertPicture converts 32-bit BGRX rows
  // into it on any thread (giving it a new buffer when the encoder still
  // holds its old one, so nothing is copied), and EncodeConverted encodes it.
  FrameHandle NewPicture() const;
  static int ConvertPicture(AVFrame* picture, const std::uint8_t* top, std::ptrdiff_t stride);
  int EncodeConverted(const AVFrame& picture, std::int64_t timeMs, bool forceKeyFrame = false);
  // The last picture again at `timeMs` (after at least one EncodePicture),
  // as a key frame when `keyFrame`.
  int EncodeAgain(std::int64_t timeMs, bool keyFrame);
  // Whether a picture at `timeMs` is due to be a key frame: the last one is
  // MaxKeyFrameGapMs old or older.
  bool KeyFrameDue(std::int64_t timeMs) const;
  std::int64_t LastPictureMs() const { return lastPictureMs_; }
  // The time of the last key frame asked for (-1: none yet), and the gap
  // after which the next one is due. The gap does not change once open.
  std::int64_t LastKeyMs() const { return lastKeyMs_; }
  std::int64_t MaxKeyGapMs() const { return maxKeyGapMs_; }
  bool HasPicture() const { return lastPictureMs_ >= 0; }

  // Sound heard from sample `firstSample` on (interleaved stereo float at
  // kSampleRate). Samples before the ones already taken are dropped; a gap
  // after them is filled with silence, so the sound keeps its place.
  int EncodeSound(const float* samples, std::size_t frames, std::int64_t firstSample);

  // Bytes of the output that end with a whole part the muxer finished (a
  // fragment, a cluster, the header): after a failed write, a file cut back
  // to this length holds no half-written part.
  std::int64_t CleanEnd() const { return cleanEnd_; }

  // Encodes what the encoders still hold, writes the trailer (an MP4's
  // fragment index, a WebM's cues and duration) and closes the target. The
  // first failure met. Later calls return 0.
  int Finish();
  // Closes the target without a trailer (after a failure, or when nothing was
  // written); the output keeps what it holds.
  void Abandon();

 private:
  LiveEncoder() = default;
  int OpenVideo(const LiveEncoderSettings& settings, std::string* failure);
  int OpenSound(const LiveEncoderSettings& settings, std::string* failure);
  int SendPicture(std::int64_t timeMs, bool keyFrame);
  int SendSoundFrame(int samples);
  int Drain(AVCodecContext* context, AVStream* stream);
  int WritePacket(AVStream* stream);
  int RepeatKeyPacket(std::int64_t timeMs);

  OutputHandle output_;
  CodecContextHandle video_;
  CodecContextHandle sound_;
  AVStream* videoStream_ = nullptr;
  AVStream* soundStream_ = nullptr;
  FrameHandle picture_;
  FrameHandle soundFrame_;
  PacketHandle packet_;
  std::int64_t maxKeyGapMs_ = 2000;
  std::int64_t lastPictureMs_ = -1;
  std::int64_t lastKeyMs_ = -1;
  bool repeatKeyFrames_ = false;
  // The packet of the last key frame while it is the last video packet
  // written and the encoder's picture is still the one it shows (empty
  // otherwise): a due key frame of the same picture is a copy of it.
  PacketHandle lastKeyPacket_;
  // Sound waiting for a whole encoder frame, interleaved, and the sample
  // index of its first value.
  std::vector<float> pendingSound_;
  std::int64_t pendingStart_ = 0;
  std::int64_t nextSample_ = 0;  // the first sample not taken yet
  bool planarSound_ = false;
  std::int64_t cleanEnd_ = 0;
  // Notes the output's length as clean when nothing failed so far.
  void NoteCleanEnd();
  bool headerWritten_ = false;
  bool finished_ = false;
};

}  // namespace framory
