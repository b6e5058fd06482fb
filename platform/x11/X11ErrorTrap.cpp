// Process-wide X error bookkeeping. Errors are kept per Display in a short
// list tagged with the request serial and a running sequence number; a trap
// remembers where both stood when it was made and, after an XSync, looks only
// at what came later. The handlers never call back into Xlib.
#include "platform/x11/X11ErrorTrap.h"

#include <cstdio>
#include <deque>
#include <map>
#include <mutex>

namespace framory {
namespace {

struct RecordedError {
  unsigned long sequence;
  unsigned long serial;
  int code;
  int request;
};

struct ConnectionState {
  std::deque<RecordedError> errors;  // newest last, at most kKeptErrors
  unsigned long nextSequence = 0;
  bool dead = false;
};

constexpr std::size_t kKeptErrors = 32;

std::mutex& StateMutex() {
  static std::mutex mutex;
  return mutex;
}

std::map<Display*, ConnectionState>& States() {
  static std::map<Display*, ConnectionState> states;
  return states;
}

int OnError(Display* display, XErrorEvent* event) {
  std::lock_guard lock(StateMutex());
  ConnectionState& state = States()[display];
  state.errors.push_back(
      {state.nextSequence++, event->serial, event->error_code, event->request_code});
  if (state.errors.size() > kKeptErrors) state.errors.pop_front();
  return 0;
}

void MarkDead(Display* display) {
  std::lock_guard lock(StateMutex());
  ConnectionState& state = States()[display];
  if (!state.dead) std::fprintf(stderr, "framory: lost the connection to the X server\n");
  state.dead = true;
}

int OnIOError(Display* display) {
  MarkDead(display);
  return 0;
}

void OnIOErrorExit(Display* display, void*) { MarkDead(display); }

}  // namespace

void X11ErrorTrap::InstallHandlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    XSetErrorHandler(OnError);
    XSetIOErrorHandler(OnIOError);
  });
}

void X11ErrorTrap::WatchConnection(Display* display) {
  InstallHandlers();
  if (display == nullptr) return;
  XSetIOErrorExitHandler(display, OnIOErrorExit, nullptr);
  std::lock_guard lock(StateMutex());
  States()[display];
}

void X11ErrorTrap::ForgetConnection(Display* display) {
  std::lock_guard lock(StateMutex());
  States().erase(display);
}

bool X11ErrorTrap::ConnectionDead(Display* display) {
  std::lock_guard lock(StateMutex());
  auto found = States().find(display);
  return found != States().end() && found->second.dead;
}

X11ErrorTrap::X11ErrorTrap(Display* display) : display_(display) {
  InstallHandlers();
  startSerial_ = display != nullptr ? NextRequest(display) : 0;
  std::lock_guard lock(StateMutex());
  startSequence_ = display != nullptr ? States()[display].nextSequence : 0;
}

bool X11ErrorTrap::Failed() {
  errorCode_ = 0;
  requestCode_ = 0;
  if (display_ == nullptr || ConnectionDead(display_)) {
    errorCode_ = -1;
    return true;
  }
  // When the server has answered the last request sent (a call with a reply
  // was the last one), every error before it has been read already and the
  // round trip of XSync can be saved.
  if (LastKnownRequestProcessed(display_) + 1 < NextRequest(display_)) XSync(display_, False);
  std::lock_guard lock(StateMutex());
  ConnectionState& state = States()[display_];
  if (state.dead) {
    errorCode_ = -1;
    return true;
  }
  for (const RecordedError& error : state.errors) {
    if (error.sequence >= startSequence_ && error.serial >= startSerial_) {
      errorCode_ = error.code;
      requestCode_ = error.request;
      return true;
    }
  }
  return false;
}

}  // namespace framory
