#include "ui/CommentWindowHost.h"

namespace framory {

// A window still open when the program ends goes with its host.
CommentWindowHost::~CommentWindowHost() { delete window_.data(); }

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
