// The shell's Qt side: the hidden main window as a QObject whose private
// messages travel through the Qt event queue, the tray icon as a
// QSystemTrayIcon that follows the recorder's tray state (icons 107 and 129
// with their tips) and reports its clicks as the tray's mouse messages, and
// the end of the event loop.
#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/Application.h"
#include "app/MessagePoster.h"
#include "app/TrayState.h"

namespace framory {

class QtShell : public QObject, public MessagePoster, public ShellPlatform {
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

 protected:
  bool event(QEvent* event) override;

 private:
  void FollowTrayState();

  TrayState& trayState_;
  std::unique_ptr<QSystemTrayIcon> tray_;
  std::function<void(std::uint32_t, std::int32_t)> handler_;
};

}  // namespace framory
