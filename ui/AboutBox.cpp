#include "ui/AboutBox.h"

#include <QCloseEvent>
#include <QLabel>
#include <QPushButton>

#include "app/Launchers.h"
#include "ui/DialogServices.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogUnits.h"

namespace framory {

namespace {

using K = ControlKind;

constexpr int kClose = 1;
constexpr int kHelp = 1058;
constexpr int kVersion = 1059;

}  // namespace

AboutBox::AboutBox(DialogServices& services, Launchers& launchers, QWidget* parent)
    : QDialog(parent) {
  BuildDialog(
      this, QStringLiteral("About"), 275, 129,
      {
          {kClose, K::DefaultPushButton, "Close", 218, 108, 50, 14},
          {kHelp, K::PushButton, "Help..", 7, 108, 50, 14},
          {kVersion, K::StaticCentered, "Desktop Framory version 1.3", 7, 17, 261, 14},
          // The two acknowledgement lines credit what Framory is built on
          // here; /usr/share/doc/framory/copyright gives the licences in full.
          {kNoControlId, K::StaticCentered,
           "Portions utilize FFmpeg and the codec libraries it brings,", 7, 82, 261, 8},
          {kNoControlId, K::StaticCentered,
           "Qt, libjpeg-turbo, libpng and zlib, each under its own licence.", 7, 92, 261, 8},
          {kNoControlId, K::Icon, "", 249, 7, 21, 20},
      });
  setModal(true);
  FindControl(this, kVersion)->setFont(DialogUnits::TitleFont());
  connect(FindControlAs<QPushButton>(this, kClose), &QPushButton::clicked, this,
          [this] { done(1); });
  connect(FindControlAs<QPushButton>(this, kHelp), &QPushButton::clicked, this,
          [&services, &launchers] { services.ShowFailure(launchers.OpenHelp()); });
  CenterOnScreen(this);
}

void AboutBox::closeEvent(QCloseEvent* event) { event->ignore(); }

}  // namespace framory
