// The options view (template 131): output family, camera focus, triggers,
// capture period, cursor and resize options, and the buttons that drive the
// recorder. A modeless dialog that is created afresh for every showing and
// destroyed when the user leaves it; every change goes straight into the
// settings record. Its controls map to recorder commands (RecorderCommands
// holds their rules: pause, clip, triggers and their boxes); the dialog shows
// the settings and the recorder state, in its title, afterwards.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>

#include "app/RecorderCommand.h"
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
  // Greys out the triggers a Wayland session cannot give and says why; for
  // a view already shown when the Wayland screen source comes into use.
  void ShowWaylandLimits();

 protected:
  // Esc acts as "Stop and Exit".
  void reject() override;
  void accept() override {}
  // The window manager's close button (×) acts as "Hide this Window", as a
  // tray program's window does: the program keeps running in the tray.
  void closeEvent(QCloseEvent* event) override;

 private:
  // The choice between the two broadcasts, below the instructions.
  void OfferBroadcastTargets();
  QPointer<QDialog> broadcastTargets_;
  void Fill();
  void SetOutputButtons();
  void SetFocusButtons();
  void SetChecked(int id, bool checked);
  void RebuildRateLabel();
  // Carries out `command` and the commands it leads to, showing the result
  // of each before the next; returns the last result.
  CommandResult Run(RecorderCommand command);
  // Shows what `command` changed: its check mark, the radio rows, a refill
  // after a change of output family, the title.
  void ShowResult(const RecorderCommand& command, const CommandResult& result);
  void RadioClicked(int id);
  void EditChanged(int id);
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
