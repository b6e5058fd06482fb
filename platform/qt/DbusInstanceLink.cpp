#include "platform/qt/DbusInstanceLink.h"

#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QVariantMap>

#include "platform/qt/DbusRemoteService.h"

namespace framory {

namespace {

const char* MethodOf(RemoteCommand command) {
  switch (command) {
    case RemoteCommand::ShowOptionsView:
      return "ShowOptionsView";
    case RemoteCommand::ToggleRecording:
      return "ToggleRecording";
    case RemoteCommand::ToggleOptionsView:
      return "ToggleOptionsView";
    case RemoteCommand::TakeShot:
      return "TakeShot";
    case RemoteCommand::Quit:
      return "Quit";
    case RemoteCommand::GetStatus:
      break;
  }
  return "";
}

RemoteState StateOf(const QVariantMap& map) {
  RemoteState state;
  state.Recording = map.value(QStringLiteral("Recording")).toBool();
  state.OutputType = map.value(QStringLiteral("OutputType")).toInt();
  state.OutputName = map.value(QStringLiteral("OutputName")).toString().toStdString();
  state.CurrentFile = map.value(QStringLiteral("CurrentFile")).toString().toStdString();
  return state;
}

}  // namespace

RemoteReply DbusInstanceLink::Ask(RemoteCommand command) {
  RemoteReply reply{RemoteReply::Kind::NotRunning, {}};
  if (!SessionBusConfigured()) return reply;
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return reply;
  const QString name = QString::fromStdString(name_);
  // Nobody holds the name, or someone who is not this user.
  QDBusMessage ask = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixUser"));
  ask << name;
  const QDBusReply<uint> owner = bus.call(ask, QDBus::Block, answerMilliseconds_);
  if (!owner.isValid() || owner.value() != ::geteuid()) return reply;

  const QString path = QString::fromLatin1(kRemoteObjectPath);
  const QString interface = QString::fromLatin1(kRemoteInterface);
  QDBusMessage call;
  if (command == RemoteCommand::GetStatus) {
    call = QDBusMessage::createMethodCall(
        name, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << QStringLiteral("State");
  } else {
    call = QDBusMessage::createMethodCall(name, path, interface, QLatin1String(MethodOf(command)));
  }
  const QDBusMessage answer = bus.call(call, QDBus::Block, answerMilliseconds_);
  if (answer.type() == QDBusMessage::ReplyMessage) {
    reply.What = RemoteReply::Kind::Done;
    if (command == RemoteCommand::GetStatus && !answer.arguments().isEmpty()) {
      const QVariant value = answer.arguments().first().value<QDBusVariant>().variant();
      reply.Text = StatusLine(StateOf(qdbus_cast<QVariantMap>(value)));
    }
    return reply;
  }
  const QString error = answer.errorName();
  if (error == QLatin1String("org.freedesktop.DBus.Error.ServiceUnknown") ||
      error == QLatin1String("org.freedesktop.DBus.Error.NameHasNoOwner")) {
    // It ended between the two questions.
    return reply;
  }
  if (error == interface + QStringLiteral(".Error.Refused")) {
    reply.What = RemoteReply::Kind::Refused;
    reply.Text = answer.errorMessage().toStdString();
    return reply;
  }
  // No answer in time, or a recorder that went away while answering.
  reply.What = RemoteReply::Kind::NoAnswer;
  reply.Text = answer.errorMessage().toStdString();
  return reply;
}

RemoteReply SessionInstanceLink::Ask(RemoteCommand command) {
  const RemoteReply reply = bus_.Ask(command);
  if (reply.What != RemoteReply::Kind::NotRunning) return reply;
  return socket_.Ask(command);
}

}  // namespace framory
