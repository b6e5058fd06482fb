// The message boxes the writers show on their own (the clip session reports
// through the recorder instead). Implemented over Qt message boxes; tests
// record the calls.
#pragma once

#include <string>

namespace framory {

class WriterAlerts {
 public:
  virtual ~WriterAlerts() = default;
  // An error box with no owner: error icon, one OK button. `systemModal`
  // keeps it above every window until answered.
  virtual void ShowError(const std::string& caption, const std::string& text, bool systemModal) = 0;
};

}  // namespace framory
