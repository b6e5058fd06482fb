// The wait cursor shown while the program's thread is busy with a long step
// (the sound-track merge). Show() keeps the cursor it replaces; Restore()
// brings that one back.
#pragma once

namespace framory {

class WaitCursor {
 public:
  virtual ~WaitCursor() = default;
  virtual void Show() = 0;
  virtual void Restore() = 0;
};

}  // namespace framory
