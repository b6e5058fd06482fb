// The system profiles of the Windows-Media-Format-like library: the
// Windows Media 8 profiles this program names, each a row of stream layout,
// bit rates, key-frame interval and buffer window. A profile sets no frame
// size; the video is coded at the size of the frames given to the writer.
//
// | Profile             | Total      | Audio     | Video      | Key frame | Buffer |
// |---------------------|------------|-----------|------------|-----------|--------|
// | V80_384Video        | 384 Kbps   | 32 Kbps   | 352 Kbps   | 10 s      | 5 s    |
// | V80_56Video         | 56 Kbps    | 16 Kbps   | 40 Kbps    | 10 s      | 5 s    |
// | V80_700PALVideo     | 768 Kbps   | 64 Kbps   | 704 Kbps   | 5 s       | 5 s    |
//
// Every profile has one audio stream (input 0) and one Windows Media Video 8
// stream (input 1). This library codes no sound: the audio input takes no
// samples, and a stream without samples is left out of the file.
#pragma once

#include <cstdint>

#include "writers/WmFormatApi.h"

namespace framory {

struct WmSystemProfileRow {
  WmGuid Id;
  const char* Name;
  std::uint32_t Version;       // the system profile version that lists it
  std::uint32_t TotalBitRate;  // bits a second
  std::uint32_t AudioBitRate;
  std::uint32_t VideoBitRate;
  std::uint32_t KeyFrameSeconds;
  std::uint32_t BufferMilliseconds;
};

// The row of `id` among the profiles of `version`; null when it has none.
const WmSystemProfileRow* FindSystemProfile(const WmGuid& id, std::uint32_t version);

class WmSystemProfile : public WmProfile {
 public:
  explicit WmSystemProfile(const WmSystemProfileRow& row) : row_(row) {}
  std::int32_t GetStreamCount(std::uint32_t* count) const override;
  const WmSystemProfileRow& Row() const { return row_; }

 private:
  const WmSystemProfileRow& row_;
};

}  // namespace framory
