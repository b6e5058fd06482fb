#include "platform/media/WmAsfWriter.h"

#include "writers/WidePath.h"

namespace framory {

WmAsfWriter::WmAsfWriter() : samples_(WmSamplePool::Create(WmEncodeQueue::kSamplesInUse)) {}

WmAsfWriter::~WmAsfWriter() {
  if (queue_) queue_->Finish();
}

std::int32_t WmAsfWriter::SetProfile(const WmProfile& profile) {
  if (queue_) return WmResult::Unexpected;
  const auto* system = dynamic_cast<const WmSystemProfile*>(&profile);
  if (system == nullptr) return WmResult::InvalidArg;
  profile_ = &system->Row();
  inputs_.clear();
  inputs_.emplace_back(WmGuids::MediaTypeAudio);
  inputs_.emplace_back(WmGuids::MediaTypeVideo);
  return WmResult::Ok;
}

std::int32_t WmAsfWriter::SetOutputFilename(const std::u16string& path) {
  if (queue_) return WmResult::Unexpected;
  // The name comes as UTF-16 with any bytes that are not UTF-8 carried
  // along; the file system takes the bytes.
  std::string name;
  if (path.empty() || !WideToPath(path, &name)) return WmResult::InvalidArg;
  path_ = std::move(name);
  return WmResult::Ok;
}

std::int32_t WmAsfWriter::GetInputCount(std::uint32_t* count) {
  if (count == nullptr) return WmResult::InvalidArg;
  if (profile_ == nullptr) return WmResult::Unexpected;
  *count = static_cast<std::uint32_t>(inputs_.size());
  return WmResult::Ok;
}

std::int32_t WmAsfWriter::GetInputProps(std::uint32_t input, std::unique_ptr<WmMediaProps>* props) {
  if (props == nullptr || input >= inputs_.size()) return WmResult::InvalidArg;
  *props = std::make_unique<WmInputProps>(inputs_[input]);
  return WmResult::Ok;
}

std::int32_t WmAsfWriter::SetInputProps(std::uint32_t input, const WmMediaProps& props) {
  if (queue_) return WmResult::Unexpected;
  if (input >= inputs_.size()) return WmResult::InvalidArg;
  const auto* given = dynamic_cast<const WmInputProps*>(&props);
  if (given == nullptr) return WmResult::InvalidArg;
  WmGuid givenType;
  WmGuid inputType;
  given->GetType(&givenType);
  inputs_[input].GetType(&inputType);
  if (!(givenType == inputType) || !given->HasMediaType()) return WmResult::InvalidArg;
  inputs_[input] = *given;
  return WmResult::Ok;
}

std::int32_t WmAsfWriter::BeginWriting() {
  if (queue_ || profile_ == nullptr || path_.empty()) return WmResult::Unexpected;
  const WmInputProps& video = inputs_[kVideoInput];
  if (!video.HasMediaType()) return WmResult::Unexpected;
  std::unique_ptr<WmAsfEncoder> encoder;
  const std::int32_t opened =
      WmAsfEncoder::Open(path_, *profile_, video.SubType(), video.VideoInfo(), &encoder);
  if (opened < 0) return opened;
  frameBytes_ = encoder->FrameBytes();
  lastMilliseconds_ = -1;
  return WmEncodeQueue::Start(std::move(encoder), &queue_);
}

std::int32_t WmAsfWriter::AllocateSample(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample) {
  if (sample == nullptr) return WmResult::InvalidArg;
  return samples_->Allocate(bytes, sample);
}

std::int32_t WmAsfWriter::WriteSample(std::uint32_t input, std::uint64_t time,
                                      std::uint32_t /*flags*/,
                                      const std::shared_ptr<WmBuffer>& sample) {
  if (!queue_) return WmResult::Unexpected;
  if (input == kAudioInput) return WmResult::NotImplemented;
  if (input != kVideoInput || !sample) return WmResult::InvalidArg;
  // A sample too short for a frame, or not later than the last one in the
  // file's millisecond stamps, is refused here rather than on the encoding
  // thread, so that the caller learns it with this call and the file goes on.
  std::uint8_t* data = nullptr;
  std::uint32_t length = 0;
  const auto milliseconds = static_cast<std::int64_t>(time / 10000);
  if (sample->GetBufferAndLength(&data, &length) < 0 || data == nullptr || length < frameBytes_ ||
      milliseconds <= lastMilliseconds_) {
    return WmResult::InvalidArg;
  }
  const std::int32_t result = queue_->Push(sample, time);
  if (result >= 0) lastMilliseconds_ = milliseconds;
  return result;
}

std::int32_t WmAsfWriter::EndWriting() {
  if (!queue_) return WmResult::Unexpected;
  const std::int32_t result = queue_->Finish();
  queue_.reset();
  return result;
}

}  // namespace framory
