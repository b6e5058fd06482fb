#include "writers/StreamWriter.h"

#include <algorithm>
#include <cstring>

#include "base/MovieFrame.h"

namespace framory {

namespace {
constexpr std::int64_t kNsPerMs = 1'000'000;
}

StreamWriter::StreamWriter(const StreamWriterParts& parts, const std::string& address,
                           std::int32_t timerValue)
    : parts_(parts),
      clock_(parts.Clock != nullptr ? *parts.Clock : steadyClock_),
      address_(ParseStreamAddress(address, &addressProblem_)),
      maskedAddress_(MaskedStreamAddress(address)),
      periodMs_(timerValue > 0 ? timerValue : 100) {
  // Made here so that Close can interrupt it from the event loop.
  if (address_ && parts_.Outputs != nullptr) output_ = parts_.Outputs->MakeOutput();
  if (address_ && parts_.RecordSound && parts_.Sound != nullptr) {
    sound_ = parts_.Sound->Open(parts_.SoundChoice);
    // Without a sound server the pictures go out alone, and the user is told.
    // The server's sound starts in the background; its failure, if any, is
    // found as frames come (CheckSound).
    std::string failure = "The sound source could not be opened.";
    if (sound_ && !sound_->Start(&failure)) sound_.reset();
    if (!sound_) ReportSoundMissing(failure);
  }
}

void StreamWriter::ReportSoundMissing(const std::string& failure) {
  if (soundReported_) return;
  soundReported_ = true;
  if (parts_.Reports != nullptr)
    parts_.Reports->ReportDetail(WriterFailure::ClipSoundMissing, failure);
}

void StreamWriter::CheckSound() {
  std::string failure;
  // The sound stays: the sending thread takes from it (nothing, now).
  if (sound_ && !soundReported_ && sound_->StartFailed(&failure)) ReportSoundMissing(failure);
}

StreamWriter::~StreamWriter() { Close(); }

void StreamWriter::ReportFailure() {
  if (failure_.empty() || parts_.Reports == nullptr) return;
  parts_.Reports->ReportDetail(WriterFailure::StreamRefused, failure_);
  failure_.clear();
}

std::int32_t StreamWriter::AddFrame(const MovieFrame& frame) {
  const std::int64_t time = std::max(nextTimeMs_, lastTimeMs_ + 1);
  nextTimeMs_ = time + periodMs_;
  return Offer(frame, time);
}

std::int32_t StreamWriter::AddFrameAt(const MovieFrame& frame, std::int32_t position) {
  const std::int64_t time =
      std::max<std::int64_t>(std::int64_t{position} * periodMs_, lastTimeMs_ + 1);
  nextTimeMs_ = time + periodMs_;
  return Offer(frame, time);
}

std::int32_t StreamWriter::Offer(const MovieFrame& frame, std::int64_t timeMs) {
  if (reported_) return kWriterFailReported;
  CheckSound();
  if (!address_) {
    reported_ = true;
    failure_ = maskedAddress_ + ": " + addressProblem_;
    return kWriterFailReported;
  }
  if (!output_) return kWriterFail;
  std::unique_lock lock(mutex_);
  if (stopped_) {
    failure_ = maskedAddress_ + ": " + link_.Answer();
    lock.unlock();
    // Once: the clip session pauses the recorder and ends this writer.
    reported_ = true;
    SetStatus(StreamStatus::Phase::Off);
    return kWriterFailReported;
  }
  if (!formatKnown_) {
    format_.Width = frame.Width();
    format_.Height = frame.Height();
    format_.FramesPerSecond = std::max(1, 1000 / periodMs_);
    format_.Sound = sound_ != nullptr;
    formatKnown_ = true;
    thread_ = std::thread([this] { Run(); });
  }
  lastTimeMs_ = timeMs;
  if (queue_.size() >= kQueuedFrames) {
    // The server or the encoder is behind: this frame is not sent.
    ++droppedQueued_;
    return kWriterOk;
  }
  Queued item;
  if (!spare_.empty()) {
    item.Pixels = std::move(spare_.back());
    spare_.pop_back();
  }
  lock.unlock();
  const std::size_t count = static_cast<std::size_t>(frame.Width()) * frame.Height();
  item.Pixels.resize(count);
  for (std::int32_t y = 0; y < frame.Height(); ++y) {
    std::memcpy(item.Pixels.data() + static_cast<std::size_t>(y) * frame.Width(), frame.Row(y),
                static_cast<std::size_t>(frame.BytesPerLine()));
  }
  item.TimeMs = timeMs;
  item.TakenNs = Now();
  lock.lock();
  queue_.push_back(std::move(item));
  lock.unlock();
  wake_.notify_one();
  return kWriterOk;
}

void StreamWriter::Close() {
  {
    const std::lock_guard lock(mutex_);
    if (closing_ && !thread_.joinable()) return;
    closing_ = true;
  }
  wake_.notify_one();
  // A call blocked on a stalled server returns at once.
  if (output_) output_->Interrupt();
  if (thread_.joinable()) thread_.join();
  if (sound_) sound_->Stop();
  sound_.reset();
  SetStatus(StreamStatus::Phase::Off);
}

std::int64_t StreamWriter::DroppedFrames() const {
  const std::lock_guard lock(mutex_);
  return droppedQueued_ + link_.DroppedFrames();
}

std::int64_t StreamWriter::SentFrames() const {
  const std::lock_guard lock(mutex_);
  return sent_;
}

std::int32_t StreamWriter::Reconnections() const {
  const std::lock_guard lock(mutex_);
  return link_.Reconnections();
}

void StreamWriter::SetStatus(StreamStatus::Phase phase) {
  if (parts_.Status != nullptr) parts_.Status->Set(phase, address_ ? address_->Host : "");
}

void StreamWriter::Run() {
  std::unique_lock lock(mutex_);
  while (!closing_) {
    if (stopped_) {
      wake_.wait(lock);
      continue;
    }
    // A connection is made for a picture to send, which starts its time.
    if (!queue_.empty() && link_.AttemptDue(Now())) {
      Connect(lock);
      continue;
    }
    if (queue_.empty()) {
      // Nothing to send: a due attempt waits for the next picture too.
      wake_.wait(lock);
      continue;
    }
    Queued item = std::move(queue_.front());
    queue_.pop_front();
    if (!link_.TakeFrame()) {
      spare_.push_back(std::move(item.Pixels));
      lock.unlock();
      SendSound(false);
      lock.lock();
      continue;
    }
    const bool key = link_.NeedsKeyFrame();
    originNs_ = item.TakenNs - item.TimeMs * kNsPerMs;
    lock.unlock();
    bool sent = output_->SendPicture(item.Pixels.data(), std::ptrdiff_t{format_.Width} * 4,
                                     item.TimeMs, key);
    if (sent) SendSound(true);
    lock.lock();
    spare_.push_back(std::move(item.Pixels));
    if (sent) {
      ++sent_;
      if (key) link_.KeyFrameSent();
      continue;
    }
    if (closing_) break;
    lock.unlock();
    output_->Close();
    lock.lock();
    link_.SendFailed(Now());
    SetStatus(StreamStatus::Phase::Reconnecting);
  }
  lock.unlock();
  if (output_) output_->Close();
}

void StreamWriter::Connect(std::unique_lock<std::mutex>& lock) {
  const bool again = link_.EverLive();
  SetStatus(again ? StreamStatus::Phase::Reconnecting : StreamStatus::Phase::Broadcasting);
  // The new stream's time begins with the first picture it will send.
  const std::int64_t startMs = queue_.front().TimeMs;
  const StreamFormat format = format_;
  lock.unlock();
  std::string answer;
  const ConnectOutcome outcome =
      output_->Open(*address_, format, std::max<std::int64_t>(startMs, 0), &answer);
  if (outcome != ConnectOutcome::Connected) output_->Close();
  lock.lock();
  link_.AttemptEnded(Now(), outcome, MaskStreamSecrets(answer, *address_));
  switch (link_.State()) {
    case StreamLinkState::Live:
      SetStatus(StreamStatus::Phase::Broadcasting);
      break;
    case StreamLinkState::Stopped:
      stopped_ = true;
      for (Queued& item : queue_) spare_.push_back(std::move(item.Pixels));
      queue_.clear();
      SetStatus(StreamStatus::Phase::Off);
      break;
    default:
      SetStatus(StreamStatus::Phase::Reconnecting);
      break;
  }
}

void StreamWriter::SendSound(bool live) {
  if (!sound_) return;
  std::vector<SoundChunk> chunks = sound_->TakeChunks();
  if (!live) return;
  for (const SoundChunk& chunk : chunks) {
    const std::int64_t first =
        (chunk.FirstSampleNs - originNs_) * ClipSound::kSampleRate / 1'000'000'000;
    const std::size_t frames = chunk.Samples.size() / ClipSound::kChannels;
    if (frames == 0 || first + static_cast<std::int64_t>(frames) <= 0) continue;
    if (!output_->SendSound(chunk.Samples.data(), frames, first)) return;
  }
}

}  // namespace framory
