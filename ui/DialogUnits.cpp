#include "ui/DialogUnits.h"

#include <QFontMetrics>
#include <QStringList>

namespace framory {

namespace {

// Rounded a * b / c, as the template code scales its numbers.
int MulDiv(int a, int b, int c) {
  const long long product = static_cast<long long>(a) * b;
  const long long half = c / 2;
  return static_cast<int>(product >= 0 ? (product + half) / c : (product - half) / c);
}

void RegisterSubstitutions() {
  static bool done = false;
  if (done) return;
  done = true;
  const QStringList sans{"Microsoft Sans Serif", "Liberation Sans", "Nimbus Sans", "Arial",
                         "DejaVu Sans"};
  QFont::insertSubstitutions(QStringLiteral("MS Shell Dlg"), sans);
  QFont::insertSubstitutions(QStringLiteral("Arial"),
                             {"Liberation Sans", "Nimbus Sans", "DejaVu Sans"});
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, (alphabet / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.ascent() + metrics.descent());
}

int DialogUnits::X(int units) const { return MulDiv(units, baseX_, 4); }
int DialogUnits::Y(int units) const { return MulDiv(units, baseY_, 8); }

QRect DialogUnits::Rect(int x, int y, int w, int h) const { return QRect(X(x), Y(y), X(w), Y(h)); }

QFont DialogUnits::DialogFont() {
  RegisterSubstitutions();
  QFont font(QStringLiteral("MS Shell Dlg"));
  font.setPointSize(8);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

QFont DialogUnits::TitleFont() {
  RegisterSubstitutions();
  QFont font(QStringLiteral("Arial"));
  // 20 units is the character cell (ascent plus descent); for Arial-like
  // metrics that is about 18 pixels of em size.
  font.setPixelSize(18);
  font.setWeight(QFont::Bold);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

}  // namespace framory
