#include "platform/wayland/ScreenCastPortal.h"

#include <unistd.h>

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusUnixFileDescriptor>

namespace framory {

namespace {

const QString kService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kScreenCast = QStringLiteral("org.freedesktop.portal.ScreenCast");

// Source types and pointer modes as the portal numbers them.
constexpr std::uint32_t kMonitor = 1, kWindow = 2;
constexpr std::uint32_t kPointerEmbedded = 2, kPointerMetadata = 4;
// Kept until the user revokes it.
constexpr std::uint32_t kPersistUntilRevoked = 2;

const char* StepName(int step) {
  switch (step) {
    case 1:
      return "CreateSession";
    case 2:
      return "SelectSources";
    case 3:
      return "Start";
    default:
      return "the portal";
  }
}

}  // namespace

ScreenCastPortal::ScreenCastPortal(QDBusConnection bus) : bus_(std::move(bus)) {}

ScreenCastPortal::~ScreenCastPortal() { Close(); }

void ScreenCastPortal::Ask(const std::string& restoreToken,
                           std::function<void(const Result&)> done) {
  done_ = std::move(done);
  restoreToken_ = restoreToken;
  if (!bus_.isConnected()) {
    Finish(Result{Outcome::Refused, -1, 0, {}, "no session bus"});
    return;
  }
  // What the portal offers first; a desktop without it answers with an error.
  QDBusMessage message = QDBusMessage::createMethodCall(
      kService, kPath, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("GetAll"));
  message << kScreenCast;
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
    w->deleteLater();
    QDBusPendingReply<QVariantMap> reply = *w;
    if (reply.isError()) {
      Finish(Result{Outcome::Refused,
                    -1,
                    0,
                    {},
                    "no ScreenCast portal: " + reply.error().message().toStdString()});
      return;
    }
    const QVariantMap properties = reply.value();
    sourceTypes_ = properties.value(QStringLiteral("AvailableSourceTypes")).toUInt();
    cursorModes_ = properties.value(QStringLiteral("AvailableCursorModes")).toUInt();
    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"),
                   QStringLiteral("framory_session%1").arg(getpid()));
    Request(Step::CreateSession, QStringLiteral("CreateSession"), {}, options);
  });
}

void ScreenCastPortal::Request(Step step, const QString& method, const QList<QVariant>& arguments,
                               QVariantMap options) {
  step_ = step;
  const QString token = QStringLiteral("framory%1_%2").arg(getpid()).arg(++tokenCount_);
  options.insert(QStringLiteral("handle_token"), token);
  // The request object's path follows from our name and the token; the
  // answer is listened for before asking, so it cannot come too early.
  QString sender = bus_.baseService().mid(1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  requestPath_ = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
  bus_.connect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
               QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));

  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kScreenCast, method);
  QList<QVariant> all = arguments;
  all.append(options);
  message.setArguments(all);
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
  connect(
      watcher, &QDBusPendingCallWatcher::finished, this,
      [this, method](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (reply.isError()) {
          bus_.disconnect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                          QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));
          step_ = Step::None;
          Finish(
              Result{Outcome::Refused,
                     -1,
                     0,
                     {},
                     method.toStdString() + " failed: " + reply.error().message().toStdString()});
          return;
        }
        // Older portals make up their own path: listen there instead.
        const QString path = reply.value().path();
        if (path != requestPath_ && step_ != Step::None) {
          bus_.disconnect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                          QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));
          requestPath_ = path;
          bus_.connect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                       QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));
        }
      });
}

