// Saved-file notices as freedesktop desktop notifications over the session
// bus (org.freedesktop.Notifications). Each notice offers the action "Open
// Folder" (also the notification's default action), which opens the file's
// folder with the desktop's file manager.
//
// Every bus call is asynchronous, so the event loop never waits for the
// notification server. Without a session bus, or with no server on it, the
// call simply fails and nothing is shown.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <map>
#include <string>

#include "app/Launchers.h"
#include "app/SavedFileNotices.h"

namespace framory {

class DbusNotifications : public QObject, public SavedFileNotices {
  Q_OBJECT
 public:
  explicit DbusNotifications(DesktopActions& desktop, QObject* parent = nullptr);

  void FileSaved(const std::string& path) override;

 private slots:
  void OnActionInvoked(uint id, const QString& action);
  void OnClosed(uint id, uint reason);

 private:
  DesktopActions& desktop_;
  bool listening_ = false;
  // Folders of the notices still shown, by the server's notification id.
  std::map<std::uint32_t, std::string> folders_;
};

}  // namespace framory
