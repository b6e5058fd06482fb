// Opens the comment window on the main window's request (at most one exists;
// asking again only shows it) and answers the capture target's questions:
// the window's id, null while closed, and the focus option. The state that
// outlives a window (border, focus option, font, custom colours) lives here.
#pragma once

#include <QPointer>

#include "base/Geometry.h"
#include "ui/CommentWindow.h"
#include "ui/CommentWindowState.h"

namespace framory {

class CommentWindowHost {
 public:
  explicit CommentWindowHost(CommentWindowServices services) : services_(std::move(services)) {}
  ~CommentWindowHost();
  CommentWindowHost(const CommentWindowHost&) = delete;
  CommentWindowHost& operator=(const CommentWindowHost&) = delete;

  // Shows the window, creating it with its title bar hidden when none exists.
  void Open();
  CommentWindow* Window() const { return window_.data(); }
  WindowHandle Handle() const;
  bool AllowCommentWindowAlone() const { return state_.AllowCommentWindowAlone; }
  CommentWindowState& State() { return state_; }
  const CommentWindowState& State() const { return state_; }

 private:
  CommentWindowServices services_;
  CommentWindowState state_;
  QPointer<CommentWindow> window_;
};

}  // namespace framory
