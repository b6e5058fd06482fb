// The running encoder output (screen encoder or broadcast), as the pause
// toggle needs it.
#pragma once

namespace framory {

class EncoderControl {
 public:
  virtual ~EncoderControl() = default;
  // An encoder session exists.
  virtual bool Exists() const = 0;
  virtual void PauseEncoding() = 0;
  // Reports its own failure to the user.
  virtual void StartEncoding() = 0;
  // Told of every pause (true) and resume (false), whether or not an encoder
  // session exists: a clip timed by the clock leaves paused time out.
  virtual void RecorderPauseChanged(bool /*paused*/) {}
};

}  // namespace framory
