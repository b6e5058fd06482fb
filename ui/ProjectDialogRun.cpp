#include "ui/ProjectDialogRun.h"

#include <sys/stat.h>

#include <QDir>
#include <QStandardPaths>

#include "ui/DialogServices.h"
#include "ui/ProjectDialog.h"
#include "ui/UiState.h"

namespace framory {

ProjectDialogRun::ProjectDialogRun(Settings& settings, DialogServices& services,
                                   Launchers& launchers, UiState& state)
    : settings_(settings), services_(services), launchers_(launchers), state_(state) {}

std::string ProjectDialogRun::DefaultProjectDirectory() {
  std::string directory = QDir::homePath().toStdString() + "/";
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  if (!pictures.isEmpty() && QDir().mkpath(pictures)) {
    directory = QDir::cleanPath(pictures).toStdString() + "/Framory/";
  }
  return directory;
}

bool ProjectDialogRun::Run() {
  services_.ClearMousePosSaved();
  services_.EndClip();
  services_.ForgetResizedWindow();
  if (state_.FirstProjectRun) {
    if (settings_.ProjectDirectory().empty()) {
      settings_.SetProjectDirectory(DefaultProjectDirectory());
    }
    state_.FirstProjectRun = false;
  }

  {
    ProjectDialog dialog(settings_, services_, launchers_, state_);
    shown_ = &dialog;
    dialog.exec();
    shown_ = nullptr;
  }
  if (state_.ExitRequested) return false;

  ::mkdir(settings_.ProjectDirectory().c_str(), 0777);
  ::mkdir(settings_.ProjectFolder().c_str(), 0777);
  services_.ToggleMainView();
  return true;
}

void ProjectDialogRun::BringForward() {
  if (shown_ == nullptr) return;
  shown_->raise();
  shown_->activateWindow();
}

}  // namespace framory
