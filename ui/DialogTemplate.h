// Builds a dialog from its template: a table of controls with ids, kinds,
// texts and positions in dialog units. Every control with an id can be found
// again by that id (FindControl), as the dialog code and the tests do.
#pragma once

#include <QColor>
#include <QString>
#include <initializer_list>

class QDialog;
class QWidget;

namespace framory {

inline constexpr int kNoControlId = -1;

enum class ControlKind {
  PushButton,
  DefaultPushButton,
  RadioButton,  // automatic radio button, no tab stop
  CheckBox,     // automatic check box
  Edit,         // border, auto-scroll
  NumberEdit,   // border, auto-scroll, digits only as typed
  Static,
  StaticCentered,
  GroupBox,
  Icon,  // the program icon
  ListBox,
  DropDownList,  // a closed list to choose one entry from, no typing
};

struct ControlTemplate {
  int id;
  ControlKind kind;
  const char* text;
  int x, y, w, h;
};

// The shared dialog brush, RGB 229, 241, 249, that paints every dialog's
// background, its statics, buttons, edits and lists.
QColor DialogBrushColor();

// Gives `dialog` its title, font, fixed size of w × h dialog units (client
// area) and the dialog brush, then creates the controls in template order.
// Group boxes are kept beneath the other controls so that they never take
// their clicks.
void BuildDialog(QDialog* dialog, const QString& title, int w, int h,
                 std::initializer_list<ControlTemplate> controls);

QWidget* FindControl(const QWidget* dialog, int id);
template <typename T>
T* FindControlAs(const QWidget* dialog, int id) {
  return qobject_cast<T*>(FindControl(dialog, id));
}

// The program icon (tray icon 107) for dialogs; a blank icon while the
// resource is missing.
QString ProgramIconPath();

// Centres `widget` on the primary screen.
void CenterOnScreen(QWidget* widget);

}  // namespace framory
