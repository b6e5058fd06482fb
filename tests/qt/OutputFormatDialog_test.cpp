// The output format and tools dialogs: list positions, the sound rule, the
// broadcast view, Enter and Esc, and the outside programs.
#include "ui/OutputFormatDialog.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>

#include "support/FakeDialogServices.h"
#include "support/QtGTestMain.h"
#include "ui/DialogTemplate.h"
#include "ui/ToolsDialog.h"

namespace framory {
namespace {

using testing::FakeDesktop;
using testing::FakeDialogServices;

class FormatDialogTest : public ::testing::Test {
 protected:
  FormatDialogTest() : services(settings), launchers(desktop, "/opt/framory/framory", "") {}

  QListWidget* List(const QWidget& dialog) { return FindControlAs<QListWidget>(&dialog, 1005); }
  QCheckBox* Sound(const QWidget& dialog) { return FindControlAs<QCheckBox>(&dialog, 1043); }
  QComboBox* Source(const QWidget& dialog) { return FindControlAs<QComboBox>(&dialog, 1069); }

  Settings settings;
  FakeDialogServices services;
  FakeDesktop desktop;
  Launchers launchers;
};

TEST_F(FormatDialogTest, ListPositionIsCodeMinusFamilyBase) {
  settings.SetOutputType(QuickTimeOutputType);
  OutputFormatDialog movies(settings, services, launchers);
  ASSERT_EQ(List(movies)->count(), 12);
  // Sorted by text: MP4 falls between MOV and the WMV rows, WebM after them.
  const int rows[12] = {10, 11, 12, 13, 14, 15, 20, 16, 17, 18, 19, 21};
  for (int row = 0; row < 12; ++row) {
    EXPECT_EQ(List(movies)->item(row)->text(), OutputFormatDialog::ListText(rows[row])) << row;
  }
  EXPECT_EQ(List(movies)->currentRow(), 5);
  List(movies)->setCurrentRow(2);
  EXPECT_EQ(settings.OutputType(), 12);
  EXPECT_EQ(services.clipsEnded, 1) << "a new format ends the clip";
  EXPECT_EQ(services.forgets, 1);
  EXPECT_EQ(services.toggles, 0) << "the pause state is not touched";

  settings.SetOutputType(OutputTypes::Pcx);
  OutputFormatDialog images(settings, services, launchers);
  ASSERT_EQ(List(images)->count(), 4);
  EXPECT_EQ(List(images)->currentRow(), 2);
  List(images)->setCurrentRow(1);
  EXPECT_EQ(settings.OutputType(), OutputTypes::Jpg);
}

TEST_F(FormatDialogTest, ListScrollsOnlyWhenItsEntriesDoNotFit) {
  settings.SetOutputType(OutputTypes::Png);
  OutputFormatDialog images(settings, services, launchers);
  images.show();
  QApplication::processEvents();
  EXPECT_FALSE(List(images)->verticalScrollBar()->isVisible()) << "four entries fit";

  settings.SetOutputType(DefaultMovieOutputType);
  OutputFormatDialog movies(settings, services, launchers);
  movies.show();
  QApplication::processEvents();
  EXPECT_TRUE(List(movies)->verticalScrollBar()->isVisible()) << "ten entries do not";
  // The longest entry is not cut at the right.
  const QString longest = OutputFormatDialog::ListText(ScreenEncoderOutputType);
  EXPECT_LE(List(movies)->fontMetrics().horizontalAdvance(longest),
            List(movies)->viewport()->width());
}

TEST_F(FormatDialogTest, SoundBoxFollowsTheSoundRule) {
  settings.SetOutputType(DefaultMovieOutputType);
  settings.SetRecordSound(true);
  OutputFormatDialog dialog(settings, services, launchers);
  EXPECT_TRUE(Sound(dialog)->isEnabled());
  EXPECT_TRUE(Sound(dialog)->isChecked());
  List(dialog)->setCurrentRow(2);
  EXPECT_FALSE(settings.RecordSound()) << "AVI cannot record sound";
  EXPECT_FALSE(Sound(dialog)->isEnabled());
  List(dialog)->setCurrentRow(7);
  EXPECT_TRUE(Sound(dialog)->isEnabled());
  EXPECT_FALSE(Sound(dialog)->isChecked()) << "back to WMV: enabled but unticked";
  Sound(dialog)->click();
  EXPECT_TRUE(settings.RecordSound());
}

// "Sound from:" shows the stored choice, stores a new one, and can be used
// exactly while "Record Sound as Well" can be and is ticked.
TEST_F(FormatDialogTest, SoundSourceIsChosenWhileSoundIsRecorded) {
  settings.SetOutputType(DefaultMovieOutputType);
  settings.SetRecordSound(true);
  settings.SetSoundSource(2);
  OutputFormatDialog dialog(settings, services, launchers);
  ASSERT_EQ(Source(dialog)->count(), 3);
  EXPECT_EQ(Source(dialog)->itemText(0), "Microphone");
  EXPECT_EQ(Source(dialog)->itemText(1), "Desktop sound");
  EXPECT_EQ(Source(dialog)->itemText(2), "Both");
  EXPECT_EQ(Source(dialog)->currentIndex(), 2);
  EXPECT_TRUE(Source(dialog)->isEnabled());
  Source(dialog)->setCurrentIndex(1);
  EXPECT_EQ(settings.SoundSource(), 1);
  Sound(dialog)->click();
  EXPECT_FALSE(Source(dialog)->isEnabled()) << "no sound, no source";
  Sound(dialog)->click();
  EXPECT_TRUE(Source(dialog)->isEnabled());
  List(dialog)->setCurrentRow(2);
  EXPECT_FALSE(Source(dialog)->isEnabled()) << "AVI cannot record sound";
  EXPECT_EQ(settings.SoundSource(), 1) << "the choice stays for the next format with sound";
  // The MP4 row (sorted among the others by its text): sound allowed, the
  // box unticked by the AVI row before, so no source yet.
  for (int row = 0; row < List(dialog)->count(); ++row) {
    if (List(dialog)->item(row)->data(Qt::UserRole).toInt() == OutputTypes::Mp4)
      List(dialog)->setCurrentRow(row);
  }
  ASSERT_EQ(settings.OutputType(), OutputTypes::Mp4);
  EXPECT_FALSE(Source(dialog)->isEnabled());
  Sound(dialog)->click();
  EXPECT_TRUE(Source(dialog)->isEnabled()) << "MP4 records sound from the chosen source";
  EXPECT_EQ(Source(dialog)->currentIndex(), 1);

  settings.SetOutputType(OutputTypes::Png);
  settings.SetRecordSound(true);
  OutputFormatDialog pictures(settings, services, launchers);
  EXPECT_FALSE(Source(pictures)->isEnabled());
  EXPECT_EQ(Source(pictures)->currentIndex(), 1);
}

TEST_F(FormatDialogTest, ImageFamilyShowsSoundOffEvenWhenStoredOn) {
  settings.SetOutputType(OutputTypes::Png);
  settings.SetRecordSound(true);
  OutputFormatDialog dialog(settings, services, launchers);
  EXPECT_FALSE(Sound(dialog)->isEnabled());
  EXPECT_FALSE(Sound(dialog)->isChecked());
}

TEST_F(FormatDialogTest, BroadcastShowsTheScreenEncoderEntryDisabled) {
  settings.SetOutputType(BroadcastOutputType);
  settings.SetRecordSound(true);
  OutputFormatDialog dialog(settings, services, launchers);
  EXPECT_EQ(List(dialog)->currentRow(), 10);
  EXPECT_FALSE(List(dialog)->isEnabled());
  EXPECT_TRUE(Sound(dialog)->isEnabled());
  EXPECT_TRUE(Sound(dialog)->isChecked());
  EXPECT_EQ(settings.OutputType(), BroadcastOutputType);
}

TEST_F(FormatDialogTest, EnterClosesEscDoesNothing) {
  OutputFormatDialog dialog(settings, services, launchers);
  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(dialog.isVisible());
  dialog.close();
  EXPECT_TRUE(dialog.isVisible()) << "the close command does nothing either";
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(dialog.result(), 1);
}

TEST_F(FormatDialogTest, ToolsDialogStartsProgramsAndReportsAMissingEditor) {
  settings.SetProjectDirectory("/data/");
  settings.SetProjectName("P");
  ToolsDialog tools(settings, services, launchers);
  tools.show();
  FindControlAs<QPushButton>(&tools, 1045)->click();
  ASSERT_EQ(services.boxes.size(), 1u) << "no video editor on an empty search path";
  EXPECT_EQ(services.boxes[0].Caption, "Unable to run a video editor from the search path");
  EXPECT_EQ(services.boxes[0].Style,
            MessageBoxFlags::IconInformation | MessageBoxFlags::SystemModal);
  EXPECT_TRUE(tools.isVisible());
  FindControlAs<QPushButton>(&tools, 1046)->click();
  EXPECT_EQ(services.opened, std::vector<std::string>{"/data/P"});
  FindControlAs<QPushButton>(&tools, 1064)->click();
  EXPECT_EQ(services.boxes.size(), 1u) << "missing mouse settings are silent";
  QTest::keyClick(&tools, Qt::Key_Escape);
  EXPECT_TRUE(tools.isVisible());
  QTest::keyClick(&tools, Qt::Key_Return);
  EXPECT_FALSE(tools.isVisible());
}

}  // namespace
}  // namespace framory
