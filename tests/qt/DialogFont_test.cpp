// The dialog font on every control of a template dialog, also in a dialog
// owned by another template dialog (the format and tools dialogs are owned by
// the options view). The dialog units come from that font, so a control drawn
// with another font no longer fits its text.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFontInfo>
#include <QPushButton>

#include "support/QtGTestMain.h"
#include "ui/DialogTemplate.h"
#include "ui/DialogUnits.h"

namespace framory {
namespace {

constexpr int kButton = 1001;
constexpr int kLabel = 1002;
constexpr int kBox = 1003;

void Build(QDialog* dialog) {
  BuildDialog(
      dialog, QStringLiteral("Test"), 200, 100,
      {
          {kButton, ControlKind::PushButton, "Change Mouse Cursor Properties..", 7, 7, 125, 14},
          {kLabel, ControlKind::Static, "A line of static text", 7, 30, 150, 8},
          {kBox, ControlKind::CheckBox, "A check box", 7, 45, 100, 10},
      });
}

void ExpectDialogFont(const QDialog& dialog, const char* which) {
  const QFontInfo wanted(DialogUnits::DialogFont());
  for (int id : {kButton, kLabel, kBox}) {
    const QWidget* control = FindControl(&dialog, id);
    ASSERT_NE(control, nullptr) << which << " control " << id;
    const QFontInfo actual(control->font());
    EXPECT_EQ(actual.family().toStdString(), wanted.family().toStdString())
        << which << " control " << id;
    EXPECT_EQ(actual.pixelSize(), wanted.pixelSize()) << which << " control " << id;
  }
}

TEST(DialogFont, EveryControlOfAnOwnedDialogKeepsTheDialogFont) {
  QDialog owner;
  Build(&owner);
  owner.show();
  QDialog owned(&owner);
  Build(&owned);
  owned.show();
  QApplication::processEvents();

  ExpectDialogFont(owner, "owner");
  ExpectDialogFont(owned, "owned");
  // With the dialog font the button's text fits the width the template gives.
  const auto* button = static_cast<const QPushButton*>(FindControl(&owned, kButton));
  EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width());
}

}  // namespace
}  // namespace framory
