// The tray side of the Qt shell: raw presses on the tray icon window become
// the tray's mouse messages (with double clicks for both buttons), presses on
// other windows are left alone, and trays that report through
// QSystemTrayIcon::activated map their reasons to the same messages.
#include "platform/qt/QtShell.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <QCoreApplication>
#include <QWidget>
#include <utility>
#include <vector>

#include "platform/qt/TrayClicks.h"
#include "support/QtGTestMain.h"

namespace framory {
namespace {

TEST(TrayClicks, SecondPressOfTheSameButtonSoonAndNearIsADoubleClick) {
  TrayClicks clicks(400, 4);
  EXPECT_EQ(clicks.Press(1, 1000, 10, 10), TrayMouse::LeftButtonDown);
  EXPECT_EQ(clicks.Press(1, 1300, 12, 9), TrayMouse::LeftButtonDoubleClick);
  EXPECT_EQ(clicks.Press(1, 1400, 12, 9), TrayMouse::LeftButtonDown)
      << "the press after a double click starts a new pair";
  EXPECT_EQ(clicks.Press(3, 1500, 12, 9), TrayMouse::RightButtonDown)
      << "another button never completes a pair";
  EXPECT_EQ(clicks.Press(3, 1900, 12, 9), TrayMouse::RightButtonDoubleClick)
      << "exactly the double-click time still counts";
  EXPECT_EQ(clicks.Press(3, 3000, 12, 9), TrayMouse::RightButtonDown);
  EXPECT_EQ(clicks.Press(3, 3401, 12, 9), TrayMouse::RightButtonDown) << "one ms too late";
  EXPECT_EQ(clicks.Press(3, 3402, 17, 9), TrayMouse::RightButtonDown) << "moved too far";
}

TEST(TrayClicks, OtherButtonsGiveNothingAndBreakAPair) {
  TrayClicks clicks(400, 4);
  EXPECT_EQ(clicks.Press(1, 100, 0, 0), TrayMouse::LeftButtonDown);
  EXPECT_EQ(clicks.Press(2, 110, 0, 0), 0) << "middle button";
  EXPECT_EQ(clicks.Press(1, 120, 0, 0), TrayMouse::LeftButtonDown);
  EXPECT_EQ(clicks.Press(4, 130, 0, 0), 0) << "wheel";
}

TEST(TrayClicks, ServerTimeWrappingBetweenThePressesStillPairsThem) {
  TrayClicks clicks(400, 4);
  EXPECT_EQ(clicks.Press(1, 0xFFFFFF00u, 5, 5), TrayMouse::LeftButtonDown);
  EXPECT_EQ(clicks.Press(1, 0x00000010u, 5, 5), TrayMouse::LeftButtonDoubleClick);
}

// Runs the posted messages and returns what reached the handler.
std::vector<std::pair<std::uint32_t, std::int32_t>> Delivered(QtShell& shell) {
  std::vector<std::pair<std::uint32_t, std::int32_t>> got;
  shell.SetMessageHandler(
      [&](std::uint32_t message, std::int32_t lParam) { got.emplace_back(message, lParam); });
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents();
  return got;
}

bool FeedPress(QtShell& shell, std::uint32_t window, int button, std::uint32_t time) {
  xcb_button_press_event_t press{};
  press.response_type = XCB_BUTTON_PRESS;
  press.detail = static_cast<std::uint8_t>(button);
  press.time = time;
  press.event = window;
  press.root_x = 1900;
  press.root_y = 10;
  return shell.nativeEventFilter("xcb_generic_event_t", &press, nullptr);
}

TEST(QtShell, PressesOnTheTrayIconWindowBecomeTrayNotifications) {
  TrayState tray;
  QtShell shell(tray);
  ASSERT_TRUE(shell.CreateMainWindow());
  // Qt's XEmbed icon widget, as the tray host would hold it.
  QWidget icon;
  icon.setObjectName(QStringLiteral("QSystemTrayIconSys"));
  const auto iconWindow = static_cast<std::uint32_t>(icon.winId());
  QWidget other;
  const auto otherWindow = static_cast<std::uint32_t>(other.winId());
  ASSERT_NE(iconWindow, otherWindow);
  EXPECT_TRUE(QtShell::IsTrayIconWindow(iconWindow));
  EXPECT_FALSE(QtShell::IsTrayIconWindow(otherWindow));

  EXPECT_TRUE(FeedPress(shell, iconWindow, 3, 5000)) << "the icon's press is taken";
  EXPECT_TRUE(FeedPress(shell, iconWindow, 3, 5100));
  EXPECT_TRUE(FeedPress(shell, iconWindow, 1, 9000));
  EXPECT_FALSE(FeedPress(shell, otherWindow, 1, 9100)) << "other windows keep their presses";
  EXPECT_FALSE(FeedPress(shell, iconWindow, 2, 9200)) << "the middle button is left to Qt";
  const std::vector<std::pair<std::uint32_t, std::int32_t>> expected = {
      {MainWindowMessages::TrayNotify, TrayMouse::RightButtonDown},
      {MainWindowMessages::TrayNotify, TrayMouse::RightButtonDoubleClick},
      {MainWindowMessages::TrayNotify, TrayMouse::LeftButtonDown}};
  EXPECT_EQ(Delivered(shell), expected);

  shell.RemoveTrayIcon();
  EXPECT_FALSE(FeedPress(shell, iconWindow, 1, 20000)) << "no tray icon, no notifications";
  EXPECT_TRUE(Delivered(shell).empty());
}

TEST(QtShell, EventsOtherThanButtonPressesPassThrough) {
  TrayState tray;
  QtShell shell(tray);
  ASSERT_TRUE(shell.CreateMainWindow());
  QWidget icon;
  icon.setObjectName(QStringLiteral("QSystemTrayIconSys"));
  xcb_button_release_event_t release{};
  release.response_type = XCB_BUTTON_RELEASE;
  release.detail = 1;
  release.event = static_cast<std::uint32_t>(icon.winId());
  EXPECT_FALSE(shell.nativeEventFilter("xcb_generic_event_t", &release, nullptr));
  xcb_button_press_event_t press{};
  press.response_type = XCB_BUTTON_PRESS;
  press.detail = 1;
  press.event = release.event;
  EXPECT_FALSE(shell.nativeEventFilter("windows_generic_MSG", &press, nullptr))
      << "only X events are read";
  EXPECT_TRUE(Delivered(shell).empty());
}

TEST(QtShell, ActivationReasonsMapToTheTrayMouseMessages) {
  EXPECT_EQ(QtShell::TrayMouseMessage(QSystemTrayIcon::Trigger), TrayMouse::LeftButtonDown);
  EXPECT_EQ(QtShell::TrayMouseMessage(QSystemTrayIcon::DoubleClick),
            TrayMouse::LeftButtonDoubleClick);
  EXPECT_EQ(QtShell::TrayMouseMessage(QSystemTrayIcon::Context), TrayMouse::ContextMenu);
  EXPECT_EQ(QtShell::TrayMouseMessage(QSystemTrayIcon::MiddleClick), 0);
  EXPECT_EQ(QtShell::TrayMouseMessage(QSystemTrayIcon::Unknown), 0);
}

}  // namespace
}  // namespace framory
