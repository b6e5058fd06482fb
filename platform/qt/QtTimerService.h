// The two capture timers as Qt timers on the GUI thread. A timer repeats
// until it is killed, like a window timer; each expiry is handed to the
// expiry handler with the timer's id (Recorder::OnTimer in the program).
#pragma once

#include <QObject>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <map>

#include "base/TimerService.h"

namespace framory {

class QtTimerService : public QObject, public TimerService {
  Q_OBJECT
 public:
  explicit QtTimerService(QObject* parent = nullptr);

  void SetExpiryHandler(std::function<void(std::int32_t)> handler) {
    handler_ = std::move(handler);
  }
  // Starts `id` (restarting it when it runs) with the given period.
  void SetTimer(std::int32_t id, std::int32_t milliseconds) override;
  void KillTimer(std::int32_t id) override;
  bool IsRunning(std::int32_t id) const;
  // The period a timer really runs with: at least 10 ms; negative means the
  // longest period there is.
  static std::int32_t WindowTimerPeriod(std::int32_t milliseconds);
  std::int32_t Period(std::int32_t id) const;

 private:
  std::map<std::int32_t, QTimer*> timers_;
  std::function<void(std::int32_t)> handler_;
};

}  // namespace framory
