#include "platform/qt/QtTimerService.h"

namespace framory {

QtTimerService::QtTimerService(QObject* parent) : QObject(parent) {}

void QtTimerService::SetTimer(std::int32_t id, std::int32_t milliseconds) {
  QTimer*& timer = timers_[id];
  if (timer == nullptr) {
    timer = new QTimer(this);
    // Frame periods go down to 10 ms; a coarse timer would drift by 5%.
    timer->setTimerType(Qt::PreciseTimer);
    connect(timer, &QTimer::timeout, this, [this, id] {
      if (handler_) handler_(id);
    });
  }
  timer->start(milliseconds < 0 ? 0 : milliseconds);
}

void QtTimerService::KillTimer(std::int32_t id) {
  auto found = timers_.find(id);
  if (found != timers_.end()) found->second->stop();
}

bool QtTimerService::IsRunning(std::int32_t id) const {
  auto found = timers_.find(id);
  return found != timers_.end() && found->second->isActive();
}

std::int32_t QtTimerService::Period(std::int32_t id) const {
  auto found = timers_.find(id);
  return found != timers_.end() ? found->second->interval() : -1;
}

}  // namespace framory
