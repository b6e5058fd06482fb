// The remote control on the session bus. The recorder of a display owns the
// names RemoteBusNames gives (its X display's, and its Wayland display's in a
// Wayland session) and serves one object, /org/framory/Framory, with the
// interface org.framory.Framory1:
//   methods     ToggleRecording, ToggleOptionsView, ShowOptionsView, TakeShot,
//               Quit (no arguments, no results; a refusal is the error
//               org.framory.Framory1.Error.Refused with the reason)
//   property    State, a{sv}, read only: "Recording" (b), "OutputType" (i),
//               "OutputName" (s), "CurrentFile" (s, empty before the first)
//   signal      StateChanged(a{sv} state), and PropertiesChanged for State
// What the commands do is RemoteControl's; this class only carries them.
//
// Every call is checked before it is carried out: only a caller of this
// user may act or read (a bus shared with other users, or one configured to
// let them in, gives them nothing but the refusal), only the listed members
// with their exact signatures are served, and anything else is refused with
// the bus's standard errors. The caller's user is asked of the bus without
// waiting, so the GUI thread never blocks on a call; the names are taken and
// given back with calls that wait, at start-up and at shut-down only.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

#include "app/RemoteControl.h"

namespace framory {

// Whether this process has a session bus to use without starting one: a bus
// address in the environment, or the user's bus socket in XDG_RUNTIME_DIR.
// (Without either, the D-Bus library would try to launch a bus of its own.)
bool SessionBusConfigured();

class DbusRemoteService : public QDBusVirtualObject {
  Q_OBJECT

 public:
  explicit DbusRemoteService(RemoteControl& remote, QObject* parent = nullptr);
  ~DbusRemoteService() override;

  // Serves the object on the session bus and takes `busNames`; false (with
  // `problem` set) when there is no bus or a name is taken (the others are
  // kept).
  bool Start(const std::vector<std::string>& busNames, std::string* problem = nullptr);
  // Gives the names back and stops serving. Answers already sent are on
  // their way once this returns.
  void Stop();

  // Tells the bus of a new state.
  void Announce(const RemoteState& state);

  QString introspect(const QString& path) const override;
  bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

 private:
  // Carries the call out once the caller turned out to be this user;
  // refuses it otherwise.
  void Checked(const QDBusMessage& message, const QDBusConnection& connection, bool property);
  void Carry(const QDBusMessage& message, const QDBusConnection& connection, bool property);

  RemoteControl& remote_;
  QStringList names_;
  bool serving_ = false;
};

}  // namespace framory
