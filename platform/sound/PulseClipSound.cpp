#include "platform/sound/PulseClipSound.h"

#include <pulse/pulseaudio.h>
#include <pulse/rtclock.h>

#include <functional>
#include <utility>

#include "base/MonotonicClock.h"
#include "platform/sound/SoundMixer.h"
#include "platform/sound/SoundStamps.h"
#include "writers/BackgroundClipSound.h"

namespace framory {

namespace {

constexpr int kFrameBytes = ClipSound::kChannels * static_cast<int>(sizeof(float));
// The server hands the sound over in pieces of about this length: short
// enough that the stamps of a stream correct themselves often and a Stop
// loses little, long enough not to wake the client thread needlessly.
constexpr pa_usec_t kFragmentUsec = 20'000;
// How often each stream asks the server for a timing report.
constexpr std::int64_t kReportNs = 100'000'000;

std::int64_t FramesNs(std::int64_t frames) {
  return frames * 1'000'000'000 / ClipSound::kSampleRate;
}

}  // namespace

struct PulseClipSound::Server {
  struct Stream {
    Server* server = nullptr;
    int input = 0;
    pa_stream* handle = nullptr;
    SoundStamps stamps{ClipSound::kSampleRate};
    std::int64_t position = 0;  // samples read so far
    std::int64_t reportAskedNs = 0;
  };

  explicit Server(PulseClipSound& owner) : owner(owner) {}
  ~Server() { Close(); }

  bool Open(SoundSourceChoice choice, const Limits& limits, std::string* failure);
  void Close();

  // With the lock held: waits until `done` holds, the answers take too long
  // or the connection breaks (then false with the reason).
  bool WaitFor(const std::function<bool()>& done, std::string* failure);
  bool Finish(pa_operation* operation, std::string* failure);
  bool FindDevices(SoundSourceChoice choice, std::vector<std::string>* devices,
                   std::string* failure);
  bool Connect(const std::vector<std::string>& devices, std::string* failure);
  void Read(Stream& stream);
  void Drain(Stream& stream, std::int64_t now);
  bool HeardAt(Stream& stream, std::int64_t now, std::int64_t* heard);

  static void Signal(void* data) {
    pa_threaded_mainloop_signal(static_cast<Server*>(data)->loop, 0);
  }

  PulseClipSound& owner;
  SteadyClock clock;
  pa_threaded_mainloop* loop = nullptr;
  pa_context* context = nullptr;
  pa_time_event* deadline = nullptr;
  bool timedOut = false;
  std::vector<std::unique_ptr<Stream>> streams;
  std::unique_ptr<SoundMixer> mixer;

  // The server's answers.
  bool answered = false;
  std::string defaultSink, defaultSource, monitorSource;
  bool sourceFound = false, sourceIsMonitor = false;
};

bool PulseClipSound::Server::WaitFor(const std::function<bool()>& done, std::string* failure) {
  while (!done()) {
    if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(context))) {
      *failure = std::string("the connection to the sound server broke (") +
                 pa_strerror(pa_context_errno(context)) + ")";
      return false;
    }
    if (timedOut) {
      *failure = "the sound server does not answer";
      return false;
    }
    pa_threaded_mainloop_wait(loop);
  }
  return true;
}

bool PulseClipSound::Server::Finish(pa_operation* operation, std::string* failure) {
  if (operation == nullptr) {
    *failure = std::string("the sound server refused a question (") +
               pa_strerror(pa_context_errno(context)) + ")";
    return false;
  }
  const bool ok = WaitFor(
      [operation] { return pa_operation_get_state(operation) != PA_OPERATION_RUNNING; }, failure);
  pa_operation_unref(operation);
  return ok;
}

