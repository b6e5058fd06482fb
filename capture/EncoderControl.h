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
};

}  // namespace framory
