// The options view (template 131): output family, camera focus, triggers,
// capture period, cursor and resize options, and the buttons that drive the
// recorder. A modeless dialog that is created afresh for every showing and
// destroyed when the user leaves it; every change goes straight into the
// settings record. It keeps the pause state aligned with the automatic
// triggers and shows the recorder state in its title.
#pragma once

#include <QDialog>
#include <functional>

#include "base/Settings.h"

class QAbstractButton;

namespace framory {

class DialogServices;
class Launchers;
struct UiState;

class MainDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Desktop Framory Settings";

  MainDialog(Settings& settings, DialogServices& services, Launchers& launchers, UiState& state,
             QWidget* parent = nullptr);

  // Enables the clip buttons and the rate edit by the clip state and puts the
  // recorder state into the title. A nested call returns at once.
  void RefreshTitle();
  // Called when the dialog ends itself ("Hide this Window", "Stop and Exit",
  // "New Project"); the owner forgets and destroys it.
  void SetCloseHandler(std::function<void()> handler) { closeHandler_ = std::move(handler); }
  // Runs the command of control `id` as a click on it does.
  void Command(int id);

 protected:
  // Esc acts as "Stop and Exit".
  void reject() override;
  void accept() override {}
  // The window manager's close button (×) acts as "Hide this Window", as a
  // tray program's window does: the program keeps running in the tray.
  void closeEvent(QCloseEvent* event) override;

 private:
  void Fill();
  void SetOutputButtons();
  void SetChecked(int id, bool checked);
  bool IsChecked(int id) const;
  void RebuildRateLabel();
  void AlignPause();
  // Pauses the recorder if it runs, ends the open clip and forgets the
  // resized window: the first steps of every command that ends a clip.
  void PauseAndEndClip();
  void RadioClicked(int id);
  void EditChanged(int id);
  void FocusChosen();
  void AreaChosen();
  void PlayLastResult();
  // Runs a modal dialog owned by this one and deletes it afterwards.
  void RunOwnedDialog(QDialog* owned);
  void CloseSelf();
  int Ask(const char* text, const char* caption, unsigned style);

  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
  UiState& state_;
  std::function<void()> closeHandler_;
  bool filling_ = false;
  bool refreshingTitle_ = false;
};

}  // namespace framory