bool PulseClipSound::Server::Open(SoundSourceChoice choice, const Limits& limits,
                                  std::string* failure) {
  loop = pa_threaded_mainloop_new();
  if (loop == nullptr || pa_threaded_mainloop_start(loop) < 0) {
    *failure = "the sound server's client could not start";
    return false;
  }
  pa_threaded_mainloop_lock(loop);
  context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Framory");
  if (context == nullptr) {
    pa_threaded_mainloop_unlock(loop);
    *failure = "the sound server's client could not start";
    return false;
  }
  pa_context_set_state_callback(
      context, [](pa_context*, void* data) { Signal(data); }, this);
  // Every wait below ends by this deadline at the latest, so a server that
  // accepts the connection and then hangs cannot hold the caller.
  deadline = pa_context_rttime_new(
      context, pa_rtclock_now() + static_cast<pa_usec_t>(limits.AnswerNs / 1000),
      [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
        static_cast<Server*>(data)->timedOut = true;
        Signal(data);
      },
      this);
  bool ok = true;
  // No automatic start of a server: a missing one is reported, not
  // replaced by one nobody configured.
  if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
    *failure = std::string("no sound server to record from (") +
               pa_strerror(pa_context_errno(context)) + ")";
    ok = false;
  }
  if (ok) {
    ok = WaitFor([this] { return pa_context_get_state(context) == PA_CONTEXT_READY; }, failure);
    if (!ok && !PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
      *failure = std::string("no sound server to record from (") +
                 pa_strerror(pa_context_errno(context)) + ")";
  }
  std::vector<std::string> devices;
  if (ok) ok = FindDevices(choice, &devices, failure);
  if (ok && devices.size() > 1)
    mixer = std::make_unique<SoundMixer>(static_cast<int>(devices.size()), ClipSound::kChannels,
                                         ClipSound::kSampleRate, limits.MixWaitNs);
  if (ok) ok = Connect(devices, failure);
  if (deadline != nullptr) {
    pa_threaded_mainloop_get_api(loop)->time_free(deadline);
    deadline = nullptr;
  }
  pa_threaded_mainloop_unlock(loop);
  return ok;
}

bool PulseClipSound::Server::FindDevices(SoundSourceChoice choice,
                                         std::vector<std::string>* devices, std::string* failure) {
  const bool microphone = choice != SoundSourceChoice::Desktop;
  const bool desktop = choice != SoundSourceChoice::Microphone;
  if (!Finish(pa_context_get_server_info(
                  context,
                  [](pa_context*, const pa_server_info* info, void* data) {
                    auto* self = static_cast<Server*>(data);
                    if (info != nullptr) {
                      if (info->default_sink_name != nullptr)
                        self->defaultSink = info->default_sink_name;
                      if (info->default_source_name != nullptr)
                        self->defaultSource = info->default_source_name;
                    }
                    self->answered = true;
                    Signal(data);
                  },
                  this),
              failure))
    return false;
  if (microphone) {
    if (!defaultSource.empty() &&
        !Finish(pa_context_get_source_info_by_name(
                    context, defaultSource.c_str(),
                    [](pa_context*, const pa_source_info* info, int, void* data) {
                      auto* self = static_cast<Server*>(data);
                      if (info != nullptr) {
                        self->sourceFound = true;
                        self->sourceIsMonitor = info->monitor_of_sink != PA_INVALID_INDEX;
                      }
                      Signal(data);
                    },
                    this),
                failure))
      return false;
    // Without any input the server names the monitor of an output as its
    // default source; recording that as the microphone would give the
    // desktop's sound (twice, with "both").
    if (!sourceFound || sourceIsMonitor) {
      *failure = "the sound server has no microphone (no input device besides the desktop's sound)";
      return false;
    }
    devices->push_back(defaultSource);
  }
  if (desktop) {
    if (!defaultSink.empty() &&
        !Finish(pa_context_get_sink_info_by_name(
                    context, defaultSink.c_str(),
                    [](pa_context*, const pa_sink_info* info, int, void* data) {
                      auto* self = static_cast<Server*>(data);
                      if (info != nullptr && info->monitor_source_name != nullptr)
                        self->monitorSource = info->monitor_source_name;
                      Signal(data);
                    },
                    this),
                failure))
      return false;
    if (monitorSource.empty()) {
      *failure = "the sound server has no output whose sound could be recorded";
      return false;
    }
    devices->push_back(monitorSource);
  }
  return true;
}

