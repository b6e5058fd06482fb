// Dialog units: the layout grid of the dialog templates. A horizontal unit is
// a quarter of the dialog font's average character width, a vertical unit an
// eighth of its height, so a template keeps its proportions with whatever font
// the desktop substitutes for the dialog font.
#pragma once

#include <QFont>
#include <QRect>

namespace framory {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);

  // Average width of "A".."Z" and "a".."z", rounded, in pixels.
  int BaseX() const { return baseX_; }
  // Font height (ascent plus descent) in pixels.
  int BaseY() const { return baseY_; }

  int X(int units) const;
  int Y(int units) const;
  QRect Rect(int x, int y, int w, int h) const;

  // The dialog font "MS Shell Dlg" 8 pt; the family is mapped onto a
  // metric-compatible sans font where it is not installed.
  static QFont DialogFont();
  // The title font of the welcome dialog and the About box: "Arial" bold,
  // 20 logical units high.
  static QFont TitleFont();

 private:
  int baseX_ = 1;
  int baseY_ = 1;
};

}  // namespace framory
