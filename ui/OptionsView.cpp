#include "ui/OptionsView.h"

#include <QApplication>

namespace framory {

OptionsView::OptionsView(Settings& settings, DialogServices& services, Launchers& launchers,
                         UiState& state)
    : settings_(settings), services_(services), launchers_(launchers), state_(state) {}

OptionsView::~OptionsView() { delete dialog_.data(); }

bool OptionsView::IsForeground() const {
  return IsShown() && QApplication::activeWindow() == dialog_.data();
}

bool OptionsView::ShowAndBringToFront() {
  if (!IsShown()) return false;
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
  return true;
}

void OptionsView::Destroy() {
  MainDialog* dialog = dialog_.data();
  dialog_.clear();
  if (dialog == nullptr) return;
  dialog->hide();
  // The dialog may be inside one of its own handlers; it goes once that
  // handler has returned.
  dialog->deleteLater();
}

void OptionsView::Create() {
  if (IsShown()) return;
  dialog_ = new MainDialog(settings_, services_, launchers_, state_);
  dialog_->SetCloseHandler([this] { Destroy(); });
  dialog_->RefreshTitle();
  ShowAndBringToFront();
}

void OptionsView::RefreshTitle() {
  if (IsShown()) dialog_->RefreshTitle();
}

}  // namespace framory
