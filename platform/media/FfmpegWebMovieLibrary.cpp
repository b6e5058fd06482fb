#include "platform/media/FfmpegWebMovieLibrary.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

extern "C" {
#include <libavutil/error.h>
}

#include "base/LastError.h"
#include "base/MovieFrame.h"
#include "base/UniqueFd.h"
#include "platform/media/LiveEncoder.h"
#include "platform/media/WorkerQueue.h"
#include "writers/MovieWriter.h"

namespace framory {

namespace {

// Pictures waiting for the worker: enough for about a quarter of a second
// of the timer's pictures, so a burst of other work on a busy machine that
// holds the encoder up for that long costs no picture (the timer's slots go
// on, and a shot that finds every slot taken waits and misses its slots),
// and at least three for a slow frame or a disk stall. A 4:2:0 picture of a
// 1920 × 1080 screen is 3 MB: at most 24 MB queued.
constexpr std::int32_t kQueuedMs = 250;
constexpr std::size_t kMinQueueDepth = 3;
constexpr std::size_t kMaxQueueDepth = 8;

std::size_t QueueDepth(std::int32_t periodMs) {
  const std::int32_t period = std::max(periodMs, 1);
  return std::clamp<std::size_t>(static_cast<std::size_t>((kQueuedMs + period - 1) / period),
                                 kMinQueueDepth, kMaxQueueDepth);
}
// The timer asks for more than this many frames a second: the MP4 encoder
// takes its faster preset.
constexpr std::int32_t kFastPresetAboveFps = 40;
// The longest stretch of a file's end that is not yet a finished fragment or
// cluster on disk.
constexpr std::int64_t kMaxPartMs = 1000;

void SetLastErrorFrom(int averror) {
  const int code = averror < 0 && averror > -4096 ? -averror : EIO;
  SetLastError(static_cast<std::uint32_t>(code));
}

LiveEncoderSettings SettingsFor(const WebMovieSetup& setup) {
  LiveEncoderSettings settings;
  // "file:" keeps a name with a colon from being taken for a protocol.
  settings.Target = "file:" + setup.Path;
  settings.Width = setup.Width;
  settings.Height = setup.Height;
  const std::int32_t period = std::max(setup.PeriodMs, 1);
  settings.FramesPerSecond = std::max(1, (1000 + period / 2) / period);
  // Pictures come at slot times, so the first slot at or past this gap
  // since the last key frame is still within MaxKeyFrameGapMs of it.
  settings.MaxKeyFrameGapMs = std::max<std::int64_t>(setup.MaxKeyFrameGapMs - period, period);
  if (setup.Kind == WebMovieKind::Mp4) {
    settings.Container = "mp4";
    // A fragment at each key frame, and one at least every second between
    // them, so a cut file loses at most about a second.
    settings.MuxerOptions = {{"movflags", "+frag_keyframe+empty_moov+default_base_moof"},
                             {"frag_duration", std::to_string(kMaxPartMs * 1000)}};
    settings.VideoEncoder = "libx264";
    const bool fast = 1000 > kFastPresetAboveFps * period;
    // Without lookahead or frame threads the encoder gives out each
    // picture's packet at once (slice threads instead), so nothing waits in
    // the encoder when the program is cut off.
    settings.VideoOptions = {{"preset", fast ? "superfast" : "veryfast"},
                             {"tune", "zerolatency"},
                             {"profile", "high"},
                             {"crf", "23"}};
    if (setup.Sound) settings.SoundEncoder = "aac";
  } else {
    settings.Container = "webm";
    // A cluster at each key frame (the muxer starts one there once the
    // cluster holds a few kilobytes) and one at least every second.
    settings.MuxerOptions = {{"cluster_time_limit", std::to_string(kMaxPartMs)}};
    settings.VideoEncoder = "libvpx-vp9";
    // No frames held back for lookahead: each picture's packet comes at once.
    settings.VideoOptions = {{"deadline", "realtime"},
                             {"cpu-used", "8"},
                             {"row-mt", "1"},
                             {"lag-in-frames", "0"},
                             {"crf", "32"}};
    // On a still screen the key frame due every few seconds is a copy of
    // the last one, not a new encoding of the same picture.
    settings.RepeatKeyFrames = true;
    if (setup.Sound) settings.SoundEncoder = "libopus";
  }
  return settings;
}

class FfmpegWebMovieFile : public WebMovieFile {
 public:
  FfmpegWebMovieFile(std::unique_ptr<LiveEncoder> encoder, std::string path, UniqueFd watch,
                     std::int32_t width, std::int32_t height)
      : encoder_(std::move(encoder)),
        path_(std::move(path)),
        watch_(std::move(watch)),
        width_(width),
        height_(height),
        queue_(WorkerFailure::Close,
               WorkerQueueResults{kWriterOk, kWriterFail, kWriterFail, kWriterFail}) {}
  ~FfmpegWebMovieFile() override { Finish(); }

