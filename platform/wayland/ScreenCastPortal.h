// Asking the desktop for a PipeWire stream of the screen through the
// ScreenCast portal (org.freedesktop.portal.ScreenCast) on the session bus:
// CreateSession, SelectSources (monitors, and windows where the portal
// offers them; the pointer as metadata where offered, else drawn in; the
// permission kept until revoked), Start, OpenPipeWireRemote. Every step is
// asynchronous: each request's answer comes as the Response signal of a
// request object, so the GUI thread never waits for the user's choice.
//
// A restore token from an earlier grant lets the desktop skip its dialog;
// it is good for one Start only, so the one each Start returns replaces it.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <cstdint>
#include <functional>
#include <string>

namespace framory {

class ScreenCastPortal : public QObject {
  Q_OBJECT

 public:
  enum class Outcome {
    Granted,    // a stream is there
    Cancelled,  // the user said no (response 1)
    Refused,    // no portal, or it failed (response 2, an error)
  };
  struct Result {
    Outcome What = Outcome::Refused;
    // Granted: the PipeWire remote (ours to close) and the stream's node.
    int RemoteFd = -1;
    std::uint32_t Node = 0;
    // Granted: the token for the next start, when the portal gave one.
    std::string RestoreToken;
    // Which step failed and how, for the log and the tests.
    std::string Why;
  };

  explicit ScreenCastPortal(QDBusConnection bus = QDBusConnection::sessionBus());
  ~ScreenCastPortal() override;

  // Starts asking; `done` is called once, on the GUI thread.
  void Ask(const std::string& restoreToken, std::function<void(const Result&)> done);
  // Whether the portal offers window sources (known once asked).
  bool OffersWindows() const { return sourceTypes_ & 2; }
  // Ends the session, and with it the stream.
  void Close();

 private slots:
  void OnResponse(uint response, const QVariantMap& results);

 private:
  enum class Step { None, CreateSession, SelectSources, Start };
  // Sends `method` with `options` (a fresh handle_token added) and waits for
  // its Response.
  void Request(Step step, const QString& method, const QList<QVariant>& arguments,
               QVariantMap options);
  void Finish(Result result);
  void OpenRemote(std::uint32_t node, const std::string& token);

  QDBusConnection bus_;
  std::function<void(const Result&)> done_;
  std::string restoreToken_;
  Step step_ = Step::None;
  QString requestPath_;
  QString session_;
  std::uint32_t sourceTypes_ = 0;
  std::uint32_t cursorModes_ = 0;
  int tokenCount_ = 0;
  bool retried_ = false;
};

}  // namespace framory
