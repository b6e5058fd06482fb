// The writer of the Windows-Media-Format-like library: takes a system
// profile, reports its inputs (0 audio, 1 video), takes the video input's
// uncompressed RGB format, and writes the video samples into an ASF file
// through WmAsfEncoder, on an encoding thread fed by a bounded queue
// (WmEncodeQueue). The audio input takes no samples, so the file holds the
// video stream alone.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/media/WmEncodeQueue.h"
#include "platform/media/WmInputProps.h"
#include "platform/media/WmSamplePool.h"
#include "writers/WmFormatApi.h"

namespace framory {

class WmAsfWriter : public WmWriter {
 public:
  WmAsfWriter();
  ~WmAsfWriter() override;

  std::int32_t SetProfile(const WmProfile& profile) override;
  std::int32_t SetOutputFilename(const std::u16string& path) override;
  std::int32_t GetInputCount(std::uint32_t* count) override;
  std::int32_t GetInputProps(std::uint32_t input, std::unique_ptr<WmMediaProps>* props) override;
  std::int32_t SetInputProps(std::uint32_t input, const WmMediaProps& props) override;
  std::int32_t BeginWriting() override;
  std::int32_t AllocateSample(std::uint32_t bytes, std::shared_ptr<WmBuffer>* sample) override;
  std::int32_t WriteSample(std::uint32_t input, std::uint64_t time, std::uint32_t flags,
                           const std::shared_ptr<WmBuffer>& sample) override;
  std::int32_t EndWriting() override;

 private:
  static constexpr std::uint32_t kAudioInput = 0;
  static constexpr std::uint32_t kVideoInput = 1;

  const WmSystemProfileRow* profile_ = nullptr;
  std::string path_;
  std::vector<WmInputProps> inputs_;
  std::shared_ptr<WmSamplePool> samples_;
  std::uint32_t frameBytes_ = 0;
  std::int64_t lastMilliseconds_ = -1;  // stamp of the last sample queued
  std::unique_ptr<WmEncodeQueue> queue_;
};

}  // namespace framory
