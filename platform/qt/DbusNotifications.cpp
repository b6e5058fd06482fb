#include "platform/qt/DbusNotifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QVariantMap>

namespace framory {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
const QString kOpenFolder = QStringLiteral("open-folder");
// How long the server shows a notice: its own default.
constexpr std::int32_t kServerDefaultTimeout = -1;

}  // namespace

DbusNotifications::DbusNotifications(DesktopActions& desktop, QObject* parent)
    : QObject(parent), desktop_(desktop) {}

void DbusNotifications::FileSaved(const std::string& path) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return;
  if (!listening_) {
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), this,
                SLOT(OnActionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), this,
                SLOT(OnClosed(uint, uint)));
    listening_ = true;
  }

  const SavedFileNotice notice = DescribeSavedFile(path);
  // Servers may read the body as simple markup: a name with "<" or "&"
  // must come out as written.
  const QString body = QString::fromStdString(notice.Body).toHtmlEscaped();
  QDBusMessage call =
      QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Notify"));
  call << QStringLiteral("Framory") << 0u << QStringLiteral("framory")
       << QString::fromStdString(notice.Summary) << body
       << QStringList{QStringLiteral("default"), QStringLiteral("Open Folder"), kOpenFolder,
                      QStringLiteral("Open Folder")}
       << QVariantMap{} << kServerDefaultTimeout;
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
  const std::string folder = notice.Folder;
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, folder](QDBusPendingCallWatcher* finished) {
            const QDBusPendingReply<std::uint32_t> reply = *finished;
            if (!reply.isError()) folders_[reply.value()] = folder;
            finished->deleteLater();
          });
}

void DbusNotifications::OnActionInvoked(uint id, const QString& action) {
  const auto it = folders_.find(id);
  if (it == folders_.end()) return;
  if (action == kOpenFolder || action == QStringLiteral("default")) desktop_.OpenPath(it->second);
}

void DbusNotifications::OnClosed(uint id, uint /*reason*/) { folders_.erase(id); }

}  // namespace framory
