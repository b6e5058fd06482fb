// SocketWatch over QSocketNotifier: the callback runs on the GUI thread from
// the Qt event loop (including nested loops of modal dialogs).
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <functional>
#include <map>

#include "base/SocketWatch.h"

namespace framory {

class QtSocketWatcher : public QObject, public SocketWatch {
  Q_OBJECT
 public:
  explicit QtSocketWatcher(QObject* parent = nullptr);
  ~QtSocketWatcher() override;

  void Watch(int fd, std::function<void()> onReadable) override;
  void Unwatch(int fd) override;
  bool Watching(int fd) const { return notifiers_.count(fd) != 0; }

 private:
  struct Entry {
    QSocketNotifier* notifier;
    std::function<void()> callback;
  };
  std::map<int, Entry> notifiers_;
};

}  // namespace framory
