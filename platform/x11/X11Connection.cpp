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

bool X11Connection::ReadLongs(Window window, Atom property, Atom type, long* values,
                              int count) const {
  if (!Alive() || property == None) return false;
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  X11ErrorTrap trap(display_);
  int status = XGetWindowProperty(display_, window, property, 0, count, False, type, &actualType,
                                  &format, &items, &remaining, &data);
  bool ok = !trap.Failed() && status == Success && actualType == type && format == 32 &&
            items >= static_cast<unsigned long>(count) && data != nullptr;
  // Xlib hands 32-bit items back as longs.
  if (ok) {
    const long* items32 = reinterpret_cast<const long*>(data);
    for (int i = 0; i < count; ++i) values[i] = items32[i];
  }
  if (data != nullptr) XFree(data);
  return ok;
}

bool X11Connection::HasProperty(Window window, Atom property) const {
  if (!Alive() || property == None) return false;
  Atom type = None;
  int format = 0;
  unsigned long items = 0, remaining = 0;
  unsigned char* data = nullptr;
  X11ErrorTrap trap(display_);
  int status = XGetWindowProperty(display_, window, property, 0, 0, False, AnyPropertyType, &type,
                                  &format, &items, &remaining, &data);
  if (data != nullptr) XFree(data);
  return !trap.Failed() && status == Success && type != None;
}

}  // namespace framory
