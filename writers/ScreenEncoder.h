// The encoder session as the clip session and the recorder drive it: an
// encoder that captures the screen region itself (screen-encoder file,
// broadcast) or records only sound for a WMV clip. The session records into
// its output until it is destroyed; destroying it stops it and finishes the
// output file.
#pragma once

#include <cstdint>
#include <string>

#include "base/Geometry.h"

namespace framory {

class ScreenEncoder {
 public:
  virtual ~ScreenEncoder() = default;

  // The screen rectangle to capture (left, top, right, bottom).
  virtual void SetCaptureRect(const Rect& rect) = 0;
  virtual void SetFramesPerSecond(double framesPerSecond) = 0;
  virtual void SetRecordAudio(bool on) = 0;
  virtual void SetRecordVideo(bool on) = 0;
  virtual void SetBroadcast(bool on) = 0;
  // Builds the encoder for the output file; an empty path means no file (the
  // broadcast). HRESULT-style result; the session reports its own failures.
  virtual std::int32_t Configure(const std::string& outputPath) = 0;
  virtual void StartEncoding() = 0;
  virtual void PauseEncoding() = 0;
  // True once writing the output file failed (a full disk); `error` gets the
  // system's error number.
  virtual bool FileWriteFailed(std::uint32_t* /*error*/) const { return false; }
};

}  // namespace framory
