// The welcome/project dialog and its run: directory rules, the write test,
// the exit flag, the folder browser, the first-run default, Esc and Enter.
#include "ui/ProjectDialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAbstractButton>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>

#include "app/SettingsStore.h"
#include "capture/ClipSession.h"
#include "capture/OutputNaming.h"
#include "capture/WriterFailureBoxes.h"
#include "support/ClipSessionFakes.h"
#include "support/FakeDialogServices.h"
#include "support/QtGTestMain.h"
#include "support/TempDir.h"
#include "ui/AboutBox.h"
#include "ui/DialogTemplate.h"
#include "ui/ProjectDialogRun.h"
#include "ui/UiState.h"
#include "writers/MovieWriterFactory.h"
#include "writers/WmFormatApi.h"

namespace framory {
namespace {

using testing::FakeDesktop;
using testing::FakeDialogServices;
using testing::TempDir;

class ProjectDialogTest : public ::testing::Test {
 protected:
  ProjectDialogTest() : services(settings), launchers(desktop, "/opt/framory/framory", "") {}

  void Type(ProjectDialog& dialog, int id, const std::string& text) {
    FindControlAs<QLineEdit>(&dialog, id)->setText(QString::fromStdString(text));
  }
  static std::size_t EntriesIn(const std::string& folder) {
    return QDir(QString::fromStdString(folder))
        .entryList(QDir::AllEntries | QDir::NoDotAndDotDot)
        .size();
  }

  Settings settings;
  FakeDialogServices services;
  FakeDesktop desktop;
  Launchers launchers;
  UiState state;
  TempDir temp;
};

TEST_F(ProjectDialogTest, StartUsingAddsOneTrailingSeparatorAndLeavesNoTestFile) {
  ProjectDialog dialog(settings, services, launchers, state);
  Type(dialog, 1000, temp.Path());
  Type(dialog, 1001, "Demo");
  dialog.Command(1);
  EXPECT_EQ(settings.ProjectDirectory(), temp.Path() + "/");
  EXPECT_EQ(settings.ProjectName(), "Demo");
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(EntriesIn(temp.Path()), 1u) << "the TEST file is deleted again";
  EXPECT_EQ(EntriesIn(temp.File("Demo")), 0u) << "the project folder is made and tested too";

  ProjectDialog again(settings, services, launchers, state);
  Type(again, 1000, temp.Path() + "/");
  Type(again, 1001, "");
  again.Command(1);
  EXPECT_EQ(settings.ProjectDirectory(), temp.Path() + "/") << "one typed separator stays one";
  EXPECT_EQ(settings.ProjectName(), "") << "an empty project name is accepted";
  EXPECT_EQ(settings.ProjectFolder(), temp.Path() + "/");
}

TEST_F(ProjectDialogTest, FailedWriteTestKeepsTheDialogAndTheNewValues) {
  const std::string file = temp.File("plain-file");
  ASSERT_TRUE(testing::WriteWholeFile(file, "x"));
  ProjectDialog dialog(settings, services, launchers, state);
  dialog.show();
  Type(dialog, 1000, file + "/sub");
  Type(dialog, 1001, "P2");
  dialog.Command(1);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0].Text, "Unable to write to the project directory.");
  EXPECT_EQ(services.boxes[0].Caption, "Invalid Project Directory");
  EXPECT_EQ(services.boxes[0].Style, MessageBoxFlags::IconWarning | MessageBoxFlags::SystemModal);
  EXPECT_TRUE(dialog.isVisible()) << "the dialog stays open";
  EXPECT_EQ(settings.ProjectDirectory(), file + "/sub/");
  EXPECT_EQ(settings.ProjectName(), "P2");

  dialog.Command(2);
  EXPECT_TRUE(state.ExitRequested);
  EXPECT_EQ(settings.ProjectDirectory(), file + "/sub/") << "Exit keeps them for the save";
}

TEST_F(ProjectDialogTest, UnwritableAndEmptyDirectoriesAreRefused) {
  ProjectDialog dialog(settings, services, launchers, state);
  Type(dialog, 1000, "/proc/framory-no-such-dir");
  dialog.Command(1);
  Type(dialog, 1000, "");
  dialog.Command(1);
  Type(dialog, 1000, std::string(300, 'd'));
  dialog.Command(1);
  ASSERT_EQ(services.boxes.size(), 3u);
  for (const auto& box : services.boxes) EXPECT_EQ(box.Caption, "Invalid Project Directory");
  EXPECT_EQ(settings.ProjectDirectory(), "") << "the over-long path was not stored";
}