void ScreenCastPortal::OnResponse(uint response, const QVariantMap& results) {
  bus_.disconnect(kService, requestPath_, QStringLiteral("org.freedesktop.portal.Request"),
                  QStringLiteral("Response"), this, SLOT(OnResponse(uint, QVariantMap)));
  const Step step = std::exchange(step_, Step::None);
  if (step == Step::None) return;
  if (response == 1) {
    Finish(Result{Outcome::Cancelled,
                  -1,
                  0,
                  {},
                  std::string(StepName(static_cast<int>(step))) + " was cancelled"});
    return;
  }
  if (response != 0) {
    Finish(Result{
        Outcome::Refused,
        -1,
        0,
        {},
        std::string(StepName(static_cast<int>(step))) + " answered " + std::to_string(response)});
    return;
  }
  switch (step) {
    case Step::CreateSession: {
      session_ = results.value(QStringLiteral("session_handle")).toString();
      QVariantMap options;
      // The whole screen, or a window where the portal offers windows.
      options.insert(QStringLiteral("types"),
                     QVariant::fromValue<uint>(kMonitor | (sourceTypes_ & kWindow)));
      options.insert(QStringLiteral("multiple"), false);
      options.insert(
          QStringLiteral("cursor_mode"),
          QVariant::fromValue<uint>((cursorModes_ & kPointerMetadata) != 0 ? kPointerMetadata
                                                                           : kPointerEmbedded));
      options.insert(QStringLiteral("persist_mode"),
                     QVariant::fromValue<uint>(kPersistUntilRevoked));
      if (!restoreToken_.empty()) {
        options.insert(QStringLiteral("restore_token"), QString::fromStdString(restoreToken_));
      }
      Request(Step::SelectSources, QStringLiteral("SelectSources"),
              {QVariant::fromValue(QDBusObjectPath(session_))}, options);
      break;
    }
    case Step::SelectSources:
      Request(Step::Start, QStringLiteral("Start"),
              {QVariant::fromValue(QDBusObjectPath(session_)), QString()}, {});
      break;
    case Step::Start: {
      // streams: a(ua{sv}), the node of each shared source; we asked for one.
      std::uint32_t node = 0;
      bool found = false;
      const QDBusArgument streams = results.value(QStringLiteral("streams")).value<QDBusArgument>();
      streams.beginArray();
      while (!streams.atEnd()) {
        uint id = 0;
        QVariantMap properties;
        streams.beginStructure();
        streams >> id >> properties;
        streams.endStructure();
        if (!found) {
          node = id;
          found = true;
        }
      }
      streams.endArray();
      if (!found) {
        Finish(Result{Outcome::Refused, -1, 0, {}, "Start shared no stream"});
        return;
      }
      OpenRemote(node, results.value(QStringLiteral("restore_token")).toString().toStdString());
      break;
    }
    case Step::None:
      break;
  }
}

void ScreenCastPortal::OpenRemote(std::uint32_t node, const std::string& token) {
  QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kScreenCast,
                                                        QStringLiteral("OpenPipeWireRemote"));
  message << QVariant::fromValue(QDBusObjectPath(session_)) << QVariantMap();
  auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, node, token](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            QDBusPendingReply<QDBusUnixFileDescriptor> reply = *w;
            if (reply.isError() || !reply.value().isValid()) {
              Finish(Result{Outcome::Refused,
                            -1,
                            0,
                            {},
                            "OpenPipeWireRemote failed: " + reply.error().message().toStdString()});
              return;
            }
            // The descriptor object closes its own copy.
            const int fd = dup(reply.value().fileDescriptor());
            Finish(Result{Outcome::Granted, fd, node, token, {}});
          });
}

void ScreenCastPortal::Finish(Result result) {
  if (result.What != Outcome::Granted) Close();
  // A restore token the portal does not take (one from another desktop, an
  // edited settings file) fails the whole session: asked again without it,
  // the user sees the portal's question instead of no recording.
  if (result.What == Outcome::Refused && !restoreToken_.empty() && step_ == Step::None &&
      !retried_) {
    retried_ = true;
    Ask(std::string(), std::move(done_));
    return;
  }
  auto done = std::move(done_);
  done_ = nullptr;
  if (done) done(result);
}

void ScreenCastPortal::Close() {
  if (session_.isEmpty()) return;
  QDBusMessage message = QDBusMessage::createMethodCall(
      kService, session_, QStringLiteral("org.freedesktop.portal.Session"),
      QStringLiteral("Close"));
  bus_.asyncCall(message);
  session_.clear();
}

}  // namespace framory
