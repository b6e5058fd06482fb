// The output format dialog (template 136): the exact format within the output
// family chosen in the options view, whether sound is recorded and where it
// comes from (the microphone, the desktop's sound or both). Modal;
// every change goes straight into the settings record. Enter closes it, Esc
// does nothing.
#pragma once

#include <QDialog>
#include <cstdint>
#include <vector>

#include "base/Settings.h"
#include "writers/OutputFormats.h"

namespace framory {

class DialogServices;
class Launchers;

class OutputFormatDialog : public QDialog {
  Q_OBJECT
 public:
  OutputFormatDialog(Settings& settings, DialogServices& services, Launchers& launchers,
                     QWidget* parent = nullptr);

  // The list text of output type `code`; empty for a type without a row
  // (the broadcast, an unknown code).
  static QString ListText(std::int32_t code);
  // The codes the list shows for a dialog opened on `code`: the picture
  // types for a picture type, else the movie types; each type with a list
  // text. The list box shows them sorted by their texts.
  static std::vector<std::int32_t> ListedCodes(std::int32_t code);

 protected:
  void reject() override {}
  void closeEvent(QCloseEvent* event) override;

 private:
  void SelectionChanged();
  void SetSoundBox();
  void SetSourceBox();

  Settings& settings_;
  DialogServices& services_;
  Launchers& launchers_;
  bool filling_ = false;
};

}  // namespace framory
