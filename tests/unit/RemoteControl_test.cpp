// The remote control's commands against the real recorder: each does what
// its chord or key does and no more, the refusals a script meets, the state
// announced once per change, and the names and lines that must stay
// well-formed whatever the display or the file is called.
#include "app/RemoteControl.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "support/RecorderFakes.h"

namespace framory {
namespace {

struct RemoteRig {
  RemoteRig()
      : recorder(settings, testing::RecorderServices(timers, tray, boxes, pointer, lastError,
                                                     [this] { ++shots; })),
        remote(settings, recorder, poster, [this] { return clipFile; }) {
    recorder.State().SetProjectReady(true);
    recorder.TogglePause();  // the program starts paused
    remote.SetStateListener([this](const RemoteState& state) { told.push_back(state); });
  }
  Settings settings;
  testing::FakeTimers timers;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  testing::FakeLastError lastError;
  testing::FakePoster poster;
  int shots = 0;
  std::string clipFile;
  Recorder recorder;
  RemoteControl remote;
  std::vector<RemoteState> told;
};

using Kind = RemoteReply::Kind;

TEST(RemoteControl, CommandsDoWhatTheirChordsDo) {
  RemoteRig rig;
  EXPECT_EQ(rig.remote.Run(RemoteCommand::ToggleRecording).What, Kind::Done);
  EXPECT_FALSE(rig.recorder.Paused()) << "toggle-recording resumes a paused recorder";

  // Shift-then-Ctrl with the periodic timer on: the recorder pauses first,
  // then the view is toggled through the main window's message.
  rig.settings.SetTakeShotOnKey(false);
  rig.settings.SetTakeShotOnTimer(true);
  EXPECT_EQ(rig.remote.Run(RemoteCommand::ToggleOptionsView).What, Kind::Done);
  EXPECT_TRUE(rig.recorder.Paused());
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ToggleMainView), 1);

  // With only Print Screen on, the view toggles and recording goes on.
  rig.settings.SetTakeShotOnTimer(false);
  rig.settings.SetTakeShotOnPrintScreen(true);
  rig.remote.Run(RemoteCommand::ToggleRecording);
  rig.remote.Run(RemoteCommand::ToggleOptionsView);
  EXPECT_FALSE(rig.recorder.Paused());
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ToggleMainView), 2);

  // A second start shows, never toggles; quit goes the way of "Stop and Exit".
  rig.remote.Run(RemoteCommand::ShowOptionsView);
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ShowMainView), 1);
  EXPECT_EQ(rig.poster.Count(MainWindowMessages::ToggleMainView), 2);
  rig.remote.Run(RemoteCommand::Quit);
  EXPECT_EQ(rig.poster.Count(kDestroyWindowMessage), 1);
}

TEST(RemoteControl, ShotsAreTakenWhileRecordingAndRefusedWhilePausedOrBoxedOrEnding) {
  RemoteRig rig;
  const RemoteReply paused = rig.remote.Run(RemoteCommand::TakeShot);
  EXPECT_EQ(paused.What, Kind::Refused);
  EXPECT_EQ(paused.Text, kRefusedPaused);
  EXPECT_EQ(rig.shots, 0) << "a paused recorder records nothing";

  rig.remote.Run(RemoteCommand::ToggleRecording);
  EXPECT_EQ(rig.remote.Run(RemoteCommand::TakeShot).What, Kind::Done);
  EXPECT_EQ(rig.shots, 1);

  // While one of the program's system-modal boxes waits (an error box that
  // has just paused, say), the chords' commands are refused as the chords
  // are ignored; a show and a quit still go through.
  rig.remote.SetModalBox(true);
  for (const RemoteCommand command : {RemoteCommand::ToggleRecording,
                                      RemoteCommand::ToggleOptionsView, RemoteCommand::TakeShot}) {
    const RemoteReply reply = rig.remote.Run(command);
    EXPECT_EQ(reply.What, Kind::Refused) << RemoteRequestWord(command);
    EXPECT_EQ(reply.Text, kRefusedBox);
  }
  EXPECT_FALSE(rig.recorder.Paused());
  EXPECT_EQ(rig.shots, 1);
  EXPECT_TRUE(rig.poster.posted.empty());
  EXPECT_EQ(rig.remote.Run(RemoteCommand::ShowOptionsView).What, Kind::Done);
  EXPECT_EQ(rig.remote.Run(RemoteCommand::GetStatus).What, Kind::Done);
  rig.remote.SetModalBox(false);

  // Once the destroy message is handled nothing but the status is served.
  rig.recorder.State().SetQuitRequested(true);
  for (const RemoteCommand command : {RemoteCommand::ToggleRecording, RemoteCommand::TakeShot,
                                      RemoteCommand::Quit, RemoteCommand::ShowOptionsView}) {
    EXPECT_EQ(rig.remote.Run(command).Text, kRefusedEnding) << RemoteRequestWord(command);
  }
  EXPECT_EQ(rig.shots, 1);
  EXPECT_FALSE(rig.recorder.Paused());
}

