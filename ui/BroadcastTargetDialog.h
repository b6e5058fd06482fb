// Where the broadcast goes, offered below the broadcast instructions when
// "Broadcast" is chosen in the options view: to viewers on this network
// (the recorder's own HTTP port 8080), or to a streaming server at an
// address the user pastes, remembered or not. The address field shows the
// address only while it is edited: it holds the stream key.
//
// A modeless dialog owned by the options view; OK hands the choice to the
// options view, which runs it as a recorder command (the command checks the
// address and keeps the dialog open when it is not one).
#pragma once

#include <QDialog>
#include <functional>

#include "app/RecorderCommand.h"
#include "base/Settings.h"

class QCheckBox;
class QLineEdit;
class QRadioButton;

namespace framory {

class BroadcastTargetDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr const char* kTitle = "Broadcast To";
  static constexpr const char* kToViewers = "To viewers on this network (HTTP port 8080)";
  static constexpr const char* kToServer = "To a streaming server:";
  static constexpr const char* kRemember = "Remember the address";

  // `choose` runs the choice; false keeps the dialog open.
  BroadcastTargetDialog(const Settings& settings,
                        std::function<bool(const Commands::ChooseBroadcastTarget&)> choose,
                        QWidget* parent = nullptr);

  void accept() override;

 private:
  void FollowChoice();

  std::function<bool(const Commands::ChooseBroadcastTarget&)> choose_;
  QRadioButton* toViewers_ = nullptr;
  QRadioButton* toServer_ = nullptr;
  QLineEdit* address_ = nullptr;
  QCheckBox* remember_ = nullptr;
};

}  // namespace framory
