// What the tray icon shows: the icon resource id and the tip. The recorder
// sets it from the first pause at start-up on, before any visible tray icon
// exists; the tray widget reads it and follows its changes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace framory {

inline constexpr std::int32_t kProgramIcon = 107;
inline constexpr std::int32_t kPausedIcon = 129;
inline constexpr const char* kTipRecording = "Framory Recording";
inline constexpr const char* kTipPaused = "Framory Recording Paused";

class TrayState {
 public:
  // The tip field holds at most this many characters; longer tips are cut.
  static constexpr std::size_t kMaxTipLength = 63;

  std::int32_t IconId() const { return iconId_; }
  const std::string& Tip() const { return tip_; }

  // Replaces icon and tip and tells the change handler.
  void Modify(std::int32_t iconId, const std::string& tip);
  // Called after every Modify (the tray widget updates itself there).
  void SetChangeHandler(std::function<void()> handler) { changed_ = std::move(handler); }

 private:
  std::int32_t iconId_ = kProgramIcon;
  std::string tip_ = kTipRecording;
  std::function<void()> changed_;
};

}  // namespace framory
