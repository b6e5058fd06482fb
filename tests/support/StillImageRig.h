// The still-image chain on the test's X server: TakeShot over the X11 window
// system and screen grabber hands each frame to the still-image writer, which
// names it in a fresh project folder. Shots are of a user area only, with the
// pointer parked in the far corner and left out of the pictures.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "base/Settings.h"
#include "capture/CaptureTarget.h"
#include "capture/FrameGrabber.h"
#include "capture/OutputNaming.h"
#include "capture/StillImageWriter.h"
#include "platform/x11/X11ScreenGrabber.h"
#include "platform/x11/X11WindowSystem.h"
#include "support/ClipSessionFakes.h"
#include "support/TempDir.h"
#include "support/X11TestWindows.h"

namespace framory::testing {

class StillImageRig : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(windows.Valid() && system.Valid() && screen.Valid());
    settings.SetProjectDirectory(dir.Path() + "/");
    settings.SetProjectName("Project1");
    std::filesystem::create_directory(Folder());
    settings.SetPutCursorInBitmap(false);
    settings.SetUseDesktopWindow(false);
    settings.SetUseMainAppWindow(false);
    settings.SetUseArea(true);
    settings.SetHasMarkUserArea(true);
    links.Stills = &writer;
    links.Scheduler = &scheduler;
    system.SetCursorPos(Point{1919, 1079});
  }
  std::string Folder() const { return dir.Path() + "/Project1"; }

  // One shot of the inclusive screen rectangle in the given output type.
  void ShootArea(std::int32_t outputType, const Rect& area) {
    settings.SetOutputType(outputType);
    settings.SetUserArea(area);
    grabber.TakeShot();
  }

  // No periodic or delayed shots here: each test shoots by hand.
  class NoScheduler : public ShotScheduler {
   public:
    bool PeriodicTimerRunning() const override { return false; }
    void ScheduleDelayedShot(std::int32_t) override {}
  };

  TempDir dir;
  X11TestWindows windows;
  X11WindowSystem system;
  X11ScreenGrabber screen;
  Settings settings;
  OutputNaming naming{settings};
  // Receives the writer's failure reports in place of the recorder.
  FakeClipHost host;
  StillImageWriter writer{naming, &host};
  NoScheduler scheduler;
  CaptureLinks links;
  CaptureTarget target{settings, system, links};
  FrameGrabber grabber{settings, screen, target, links};
};

}  // namespace framory::testing