  std::int32_t Start(std::size_t depth) {
    // Each slot's picture is made the first time the slot is filled.
    return queue_.Start(depth, [this](Item& item) { return Consume(item); });
  }

  std::int32_t PutPicture(const MovieFrame& frame, std::int64_t timeMs,
                          std::vector<PlacedSound> sound) override {
    if (frame.Width() != width_ || frame.Height() != height_) return kWriterFail;
    if (Deleted()) return kWriterFail;
    // The pixels are converted to 4:2:0 here, straight into the slot, instead
    // of being copied for the worker: the conversion reads them once, and
    // writes 12 bits a pixel where a copy would write 32.
    bool converted = true;
    const std::int32_t queued = queue_.Put([&](Item& item) {
      item.kind = Kind::Picture;
      item.timeMs = timeMs;
      item.sound = std::move(sound);
      if (item.picture == nullptr) item.picture.reset(MakePicture(), PictureFree());
      converted = item.picture != nullptr &&
                  LiveEncoder::ConvertPicture(item.picture.get(),
                                              reinterpret_cast<const std::uint8_t*>(frame.Row(0)),
                                              std::ptrdiff_t{width_} * 4) >= 0;
      // A picture that could not be made leaves the slot a repeat.
      if (!converted) item.kind = Kind::Repeat;
    });
    if (queued == kWriterOk && !converted) {
      SetLastError(ENOMEM);
      return kWriterFail;
    }
    return queued;
  }

  std::int32_t PutRepeat(std::int64_t timeMs, bool always,
                         std::vector<PlacedSound> sound) override {
    if (Deleted()) return kWriterFail;
    // A repeat that brings no sound and comes before a key frame is due
    // writes nothing: it is not queued, so on a still screen the worker
    // sleeps between key frames. The key frame time seen here may be older
    // than the worker's (pictures still queued), never newer, so a key frame
    // due is never missed.
    const std::int64_t lastKey = lastKeyMs_.load(std::memory_order_acquire);
    if (!always && sound.empty() && lastKey >= 0 && timeMs - lastKey < encoder_->MaxKeyGapMs()) {
      return queue_.Check();
    }
    return queue_.Put([&](Item& item) {
      item.kind = always ? Kind::RepeatAlways : Kind::Repeat;
      item.timeMs = timeMs;
      item.sound = std::move(sound);
    });
  }

  std::int32_t Finish() override {
    if (finished_) return finishResult_;
    finished_ = true;
    // The worker stops first; from here on this thread alone uses the encoder.
    std::int32_t result = queue_.Finish();
    const std::uint32_t queueError = GetLastError();
    if (result == kWriterOk && encoder_->HasPicture()) {
      const int ended = encoder_->Finish();
      if (ended < 0) {
        SetLastErrorFrom(ended);
        result = kWriterFail;
      }
    } else {
      // After a failure the file keeps the fragments it has: nothing more is
      // written into it, not even the index, and a part the failure cut in
      // two is cut off, so the file ends as a killed one would.
      const std::int64_t clean = encoder_->CleanEnd();
      encoder_->Abandon();
      if (result != kWriterOk && clean > 0 && watch_.Valid()) {
        if (ftruncate(watch_.Get(), clean) != 0) {
          // The file keeps its cut part; players stop at it.
        }
      }
      if (result != kWriterOk) SetLastError(queueError);
    }
    if (!encoder_->HasPicture()) std::remove(path_.c_str());
    finishResult_ = result;
    return result;
  }

