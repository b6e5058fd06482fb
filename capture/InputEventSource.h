// A system-wide source of recorded keyboard and mouse input: every key press
// and release and every mouse button press and release of every client,
// delivered on the GUI thread as classic window-message numbers with the
// virtual-key code in the low byte of ParamL.
#pragma once

#include <cstdint>

namespace framory {

namespace InputMessages {
inline constexpr std::uint32_t KeyDown = 0x100;
inline constexpr std::uint32_t KeyUp = 0x101;
inline constexpr std::uint32_t Char = 0x102;
inline constexpr std::uint32_t SysKeyDown = 0x104;
inline constexpr std::uint32_t SysKeyUp = 0x105;
inline constexpr std::uint32_t MouseMove = 0x200;
inline constexpr std::uint32_t LButtonDown = 0x201;
inline constexpr std::uint32_t LButtonUp = 0x202;
inline constexpr std::uint32_t LButtonDblClk = 0x203;
inline constexpr std::uint32_t RButtonDown = 0x204;
inline constexpr std::uint32_t RButtonUp = 0x205;
inline constexpr std::uint32_t RButtonDblClk = 0x206;
inline constexpr std::uint32_t MButtonDown = 0x207;
inline constexpr std::uint32_t MButtonUp = 0x208;
inline constexpr std::uint32_t MButtonDblClk = 0x209;
}  // namespace InputMessages

namespace VirtualKeys {
inline constexpr std::uint8_t Cancel = 0x03;  // Ctrl+Break
inline constexpr std::uint8_t Shift = 0x10;
inline constexpr std::uint8_t Control = 0x11;
inline constexpr std::uint8_t Menu = 0x12;  // Alt
inline constexpr std::uint8_t Pause = 0x13;
inline constexpr std::uint8_t Snapshot = 0x2C;  // Print Screen
}  // namespace VirtualKeys

// Notification codes of the recording callback.
namespace HookCodes {
inline constexpr int Action = 0;       // an input event
inline constexpr int SysModalOn = 4;   // a system-modal box came up
inline constexpr int SysModalOff = 5;  // it went away
}  // namespace HookCodes

struct InputEvent {
  std::uint32_t Message = 0;
  // For keyboard messages the low byte is the virtual-key code.
  std::uint32_t ParamL = 0;
};

class InputEventSink {
 public:
  virtual ~InputEventSink() = default;
  virtual void JournalHookProc(int code, const InputEvent& event) = 0;
  // The source stopped by itself (its connection broke); it is uninstalled.
  virtual void InputSourceLost() = 0;
};

class InputEventSource {
 public:
  virtual ~InputEventSource() = default;
  // Starts delivering to `sink`. False on failure, with the reason left in
  // the thread's last error (LastError.h).
  virtual bool Install(InputEventSink& sink) = 0;
  // Stops delivering; may be called from inside a delivery. False when the
  // removal failed (last error set); the source counts as removed anyway.
  virtual bool Remove() = 0;
};

}  // namespace framory
