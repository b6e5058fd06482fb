// The tray icon's tip while recording, read from the real tray icon: the
// recorder with its meter, the Qt timers and the Qt shell. The meter's clock
// is moved by hand; the tip timer itself is Qt's, so each step waits for its
// next expiry.
#include <gtest/gtest.h>

#include <QSystemTrayIcon>
#include <fstream>
#include <string>

#include "app/Recorder.h"
#include "app/RecordingMeter.h"
#include "platform/qt/QtShell.h"
#include "platform/qt/QtTimerService.h"
#include "support/ManualClock.h"
#include "support/QtGTestMain.h"
#include "support/QtPump.h"
#include "support/RecorderFakes.h"
#include "support/TempDir.h"

namespace framory {
namespace {

void GrowFile(const std::string& path, std::size_t bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << std::string(bytes, 'x');
}

TEST(RecordingTip, GrowsWhileRecordingAndStandsStillWhilePaused) {
  testing::TempDir dir;
  testing::ManualClock clock;
  RecordingMeter meter(clock);
  Settings settings;
  TrayState tray;
  QtShell shell(tray);
  ASSERT_TRUE(shell.CreateMainWindow());
  QtTimerService timers;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  ThreadLastErrorSource lastError;
  Recorder::Services services =
      testing::RecorderServices(timers, tray, boxes, pointer, lastError, [] {});
  services.Meter = &meter;
  Recorder recorder(settings, services);
  timers.SetExpiryHandler([&recorder](std::int32_t id) { recorder.OnTimer(id); });
  auto tip = [&shell] { return shell.Tray()->toolTip().toStdString(); };

  recorder.TogglePause();  // start-up
  EXPECT_EQ(tip(), "Framory Recording Paused");
  EXPECT_FALSE(timers.IsRunning(kTipTimer)) << "nothing wakes the program while paused";

  const std::string movie = dir.File("movie0.avi");
  meter.FileNamed(movie, false);
  GrowFile(movie, 2048);
  recorder.TogglePause();
  EXPECT_EQ(tip(), "Framory Recording 0:00:00, 2 KiB");
  ASSERT_TRUE(timers.IsRunning(kTipTimer));
  EXPECT_EQ(timers.Period(kTipTimer), 1000) << "the tip is refreshed at most once a second";

  clock.AdvanceMilliseconds(65'000);
  GrowFile(movie, 3 * 1024 * 1024);
  EXPECT_TRUE(testing::PumpUntil([&] { return tip() == "Framory Recording 0:01:05, 3.0 MiB"; }))
      << tip();

  // Ten paused minutes are left out, and the tip keeps the paused text.
  recorder.TogglePause();
  EXPECT_EQ(tip(), "Framory Recording Paused");
  EXPECT_FALSE(timers.IsRunning(kTipTimer));
  clock.AdvanceMilliseconds(600'000);
  recorder.TogglePause();
  EXPECT_EQ(tip(), "Framory Recording 0:01:05, 3.0 MiB");

  // Pictures count once written, and a long series adds up.
  const std::string picture = dir.File("pic0.png");
  meter.FileNamed(picture, true);
  GrowFile(picture, 1024 * 1024);
  clock.AdvanceMilliseconds(3'600'000);
  EXPECT_TRUE(testing::PumpUntil([&] { return tip() == "Framory Recording 1:01:05, 4.0 MiB"; }))
      << tip();
  EXPECT_LE(tip().size(), TrayState::kMaxTipLength);

  // The clip ends: the next recording starts from nothing.
  recorder.RecordingEnded("");
  EXPECT_EQ(tip(), "Framory Recording 0:00:00, 0 KiB");
}

// A broadcast to a streaming server adds its state after the time and size,
// naming the host alone, and a long host name is cut at the tip's end.
TEST(RecordingTip, TellsWhereTheBroadcastGoesAndWhenItReconnects) {
  testing::ManualClock clock;
  RecordingMeter meter(clock);
  Settings settings;
  TrayState tray;
  QtShell shell(tray);
  ASSERT_TRUE(shell.CreateMainWindow());
  QtTimerService timers;
  testing::FakeBoxes boxes;
  testing::FakePointer pointer;
  ThreadLastErrorSource lastError;
  StreamStatus stream;
  Recorder::Services services =
      testing::RecorderServices(timers, tray, boxes, pointer, lastError, [] {});
  services.Meter = &meter;
  services.Stream = &stream;
  Recorder recorder(settings, services);
  timers.SetExpiryHandler([&recorder](std::int32_t id) { recorder.OnTimer(id); });
  auto tip = [&shell] { return shell.Tray()->toolTip().toStdString(); };

  recorder.TogglePause();  // start-up
  recorder.TogglePause();
  EXPECT_EQ(tip(), "Framory Recording 0:00:00, 0 KiB") << "no broadcast yet";
  stream.Set(StreamStatus::Phase::Broadcasting, "10.0.0.5");
  clock.AdvanceMilliseconds(2'000);
  EXPECT_TRUE(testing::PumpUntil([&] {
    return tip() == "Framory Recording 0:00:02, 0 KiB Broadcasting to 10.0.0.5";
  })) << tip();
  stream.Set(StreamStatus::Phase::Reconnecting, "10.0.0.5");
  EXPECT_TRUE(testing::PumpUntil([&] {
    return tip() == "Framory Recording 0:00:02, 0 KiB Reconnecting to 10.0.0.5";
  })) << tip();
  stream.Set(StreamStatus::Phase::Broadcasting, std::string(80, 'h') + ".example.net");
  EXPECT_TRUE(testing::PumpUntil([&] {
    return tip().find("Broadcasting to hhh") != std::string::npos;
  })) << tip();
  EXPECT_EQ(tip().size(), TrayState::kMaxTipLength);
  recorder.TogglePause();
  EXPECT_EQ(tip(), "Framory Recording Paused");
}

}  // namespace
}  // namespace framory
