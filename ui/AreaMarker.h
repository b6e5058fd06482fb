// Marking the user area where the program sees no clicks (a Wayland session):
// a full-screen window shows the screen as it was when marking began, frozen,
// and the user drags a rectangle over it. Releasing the button marks the
// area, in the pixels of that picture (the stream's, which may differ from
// the window's when the desktop scales); Esc, or a click without a drag,
// leaves the area as it was.
#pragma once

#include <QImage>
#include <QPoint>
#include <QWidget>
#include <functional>

#include "base/Geometry.h"

namespace framory {

class AreaMarker : public QWidget {
  Q_OBJECT

 public:
  // `picture` is the frozen screen. `marked` receives the area (corners
  // inclusive) once the drag ends; the window then closes and deletes itself.
  AreaMarker(QImage picture, std::function<void(const Rect&)> marked);

  // Where a point of the window falls in the picture.
  QPoint PicturePoint(const QPoint& windowPoint) const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QImage picture_;
  std::function<void(const Rect&)> marked_;
  bool dragging_ = false;
  QPoint from_;
  QPoint to_;
};

}  // namespace framory