bool PulseClipSound::Server::Connect(const std::vector<std::string>& devices,
                                     std::string* failure) {
  pa_sample_spec sampleFormat{};
  sampleFormat.format = PA_SAMPLE_FLOAT32NE;
  sampleFormat.rate = ClipSound::kSampleRate;
  sampleFormat.channels = ClipSound::kChannels;
  pa_buffer_attr attributes{};
  attributes.maxlength = static_cast<std::uint32_t>(-1);
  attributes.fragsize = static_cast<std::uint32_t>(pa_usec_to_bytes(kFragmentUsec, &sampleFormat));
  // The server reports its side of the latency regularly; the client adds
  // what it holds unread, so each read can tell when its first sample was
  // heard. (Interpolating the server's side between reports goes wrong for
  // the monitor of a sink that renders ahead: the latency then shrinks as
  // fast as the clock runs.)
  const auto flags =
      static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    auto stream = std::make_unique<Stream>();
    stream->server = this;
    stream->input = static_cast<int>(i);
    stream->handle = pa_stream_new(context, "Clip sound", &sampleFormat, nullptr);
    if (stream->handle == nullptr) {
      *failure = std::string("the sound server refused a recording (") +
                 pa_strerror(pa_context_errno(context)) + ")";
      return false;
    }
    pa_stream_set_state_callback(
        stream->handle, [](pa_stream*, void* data) { Signal(static_cast<Stream*>(data)->server); },
        stream.get());
    // A timing report just arrived: the one moment the latency is exact.
    pa_stream_set_latency_update_callback(
        stream->handle,
        [](pa_stream*, void* data) {
          auto* each = static_cast<Stream*>(data);
          std::int64_t heard = 0;
          // Before any sound came, the report tells nothing of it.
          if (each->position > 0 &&
              each->server->HeardAt(*each, each->server->clock.NowNanoseconds(), &heard))
            each->stamps.Report(each->position, heard);
        },
        stream.get());
    pa_stream_set_read_callback(
        stream->handle,
        [](pa_stream*, std::size_t, void* data) {
          auto* each = static_cast<Stream*>(data);
          each->server->Read(*each);
        },
        stream.get());
    pa_stream* handle = stream->handle;
    streams.push_back(std::move(stream));
    if (pa_stream_connect_record(handle, devices[i].c_str(), &attributes, flags) < 0) {
      *failure = "the sound server cannot record from " + devices[i] + " (" +
                 pa_strerror(pa_context_errno(context)) + ")";
      return false;
    }
  }
  for (auto& stream : streams) {
    pa_stream* handle = stream->handle;
    bool failed = false;
    if (!WaitFor(
            [handle, &failed] {
              const pa_stream_state_t state = pa_stream_get_state(handle);
              failed = !PA_STREAM_IS_GOOD(state);
              return failed || state == PA_STREAM_READY;
            },
            failure))
      return false;
    if (failed) {
      *failure = std::string("the sound server cannot record from ") +
                 (pa_stream_get_device_name(handle) != nullptr ? pa_stream_get_device_name(handle)
                                                               : "its source") +
                 " (" + pa_strerror(pa_context_errno(context)) + ")";
      return false;
    }
  }
  return true;
}

void PulseClipSound::Server::Read(Stream& stream) {
  const std::int64_t now = clock.NowNanoseconds();
  if (!mixer) {
    Drain(stream, now);
    return;
  }
  // Everything every stream holds goes into the mix before it sends, so a
  // stream whose turn comes just after the other's is not taken for
  // stalled when the thread wakes late.
  for (auto& each : streams) Drain(*each, now);
  std::vector<SoundChunk> mixed;
  mixer->Send(now, &mixed);
  for (SoundChunk& each : mixed) owner.Push(std::move(each));
}

void PulseClipSound::Server::Drain(Stream& stream, std::int64_t now) {
  if (stream.handle == nullptr || pa_stream_get_state(stream.handle) != PA_STREAM_READY) return;
  // The library asks for timing reports ever more rarely (seconds apart);
  // the stamps want one every tenth of a second.
  if (now - stream.reportAskedNs > kReportNs) {
    stream.reportAskedNs = now;
    pa_operation* asked = pa_stream_update_timing_info(stream.handle, nullptr, nullptr);
    if (asked != nullptr) pa_operation_unref(asked);
  }
  for (;;) {
    const void* data = nullptr;
    std::size_t bytes = 0;
    if (pa_stream_peek(stream.handle, &data, &bytes) < 0 || bytes == 0) return;
    const std::int64_t frames = static_cast<std::int64_t>(bytes / kFrameBytes);
    // Until the server's first timing report, the latency the client
    // library works out alone places the first piece roughly.
    SoundChunk chunk;
    if (!stream.stamps.Anchored()) {
      std::int64_t heard = 0;
      stream.stamps.Guess(stream.position,
                          HeardAt(stream, now, &heard) ? heard : now - FramesNs(frames));
    }
    chunk.FirstSampleNs = stream.stamps.At(stream.position);
    stream.position += frames;
    if (data != nullptr) {
      const auto* samples = static_cast<const float*>(data);
      chunk.Samples.assign(samples, samples + frames * ClipSound::kChannels);
    } else {
      // A hole the server left in the stream: silence keeps the rest in
      // place.
      chunk.Samples.assign(static_cast<std::size_t>(frames * ClipSound::kChannels), 0.0f);
    }
    pa_stream_drop(stream.handle);
    if (frames == 0) continue;
    if (mixer)
      mixer->Add(stream.input, chunk, now);
    else
      owner.Push(std::move(chunk));
  }
}

