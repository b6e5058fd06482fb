// The launchers: the help and tutorial paths cut from the program path, the
// search of the path for outside programs, and the failure boxes.
#include "app/Launchers.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/TempDir.h"

namespace framory {
namespace {

using testing::TempDir;

class RecordingDesktop : public DesktopActions {
 public:
  bool OpenPath(const std::string& path) override {
    opened.push_back(path);
    return openSucceeds;
  }
  bool StartProgram(const std::string& program, const std::vector<std::string>& args) override {
    started.push_back(program);
    arguments.push_back(args);
    return true;
  }
  std::vector<std::string> opened;
  bool openSucceeds = true;
  std::vector<std::string> started;
  std::vector<std::vector<std::string>> arguments;
};

void MakeExecutable(const std::string& path) {
  ASSERT_TRUE(testing::WriteWholeFile(path, "#!/bin/sh\n"));
  ASSERT_EQ(chmod(path.c_str(), 0755), 0);
}

TEST(ProgramFileWithExtension, CutsAtTheLastExeCaseBlind) {
  EXPECT_EQ(ProgramFileWithExtension("/usr/bin/framory", ".html"), "/usr/bin/framory.html")
      << "no .EXE: the whole path";
  EXPECT_EQ(ProgramFileWithExtension("/opt/a.exe.d/Framory.Exe", ".wmv"),
            "/opt/a.exe.d/Framory.wmv")
      << "two: everything before the last, case kept";
  EXPECT_EQ(ProgramFileWithExtension("/opt/tools.EXE/framory", ".html"), "/opt/tools.html");
  EXPECT_EQ(ProgramFileWithExtension("", ".html"), "");
  EXPECT_EQ(ProgramFileWithExtension("/" + std::string(259, 'a'), ".html"), "")
      << "a path longer than 259 characters is refused";
}

TEST(FindOnSearchPath, FindsTheFirstExecutableInPathOrder) {
  TempDir first;
  TempDir second;
  MakeExecutable(second.File("pavucontrol"));
  ASSERT_TRUE(testing::WriteWholeFile(first.File("pavucontrol"), "not executable"));
  const std::string path = first.Path() + ":" + second.Path();
  EXPECT_EQ(FindOnSearchPath("pavucontrol", path), second.File("pavucontrol"));
  EXPECT_EQ(FindOnSearchPath("missing", path), "");
  EXPECT_EQ(FindOnSearchPath("pavucontrol", ""), "");
}

TEST(Launchers, OpenHelpAndTutorialBesideTheProgram) {
  RecordingDesktop desktop;
  Launchers launchers(desktop, "/opt/framory/framory", "");
  EXPECT_FALSE(launchers.OpenHelp());
  EXPECT_FALSE(launchers.OpenTutorial());
  EXPECT_EQ(desktop.opened,
            (std::vector<std::string>{"/opt/framory/framory.html", "/opt/framory/framory.wmv"}));

  desktop.openSucceeds = false;
  const auto help = launchers.OpenHelp();
  ASSERT_TRUE(help);
  EXPECT_EQ(help->Text, "Unable to open Framory.html");
  EXPECT_EQ(help->Caption, "Unable to Open Help File");
  EXPECT_EQ(help->Style, 0x10u | 0x1000u);
  const auto tutorial = launchers.OpenTutorial();
  ASSERT_TRUE(tutorial);
  EXPECT_EQ(tutorial->Caption, "Unable to Open Tutorial File");
}

TEST(Launchers, OutsideProgramsAreTheFirstFoundOnThePath) {
  TempDir bin;
  MakeExecutable(bin.File("kdenlive"));
  MakeExecutable(bin.File("pitivi"));
  MakeExecutable(bin.File("xfce4-mouse-settings"));
  MakeExecutable(bin.File("gnome-control-center"));
  RecordingDesktop desktop;
  Launchers launchers(desktop, "/opt/framory/framory", bin.Path());
  EXPECT_FALSE(launchers.StartVideoEditor());
  launchers.OpenMouseSettings();
  launchers.StartVolumeControl();
  ASSERT_EQ(desktop.started.size(), 2u) << "no pavucontrol: nothing started, nothing said";
  EXPECT_EQ(desktop.started[0], bin.File("kdenlive"));
  EXPECT_EQ(desktop.started[1], bin.File("gnome-control-center"));
  EXPECT_EQ(desktop.arguments[1], std::vector<std::string>{"mouse"});

  Launchers none(desktop, "/opt/framory/framory", "");
  const auto failure = none.StartVideoEditor();
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->Text,
            "Windows Movie Maker ships with with Windows XP.\nIt allows you to split, combine and "
            "trim clips.\nYou can download and install it from Microsoft's web site.");
}

}  // namespace
}  // namespace framory
