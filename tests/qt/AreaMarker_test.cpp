// Marking the area by dragging over a frozen picture of the screen, as in a
// Wayland session: the rectangle is taken in the picture's pixels whatever
// size the window got (a desktop that scales shows the picture larger or
// smaller than it is), both corner pixels inside, whichever way the drag
// went; Esc and a click without a drag mark nothing.
#include "ui/AreaMarker.h"

#include <gtest/gtest.h>

#include <QPointer>
#include <QTest>
#include <optional>

#include "support/QtGTestMain.h"

namespace framory {
namespace {

struct Marking {
  std::optional<Rect> area;
  QPointer<AreaMarker> marker;
};

// A marker over a picture of 800 × 600 in a window of `width` × `height`.
void Open(Marking& m, int width, int height) {
  QImage picture(800, 600, QImage::Format_RGB32);
  picture.fill(Qt::darkCyan);
  m.marker = new AreaMarker(picture, [&m](const Rect& r) { m.area = r; });
  m.marker->resize(width, height);
  m.marker->show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(m.marker));
}

void Drag(AreaMarker* marker, QPoint from, QPoint to) {
  QTest::mousePress(marker, Qt::LeftButton, {}, from);
  QTest::mouseMove(marker, (from + to) / 2);
  QTest::mouseMove(marker, to);
  QTest::mouseRelease(marker, Qt::LeftButton, {}, to);
}

TEST(AreaMarker, ADragMarksTheRectangleInThePicturesPixels) {
  Marking same;
  Open(same, 800, 600);
  Drag(same.marker, QPoint(100, 50), QPoint(300, 250));
  ASSERT_TRUE(same.area.has_value());
  EXPECT_EQ(*same.area, (Rect{100, 50, 300, 250}));
  QCoreApplication::processEvents();
  EXPECT_TRUE(same.marker.isNull()) << "the window goes once the area is marked";

  // Shown at half size (a desktop scaling by 2): window points count double.
  Marking half;
  Open(half, 400, 300);
  Drag(half.marker, QPoint(350, 250), QPoint(50, 25));
  ASSERT_TRUE(half.area.has_value());
  EXPECT_EQ(*half.area, (Rect{100, 50, 700, 500})) << "dragged up and left, corners sorted";

  // A drag beyond the window ends at the picture's last pixel.
  Marking beyond;
  Open(beyond, 800, 600);
  Drag(beyond.marker, QPoint(700, 500), QPoint(900, 700));
  ASSERT_TRUE(beyond.area.has_value());
  EXPECT_EQ(*beyond.area, (Rect{700, 500, 799, 599}));
}

TEST(AreaMarker, EscapeAndAClickWithoutADragMarkNothing) {
  Marking m;
  Open(m, 800, 600);
  QTest::mouseClick(m.marker, Qt::LeftButton, {}, QPoint(200, 200));
  EXPECT_FALSE(m.area.has_value()) << "a click is not an area";
  ASSERT_FALSE(m.marker.isNull()) << "still marking after a click";
  QTest::keyClick(m.marker, Qt::Key_Escape);
  QCoreApplication::processEvents();
  EXPECT_FALSE(m.area.has_value());
  EXPECT_TRUE(m.marker.isNull()) << "Esc closes the window";
}

}  // namespace
}  // namespace framory
