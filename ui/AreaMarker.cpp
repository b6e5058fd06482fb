#include "ui/AreaMarker.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace framory {

AreaMarker::AreaMarker(QImage picture, std::function<void(const Rect&)> marked)
    : QWidget(nullptr, Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      picture_(std::move(picture)),
      marked_(std::move(marked)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setCursor(Qt::CrossCursor);
  setWindowTitle(QStringLiteral("Mark the area"));
}

QPoint AreaMarker::PicturePoint(const QPoint& windowPoint) const {
  if (width() <= 0 || height() <= 0 || picture_.isNull()) return windowPoint;
  // The picture fills the window; the window may be smaller or larger.
  const int x =
      static_cast<int>(static_cast<long long>(windowPoint.x()) * picture_.width() / width());
  const int y =
      static_cast<int>(static_cast<long long>(windowPoint.y()) * picture_.height() / height());
  return QPoint(std::clamp(x, 0, picture_.width() - 1), std::clamp(y, 0, picture_.height() - 1));
}

void AreaMarker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.drawImage(rect(), picture_);
  if (!dragging_) return;
  const QRect chosen = QRect(from_, to_).normalized();
  // Everything but the chosen rectangle is dimmed.
  QRegion outside(rect());
  outside -= QRegion(chosen);
  painter.setClipRegion(outside);
  painter.fillRect(rect(), QColor(0, 0, 0, 96));
  painter.setClipping(false);
  painter.setPen(QPen(QColor(255, 255, 255), 1, Qt::DashLine));
  painter.drawRect(chosen);
}

void AreaMarker::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  dragging_ = true;
  from_ = to_ = event->position().toPoint();
  update();
}

void AreaMarker::mouseMoveEvent(QMouseEvent* event) {
  if (!dragging_) return;
  to_ = event->position().toPoint();
  update();
}

void AreaMarker::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !dragging_) return;
  dragging_ = false;
  to_ = event->position().toPoint();
  const QPoint a = PicturePoint(from_);
  const QPoint b = PicturePoint(to_);
  if (a.x() == b.x() || a.y() == b.y()) {
    // A click, not a drag: nothing to mark yet.
    update();
    return;
  }
  // The corner pixels where the drag began and ended are both inside.
  const Rect area{std::min(a.x(), b.x()), std::min(a.y(), b.y()), std::max(a.x(), b.x()),
                  std::max(a.y(), b.y())};
  auto marked = std::move(marked_);
  close();
  if (marked) marked(area);
}

void AreaMarker::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape) {
    close();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace framory
