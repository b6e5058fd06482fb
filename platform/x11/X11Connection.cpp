#include "platform/x11/X11Connection.h"

#include "platform/x11/X11ErrorTrap.h"

namespace framory {

X11Connection::X11Connection(const std::string& displayName) {
  X11ErrorTrap::InstallHandlers();
  display_ = XOpenDisplay(displayName.empty() ? nullptr : displayName.c_str());
  if (display_ == nullptr) return;
  X11ErrorTrap::WatchConnection(display_);
  screen_ = DefaultScreen(display_);
  root_ = RootWindow(display_, screen_);
}

X11Connection::~X11Connection() {
  if (display_ == nullptr) return;
  XCloseDisplay(display_);
  X11ErrorTrap::ForgetConnection(display_);
}

bool X11Connection::Alive() const {
  return display_ != nullptr && !X11ErrorTrap::ConnectionDead(display_);
}

Atom X11Connection::Intern(const char* name, bool onlyIfExists) const {
  if (!Alive()) return None;
  return XInternAtom(display_, name, onlyIfExists ? True : False);
}

}  // namespace framory
