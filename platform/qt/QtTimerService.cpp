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
  timer->start(WindowTimerPeriod(milliseconds));
}

std::int32_t QtTimerService::WindowTimerPeriod(std::int32_t milliseconds) {
  // The period arrives unchecked from the settings (a stored TimerValue of 0
  // or less is taken as it is). A window timer never runs faster than every
  // 10 ms, and a negative period, read as an unsigned count, is the longest
  // one; a 0 ms Qt timer instead would fire on every pass of the event loop
  // and take shots as fast as the machine allows.
  constexpr std::int32_t kMinimum = 10;
  constexpr std::int32_t kMaximum = 0x7FFFFFFF;
  if (milliseconds < 0) return kMaximum;
  return milliseconds < kMinimum ? kMinimum : milliseconds;
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