 private:
  enum class Kind { Picture, Repeat, RepeatAlways };
  // A picture of the encoder's size, freed with FFmpeg's own call.
  AVFrame* MakePicture() const { return encoder_->NewPicture().release(); }
  struct PictureFree {
    void operator()(AVFrame* picture) const { FfmpegFree()(picture); }
  };
  struct Item {
    std::shared_ptr<AVFrame> picture;  // made with PictureFree
    Kind kind = Kind::Repeat;
    std::int64_t timeMs = 0;
    std::vector<PlacedSound> sound;
  };

  // On the worker.
  std::int32_t Consume(Item& item) {
    int result = 0;
    if (encoder_->HasSound()) {
      for (const PlacedSound& part : item.sound) {
        result =
            encoder_->EncodeSound(part.Samples.data(), part.Samples.size() / 2, part.FirstSample);
        if (result < 0) break;
      }
    }
    item.sound.clear();
    const bool later = item.timeMs > encoder_->LastPictureMs();
    if (result >= 0 && later) {
      if (item.kind == Kind::Picture) {
        result = encoder_->EncodeConverted(*item.picture, item.timeMs);
      } else if (encoder_->HasPicture() &&
                 (item.kind == Kind::RepeatAlways || encoder_->KeyFrameDue(item.timeMs))) {
        result = encoder_->EncodeAgain(item.timeMs, item.kind == Kind::Repeat);
      }
    }
    lastKeyMs_.store(encoder_->LastKeyMs(), std::memory_order_release);
    if (result < 0) {
      SetLastErrorFrom(result);
      return kWriterFail;
    }
    return kWriterOk;
  }

  // True (last error ENOENT) when the file was deleted while being written.
  // The descriptor is also the one a file cut by a failure is trimmed with.
  bool Deleted() const {
    struct stat st {};
    if (!watch_.Valid() || fstat(watch_.Get(), &st) != 0 || st.st_nlink > 0) return false;
    SetLastError(ENOENT);
    return true;
  }

  std::unique_ptr<LiveEncoder> encoder_;
  std::string path_;
  UniqueFd watch_;
  std::int32_t width_;
  std::int32_t height_;
  bool finished_ = false;
  std::int32_t finishResult_ = kWriterOk;
  // The worker's last key frame time, for PutRepeat.
  std::atomic<std::int64_t> lastKeyMs_{-1};
  // Last member: destroyed (and its worker stopped) first.
  WorkerQueue<Item> queue_;
};

}  // namespace

std::int32_t FfmpegWebMovieLibrary::Open(const WebMovieSetup& setup,
                                         std::unique_ptr<WebMovieFile>* file,
                                         std::string* failure) {
  int error = 0;
  std::string why;
  std::unique_ptr<LiveEncoder> encoder = LiveEncoder::Open(SettingsFor(setup), &error, &why);
  if (encoder == nullptr) {
    SetLastErrorFrom(error);
    if (failure != nullptr) *failure = why;
    return kWriterFail;
  }
  UniqueFd watch(::open(setup.Path.c_str(), O_RDWR | O_CLOEXEC));
  auto made = std::make_unique<FfmpegWebMovieFile>(std::move(encoder), setup.Path, std::move(watch),
                                                   setup.Width, setup.Height);
  if (made->Start(QueueDepth(setup.PeriodMs)) != kWriterOk) {
    if (failure != nullptr) *failure = "The writer's thread could not be started.";
    return kWriterFail;
  }
  *file = std::move(made);
  return kWriterOk;
}

std::unique_ptr<WebMovieLibrary> CreateWebMovieLibrary() {
  return std::make_unique<FfmpegWebMovieLibrary>();
}

}  // namespace framory
