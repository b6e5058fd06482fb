// Posting the main window's private messages. The message is delivered later,
// from the event loop, never inside the call that posts it.
#pragma once

#include <cstdint>

namespace framory {

// The main window's destroy message (WM_DESTROY): the options view posts it
// for "Stop and Exit", and the shell's message loop ends at it.
inline constexpr std::uint32_t kDestroyWindowMessage = 0x0002;

namespace MainWindowMessages {
inline constexpr std::uint32_t User = 0x400;
inline constexpr std::uint32_t TrayNotify = User + 1;         // 1025
inline constexpr std::uint32_t ToggleMainView = User + 2;     // 1026
inline constexpr std::uint32_t NewProject = User + 3;         // 1027
inline constexpr std::uint32_t OpenCommentWindow = User + 4;  // 1028
inline constexpr std::uint32_t Startup = User + 5;            // 1029
inline constexpr std::uint32_t UserAreaDefined = User + 6;    // 1030
// A second start on the same display asks for the options view.
inline constexpr std::uint32_t ShowMainView = User + 7;  // 1031
// A sound-track merge has ended on its own thread (posted from that thread).
inline constexpr std::uint32_t SoundTrackMerged = User + 8;  // 1032
}  // namespace MainWindowMessages

class MessagePoster {
 public:
  virtual ~MessagePoster() = default;
  // Posts `message` with wParam and lParam 0. May be called from any thread.
  virtual void PostMessage(std::uint32_t message) = 0;
};

}  // namespace framory
