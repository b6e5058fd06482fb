// The welcome/project dialog (template 130): names the results directory and
// the project, proves that the directory can be written, and offers the help
// page, the introduction movie, the About box and an exit. Esc acts as "Exit",
// Enter as "Start Using..".
#pragma once

#include <QDialog>

#include "base/Settings.h"

namespace framory {

class DialogServices;
class Launchers;
struct UiState;

class ProjectDialog : public QDialog {
  Q_OBJECT
 public:
  ProjectDialog(Settings& settings, DialogServices& services, Launchers& launchers, UiState& state,
                QWidget* parent = nullptr);

  // Runs the command of control `id` as a click on it does.
  void Command(int id);

  // Creates and at once deletes an empty file named "TEST" plus a unique
  // suffix in `directory` (which ends with "/"). False when that fails.
  static bool WriteTest(const std::string& directory);

 protected:
  void reject() override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void StartUsing();
  void BrowseFolder();

  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
  UiState& state_;
};

}  // namespace framory
