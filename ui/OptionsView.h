// Keeps the one options view of the program: creates it afresh for every
// showing, destroys it when the user or the recorder closes it, and forwards
// the recorder's title refreshes while it is shown.
#pragma once

#include <QPointer>

#include "app/OptionsViewHost.h"
#include "base/Settings.h"
#include "ui/MainDialog.h"

namespace framory {

class DialogServices;
class Launchers;
struct UiState;

class OptionsView : public OptionsViewHost {
 public:
  OptionsView(Settings& settings, DialogServices& services, Launchers& launchers, UiState& state);
  ~OptionsView() override;

  bool IsShown() const override { return !dialog_.isNull(); }
  bool IsForeground() const override;
  bool ShowAndBringToFront() override;
  void Destroy() override;
  void Create() override;
  void RefreshTitle() override;

  // The shown dialog; null while the view is closed.
  MainDialog* Dialog() const { return dialog_.data(); }

 private:
  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
  UiState& state_;
  QPointer<MainDialog> dialog_;
};

}  // namespace framory
