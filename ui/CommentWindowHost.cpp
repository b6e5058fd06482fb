#include "ui/CommentWindowHost.h"

namespace framory {

void CommentWindowHost::Open() {
  if (window_.isNull()) window_ = new CommentWindow(state_, services_);
  window_->show();
  window_->raise();
}

WindowHandle CommentWindowHost::Handle() const {
  if (window_.isNull() || !window_->isVisible()) return kNoWindow;
  return static_cast<WindowHandle>(window_->winId());
}

}  // namespace framory
