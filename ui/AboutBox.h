// The About box (template 138): the version line and the help button.
#pragma once

#include <QDialog>

namespace framory {

class DialogServices;
class Launchers;

class AboutBox : public QDialog {
  Q_OBJECT
 public:
  AboutBox(DialogServices& services, Launchers& launchers, QWidget* parent = nullptr);

 protected:
  // Only "Close" (or Enter) ends the box; Esc and the close command do not.
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;
};

}  // namespace framory