TEST_F(ProjectDialogTest, ProjectFolderItselfMustBeUsable) {
  // A writable results directory is not enough: names the folder cannot take
  // and a file in the folder's place would lose every result later.
  ASSERT_TRUE(testing::WriteWholeFile(temp.File("taken"), "x"));
  ProjectDialog dialog(settings, services, launchers, state);
  dialog.show();
  Type(dialog, 1000, temp.Path());
  for (const std::string& name :
       {std::string("a/b"), std::string(256, 'n'), std::string("taken")}) {
    Type(dialog, 1001, name);
    dialog.Command(1);
    EXPECT_TRUE(dialog.isVisible()) << "refused: " << name.substr(0, 20);
  }
  ASSERT_EQ(services.boxes.size(), 3u);
  for (const auto& box : services.boxes) {
    EXPECT_EQ(box.Caption, "Invalid Project Directory");
    EXPECT_EQ(box.Text, "Unable to write to the project directory.");
  }
  EXPECT_EQ(testing::ReadWholeFile(temp.File("taken")), "x") << "the file is left as it was";
  EXPECT_EQ(EntriesIn(temp.Path()), 1u) << "no folder or probe file was left behind";

  // A plain name passes, and its folder exists and is empty afterwards.
  Type(dialog, 1001, "Good");
  dialog.Command(1);
  EXPECT_EQ(services.boxes.size(), 3u);
  EXPECT_EQ(dialog.result(), 1);
  EXPECT_EQ(EntriesIn(temp.File("Good")), 0u);
}

TEST_F(ProjectDialogTest, FolderBrowserSetsTheDirectoryWithASeparator) {
  settings.SetProjectDirectory("/old/");
  ProjectDialog dialog(settings, services, launchers, state);
  Type(dialog, 1000, "/typed/but/not/kept");
  dialog.Command(1038);
  EXPECT_EQ(settings.ProjectDirectory(), "/old/") << "a cancelled browser changes nothing";
  EXPECT_EQ(FindControlAs<QLineEdit>(&dialog, 1000)->text(), "/old/");
  ASSERT_EQ(services.folderTitles.size(), 1u);
  EXPECT_EQ(services.folderTitles[0], "Select Project Folder");

  services.folderChoice = "/";
  dialog.Command(1038);
  EXPECT_EQ(settings.ProjectDirectory(), "//") << "a root gains a second separator";
  services.folderChoice = "/home/user/Videos";
  dialog.Command(1038);
  EXPECT_EQ(FindControlAs<QLineEdit>(&dialog, 1000)->text(), "/home/user/Videos/");
}

TEST_F(ProjectDialogTest, EscExitsEnterStarts) {
  ProjectDialog dialog(settings, services, launchers, state);
  Type(dialog, 1000, temp.Path());
  dialog.show();
  QTest::keyClick(&dialog, Qt::Key_Return);
  EXPECT_FALSE(state.ExitRequested);
  EXPECT_EQ(settings.ProjectDirectory(), temp.Path() + "/");

  ProjectDialog second(settings, services, launchers, state);
  second.show();
  QTest::keyClick(&second, Qt::Key_Escape);
  EXPECT_TRUE(state.ExitRequested);
}

TEST_F(ProjectDialogTest, HelpAndIntroductionReportMissingFiles) {
  desktop.openSucceeds = false;
  ProjectDialog dialog(settings, services, launchers, state);
  dialog.Command(1039);
  dialog.Command(1066);
  ASSERT_EQ(services.boxes.size(), 2u);
  EXPECT_EQ(services.boxes[0].Text, "Unable to open Framory.html");
  EXPECT_EQ(services.boxes[0].Caption, "Unable to Open Help File");
  EXPECT_EQ(services.boxes[1].Text, "Unable to open Framory.wmv");
  EXPECT_EQ(services.boxes[1].Caption, "Unable to Open Tutorial File");
  EXPECT_EQ(services.boxes[1].Style, MessageBoxFlags::IconError | MessageBoxFlags::SystemModal);
  EXPECT_EQ(desktop.opened,
            (std::vector<std::string>{"/opt/framory/framory.html", "/opt/framory/framory.wmv"}));
}

TEST_F(ProjectDialogTest, AboutBoxShowsTheVersionAndClosesOnlyByClose) {
  AboutBox about(services, launchers);
  EXPECT_EQ(FindControlAs<QLabel>(&about, 1059)->text(), "Desktop Framory version 1.3");
  EXPECT_EQ(about.windowTitle(), "About");
  // The acknowledgement credits what the program is built on, and fits.
  QString credits;
  for (const QLabel* label : about.findChildren<QLabel*>()) {
    credits += label->text() + "\n";
    EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->width())
        << label->text().toStdString();
  }
  for (const char* part : {"FFmpeg", "codec libraries", "Qt", "libjpeg-turbo", "libpng", "zlib"})
    EXPECT_TRUE(credits.contains(QLatin1String(part))) << part;
  EXPECT_FALSE(credits.contains(QLatin1String("Microsoft"))) << credits.toStdString();
  about.show();
  QTest::keyClick(&about, Qt::Key_Escape);
  EXPECT_TRUE(about.isVisible()) << "Esc does not close the About box";
  QTest::keyClick(&about, Qt::Key_Return);
  EXPECT_FALSE(about.isVisible());
  EXPECT_EQ(about.result(), 1);
}

