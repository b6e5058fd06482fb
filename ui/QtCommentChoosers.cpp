#include "ui/QtCommentChoosers.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QWidget>

#include <cmath>

namespace framory {

namespace {

int ScreenDpi(QWidget* owner) {
  const int dpi = owner != nullptr ? owner->logicalDpiY() : 96;
  return dpi > 0 ? dpi : 96;
}

std::int32_t PitchAndFamilyOf(const QFont& font) {
  // Fixed pitch 1, variable 2; families: roman 0x10, swiss 0x20, modern 0x30,
  // script 0x40, decorative 0x50.
  std::int32_t value = font.fixedPitch() ? 1 : 2;
  switch (font.styleHint()) {
    case QFont::Serif:
      return value | 0x10;
    case QFont::SansSerif:
      return value | 0x20;
    case QFont::TypeWriter:
      return value | 0x30;
    case QFont::Cursive:
      return value | 0x40;
    case QFont::Decorative:
      return value | 0x50;
    default:
      return value;
  }
}

}  // namespace

bool QtCommentChoosers::ChooseFont(QWidget* owner, const CommentFont* start, CommentFont* chosen) {
  QFont initial = owner != nullptr ? owner->font() : QFont();
  if (start != nullptr) {
    initial.setFamilies({QString::fromStdString(start->Face)});
    if (start->Height != 0) {
      initial.setPointSizeF(std::abs(start->Height) * 72.0 / ScreenDpi(owner));
    }
    initial.setWeight(static_cast<QFont::Weight>(start->Weight));
    initial.setItalic(start->Italic);
    initial.setUnderline(start->Underline);
    initial.setStrikeOut(start->StrikeOut);
  }
  bool ok = false;
  const QFont font =
      QFontDialog::getFont(&ok, initial, owner, QString(), QFontDialog::DontUseNativeDialog);
  if (!ok) return false;
  CommentFont result;
  result.Face = font.family().toStdString();
  const double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 0.75;
  result.Height = -static_cast<std::int32_t>(std::lround(points * ScreenDpi(owner) / 72.0));
  result.Weight = font.weight();
  result.Italic = font.italic();
  result.Underline = font.underline();
  result.StrikeOut = font.strikeOut();
  result.Color = 0;  // the chooser has no colour of its own: black, its start
  result.PitchAndFamily = PitchAndFamilyOf(font);
  *chosen = result;
  return true;
}

bool QtCommentChoosers::ChooseColor(QWidget* owner, CommentCustomColors& custom,
                                    std::uint32_t* chosen) {
  for (int i = 0; i < QColorDialog::customCount() && i < static_cast<int>(custom.size()); ++i) {
    QColorDialog::setCustomColor(i, QColor(QRgb(custom[static_cast<std::size_t>(i)])));
  }
  const QColor color =
      QColorDialog::getColor(Qt::black, owner, QString(), QColorDialog::DontUseNativeDialog);
  for (int i = 0; i < QColorDialog::customCount() && i < static_cast<int>(custom.size()); ++i) {
    custom[static_cast<std::size_t>(i)] = QColorDialog::customColor(i).rgb() & 0xFFFFFF;
  }
  if (!color.isValid()) return false;
  *chosen = color.rgb() & 0xFFFFFF;
  return true;
}

bool QtCommentChoosers::ChooseSaveFile(QWidget* owner, const std::string& folder,
                                       std::string* path) {
  QFileDialog dialog(owner, QStringLiteral("Save As Rich Text File"),
                     QString::fromStdString(folder),
                     QStringLiteral("Rich Text File (.rtf) (*.rtf)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(QStringLiteral("rtf"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  *path = dialog.selectedFiles().front().toStdString();
  return true;
}

bool QtCommentChoosers::ChooseOpenFile(QWidget* owner, const std::string& folder,
                                       std::string* path) {
  QFileDialog dialog(owner, QStringLiteral("Load File"), QString::fromStdString(folder),
                     QStringLiteral("Document File (*.rtf;*.txt;*.doc) (*.rtf *.txt *.doc)"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setDefaultSuffix(QStringLiteral("rtf"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  *path = dialog.selectedFiles().front().toStdString();
  return true;
}

}  // namespace framory
