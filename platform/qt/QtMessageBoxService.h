// Message boxes as QMessageBox: exact caption and text (plain text), the icon
// and buttons chosen by the classic flag bits, modal and kept above every
// window. A system-modal box tells the input watch while it is up, so that
// recorded input is ignored meanwhile.
#pragma once

#include <QMessageBox>
#include <cstdint>
#include <functional>
#include <string>

#include "base/MessageBoxService.h"

namespace framory {

class QtMessageBoxService : public MessageBoxService {
 public:
  // Called with true before a system-modal box is shown and with false after
  // it is gone (InputWatch::SysModalChanged in the program).
  void SetSysModalHandler(std::function<void(bool)> handler) { sysModal_ = std::move(handler); }

  int Show(const std::string& text, const std::string& caption, std::uint32_t flags) override;

  // Builds the box Show() runs; exposed for inspection.
  static void Configure(QMessageBox& box, const std::string& text, const std::string& caption,
                        std::uint32_t flags);
  static int ResultOf(QMessageBox::StandardButton button);

 private:
  std::function<void(bool)> sysModal_;
};

}  // namespace framory