TEST_F(ProjectDialogTest, RunProposesThePicturesFolderOnceAndCreatesTheFolders) {
  const QByteArray oldHome = qgetenv("HOME");
  const QByteArray oldXdg = qgetenv("XDG_CONFIG_HOME");
  qputenv("HOME", QByteArray::fromStdString(temp.Path()));
  qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(temp.File(".config")));
  ProjectDialogRun run(settings, services, launchers, state);
  // The modal dialog is answered as a person would, with Enter.
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      QTest::keyClick(modal, Qt::Key_Return);
    }
  });
  EXPECT_TRUE(run.Run());
  EXPECT_EQ(settings.ProjectDirectory(), temp.Path() + "/Pictures/Framory/");
  struct stat info {};
  EXPECT_EQ(stat(settings.ProjectFolder().c_str(), &info), 0) << "project folder created";
  EXPECT_EQ(services.mainViewToggles, 1) << "the options view follows";
  EXPECT_EQ(services.clipsEnded, 1);
  EXPECT_EQ(services.mousePosCleared, 1);

  settings.SetProjectDirectory("");
  state.ExitRequested = true;
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      QTest::keyClick(modal, Qt::Key_Escape);
    }
  });
  EXPECT_FALSE(run.Run()) << "once exit was asked for, every run ends the program";
  EXPECT_EQ(settings.ProjectDirectory(), "") << "the default is worked out on the first run only";
  qputenv("HOME", oldHome);
  qputenv("XDG_CONFIG_HOME", oldXdg);
}

// A results directory is any string of bytes: one made under a Latin-1
// locale survives loading, the welcome dialog answered with Enter, and
// saving byte for byte, and a WMV clip goes into that very folder.
TEST_F(ProjectDialogTest, StoredDirectoryThatIsNotUtf8IsKeptByteForByte) {
  const std::string directory = temp.Path() + "/Aufnahmen caf\xE9 \xC4rger/";
  ASSERT_EQ(::mkdir(directory.c_str(), 0777), 0);
  RegistryStore store(temp.File("registry.ini"));
  {
    Settings stored;
    stored.SetProjectDirectory(directory);
    stored.SetProjectName("Demo");
    stored.SetOutputType(OutputTypes::WmvV80_384Video);
    SaveSettings(stored, store);
  }
  const std::string before = testing::ReadWholeFile(store.Path());
  ASSERT_NE(before.find("ProjectDirectory=" + directory), std::string::npos);

  LoadSettings(settings, store);
  ProjectDialogRun run(settings, services, launchers, state);
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      QTest::keyClick(modal, Qt::Key_Return);
    }
  });
  ASSERT_TRUE(run.Run());
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(settings.ProjectDirectory(), directory);
  SaveSettings(settings, store);
  EXPECT_EQ(testing::ReadWholeFile(store.Path()), before)
      << "the store is rewritten with the same bytes";

  struct : MessageBoxService {
    int Show(const std::string& text, const std::string&, std::uint32_t) override {
      shown.push_back(text);
      return 1;
    }
    std::vector<std::string> shown;
  } boxes;
  testing::FakeClipHost host;
  OutputNaming naming(settings);
  const std::unique_ptr<WmFormatLibrary> wmv = CreateWmFormatLibrary();
  WriterFailureBoxes reports(boxes);
  MovieWriterFactory factory(nullptr, &reports);
  factory.SetWmvLibrary(wmv.get());
  {
    ClipSession session(settings, naming, factory, host);
    for (int i = 0; i < 3; ++i) {
      const testing::TestPicture picture = testing::TestPicture::Pattern(64, 48, i);
      session.DeliverMovieFrame(&picture.frame, kNoWindow, Rect{-1, -1, -1, -1});
    }
    session.EndClip();
  }
  EXPECT_TRUE(host.reports.empty());
  EXPECT_TRUE(boxes.shown.empty());
  struct stat info {};
  EXPECT_EQ(stat((directory + "Demo/movie0.wmv").c_str(), &info), 0)
      << "the clip is in the stored folder";
  EXPECT_GT(info.st_size, 0);
}

TEST_F(ProjectDialogTest, FirstRunKeepsAStoredDirectory) {
  settings.SetProjectDirectory(temp.Path() + "/stored/");
  ProjectDialogRun run(settings, services, launchers, state);
  QTimer::singleShot(0, [] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      QTest::keyClick(modal, Qt::Key_Escape);
    }
  });
  EXPECT_FALSE(run.Run()) << "Esc in the welcome dialog exits";
  EXPECT_EQ(settings.ProjectDirectory(), temp.Path() + "/stored/");
  EXPECT_FALSE(state.FirstProjectRun) << "the first run is over even though nothing was defaulted";
  EXPECT_EQ(services.mainViewToggles, 0) << "no options view after an exit";
}

}  // namespace
}  // namespace framory
