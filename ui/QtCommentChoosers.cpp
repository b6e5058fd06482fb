#include "ui/QtCommentChoosers.h"

#include <QColorDialog>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QFontDialog>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>
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

// The colours a font chooser offers among its effects, 0x00RRGGBB.
const struct {
  const char* Name;
  std::uint32_t Rgb;
} kFontColors[] = {
    {"Black", 0x000000},  {"Maroon", 0x800000},  {"Green", 0x008000}, {"Olive", 0x808000},
    {"Navy", 0x000080},   {"Purple", 0x800080},  {"Teal", 0x008080},  {"Gray", 0x808080},
    {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},     {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
    {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF},  {"White", 0xFFFFFF}};

QIcon Swatch(std::uint32_t rgb) {
  QPixmap pixmap(16, 12);
  pixmap.fill(QColor(QRgb(rgb)));
  QPainter painter(&pixmap);
  painter.setPen(Qt::gray);
  painter.drawRect(0, 0, pixmap.width() - 1, pixmap.height() - 1);
  return QIcon(pixmap);
}

// Qt's font dialog sits inside the chooser as a plain widget. Being a dialog
// itself, it takes Enter and Esc for its own hidden buttons, where they do
// nothing; they are handed to the chooser around it instead. (Enter in its
// lists, which it accepts itself, ends the chooser through its accepted
// signal.)
class DialogKeysToOuter : public QObject {
 public:
  DialogKeysToOuter(QDialog* outer, QPushButton* ok) : QObject(outer), outer_(outer), ok_(ok) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->matches(QKeySequence::Cancel)) {
      outer_->reject();
      return true;
    }
    const bool plain = key->modifiers() == Qt::NoModifier ||
                       (key->modifiers() == Qt::KeypadModifier && key->key() == Qt::Key_Enter);
    if (plain && (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
      if (ok_->isEnabled()) ok_->click();
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  QDialog* outer_;
  QPushButton* ok_;
};

}  // namespace

// The font chooser of a rich text editor offers the text colour among the
// font's effects, and the comment window applies it with the font. Qt's font
// dialog has no colour, so the chooser is that dialog with a "Color:" row of
// the sixteen standard colours under it, starting at black, and one pair of
// OK and Cancel buttons for both.
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
  QDialog dialog(owner);
  dialog.setWindowTitle(QStringLiteral("Font"));
  auto* fonts = new QFontDialog(initial, &dialog);
  fonts->setOptions(QFontDialog::DontUseNativeDialog | QFontDialog::NoButtons);
  fonts->setWindowFlags(Qt::Widget);
  auto* colors = new QComboBox(&dialog);
  for (const auto& color : kFontColors) {
    colors->addItem(Swatch(color.Rgb), QString::fromLatin1(color.Name), QVariant(color.Rgb));
  }
  colors->setCurrentIndex(0);
  auto* colorLabel = new QLabel(QStringLiteral("&Color:"), &dialog);
  colorLabel->setBuddy(colors);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  QObject::connect(fonts, &QDialog::accepted, &dialog, &QDialog::accept);
  QObject::connect(fonts, &QDialog::rejected, &dialog, &QDialog::reject);
  fonts->installEventFilter(new DialogKeysToOuter(&dialog, buttons->button(QDialogButtonBox::Ok)));

  auto* colorRow = new QHBoxLayout;
  colorRow->addWidget(colorLabel);
  colorRow->addWidget(colors);
  colorRow->addStretch(1);
  auto* layout = new QVBoxLayout(&dialog);
  layout->addWidget(fonts);
  layout->addLayout(colorRow);
  layout->addWidget(buttons);
  if (dialog.exec() != QDialog::Accepted) return false;

  const QFont font = fonts->currentFont();
  CommentFont result;
  result.Face = font.family().toStdString();
  const double points = font.pointSizeF() > 0 ? font.pointSizeF() : font.pixelSize() * 0.75;
  result.Height = -static_cast<std::int32_t>(std::lround(points * ScreenDpi(owner) / 72.0));
  result.Weight = font.weight();
  result.Italic = font.italic();
  result.Underline = font.underline();
  result.StrikeOut = font.strikeOut();
  result.Color = colors->currentData().toUInt();
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
