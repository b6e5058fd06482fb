// Running the Qt event loop from a test: until a condition holds (or a
// deadline passes, which is a failure, never a measurement), or for a while.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>

#include <unistd.h>

#include <functional>

namespace framory::testing {

// Makes sure an application object exists (a test binary without its own
// main() has none) and returns it.
inline QCoreApplication& App() {
  if (QCoreApplication* existing = QCoreApplication::instance()) return *existing;
  static int argc = 1;
  static char name[] = "framory_test";
  static char* argv[] = {name, nullptr};
  return *new QCoreApplication(argc, argv);
}

// Runs the event loop until `done` holds or `seconds` have passed.
inline bool PumpUntil(const std::function<bool()>& done, int seconds = 10) {
  App();
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > seconds * 1000) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    usleep(2000);
  }
  return true;
}

inline void PumpFor(int milliseconds) {
  App();
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < milliseconds) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    usleep(2000);
  }
}

}  // namespace framory::testing
