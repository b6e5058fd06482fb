// The wait cursor as Qt's application-wide override cursor.
#pragma once

#include "capture/WaitCursor.h"

namespace framory {

class QtWaitCursor : public WaitCursor {
 public:
  void Show() override;
  void Restore() override;
};

}  // namespace framory