bool PulseClipSound::Server::HeardAt(Stream& stream, std::int64_t now, std::int64_t* heard) {
  pa_usec_t latency = 0;
  int negative = 0;
  if (pa_stream_get_latency(stream.handle, &latency, &negative) != 0) return false;
  // The latency is the age of the next sample to be read; negative for the
  // monitor of a sink that renders ahead of what it plays.
  const std::int64_t age = static_cast<std::int64_t>(latency) * 1000;
  *heard = negative != 0 ? now + age : now - age;
  return true;
}

void PulseClipSound::Server::Close() {
  if (loop == nullptr) return;
  pa_threaded_mainloop_lock(loop);
  // What the server already delivered is kept: a clip's last moments.
  const std::int64_t now = clock.NowNanoseconds();
  for (auto& stream : streams) Drain(*stream, now);
  for (auto& stream : streams) {
    if (stream->handle == nullptr) continue;
    pa_stream_set_read_callback(stream->handle, nullptr, nullptr);
    pa_stream_set_latency_update_callback(stream->handle, nullptr, nullptr);
    pa_stream_set_state_callback(stream->handle, nullptr, nullptr);
    if (PA_STREAM_IS_GOOD(pa_stream_get_state(stream->handle)))
      pa_stream_disconnect(stream->handle);
    pa_stream_unref(stream->handle);
    stream->handle = nullptr;
  }
  if (mixer) {
    std::vector<SoundChunk> rest;
    mixer->Flush(&rest);
    for (SoundChunk& each : rest) owner.Push(std::move(each));
    mixer.reset();
  }
  if (context != nullptr) {
    if (deadline != nullptr) pa_threaded_mainloop_get_api(loop)->time_free(deadline);
    deadline = nullptr;
    pa_context_set_state_callback(context, nullptr, nullptr);
    pa_context_disconnect(context);
    pa_context_unref(context);
    context = nullptr;
  }
  pa_threaded_mainloop_unlock(loop);
  pa_threaded_mainloop_stop(loop);
  pa_threaded_mainloop_free(loop);
  loop = nullptr;
}

PulseClipSound::PulseClipSound(SoundSourceChoice choice) : PulseClipSound(choice, Limits{}) {}

PulseClipSound::PulseClipSound(SoundSourceChoice choice, const Limits& limits)
    : choice_(choice), limits_(limits) {}

PulseClipSound::~PulseClipSound() { Stop(); }

bool PulseClipSound::Start(std::string* failure) {
  std::lock_guard<std::mutex> hold(control_);
  if (server_) return true;
  auto server = std::make_unique<Server>(*this);
  std::string reason;
  if (!server->Open(choice_, limits_, &reason)) {
    server->Close();
    if (failure != nullptr) *failure = reason;
    return false;
  }
  server_ = std::move(server);
  return true;
}

void PulseClipSound::Stop() {
  std::lock_guard<std::mutex> hold(control_);
  server_.reset();
}

std::vector<SoundChunk> PulseClipSound::TakeChunks() {
  std::lock_guard<std::mutex> hold(queueLock_);
  std::vector<SoundChunk> taken(std::make_move_iterator(queue_.begin()),
                                std::make_move_iterator(queue_.end()));
  queue_.clear();
  heldFrames_ = 0;
  return taken;
}

std::int64_t PulseClipSound::DroppedFrames() const {
  std::lock_guard<std::mutex> hold(queueLock_);
  return droppedFrames_;
}

void PulseClipSound::Push(SoundChunk chunk) {
  const std::int64_t limit = limits_.HeldNs * kSampleRate / 1'000'000'000;
  std::lock_guard<std::mutex> hold(queueLock_);
  heldFrames_ += static_cast<std::int64_t>(chunk.Samples.size()) / kChannels;
  queue_.push_back(std::move(chunk));
  while (heldFrames_ > limit && queue_.size() > 1) {
    const std::int64_t frames =
        static_cast<std::int64_t>(queue_.front().Samples.size()) / kChannels;
    heldFrames_ -= frames;
    droppedFrames_ += frames;
    queue_.pop_front();
  }
}

std::unique_ptr<ClipSound> PulseClipSoundSource::Open(SoundSourceChoice choice) {
  return std::make_unique<BackgroundClipSound>(std::make_unique<PulseClipSound>(choice, limits_));
}

}  // namespace framory
