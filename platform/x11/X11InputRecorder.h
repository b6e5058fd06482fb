// System-wide keyboard and mouse recording over the X RECORD extension: key
// presses and releases and button presses and releases of every client,
// turned into classic window messages with virtual-key codes and handed to an
// InputEventSink on the GUI thread.
//
// Two connections of our own: the control connection creates, disables and
// frees the record context and answers keymap questions; the data connection
// carries the intercepted events (XRecordEnableContextAsync). The data
// connection's socket is watched by the GUI event loop through SocketWatch,
// whose callback calls ProcessPending(): XRecordProcessReplies reads what has
// arrived, the record callback only decodes into a queue, and the queue is
// delivered after Xlib has returned. So a sink that runs a nested event loop
// (a message box) or removes this source while it is being delivered to never
// re-enters Xlib on the data connection.
#pragma once

#include <X11/Xlib.h>
#include <X11/extensions/record.h>

#include <array>
#include <bitset>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>

#include "base/SocketWatch.h"
#include "capture/InputEventSource.h"
#include "platform/x11/X11Connection.h"

namespace framory {

class X11InputRecorder : public InputEventSource {
 public:
  // `displayName` empty: $DISPLAY.
  explicit X11InputRecorder(SocketWatch& watch, std::string displayName = {});
  ~X11InputRecorder() override;
  X11InputRecorder(const X11InputRecorder&) = delete;
  X11InputRecorder& operator=(const X11InputRecorder&) = delete;

  // Failures leave errno-style codes in the last error: the display cannot be
  // opened (ECONNREFUSED), RECORD is missing (ENOSYS), or the X error code of
  // the failing request.
  bool Install(InputEventSink& sink) override;
  bool Remove() override;

  bool Installed() const { return sink_ != nullptr; }
  // The data connection's descriptor, -1 when not installed.
  int ConnectionFd() const { return fd_; }
  // Reads and delivers whatever has arrived on the data connection.
  void ProcessPending();

  // The window message and virtual-key code for a key event, nullopt when the
  // key has no virtual-key equivalent. `ctrlDown`/`altDown`: the state of the
  // Control and Alt keys before this event.
  static std::optional<InputEvent> TranslateKey(unsigned long keysym, bool press, bool ctrlDown,
                                                bool altDown);
  // The message for a button event, nullopt for wheel and extra buttons.
  static std::optional<InputEvent> TranslateButton(unsigned button, bool press);
  // The virtual-key code of a keysym, 0 when there is none.
  static std::uint8_t VirtualKeyOf(unsigned long keysym);

 private:
  static void OnRecord(XPointer closure, XRecordInterceptData* data);
  void Decode(const unsigned char* event);
  void LoadKeymap();
  void ReloadKeymapIfChanged();
  // Closes everything; false when disabling the record context failed.
  bool Teardown();

  SocketWatch& watch_;
  std::string displayName_;
  std::unique_ptr<X11Connection> control_;
  std::unique_ptr<X11Connection> data_;
  XRecordContext context_ = 0;
  int fd_ = -1;
  InputEventSink* sink_ = nullptr;
  bool inXlib_ = false;
  bool closing_ = false;
  std::array<unsigned long, 256> keysyms_{};  // level-0 keysym per keycode
  std::bitset<256> pressed_;
  // Keycodes whose level-0 keysym is a Control key, an Alt (or Meta) key.
  std::bitset<256> ctrlKeys_;
  std::bitset<256> altKeys_;
  std::deque<InputEvent> queue_;
};

}  // namespace framory
