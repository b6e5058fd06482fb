// The stream editor: takes one stream of a given type from each input file
// (the sound file's audio, the video file's video) and copies them, without
// re-encoding, into one ASF output on a thread of its own. Progress is the
// share of the longest input written so far; it reaches 100 only once the
// output is complete and closed, and a run that fails stops below 99 and
// removes its partial output.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "writers/MediaEncoderApi.h"

namespace framory {

class WmStreamEditor : public EncoderStreamEditor {
 public:
  WmStreamEditor() = default;
  ~WmStreamEditor() override;
  WmStreamEditor(const WmStreamEditor&) = delete;
  WmStreamEditor& operator=(const WmStreamEditor&) = delete;

  HResult SetOutputFile(const std::string& path) override;
  HResult AddStream(const std::string& path, std::int32_t streamType, std::int32_t language,
                    std::int32_t streamNumber, std::int32_t audienceIndex, std::int32_t startTime,
                    std::int32_t endTime) override;
  HResult Validate() override;
  HResult Start() override;
  HResult RunState(std::int32_t* state) override;
  HResult Progress(std::int32_t* percent) override;
  HResult Stop() override;

  // Why the last run failed; empty when it did not.
  std::string Failure() const;

 private:
  struct Input {
    std::string Path;
    std::int32_t Type = 0;
  };
  void Run();
  bool Remux(std::string* why);

  std::string output_;
  std::vector<Input> inputs_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancel_{false};
  std::atomic<std::int32_t> progress_{0};
  std::string failure_;  // written by the thread, read after it ends
};

}  // namespace framory
