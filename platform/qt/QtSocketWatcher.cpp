#include "platform/qt/QtSocketWatcher.h"

namespace framory {

QtSocketWatcher::QtSocketWatcher(QObject* parent) : QObject(parent) {}

QtSocketWatcher::~QtSocketWatcher() {
  for (auto& [fd, entry] : notifiers_) delete entry.notifier;
}

void QtSocketWatcher::Watch(int fd, std::function<void()> onReadable) {
  Unwatch(fd);
  auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
  notifiers_[fd] = Entry{notifier, std::move(onReadable)};
  connect(notifier, &QSocketNotifier::activated, this, [this, notifier](QSocketDescriptor socket) {
    auto found = notifiers_.find(static_cast<int>(socket));
    if (found == notifiers_.end() || found->second.notifier != notifier) return;
    // Copy: the callback may unwatch (and so erase) itself.
    std::function<void()> callback = found->second.callback;
    callback();
  });
}

void QtSocketWatcher::Unwatch(int fd) {
  auto found = notifiers_.find(fd);
  if (found == notifiers_.end()) return;
  // The notifier may be the one whose signal is running: disable it now and
  // delete it from the event loop.
  found->second.notifier->setEnabled(false);
  found->second.notifier->deleteLater();
  notifiers_.erase(found);
}

}  // namespace framory
