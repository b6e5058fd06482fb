#include "platform/qt/DbusRemoteService.h"

#include <sys/stat.h>
#include <unistd.h>

#include <QDBusConnectionInterface>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusReply>
#include <QDBusVariant>
#include <QStringList>
#include <QVariantMap>
#include <cstdlib>

namespace framory {

namespace {

const QString kPath = QString::fromLatin1(kRemoteObjectPath);
const QString kInterface = QString::fromLatin1(kRemoteInterface);
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kIntrospectable = QStringLiteral("org.freedesktop.DBus.Introspectable");
const QString kStateProperty = QStringLiteral("State");
const QString kRefusedError = kInterface + QStringLiteral(".Error.Refused");

struct Method {
  const char* Name;
  RemoteCommand Command;
};
constexpr Method kMethods[] = {
    {"ToggleRecording", RemoteCommand::ToggleRecording},
    {"ToggleOptionsView", RemoteCommand::ToggleOptionsView},
    {"ShowOptionsView", RemoteCommand::ShowOptionsView},
    {"TakeShot", RemoteCommand::TakeShot},
    {"Quit", RemoteCommand::Quit},
};

const Method* FindMethod(const QString& member) {
  for (const Method& method : kMethods) {
    if (member == QLatin1String(method.Name)) return &method;
  }
  return nullptr;
}

QVariantMap StateMap(const RemoteState& state) {
  return {
      {QStringLiteral("Recording"), state.Recording},
      {QStringLiteral("OutputType"), static_cast<int>(state.OutputType)},
      {QStringLiteral("OutputName"), QString::fromStdString(state.OutputName)},
      {QStringLiteral("CurrentFile"), QString::fromStdString(state.CurrentFile)},
  };
}

void Refuse(const QDBusMessage& message, const QDBusConnection& connection, const char* error,
            const QString& text) {
  QDBusConnection(connection).send(message.createErrorReply(QLatin1String(error), text));
}

}  // namespace

bool SessionBusConfigured() {
  const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address != nullptr && *address != '\0') return true;
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime == nullptr || *runtime != '/') return false;
  struct stat info {};
  const std::string socket = std::string(runtime) + "/bus";
  return ::stat(socket.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

DbusRemoteService::DbusRemoteService(RemoteControl& remote, QObject* parent)
    : QDBusVirtualObject(parent), remote_(remote) {}

DbusRemoteService::~DbusRemoteService() { Stop(); }

bool DbusRemoteService::Start(const std::vector<std::string>& busNames, std::string* problem) {
  Stop();
  if (!SessionBusConfigured()) {
    if (problem) *problem = "no session bus";
    return false;
  }
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    if (problem) {
      *problem = "the session bus cannot be reached: " + bus.lastError().message().toStdString();
    }
    return false;
  }
  if (!bus.registerVirtualObject(kPath, this)) {
    if (problem) *problem = "the object " + kPath.toStdString() + " is taken on the session bus";
    return false;
  }
  serving_ = true;
  bool all = true;
  for (const std::string& busName : busNames) {
    const QString name = QString::fromStdString(busName);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
      names_ << name;
      continue;
    }
    if (problem && all) {
      *problem = "the name " + busName + " cannot be had on the session bus" +
                 (reply.isValid() ? std::string(" (another program holds it)")
                                  : ": " + reply.error().message().toStdString());
    }
    all = false;
  }
  if (names_.isEmpty()) Stop();
  return all && serving_;
}

void DbusRemoteService::Stop() {
  if (!serving_) return;
  serving_ = false;
  QDBusConnection bus = QDBusConnection::sessionBus();
  // Calls that wait for the bus's answer: the messages sent before them (the
  // answer to a Quit) have left once they return.
  for (const QString& name : names_) bus.interface()->unregisterService(name);
  names_.clear();
  bus.unregisterObject(kPath);
}

void DbusRemoteService::Announce(const RemoteState& state) {
  if (!serving_) return;
  const QVariantMap map = StateMap(state);
  QDBusConnection bus = QDBusConnection::sessionBus();
  QDBusMessage changed =
      QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("StateChanged"));
  changed << map;
  bus.send(changed);
  QDBusMessage properties =
      QDBusMessage::createSignal(kPath, kProperties, QStringLiteral("PropertiesChanged"));
  properties << kInterface << QVariantMap{{kStateProperty, map}} << QStringList{};
  bus.send(properties);
}

