// The shell's Qt side: the hidden main window as a QObject whose private
// messages travel through the Qt event queue, the tray icon as a
// QSystemTrayIcon that follows the recorder's tray state (icons 107 and 129
// with their tips) and reports its clicks as the tray's mouse messages, and
// the end of the event loop.
//
// On an XEmbed tray the icon is a small window of ours inside the tray host.
// Qt drops input to every window but the modal one while a modal dialog runs,
// and the welcome dialog is modal, yet a right click on the icon must still
// pause or resume the recorder then. So the shell reads the icon window's
// button presses straight from the X event stream and turns them into the
// tray's mouse messages itself (double clicks included, for both buttons);
// trays of other kinds keep reporting through QSystemTrayIcon::activated.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/Application.h"
#include "app/TrayState.h"
#include "base/MessagePoster.h"
#include "platform/qt/TrayClicks.h"

namespace framory {

class QtShell : public QObject,
                public QAbstractNativeEventFilter,
                public MessagePoster,
                public ShellPlatform {
  Q_OBJECT
 public:
  explicit QtShell(TrayState& tray, QObject* parent = nullptr);
  ~QtShell() override;

  // Receives every posted message with its lParam.
  void SetMessageHandler(std::function<void(std::uint32_t, std::int32_t)> handler) {
    handler_ = std::move(handler);
  }

  // MessagePoster.
  void PostMessage(std::uint32_t message) override { Post(message, 0); }
  void Post(std::uint32_t message, std::int32_t lParam);

  // ShellPlatform.
  bool CreateMainWindow() override;
  void RemoveTrayIcon() override;
  void QuitLoop(int code) override;

  // The tray's mouse message for a Qt activation reason; 0 for none.
  static std::int32_t TrayMouseMessage(QSystemTrayIcon::ActivationReason reason);
  // The icon of tray resource `id` (107 or 129).
  static QIcon TrayIcon(std::int32_t id);

  QSystemTrayIcon* Tray() const { return tray_.get(); }

  // Takes button presses on the tray icon window out of the X event stream
  // and posts them as tray notifications.
  bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;
  // Whether `window` is the X window in which the tray icon is drawn.
  static bool IsTrayIconWindow(std::uint32_t window);

 protected:
  bool event(QEvent* event) override;

 private:
  void FollowTrayState();
  // A press on `window` of X button `button`; true when it was the tray icon's.
  bool TrayButtonPress(std::uint32_t window, int button, std::uint32_t time, int x, int y);

  TrayState& trayState_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  // The icon the tray shows; the tip changes every second while recording,
  // the icon only with the pause state.
  std::int32_t shownIconId_ = -1;
  TrayClicks clicks_;
  bool filtering_ = false;
  std::uint8_t xinputOpcode_ = 0;
  std::function<void(std::uint32_t, std::int32_t)> handler_;
};

}  // namespace framory
