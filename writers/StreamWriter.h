// The writer of a broadcast to a streaming server. The clip session hands it
// frames on the event loop as it does a file writer's; it copies each into
// one of a few buffers and returns at once. A thread of its own connects,
// encodes and sends, following the connection rules of StreamLink:
//
// - While the server cannot take frames (connecting, reconnecting after a
//   loss, stalled) the buffers fill and further frames are dropped and
//   counted; the event loop and the capture never wait on the network.
// - A wrong address or a refused key stops the sending; the next frame
//   offered is answered with kWriterFailReported, upon which the clip
//   session pauses the recorder and has the writer show one box naming the
//   server's answer (WriterFailure::StreamRefused).
// - Time stamps are the clip's positions times its period, so paused time
//   is left out and a stream reopened after a pause goes on where it was.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/MonotonicClock.h"
#include "writers/ClipSound.h"
#include "writers/MovieWriter.h"
#include "writers/StreamAddress.h"
#include "writers/StreamLink.h"
#include "writers/StreamOutput.h"
#include "writers/StreamStatus.h"
#include "writers/WriterReports.h"

namespace framory {

struct StreamWriterParts {
  StreamOutputLibrary* Outputs = nullptr;
  WriterReports* Reports = nullptr;
  StreamStatus* Status = nullptr;  // may be null
  // Null, or sound not chosen: the broadcast has no sound.
  ClipSoundSource* Sound = nullptr;
  bool RecordSound = false;
  SoundSourceChoice SoundChoice = SoundSourceChoice::Microphone;
  const MonotonicClock* Clock = nullptr;  // null: the steady clock
};

class StreamWriter : public MovieWriter {
 public:
  // Frames waiting to be sent at most; more are dropped.
  static constexpr std::size_t kQueuedFrames = 3;

  StreamWriter(const StreamWriterParts& parts, const std::string& address, std::int32_t timerValue);
  ~StreamWriter() override;
  StreamWriter(const StreamWriter&) = delete;
  StreamWriter& operator=(const StreamWriter&) = delete;

  // Below 0 when the address is not one the writer can send to (the first
  // frame offered then reports it).
  std::int32_t StartResult() const override { return address_ ? kWriterOk : kWriterFail; }
  std::int32_t AddFrame(const MovieFrame& frame) override;
  std::int32_t AddFrameAt(const MovieFrame& frame, std::int32_t position) override;
  void ReportFailure() override;
  void Close() override;

  // Frames dropped so far: by full buffers and while nothing could be sent.
  std::int64_t DroppedFrames() const;
  // Pictures the server took.
  std::int64_t SentFrames() const;
  std::int32_t Reconnections() const;

 private:
  struct Queued {
    std::vector<std::uint32_t> Pixels;
    std::int64_t TimeMs = 0;
    std::int64_t TakenNs = 0;  // on the steady clock, to place the sound
  };

  std::int32_t Offer(const MovieFrame& frame, std::int64_t timeMs);
  // Reports the sound's failure to start, once.
  void ReportSoundMissing(const std::string& failure);
  void CheckSound();
  void Run();
  void Connect(std::unique_lock<std::mutex>& lock);
  void SendSound(bool live);
  void SetStatus(StreamStatus::Phase phase);
  std::int64_t Now() const { return clock_.NowNanoseconds(); }

  StreamWriterParts parts_;
  SteadyClock steadyClock_;
  const MonotonicClock& clock_;
  std::string addressProblem_;  // set while address_ is parsed
  std::optional<StreamAddress> address_;
  std::string maskedAddress_;
  std::int32_t periodMs_ = 100;
  std::int64_t nextTimeMs_ = 0;  // of AddFrame without a position
  std::int64_t lastTimeMs_ = -1;
  bool reported_ = false;
  std::string failure_;  // the box's detail, until ReportFailure
  std::unique_ptr<ClipSound> sound_;
  bool soundReported_ = false;

  // Shared with the sending thread.
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Queued> queue_;
  std::vector<std::vector<std::uint32_t>> spare_;
  StreamFormat format_;
  bool formatKnown_ = false;
  bool closing_ = false;
  bool stopped_ = false;  // the link stopped: refused or a wrong address
  StreamLink link_;
  std::int64_t droppedQueued_ = 0;
  std::int64_t sent_ = 0;
  // The steady time of broadcast time 0, from the latest picture sent.
  std::int64_t originNs_ = 0;

  // Used by the sending thread alone, but for Interrupt.
  std::unique_ptr<StreamOutput> output_;
  std::thread thread_;
};

}  // namespace framory
