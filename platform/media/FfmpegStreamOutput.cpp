#include "platform/media/FfmpegStreamOutput.h"

#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <thread>

extern "C" {
#include <libavutil/error.h>
}

#include "base/MonotonicClock.h"
#include "platform/media/LiveEncoder.h"
#include "platform/media/MediaLog.h"

namespace framory {

namespace {

std::int64_t NowNs() { return SteadyClock().NowNanoseconds(); }

std::string ErrorText(int error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(error, text, sizeof text);
  return text;
}

// The host as the resolver takes it: an IPv6 address without its brackets.
std::string BareHost(const std::string& host) {
  if (host.size() > 2 && host.front() == '[') return host.substr(1, host.size() - 2);
  return host;
}

// The line of FFmpeg's messages that tells what the server answered, if one
// does ("Server error: ...", an SRT rejection); else the last one.
std::string ServerAnswer(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.find("Server error") != std::string::npos ||
        line.find("reject") != std::string::npos || line.find("Reject") != std::string::npos) {
      return line;
    }
  }
  return lines.empty() ? std::string() : lines.back();
}

// A video bit rate that keeps screen text readable without flooding a home
// upload: about 0.1 bit per pixel and frame, from 0.5 to 6 Mbit/s.
std::int64_t VideoBitRate(const StreamFormat& format) {
  const std::int64_t rate =
      std::int64_t{format.Width} * format.Height * std::max(format.FramesPerSecond, 1) / 10;
  return std::clamp<std::int64_t>(rate, 500'000, 6'000'000);
}

}  // namespace

struct FfmpegStreamOutput::Lookup {
  std::mutex lock;
  std::condition_variable changed;
  bool done = false;
  bool abandoned = false;  // interrupted: the waiter left
  int result = 0;
};

FfmpegStreamOutput::FfmpegStreamOutput() { InstallMediaLogMask(); }

void FfmpegStreamOutput::Interrupt() {
  interrupted_ = true;
  const std::lock_guard hold(lookupLock_);
  if (!lookup_) return;
  {
    const std::lock_guard holdLookup(lookup_->lock);
    lookup_->abandoned = true;
  }
  lookup_->changed.notify_all();
}

bool FfmpegStreamOutput::Resolve(const std::string& host, int* result) {
  auto lookup = std::make_shared<Lookup>();
  {
    const std::lock_guard hold(lookupLock_);
    if (interrupted_) return false;
    lookup_ = lookup;
  }
  // The thread owns the look-up's state with the waiter; whichever lets go
  // last frees it, so a waiter that leaves early leaks nothing once the
  // resolver gives up.
  std::thread([lookup, host] {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (found != nullptr) freeaddrinfo(found);
    {
      const std::lock_guard hold(lookup->lock);
      lookup->result = resolved;
      lookup->done = true;
    }
    lookup->changed.notify_all();
  }).detach();
  bool answered = false;
  {
    std::unique_lock hold(lookup->lock);
    const auto deadline =
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadlineNs_.load()));
    // The deadline is on the steady clock, as NowNs.
    answered = lookup->changed.wait_until(hold, deadline, [&] {
      return lookup->done || lookup->abandoned;
    }) && lookup->done;
    *result = lookup->result;
  }
  const std::lock_guard hold(lookupLock_);
  lookup_.reset();
  return answered;
}

FfmpegStreamOutput::~FfmpegStreamOutput() {
  interrupted_ = true;
  Close();
}

int FfmpegStreamOutput::OnInterrupt(void* opaque) {
  auto* self = static_cast<FfmpegStreamOutput*>(opaque);
  return self->interrupted_ || NowNs() > self->deadlineNs_ ? 1 : 0;
}

void FfmpegStreamOutput::SetDeadline(std::int64_t fromNowMs) {
  deadlineNs_ = NowNs() + fromNowMs * 1'000'000;
}

