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
  bool OpenPath(const std::string& path, std::function<void()> failed) override {
    opened.push_back(path);
    lateFailures.push_back(std::move(failed));
    return openSucceeds;
  }
  bool StartProgram(const std::string& program, const std::vector<std::string>& args) override {
    started.push_back(program);
    arguments.push_back(args);
    return true;
  }
  std::vector<std::string> opened;
  std::vector<std::function<void()>> lateFailures;
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

  // The opener started but the desktop had nothing to open the page with:
  // the same box, shown when the opener says so.
  desktop.openSucceeds = true;
  std::vector<FailureBox> late;
  launchers.SetLateFailureHandler([&late](const FailureBox& box) { late.push_back(box); });
  EXPECT_FALSE(launchers.OpenHelp());
  ASSERT_TRUE(desktop.lateFailures.back());
  desktop.lateFailures.back()();
  ASSERT_EQ(late.size(), 1u);
  EXPECT_EQ(late[0].Text, "Unable to open Framory.html");
  EXPECT_EQ(late[0].Caption, "Unable to Open Help File");
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
            "Framory tried shotcut, kdenlive, openshot-qt and pitivi on the search path; none "
            "could be started.\nA video editor allows you to split, combine and trim clips.\nYou "
            "can install one from its package: shotcut, kdenlive, openshot-qt or pitivi.");
  EXPECT_EQ(failure->Caption, "Unable to run a video editor from the search path");
  for (const OutsideProgram& editor : Launchers::VideoEditors()) {
    EXPECT_NE(failure->Text.find(editor.Name), std::string::npos) << editor.Name;
    EXPECT_NE(failure->Text.find(editor.Package), std::string::npos) << editor.Package;
  }
}

}  // namespace
}  // namespace framory
