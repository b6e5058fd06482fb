// A system-wide source of window events (windows created, destroyed, shown,
// hidden, moved, restacked, renamed, the active window changing, menus
// popping up), delivered on the GUI thread by classic window-event numbers.
// Windows of this process are left out.
#pragma once

#include <cstdint>

namespace framory {

namespace WinEvents {
inline constexpr std::uint32_t SystemForeground = 0x0003;
inline constexpr std::uint32_t SystemMenuStart = 0x0004;
inline constexpr std::uint32_t SystemMenuEnd = 0x0005;
inline constexpr std::uint32_t SystemMenuPopupStart = 0x0006;
inline constexpr std::uint32_t SystemMenuPopupEnd = 0x0007;
inline constexpr std::uint32_t SystemMoveSizeEnd = 0x000B;
inline constexpr std::uint32_t SystemDragDropStart = 0x000E;
inline constexpr std::uint32_t SystemDragDropEnd = 0x000F;
inline constexpr std::uint32_t SystemDialogStart = 0x0010;
inline constexpr std::uint32_t SystemDialogEnd = 0x0011;
inline constexpr std::uint32_t SystemMinimizeEnd = 0x0017;
inline constexpr std::uint32_t ObjectCreate = 0x8000;
inline constexpr std::uint32_t ObjectDestroy = 0x8001;
inline constexpr std::uint32_t ObjectShow = 0x8002;
inline constexpr std::uint32_t ObjectHide = 0x8003;
inline constexpr std::uint32_t ObjectReorder = 0x8004;
inline constexpr std::uint32_t ObjectFocus = 0x8005;
inline constexpr std::uint32_t ObjectSelection = 0x8006;
inline constexpr std::uint32_t ObjectSelectionAdd = 0x8007;
inline constexpr std::uint32_t ObjectStateChange = 0x800A;
inline constexpr std::uint32_t ObjectLocationChange = 0x800B;
inline constexpr std::uint32_t ObjectNameChange = 0x800C;
inline constexpr std::uint32_t ObjectDescriptionChange = 0x800D;
inline constexpr std::uint32_t ObjectValueChange = 0x800E;
}  // namespace WinEvents

class WindowEventSink {
 public:
  virtual ~WindowEventSink() = default;
  virtual void WinEventProc(std::uint32_t event) = 0;
};

class WindowEventSource {
 public:
  virtual ~WindowEventSource() = default;
  // False on failure (last error set).
  virtual bool Install(WindowEventSink& sink) = 0;
  // False when the removal failed; the source counts as removed anyway.
  virtual bool Remove() = 0;
};

}  // namespace framory
