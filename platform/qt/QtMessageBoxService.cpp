#include "platform/qt/QtMessageBoxService.h"

#include <QPushButton>
#include <cstdio>

namespace framory {

namespace F = MessageBoxFlags;

void QtMessageBoxService::Configure(QMessageBox& box, const std::string& text,
                                    const std::string& caption, std::uint32_t flags) {
  box.setWindowTitle(QString::fromLocal8Bit(caption.c_str()));
  box.setTextFormat(Qt::PlainText);
  box.setText(QString::fromLocal8Bit(text.c_str()));

  switch (flags & F::IconMask) {
    case F::IconError:
      box.setIcon(QMessageBox::Critical);
      break;
    case F::IconQuestion:
      box.setIcon(QMessageBox::Question);
      break;
    case F::IconWarning:
      box.setIcon(QMessageBox::Warning);
      break;
    case F::IconInformation:
      box.setIcon(QMessageBox::Information);
      break;
    default:
      box.setIcon(QMessageBox::NoIcon);
      break;
  }

  using B = QMessageBox::StandardButton;
  QList<B> buttons;
  B escape = QMessageBox::NoButton;
  switch (flags & F::ButtonMask) {
    case F::OkCancel:
      buttons = {B::Ok, B::Cancel};
      escape = B::Cancel;
      break;
    case F::AbortRetryIgnore:
      buttons = {B::Abort, B::Retry, B::Ignore};
      break;
    case F::YesNoCancel:
      buttons = {B::Yes, B::No, B::Cancel};
      escape = B::Cancel;
      break;
    case F::YesNo:
      buttons = {B::Yes, B::No};
      break;
    case F::RetryCancel:
      buttons = {B::Retry, B::Cancel};
      escape = B::Cancel;
      break;
    default:
      buttons = {B::Ok};
      escape = B::Ok;
      break;
  }
  QMessageBox::StandardButtons all;
  for (B b : buttons) all |= b;
  box.setStandardButtons(all);
  std::size_t defaultIndex = 0;
  if ((flags & F::DefButtonMask) == F::DefButton2) defaultIndex = 1;
  if ((flags & F::DefButtonMask) == F::DefButton3) defaultIndex = 2;
  if (defaultIndex >= static_cast<std::size_t>(buttons.size())) defaultIndex = 0;
  box.setDefaultButton(buttons[static_cast<qsizetype>(defaultIndex)]);
  if (escape != QMessageBox::NoButton) box.setEscapeButton(escape);

  // No owner: modal for the whole application and on top of everything.
  box.setWindowModality(Qt::ApplicationModal);
  box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
}

int QtMessageBoxService::ResultOf(QMessageBox::StandardButton button) {
  switch (button) {
    case QMessageBox::Ok:
      return MessageBoxResults::Ok;
    case QMessageBox::Cancel:
      return MessageBoxResults::Cancel;
    case QMessageBox::Abort:
      return MessageBoxResults::Abort;
    case QMessageBox::Retry:
      return MessageBoxResults::Retry;
    case QMessageBox::Ignore:
      return MessageBoxResults::Ignore;
    case QMessageBox::Yes:
      return MessageBoxResults::Yes;
    case QMessageBox::No:
      return MessageBoxResults::No;
    default:
      return 0;
  }
}

int QtMessageBoxService::Show(const std::string& text, const std::string& caption,
                              std::uint32_t flags) {
  QMessageBox box;
  Configure(box, text, caption, flags);
  // Errors and warnings also go to stderr, one line each, so that the
  // session's log (or the terminal Framory runs in) keeps what the box said.
  const std::uint32_t icon = flags & F::IconMask;
  if (icon == F::IconError || icon == F::IconWarning) {
    std::string line = text;
    while (!line.empty() && line.back() == '\n') line.pop_back();
    for (char& c : line) {
      if (c == '\n' || c == '\r') c = ' ';
    }
    std::fprintf(stderr, "framory: %s: %s\n", caption.c_str(), line.c_str());
  }
  const bool systemModal = (flags & F::SystemModal) != 0;
  if (systemModal && sysModal_) sysModal_(true);
  box.show();
  box.raise();
  box.activateWindow();
  box.exec();
  if (systemModal && sysModal_) sysModal_(false);
  auto* clicked = box.clickedButton();
  if (clicked == nullptr) return 0;
  return ResultOf(box.standardButton(clicked));
}

}  // namespace framory
