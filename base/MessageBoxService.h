// Message boxes: the one place every box the user sees goes through, with
// the flag and result values of the classic message-box call so that callers
// keep their exact icon/button choices.
#pragma once

#include <cstdint>
#include <string>

namespace framory {

namespace MessageBoxFlags {
inline constexpr std::uint32_t Ok = 0x0;
inline constexpr std::uint32_t OkCancel = 0x1;
inline constexpr std::uint32_t AbortRetryIgnore = 0x2;
inline constexpr std::uint32_t YesNoCancel = 0x3;
inline constexpr std::uint32_t YesNo = 0x4;
inline constexpr std::uint32_t RetryCancel = 0x5;
inline constexpr std::uint32_t ButtonMask = 0xF;
inline constexpr std::uint32_t IconError = 0x10;
inline constexpr std::uint32_t IconQuestion = 0x20;
inline constexpr std::uint32_t IconWarning = 0x30;
inline constexpr std::uint32_t IconInformation = 0x40;
inline constexpr std::uint32_t IconMask = 0xF0;
inline constexpr std::uint32_t DefButton2 = 0x100;
inline constexpr std::uint32_t DefButton3 = 0x200;
inline constexpr std::uint32_t DefButtonMask = 0xF00;
// Input everywhere waits for the box; the input watch ignores events meanwhile.
inline constexpr std::uint32_t SystemModal = 0x1000;
inline constexpr std::uint32_t TopMost = 0x40000;
}  // namespace MessageBoxFlags

namespace MessageBoxResults {
inline constexpr int Ok = 1;
inline constexpr int Cancel = 2;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace MessageBoxResults

class MessageBoxService {
 public:
  virtual ~MessageBoxService() = default;
  // Shows a box without owner and waits for the user; returns the pressed
  // button as a MessageBoxResults value (0 when the box could not be shown).
  virtual int Show(const std::string& text, const std::string& caption, std::uint32_t flags) = 0;
};

}  // namespace framory
