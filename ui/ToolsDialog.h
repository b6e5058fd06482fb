// The tools dialog (template 137): starts the desktop's video editor, opens
// the results folder, the help page and the mouse settings, and holds the
// BareChordOnly check box. Modal; it closes
// through "Close" (or Enter) or once the video editor has been started. Esc
// and the window manager's close do nothing.
#pragma once

#include <QDialog>

#include "base/Settings.h"

namespace framory {

class DialogServices;
class Launchers;

class ToolsDialog : public QDialog {
  Q_OBJECT
 public:
  ToolsDialog(Settings& settings, DialogServices& services, Launchers& launchers,
              QWidget* parent = nullptr);

 protected:
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;

 private:
  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
};

}  // namespace framory
