// The input watch when X lets it down: a server without RECORD, a server that
// dies under it, a connection that breaks. Each ends in the error report the
// user sees; none of them ends the process. Private X servers are started
// here, beside the one the test runner provides.
#include <gtest/gtest.h>

#include "platform/qt/QtSocketWatcher.h"
#include "platform/qt/QtTimerService.h"

#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>

#include "app/Recorder.h"
#include "capture/InputWatch.h"
#include "support/QtPump.h"
#include "support/RecorderFakes.h"
#include "support/XvfbServer.h"

#include "platform/x11/X11InputRecorder.h"
#include "platform/x11/X11WindowEvents.h"

namespace framory {
namespace {

using testing::App;
using testing::PumpUntil;

// An Xvfb of our own, with or without the RECORD extension.
testing::XvfbServer PrivateServer(bool withRecord) {
  return testing::XvfbServer("640x480x24", {withRecord ? "+extension" : "-extension", "RECORD"});
}

struct Rig {
  explicit Rig(const std::string& display)
      : input(sockets, display), windowEvents(sockets, display) {
    App();
    recorder = std::make_unique<Recorder>(
        settings, testing::RecorderServices(timers, tray, boxes, pointer, lastError, [] {}));
    watch = std::make_unique<InputWatch>(settings, *recorder, poster, pointer, input, windowEvents);
  }
  Settings settings;
  QtSocketWatcher sockets;
  QtTimerService timers;
  X11InputRecorder input;
  X11WindowEvents windowEvents;
  TrayState tray;
  testing::FakeBoxes boxes;
  testing::FakePoster poster;
  testing::FakePointer pointer;
  ThreadLastErrorSource lastError;
  std::unique_ptr<Recorder> recorder;
  std::unique_ptr<InputWatch> watch;
};

TEST(InputRecordingFailures, ServerWithoutRecordGivesTheStartHookReport) {
  const testing::XvfbServer server = PrivateServer(false);
  ASSERT_FALSE(server.Name().empty()) << "Xvfb did not start";
  Rig rig(server.Name());
  EXPECT_FALSE(rig.watch->StartHook());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  // ENOSYS: the facility does not exist on this server.
  EXPECT_EQ(rig.boxes.shown[0].text, "StartHook failed: GetLastError returned 26\n");
  EXPECT_EQ(rig.boxes.shown[0].caption, "Error - Recorder will go in pause mode");
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_FALSE(rig.watch->WinEventHookInstalled());
  EXPECT_FALSE(rig.input.Installed());
  EXPECT_EQ(rig.input.ConnectionFd(), -1);
}

TEST(InputRecordingFailures, UnreachableDisplayGivesTheStartHookReport) {
  Rig rig(":987");
  EXPECT_FALSE(rig.watch->StartHook());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StartHook failed: GetLastError returned 6F\n");
}

TEST(InputRecordingFailures, ServerDeathEndsTheWatchWithAStopHookReport) {
  testing::XvfbServer server = PrivateServer(true);
  ASSERT_FALSE(server.Name().empty()) << "Xvfb did not start";
  Rig rig(server.Name());
  ASSERT_TRUE(rig.watch->StartHook());
  ASSERT_TRUE(rig.windowEvents.Installed());
  server.Kill();
  EXPECT_TRUE(PumpUntil([&] { return !rig.watch->JournalHookInstalled(); }));
  EXPECT_TRUE(PumpUntil([&] { return !rig.windowEvents.Installed(); }));
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StopHook failed: GetLastError returned 20\n");
  EXPECT_TRUE(rig.recorder->Paused());
  EXPECT_TRUE(rig.watch->StopHook()) << "nothing left to remove";
}

TEST(InputRecordingFailures, BrokenConnectionIsNoticedAndCleanedUp) {
  Rig rig("");
  ASSERT_TRUE(rig.watch->StartHook());
  const int fd = rig.input.ConnectionFd();
  ASSERT_GE(fd, 0);
  ASSERT_EQ(shutdown(fd, SHUT_RDWR), 0);
  EXPECT_TRUE(PumpUntil([&] { return !rig.watch->JournalHookInstalled(); }));
  EXPECT_FALSE(rig.input.Installed());
  ASSERT_EQ(rig.boxes.shown.size(), 1u);
  EXPECT_EQ(rig.boxes.shown[0].text, "StopHook failed: GetLastError returned 20\n");

  // The watch can be put back on a fresh connection.
  rig.boxes.shown.clear();
  EXPECT_TRUE(rig.watch->StartHook());
  EXPECT_TRUE(rig.input.Installed());
  EXPECT_TRUE(rig.watch->StopHook());
  EXPECT_TRUE(rig.boxes.shown.empty());
}

}  // namespace
}  // namespace framory
