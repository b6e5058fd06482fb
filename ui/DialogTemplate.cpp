#include "ui/DialogTemplate.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <vector>

#include "ui/DialogUnits.h"

namespace framory {

namespace {

QString ObjectNameFor(int id) { return QStringLiteral("id%1").arg(id); }

QWidget* CreateControl(QDialog* dialog, const ControlTemplate& control, const DialogUnits& units) {
  const QString text = QString::fromUtf8(control.text);
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::PushButton:
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(text, dialog);
      // Enter presses the default button wherever the focus is.
      button->setAutoDefault(control.kind == ControlKind::DefaultPushButton);
      button->setDefault(control.kind == ControlKind::DefaultPushButton);
      widget = button;
      break;
    }
    case ControlKind::RadioButton: {
      auto* radio = new QRadioButton(text, dialog);
      // The dialog runs the automatic-radio behaviour itself, over a group
      // that may span more than one row of choices.
      radio->setAutoExclusive(false);
      radio->setFocusPolicy(Qt::ClickFocus);
      widget = radio;
      break;
    }
    case ControlKind::CheckBox:
      widget = new QCheckBox(text, dialog);
      break;
    case ControlKind::Edit:
    case ControlKind::NumberEdit: {
      auto* edit = new QLineEdit(dialog);
      if (control.kind == ControlKind::NumberEdit) {
        // Typing is limited to digits; text set by other means (pasting,
        // the program) is not, so readers still check what they get.
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edit));
      }
      widget = edit;
      break;
    }
    case ControlKind::Static:
    case ControlKind::StaticCentered: {
      auto* label = new QLabel(text, dialog);
      label->setWordWrap(true);
      label->setAlignment(
          (control.kind == ControlKind::StaticCentered ? Qt::AlignHCenter : Qt::AlignLeft) |
          Qt::AlignTop);
      label->setTextFormat(Qt::PlainText);
      widget = label;
      break;
    }
    case ControlKind::GroupBox:
      widget = new QGroupBox(text, dialog);
      break;
    case ControlKind::Icon: {
      auto* label = new QLabel(dialog);
      const QRect rect = units.Rect(control.x, control.y, control.w, control.h);
      const int side = std::min(32, std::min(rect.width(), rect.height()));
      label->setPixmap(QIcon(ProgramIconPath()).pixmap(side, side));
      widget = label;
      break;
    }
    case ControlKind::ListBox: {
      auto* list = new QListWidget(dialog);
      list->setSortingEnabled(true);
      list->setSelectionMode(QAbstractItemView::SingleSelection);
      // The scroll bar shows only while the entries do not all fit.
      list->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
      widget = list;
      break;
    }
    case ControlKind::DropDownList: {
      auto* choices = new QComboBox(dialog);
      choices->setEditable(false);
      widget = choices;
      break;
    }
  }
  widget->setGeometry(units.Rect(control.x, control.y, control.w, control.h));
  widget->setProperty("controlId", control.id);
  if (control.id != kNoControlId) widget->setObjectName(ObjectNameFor(control.id));
  if (control.kind == ControlKind::GroupBox) widget->lower();
  return widget;
}

// Widens a text control whose text would be cut with the substituted font:
// a left-aligned one to the right, a centred one on both sides, never past
// the dialog's edges nor into a control beside it.
void FitText(QDialog* dialog, QWidget* widget, ControlKind kind) {
  int needed = 0;
  if (kind == ControlKind::Static || kind == ControlKind::StaticCentered) {
    auto* label = static_cast<QLabel*>(widget);
    // Only one-line statics; taller ones wrap their words.
    if (widget->height() >= 2 * label->fontMetrics().lineSpacing()) return;
    needed = label->fontMetrics().horizontalAdvance(label->text()) + 2;
  } else if (kind == ControlKind::CheckBox || kind == ControlKind::RadioButton) {
    needed = widget->sizeHint().width();
  } else {
    return;
  }
  QRect rect = widget->geometry();
  if (needed <= rect.width()) return;
  const int margin = 2;
  int leftLimit = margin;
  int rightLimit = dialog->width() - margin;
  for (QWidget* other : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (other == widget || qobject_cast<QGroupBox*>(other) != nullptr) continue;
    const QRect o = other->geometry();
    if (o.bottom() < rect.top() || o.top() > rect.bottom()) continue;
    if (o.left() > rect.left()) rightLimit = std::min(rightLimit, o.left() - 1);
    if (o.right() < rect.left()) leftLimit = std::max(leftLimit, o.right() + 1);
  }
  if (kind == ControlKind::StaticCentered) {
    rect.setLeft(std::max(leftLimit, rect.center().x() - needed / 2));
  }
  rect.setRight(std::min(rightLimit, rect.left() + needed - 1));
  widget->setGeometry(rect);
}

}  // namespace

QColor DialogBrushColor() { return QColor(229, 241, 249); }

void BuildDialog(QDialog* dialog, const QString& title, int w, int h,
                 std::initializer_list<ControlTemplate> controls) {
  const QFont font = DialogUnits::DialogFont();
  dialog->setFont(font);
  dialog->setWindowTitle(title);
  // A caption but no system menu and no close box.
  dialog->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  QPalette palette = dialog->palette();
  for (QPalette::ColorRole role : {QPalette::Window, QPalette::Button, QPalette::Base}) {
    palette.setColor(role, DialogBrushColor());
  }
  dialog->setPalette(palette);
  dialog->setAutoFillBackground(true);

  const DialogUnits units(font);
  // The gap between a check mark and its text of the classic controls, and
  // the classic group box: its frame starts half a text line below the box's
  // top with the caption sitting on that line. The toolkit's own group box
  // puts the caption above the frame and starts the frame a whole line
  // lower, where it runs into the controls the template puts near the top.
  dialog->setStyleSheet(
      QStringLiteral("QCheckBox, QRadioButton { spacing: 3px; }"
                     "QGroupBox { border: 1px solid rgb(160, 160, 160); margin-top: %1px; }"
                     "QGroupBox::title { subcontrol-origin: margin; left: %2px;"
                     " padding: 0px 2px; background-color: %3; }")
          .arg(units.BaseY() / 2)
          .arg(units.X(2))
          .arg(DialogBrushColor().name()));
  dialog->setFixedSize(units.X(w), units.Y(h));
  std::vector<std::pair<QWidget*, ControlKind>> created;
  for (const ControlTemplate& control : controls) {
    QWidget* widget = CreateControl(dialog, control, units);
    // Each control carries the dialog font itself: inherited, it is lost in
    // a dialog owned by another dialog with a style sheet, where the
    // controls fall back to the application font and their texts get cut.
    widget->setFont(font);
    created.emplace_back(widget, control.kind);
  }
  for (auto& [widget, kind] : created) {
    widget->ensurePolished();
    FitText(dialog, widget, kind);
  }
  for (QGroupBox* group : dialog->findChildren<QGroupBox*>()) group->lower();
}

QWidget* FindControl(const QWidget* dialog, int id) {
  return dialog->findChild<QWidget*>(ObjectNameFor(id), Qt::FindDirectChildrenOnly);
}

QString ProgramIconPath() {
  const QString path = QStringLiteral(":/icons/framory.png");
  return QFile::exists(path) ? path : QString();
}

void CenterOnScreen(QWidget* widget) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  QRect frame = widget->frameGeometry();
  frame.moveCenter(screen->availableGeometry().center());
  widget->move(frame.topLeft());
}

}  // namespace framory