ConnectOutcome FfmpegStreamOutput::Open(const StreamAddress& address, const StreamFormat& format,
                                        std::int64_t startMs, std::string* answer) {
  Close();
  if (interrupted_) return ConnectOutcome::Unreachable;
  secrets_ = address.Secrets;
  AddMediaLogSecrets(secrets_);
  startMs_ = startMs;
  failed_ = false;

  // A name that does not resolve is told apart from a server that is away.
  SetDeadline(kConnectTimeoutMs);
  int resolved = 0;
  if (!Resolve(BareHost(address.Host), &resolved)) {
    RemoveMediaLogSecrets(secrets_);
    secrets_.clear();
    *answer = "the server's name could not be looked up in time";
    return ConnectOutcome::Unreachable;
  }
  if (resolved != 0) {
    *answer = "no server of that name was found (" + std::string(gai_strerror(resolved)) + ")";
    return ConnectOutcome::NoSuchHost;
  }

  LiveEncoderSettings settings;
  const bool rtmp = address.Protocol == StreamProtocol::Rtmp;
  settings.Container = rtmp ? "flv" : "mpegts";
  settings.Target = address.Url;
  // The stream goes on from the broadcast's time (a reconnection, a resume
  // after a pause), so viewers and the server's recording see no jump back.
  settings.MuxerOptions = {{"output_ts_offset", std::to_string(startMs) + "ms"}};
  if (rtmp) {
    settings.MuxerOptions.emplace_back("flvflags", "no_duration_filesize");
    // A small send buffer: a server that stalls is noticed within seconds
    // (the send deadline) instead of after megabytes of buffered stream.
    settings.IoOptions.emplace_back("send_buffer_size", std::to_string(kSendBufferBytes));
  }
  settings.VideoEncoder = "libx264";
  settings.VideoOptions = {{"preset", "veryfast"}, {"tune", "zerolatency"}};
  settings.Width = format.Width;
  settings.Height = format.Height;
  settings.FramesPerSecond = format.FramesPerSecond;
  settings.MaxKeyFrameGapMs = 2000;
  settings.VideoBitRate = VideoBitRate(format);
  if (format.Sound) settings.SoundEncoder = "aac";
  settings.Interrupt = &FfmpegStreamOutput::OnInterrupt;
  settings.InterruptOpaque = this;

  SetDeadline(kConnectTimeoutMs);
  int error = 0;
  std::string failure;
  {
    MediaLogCapture log;
    encoder_ = LiveEncoder::Open(settings, &error, &failure);
    if (encoder_) return ConnectOutcome::Connected;
    const std::string said = ServerAnswer(log.Lines());
    *answer = said.empty() ? failure : said;
  }
  RemoveMediaLogSecrets(secrets_);
  secrets_.clear();
  const bool away = error == AVERROR(ECONNREFUSED) || error == AVERROR(ETIMEDOUT) ||
                    error == AVERROR(ENETUNREACH) || error == AVERROR(EHOSTUNREACH) ||
                    error == AVERROR(ECONNRESET) || error == AVERROR_EXIT;
  if (away) return ConnectOutcome::Unreachable;
  if (rtmp && error == AVERROR(EIO) && answer->find("Server error") == std::string::npos) {
    // nginx and most services answer a refused key by closing the
    // connection, which FFmpeg reports as an I/O error.
    *answer =
        "the server closed the connection when asked to take the stream (" + ErrorText(error) + ")";
  }
  if (!rtmp && answer->find("eject") == std::string::npos) return ConnectOutcome::Unreachable;
  return ConnectOutcome::Refused;
}

bool FfmpegStreamOutput::SendPicture(const std::uint32_t* top, std::ptrdiff_t stride,
                                     std::int64_t timeMs, bool keyFrame) {
  if (!encoder_ || failed_) return false;
  SetDeadline(kSendTimeoutMs);
  const int result = encoder_->EncodePicture(reinterpret_cast<const std::uint8_t*>(top), stride,
                                             timeMs - startMs_, keyFrame);
  failed_ = result < 0;
  return !failed_;
}

bool FfmpegStreamOutput::SendSound(const float* samples, std::size_t frames,
                                   std::int64_t firstSample) {
  if (!encoder_ || failed_ || !encoder_->HasSound()) return !failed_;
  SetDeadline(kSendTimeoutMs);
  const std::int64_t start = startMs_ * LiveEncoder::kSampleRate / 1000;
  failed_ = encoder_->EncodeSound(samples, frames, firstSample - start) < 0;
  return !failed_;
}

void FfmpegStreamOutput::Close() {
  if (encoder_) {
    if (interrupted_ || failed_) {
      encoder_->Abandon();
    } else {
      // The stream's end goes out if the server takes it soon.
      SetDeadline(1000);
      encoder_->Finish();
    }
    encoder_.reset();
  }
  if (!secrets_.empty()) {
    RemoveMediaLogSecrets(secrets_);
    secrets_.clear();
  }
}

std::unique_ptr<StreamOutput> FfmpegStreamOutputLibrary::MakeOutput() {
  return std::make_unique<FfmpegStreamOutput>();
}

}  // namespace framory