TEST(RemoteControl, ACommandCheckedThenOverTakenDoesNothing) {
  // The answer leaves between Check and Carry; a chord that paused in
  // between must not let the shot through.
  RemoteRig rig;
  rig.remote.Run(RemoteCommand::ToggleRecording);
  ASSERT_EQ(rig.remote.Check(RemoteCommand::TakeShot).What, Kind::Done);
  rig.recorder.TogglePause();
  rig.remote.Carry(RemoteCommand::TakeShot);
  EXPECT_EQ(rig.shots, 0);
}

TEST(RemoteControl, EachChangeOfTheStateIsToldOnce) {
  RemoteRig rig;
  rig.remote.Refresh();
  EXPECT_TRUE(rig.told.empty()) << "nothing changed yet";

  rig.remote.Run(RemoteCommand::ToggleRecording);
  rig.remote.Refresh();
  rig.remote.Refresh();
  ASSERT_EQ(rig.told.size(), 1u);
  EXPECT_TRUE(rig.told.back().Recording);

  // A change made elsewhere (a dialog's output type) is told as well.
  rig.settings.SetOutputType(OutputTypes::AviUncompressed);
  rig.clipFile = "/results/movie0.avi";
  rig.remote.Refresh();
  ASSERT_EQ(rig.told.size(), 2u);
  EXPECT_EQ(rig.told.back().OutputType, OutputTypes::AviUncompressed);
  EXPECT_EQ(rig.told.back().OutputName, "AVI movie");
  EXPECT_EQ(rig.told.back().CurrentFile, "/results/movie0.avi");

  // The clip ends: its finished file stays the current one until the next.
  rig.clipFile.clear();
  rig.remote.FileWritten("/results/movie0.avi");
  rig.remote.Refresh();
  EXPECT_EQ(rig.told.size(), 2u);
  rig.settings.SetOutputType(OutputTypes::Png);
  rig.remote.FileWritten("/results/pic0.png");
  rig.remote.Refresh();
  ASSERT_EQ(rig.told.size(), 3u);
  EXPECT_EQ(StatusLine(rig.told.back()),
            "recording; output type 3 (PNG pictures); file /results/pic0.png");
}

TEST(RemoteControl, AFileNameCannotAddALineToTheStatus) {
  RemoteState state;
  state.CurrentFile = "/tmp/evil\nrecording; output type 3/pic0.png";
  const std::string line = StatusLine(state);
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_EQ(line.rfind("paused; ", 0), 0u) << line;
}

// The D-Bus rules for a well-known name: elements of [A-Za-z0-9_-] that do
// not start with a digit, at least two, at most 255 bytes in all.
bool ValidBusName(const std::string& name) {
  if (name.empty() || name.size() > 255) return false;
  std::size_t elements = 0;
  std::size_t start = 0;
  for (;;) {
    const std::size_t dot = name.find('.', start);
    const std::string element = name.substr(start, dot - start);
    if (element.empty() || (element[0] >= '0' && element[0] <= '9')) return false;
    for (const char c : element) {
      const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '_' || c == '-';
      if (!ok) return false;
    }
    ++elements;
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return elements >= 2;
}

TEST(RemoteControl, EveryDisplayHasAValidBusNameOfItsOwn) {
  EXPECT_EQ(RemoteBusName(":0"), "org.framory.Framory.Display0");
  const std::string keys[] = {":0",
                              ":10",
                              ":1",
                              "remote:10",
                              "remote_3a10",
                              "_3a0",
                              "host.example.org:3",
                              "[::1]:2",
                              "wayland-0",
                              "",
                              std::string("\xff\x01 x", 4),
                              ":",
                              "::0"};
  std::set<std::string> names;
  for (const std::string& key : keys) {
    const std::string name = RemoteBusName(key);
    EXPECT_TRUE(ValidBusName(name)) << "'" << key << "' gives '" << name << "'";
    names.insert(name);
  }
  EXPECT_EQ(names.size(), std::size(keys)) << "two displays would share one name";

  // A recorder in a Wayland session is found from either display; a
  // command line with an X display asks by that, without one by Wayland's.
  const std::vector<std::string> both = RemoteBusNames(":0.0", "wayland-0");
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0], "org.framory.Framory.Display0");
  EXPECT_TRUE(ValidBusName(both[1])) << both[1];
  EXPECT_EQ(names.count(both[1]), 0u) << "no X display's name";
  EXPECT_EQ(RemoteBusNameFor(":0", "wayland-0"), both[0]);
  EXPECT_EQ(RemoteBusNameFor("", "wayland-0"), both[1]);
  EXPECT_EQ(RemoteBusNameFor("", ""), "");
  // A compositor names its socket relative to the runtime folder, a
  // launcher may give its full path: one recorder either way.
  EXPECT_EQ(WaylandDisplayKey("wayland-1", "/run/user/1000"),
            WaylandDisplayKey("/run/user/1000/wayland-1", "/tmp/elsewhere"));
}

}  // namespace
}  // namespace framory
