// An Xlib connection of its own, opened with the process-wide error handling
// of X11ErrorTrap in place, closed on destruction. Each X11 component opens
// one, so no Display is shared between threads or with Qt.
#pragma once

#include <X11/Xlib.h>

#include <string>

namespace framory {

class X11Connection {
 public:
  // Opens `displayName`, or $DISPLAY when it is empty. Check Valid().
  explicit X11Connection(const std::string& displayName = {});
  ~X11Connection();
  X11Connection(const X11Connection&) = delete;
  X11Connection& operator=(const X11Connection&) = delete;

  bool Valid() const { return display_ != nullptr; }
  // False once the connection has broken (the X server went away).
  bool Alive() const;
  Display* display() const { return display_; }
  int screen() const { return screen_; }
  Window root() const { return root_; }
  // Interned atom, cached by Xlib's own atom cache.
  Atom Intern(const char* name, bool onlyIfExists = false) const;
  // Reads the first `count` 32-bit items of `window`'s `property`, which must
  // be of `type`. False when the window or property is missing, of another
  // type or shorter, or the connection has broken.
  bool ReadLongs(Window window, Atom property, Atom type, long* values, int count) const;
  // Whether `window` carries `property` (of any type); false when the window
  // is missing or the connection has broken.
  bool HasProperty(Window window, Atom property) const;

 private:
  Display* display_ = nullptr;
  int screen_ = 0;
  Window root_ = 0;
};

}  // namespace framory
