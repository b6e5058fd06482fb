// One ASF file being written: uncompressed RGB frames converted to 4:2:0
// (swscale), compressed with libavcodec's Windows Media Video 8 encoder at
// the profile's video bit rate, key-frame interval and buffer window, and
// written by libavformat's ASF muxer with the samples' times in milliseconds. One frame in,
// its packet out (no B-frames); every packet goes to the file as it is
// written, so the frames before a failed write stay in the file. Disk room
// for each frame and for closing the file is reserved before the frame is
// written (DiskRoom): a full disk refuses a frame, never the file's end.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

#include "platform/media/DiskRoom.h"
#include "platform/media/FfmpegHandles.h"
#include "platform/media/WmSystemProfiles.h"
#include "platform/media/Wmv2Encoder.h"
#include "writers/WmFormatApi.h"

extern "C" {
struct AVStream;
}

namespace framory {

class WmAsfEncoder {
 public:
  // Whether this FFmpeg build has the ASF muxer and the WMV8 encoder.
  static bool MuxerAvailable();
  static bool EncoderAvailable();

  // Creates the file and writes its header. `subType` is RGB32, RGB24 or
  // RGB555 (with `format`'s depth); InvalidArg for anything else.
  static std::int32_t Open(const std::string& path, const WmSystemProfileRow& profile,
                           const WmGuid& subType, const WmVideoInfoHeader& format,
                           std::unique_ptr<WmAsfEncoder>* encoder);
  ~WmAsfEncoder();
  WmAsfEncoder(const WmAsfEncoder&) = delete;
  WmAsfEncoder& operator=(const WmAsfEncoder&) = delete;

  // Bytes of one frame in the input format.
  std::uint32_t FrameBytes() const { return frameBytes_; }
  // Encodes one frame stamped `time` (100-ns units, later than the last).
  std::int32_t Encode(const std::uint8_t* data, std::uint32_t length, std::uint64_t time);
  // Writes what the encoder still holds and the file's index and sizes, and
  // closes the file. Safe to call again; later calls return the first result.
  std::int32_t Finish();

 private:
  WmAsfEncoder() = default;
  std::int32_t Setup(const std::string& path, const WmSystemProfileRow& profile,
                     const WmGuid& subType, const WmVideoInfoHeader& format);
  std::int32_t WritePackets();
  std::int32_t OutputResult() const;

  OutputHandle output_;
  AVStream* stream_ = nullptr;
  Wmv2Encoder wmv2_;
  ScaleHandle scaler_;
  std::int32_t width_ = 0;
  std::int32_t height_ = 0;
  std::int32_t stride_ = 0;
  bool bottomUp_ = true;
  std::uint32_t frameBytes_ = 0;
  std::int64_t lastPts_ = -1;
  std::int64_t frameMilliseconds_ = 1;  // every packet's duration
  std::int64_t packetBytes_ = 3200;     // the muxer's data packets
  DiskRoom room_;
  std::int64_t framesSent_ = 0;
  std::deque<std::int64_t> sampleTimes_;  // milliseconds of the frames still in the encoder
  bool headerWritten_ = false;
  bool finished_ = false;
  std::int32_t finishResult_ = WmResult::Ok;
};

}  // namespace framory
