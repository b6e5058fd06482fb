#include "ui/ShellDialogServices.h"

#include <QApplication>
#include <QFileDialog>

#include "app/Launchers.h"
#include "app/Recorder.h"
#include "capture/CaptureTarget.h"
#include "capture/ClipSession.h"
#include "capture/InputWatch.h"
#include "capture/OutputNaming.h"

namespace framory {

bool ShellDialogServices::Paused() const { return parts_.Control->Paused(); }
void ShellDialogServices::TogglePause() { parts_.Control->TogglePause(); }
bool ShellDialogServices::AnyTriggerEnabled() const { return parts_.Control->AnyTriggerEnabled(); }
void ShellDialogServices::ClearMousePosSaved() { parts_.Control->State().ClearMousePosSaved(); }
void ShellDialogServices::ToggleMainView() { parts_.Control->ToggleMainView(); }
bool ShellDialogServices::ClipOpen() const { return parts_.Clip->ClipOpen(); }
void ShellDialogServices::EndClip() { parts_.Clip->EndClip(); }
void ShellDialogServices::ForgetResizedWindow() { parts_.Target->ForgetResizedWindow(); }
void ShellDialogServices::ArmMarking(bool arm) {
  if (arm && MarksByDragging()) {
    parts_.MarkByDragging();
    return;
  }
  parts_.Input->ArmMarking(arm);
}
std::string ShellDialogServices::LastResult() const { return parts_.Naming->LastResult(); }
void ShellDialogServices::PostMainMessage(std::uint32_t message) {
  parts_.Poster->PostMessage(message);
}
int ShellDialogServices::MessageBox(const std::string& text, const std::string& caption,
                                    std::uint32_t style) {
  return parts_.Boxes->Show(text, caption, style);
}
bool ShellDialogServices::OpenPath(const std::string& path, std::optional<FailureBox> lateFailure) {
  std::function<void()> failed;
  if (lateFailure) {
    MessageBoxService* boxes = parts_.Boxes;
    failed = [boxes, box = *lateFailure] { boxes->Show(box.Text, box.Caption, box.Style); };
  }
  return parts_.Desktop->OpenPath(path, std::move(failed));
}

bool ShellDialogServices::ChooseFolder(const std::string& title, const std::string& start,
                                       std::string* chosen) {
  const QString folder = QFileDialog::getExistingDirectory(
      QApplication::activeWindow(), QString::fromStdString(title), QString::fromStdString(start));
  if (folder.isEmpty()) return false;
  *chosen = folder.toStdString();
  // The root comes back as "/", which the caller follows with another "/".
  return true;
}

}  // namespace framory
