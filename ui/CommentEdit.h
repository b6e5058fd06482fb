// The comment window's text edit: rich text that wraps at the window edge,
// with the keyboard shortcuts the help text lists (Ctrl E/R/L alignment,
// Ctrl Shift L bullets, Ctrl = and Ctrl Shift = sub- and superscript, Ctrl Z,
// Ctrl Ins, Shift Ins, Ctrl 1/2/5 line spacing). A right button press is
// reported to the window (for its menu) and then handled as usual. No scroll
// bars; tab stops every half inch.
#pragma once

#include <QTextEdit>

#include <functional>

namespace framory {

class CommentEdit : public QTextEdit {
 public:
  explicit CommentEdit(QWidget* parent);

  void SetRightPressHandler(std::function<void(const QPoint& global)> handler) {
    rightPress_ = std::move(handler);
  }

  // The shortcuts' actions, also used by the window's commands.
  void ToggleBullets();
  void ToggleVerticalAlignment(QTextCharFormat::VerticalAlignment alignment);
  void SetLineSpacing(int percent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  std::function<void(const QPoint&)> rightPress_;
};

}  // namespace framory