QString DbusRemoteService::introspect(const QString& /*path*/) const {
  QString xml = QStringLiteral("  <interface name=\"%1\">\n").arg(kInterface);
  for (const Method& method : kMethods) {
    xml += QStringLiteral("    <method name=\"%1\"/>\n").arg(QLatin1String(method.Name));
  }
  xml += QStringLiteral(
      "    <property name=\"State\" type=\"a{sv}\" access=\"read\"/>\n"
      "    <signal name=\"StateChanged\">\n"
      "      <arg name=\"state\" type=\"a{sv}\"/>\n"
      "    </signal>\n"
      "  </interface>\n");
  return xml;
}

bool DbusRemoteService::handleMessage(const QDBusMessage& message,
                                      const QDBusConnection& connection) {
  if (message.type() != QDBusMessage::MethodCallMessage) return false;
  // Introspection is the library's: it asks introspect() above.
  if (message.interface() == kIntrospectable) return false;
  const QString& interface = message.interface();
  const QString& member = message.member();
  const QString signature = message.signature();
  if (interface == kProperties) {
    const bool known = (member == QLatin1String("Get") && signature == QLatin1String("ss")) ||
                       (member == QLatin1String("GetAll") && signature == QLatin1String("s")) ||
                       (member == QLatin1String("Set") && signature == QLatin1String("ssv"));
    if (!known) {
      Refuse(message, connection, "org.freedesktop.DBus.Error.UnknownMethod",
             QStringLiteral("No method %1(%2) in %3").arg(member, signature, interface));
      return true;
    }
    Checked(message, connection, true);
    return true;
  }
  if (!interface.isEmpty() && interface != kInterface) {
    Refuse(message, connection, "org.freedesktop.DBus.Error.UnknownInterface",
           QStringLiteral("No interface %1 at %2").arg(interface, kPath));
    return true;
  }
  if (FindMethod(member) == nullptr || !signature.isEmpty()) {
    Refuse(message, connection, "org.freedesktop.DBus.Error.UnknownMethod",
           QStringLiteral("No method %1(%2) in %3").arg(member, signature, kInterface));
    return true;
  }
  Checked(message, connection, false);
  return true;
}

void DbusRemoteService::Checked(const QDBusMessage& message, const QDBusConnection& connection,
                                bool property) {
  message.setDelayedReply(true);
  QDBusConnection bus(connection);
  QDBusMessage ask = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
      QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetConnectionUnixUser"));
  ask << message.service();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(ask), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, message, bus, property](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            const QDBusPendingReply<uint> user = *finished;
            if (user.isError() || user.value() != ::geteuid()) {
              Refuse(message, bus, "org.freedesktop.DBus.Error.AccessDenied",
                     QStringLiteral("Framory answers only its own user"));
              return;
            }
            Carry(message, bus, property);
          });
}

void DbusRemoteService::Carry(const QDBusMessage& message, const QDBusConnection& connection,
                              bool property) {
  QDBusConnection bus(connection);
  if (!property) {
    // Answered first: the command may show a box that holds it.
    const RemoteCommand command = FindMethod(message.member())->Command;
    const RemoteReply reply = remote_.Check(command);
    if (reply.What != RemoteReply::Kind::Done) {
      bus.send(message.createErrorReply(kRefusedError, QString::fromStdString(reply.Text)));
      return;
    }
    bus.send(message.createReply());
    remote_.Carry(command);
    return;
  }
  const QList<QVariant> arguments = message.arguments();
  const QString interface = arguments.value(0).toString();
  if (!interface.isEmpty() && interface != kInterface) {
    Refuse(message, bus, "org.freedesktop.DBus.Error.UnknownInterface",
           QStringLiteral("No interface %1 at %2").arg(interface, kPath));
    return;
  }
  const QString& member = message.member();
  if (member == QLatin1String("GetAll")) {
    bus.send(message.createReply(QVariantMap{{kStateProperty, StateMap(remote_.State())}}));
    return;
  }
  const QString name = arguments.value(1).toString();
  if (name != kStateProperty) {
    Refuse(message, bus, "org.freedesktop.DBus.Error.UnknownProperty",
           QStringLiteral("No property %1 in %2").arg(name, kInterface));
    return;
  }
  if (member == QLatin1String("Set")) {
    Refuse(message, bus, "org.freedesktop.DBus.Error.PropertyReadOnly",
           QStringLiteral("The property State is read only"));
    return;
  }
  bus.send(
      message.createReply(QVariant::fromValue(QDBusVariant(QVariant(StateMap(remote_.State()))))));
}

}  // namespace framory
