// Message boxes on Qt's offscreen platform: the exact caption, text, icon and
// buttons chosen by the flags, the result of the pressed button, and the
// system-modal bracket around the box's lifetime.
#include "platform/qt/QtMessageBoxService.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <vector>

#include "support/QtGTestMain.h"

namespace framory {
namespace {

namespace F = MessageBoxFlags;

// Presses `button` on the next message box that comes up, recording what the
// box showed and whether the system-modal flag was up meanwhile.
struct BoxPresser {
  void Arm(QMessageBox::StandardButton button, const bool* sysModal = nullptr) {
    QTimer::singleShot(0, [=, this] { TryPress(button, sysModal, 0); });
  }
  void TryPress(QMessageBox::StandardButton button, const bool* sysModal, int attempt) {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) {
      if (attempt < 500)
        QTimer::singleShot(10, [=, this] { TryPress(button, sysModal, attempt + 1); });
      return;
    }
    title = box->windowTitle();
    text = box->text();
    icon = box->icon();
    buttons = box->standardButtons();
    modality = box->windowModality();
    onTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    defaultButton =
        box->defaultButton() ? box->standardButton(box->defaultButton()) : QMessageBox::NoButton;
    sysModalWhileShown = sysModal != nullptr && *sysModal;
    box->button(button)->click();
  }
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
  Qt::WindowModality modality = Qt::NonModal;
  bool onTop = false;
  bool sysModalWhileShown = false;
};

TEST(QtMessageBoxService, WarningBoxShowsExactTextAndReturnsOk) {
  QtMessageBoxService service;
  BoxPresser presser;
  presser.Arm(QMessageBox::Ok);
  const int result = service.Show("StartHook failed: GetLastError returned 5\n",
                                  "Error - Recorder will go in pause mode", F::IconWarning);
  EXPECT_EQ(result, MessageBoxResults::Ok);
  EXPECT_EQ(presser.title, "Error - Recorder will go in pause mode");
  EXPECT_EQ(presser.text, "StartHook failed: GetLastError returned 5\n");
  EXPECT_EQ(presser.icon, QMessageBox::Warning);
  EXPECT_EQ(presser.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
  EXPECT_EQ(presser.modality, Qt::ApplicationModal);
  EXPECT_TRUE(presser.onTop);
}

TEST(QtMessageBoxService, ButtonsDefaultsAndResultsFollowTheFlags) {
  QtMessageBoxService service;
  BoxPresser presser;
  presser.Arm(QMessageBox::No);
  EXPECT_EQ(service.Show("Save?", "Framory", F::YesNoCancel | F::IconQuestion | F::DefButton2),
            MessageBoxResults::No);
  EXPECT_EQ(presser.buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
  EXPECT_EQ(presser.defaultButton, QMessageBox::No);
  EXPECT_EQ(presser.icon, QMessageBox::Question);

  presser.Arm(QMessageBox::Retry);
  EXPECT_EQ(service.Show("x", "y", F::RetryCancel | F::IconError), MessageBoxResults::Retry);
  EXPECT_EQ(presser.icon, QMessageBox::Critical);

  presser.Arm(QMessageBox::Cancel);
  EXPECT_EQ(service.Show("x", "y", F::OkCancel), MessageBoxResults::Cancel);
  EXPECT_EQ(presser.icon, QMessageBox::NoIcon);
}

TEST(QtMessageBoxService, SystemModalBoxBracketsTheFlag) {
  QtMessageBoxService service;
  bool sysModal = false;
  std::vector<bool> changes;
  service.SetSysModalHandler([&](bool on) {
    sysModal = on;
    changes.push_back(on);
  });
  BoxPresser presser;
  presser.Arm(QMessageBox::Ok, &sysModal);
  service.Show(
      "A user defined capture area has been defined. Whatever appears over this area will be "
      "captured.",
      "Framory", F::SystemModal | F::IconInformation);
  EXPECT_TRUE(presser.sysModalWhileShown);
  EXPECT_EQ(changes, (std::vector<bool>{true, false}));
  EXPECT_EQ(presser.icon, QMessageBox::Information);

  presser.Arm(QMessageBox::Ok, &sysModal);
  service.Show("plain", "Framory", F::IconInformation);
  EXPECT_FALSE(presser.sysModalWhileShown);
  EXPECT_EQ(changes.size(), 2u) << "ordinary boxes leave the flag alone";
}

}  // namespace
}  // namespace framory
